<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CConfiguratorApp</name>
    <message>
        <source>The driver did not confirm the sensor model: %1 The first-run questions come again at the next start.</source>
        <translation>驱动程序未确认传感器型号：%1 下次启动时将再次询问首次运行的问题。</translation>
    </message>
    <message>
        <source>no driver answers: %1</source>
        <translation>没有驱动程序响应：%1</translation>
    </message>
    <message>
        <source>the driver stopped answering before it had the model: %1</source>
        <translation>驱动程序在收到型号之前停止了响应：%1</translation>
    </message>
    <message>
        <source>the restarted driver answers with another sensor layout than the model&apos;s: it did not keep the model in its settings file (a folder it cannot write, or a simulated foil with a layout of its own).</source>
        <translation>重新启动的驱动程序响应的传感器布局与该型号不同：它没有把型号保存在设置文件中（文件夹不可写，或模拟的触摸膜有自己的布局）。</translation>
    </message>
    <message>
        <source>the restarted driver does not answer: %1</source>
        <translation>重新启动的驱动程序没有响应：%1</translation>
    </message>
    <message>
        <source>Socket initialization failure.</source>
        <translation>套接字初始化失败。</translation>
    </message>
    <message>
        <source>%1 文件不存在</source>
        <translation>%1 文件不存在</translation>
    </message>
    <message>
        <source>%1 is not found</source>
        <translation>未找到 %1</translation>
    </message>
</context>
<context>
    <name>kv::controller::CConfiguratorDlg</name>
    <message>
        <source>Back to the settings</source>
        <translation>返回设置</translation>
    </message>
    <message>
        <source>Kelvarin Vyren - Controller</source>
        <translation>Kelvarin Vyren - 控制器</translation>
    </message>
    <message>
        <source>About Kelvarin Vyren Controller (&amp;A)...</source>
        <translation>关于 Kelvarin Vyren 控制器(&amp;A)...</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Advanced</source>
        <translation>高级</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Run as Daemon</source>
        <translation>后台运行</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>Kelvarin Vyren driver - Controller</source>
        <translation>Kelvarin Vyren 驱动 - 控制器</translation>
    </message>
    <message>
        <source>Kelvarin Vyren Controller</source>
        <translation>Kelvarin Vyren 控制器</translation>
    </message>
    <message>
        <source>Kelvarin Vyren Controller，10.3.3</source>
        <translation>Kelvarin Vyren 控制器，10.3.3</translation>
    </message>
    <message>
        <source>Copyright (C) Kelvarin Vyren. All rights reserved.</source>
        <translation>版权所有 (C) Kelvarin Vyren。保留所有权利。</translation>
    </message>
    <message>
        <source>Language changed, please close this program and restart</source>
        <translation>语言已更改，请关闭本程序并重新启动</translation>
    </message>
</context>
<context>
    <name>kv::controller::GraphView</name>
    <message>
        <source>Graph</source>
        <translation>图形</translation>
    </message>
</context>
<context>
    <name>kv::controller::Kelvarin_Advanced</name>
    <message>
        <source>Advanced</source>
        <translation>高级</translation>
    </message>
</context>
<context>
    <name>kv::controller::Kelvarin_Basic</name>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
</context>
<context>
    <name>kv::controller::Kelvarin_Copyright</name>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
</context>
<context>
    <name>kv::controller::initialDlg</name>
    <message>
        <source>Initial Setting for first running...</source>
        <translation>首次运行初始设置...</translation>
    </message>
    <message>
        <source>Driver version</source>
        <translation>驱动版本</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>kv::controller::ProgressWindow</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>FirstRun</name>
    <message>
        <source>the driver program %1 is missing; install it beside the Controller.</source>
        <translation>驱动程序 %1 不存在；请把它安装在 Controller 旁边。</translation>
    </message>
    <message>
        <source>the driver program %1 cannot be run (it is not an executable file).</source>
        <translation>驱动程序 %1 无法运行（它不是可执行文件）。</translation>
    </message>
    <message>
        <source>UDP port %1, the driver&apos;s, is held by a program of another user (uid %2), most likely that user&apos;s driver; yours cannot take the port while it runs.</source>
        <translation>驱动程序的 UDP 端口 %1 被另一个用户（uid %2）的程序占用，很可能是该用户的驱动程序；在它运行期间，您的驱动程序无法使用该端口。</translation>
    </message>
    <message>
        <source>the driver program %1 could not be started.</source>
        <translation>无法启动驱动程序 %1。</translation>
    </message>
    <message>
        <source>a driver is running but does not answer on UDP port %1 (it may have been started with other ports); end it and start the Controller again.</source>
        <translation>有一个驱动程序正在运行，但没有在 UDP 端口 %1 上响应（它可能使用其他端口启动）；请结束它，然后重新启动 Controller。</translation>
    </message>
    <message>
        <source>the driver was started but ended at once; run %1 --verbose in a terminal to see why.</source>
        <translation>驱动程序已启动但立即结束；请在终端中运行 %1 --verbose 查看原因。</translation>
    </message>
</context>
</TS>
