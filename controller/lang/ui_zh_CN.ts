<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CConfiguratorApp</name>
    <message>
        <source>The driver did not confirm the sensor model: it did not answer, or did not take it. The first-run questions come again at the next start.</source>
        <translation>驱动程序未确认传感器型号：它没有响应或未接受该型号。下次启动时将再次询问首次运行的问题。</translation>
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
</TS>
