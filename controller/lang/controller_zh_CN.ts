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
    <message>
        <source>Touch input ends until the driver is started again; on a screen with no mouse or keyboard nothing else can start it. Stop the driver?</source>
        <translation>在驱动程序再次启动之前，触摸输入将停止；在没有鼠标或键盘的屏幕上，无法通过其他方式启动它。要停止驱动程序吗？</translation>
    </message>
    <message>
        <source>The calibration, the sensitivity, the threshold and the sensor layout are deleted and the driver restarts; then the sensor model is asked for again. Reset?</source>
        <translation>校准、灵敏度、阈值和传感器布局将被删除，驱动程序将重新启动；然后会再次询问传感器型号。要恢复出厂设置吗？</translation>
    </message>
    <message>
        <source>%1 (not connected)</source>
        <translation>%1（未连接）</translation>
    </message>
    <message>
        <source> Boot with OS</source>
        <translation> 开机启动</translation>
    </message>
    <message>
        <source>Bottom edge</source>
        <translation>下边缘</translation>
    </message>
    <message>
        <source>Customization</source>
        <translation>定制</translation>
    </message>
    <message>
        <source>Driver</source>
        <translation>驱动</translation>
    </message>
    <message>
        <source>Edge Enhanced</source>
        <translation>边缘增强</translation>
    </message>
    <message>
        <source>Factory Reset progress</source>
        <translation>恢复出厂设置进度</translation>
    </message>
    <message>
        <source>Factory Reset</source>
        <translation>恢复出厂设置</translation>
    </message>
    <message>
        <source>Left edge</source>
        <translation>左边缘</translation>
    </message>
    <message>
        <source>Mouse Control</source>
        <translation>鼠标控制</translation>
    </message>
    <message>
        <source>Move only</source>
        <translation>仅移动</translation>
    </message>
    <message>
        <source>Right edge</source>
        <translation>右边缘</translation>
    </message>
    <message>
        <source>Select / Hold / Release</source>
        <translation>选择 / 按住 / 释放</translation>
    </message>
    <message>
        <source>Select / Move / Release</source>
        <translation>选择 / 移动 / 释放</translation>
    </message>
    <message>
        <source>Setting...</source>
        <translation>设置...</translation>
    </message>
    <message>
        <source>Single Touch and Drag</source>
        <translation>单点触摸和拖动</translation>
    </message>
    <message>
        <source>Single Touch with Zoom in/out</source>
        <translation>单点触摸带缩放</translation>
    </message>
    <message>
        <source>Start driver</source>
        <translation>启动驱动</translation>
    </message>
    <message>
        <source>Stop driver</source>
        <translation>停止驱动</translation>
    </message>
    <message>
        <source>TUIO - MT2 ( Port: 3333 )</source>
        <translation>TUIO - 两点触摸 ( 端口: 3333 )</translation>
    </message>
    <message>
        <source>Top edge</source>
        <translation>上边缘</translation>
    </message>
    <message>
        <source>Touch mode</source>
        <translation>触摸模式</translation>
    </message>
    <message>
        <source>Native touchscreen - MT 2 Points</source>
        <translation>原生触摸屏 - 两点触摸</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>显示器</translation>
    </message>
    <message>
        <source>Monitor:</source>
        <translation>显示器：</translation>
    </message>
    <message>
        <source>Whole desktop</source>
        <translation>整个桌面</translation>
    </message>
    <message>
        <source>Monitor %1 is not connected: the touch foil drives the whole desktop until it is back.</source>
        <translation>显示器 %1 未连接：在其重新连接之前，触摸膜控制整个桌面。</translation>
    </message>
</context>
<context>
    <name>kv::controller::Kelvarin_Basic</name>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>No driver answering</source>
        <translation>驱动程序无响应</translation>
    </message>
    <message>
        <source>Driver answering; waiting for its sensor board status</source>
        <translation>驱动程序已响应，正在等待传感器板状态</translation>
    </message>
    <message>
        <source>No sensor board connected</source>
        <translation>未连接传感器板</translation>
    </message>
    <message>
        <source>Sensor board connected, %1 frames per second</source>
        <translation>传感器板已连接，每秒 %1 帧</translation>
    </message>
    <message>
        <source>: start the driver on the Advanced page.</source>
        <translation>：请在“高级”页面启动驱动程序。</translation>
    </message>
    <message>
        <source>: check the sensor board's USB cable.</source>
        <translation>：请检查传感器板的 USB 线缆。</translation>
    </message>
    <message>
        <source>: try again in a moment.</source>
        <translation>：请稍后再试。</translation>
    </message>
    <message>
        <source>Auto adaption stopped: %1</source>
        <translation>自动适应已停止：%1</translation>
    </message>
    <message>
        <source>Kelvarin Vyren - Setting</source>
        <translation>Kelvarin Vyren - 设置</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>Touch ouput</source>
        <translation>触控输出</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>启用</translation>
    </message>
    <message>
        <source>Checker</source>
        <translation>检测</translation>
    </message>
    <message>
        <source>Graph</source>
        <translation>图形</translation>
    </message>
    <message>
        <source>Monitor</source>
        <translation>轨迹</translation>
    </message>
    <message>
        <source>Adaption</source>
        <translation>适应</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>自动</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>手动</translation>
    </message>
    <message>
        <source>Sensitivity</source>
        <translation>灵敏度</translation>
    </message>
    <message>
        <source>Sense RealTime Value</source>
        <translation>实时信号值</translation>
    </message>
    <message>
        <source>Threshold</source>
        <translation>阈值</translation>
    </message>
    <message>
        <source>Calibration</source>
        <translation>校准</translation>
    </message>
    <message>
        <source>Sensitivity[%1]</source>
        <translation>灵敏度[%1]</translation>
    </message>
    <message>
        <source>Threshold[%1]</source>
        <translation>阈值[%1]</translation>
    </message>
    <message>
        <source>Note: Do not touch the Touch Panel</source>
        <translation>注意：正在自动匹配，请不要触碰触控膜</translation>
    </message>
    <message>
        <source>Successfully adaption!</source>
        <translation>成功-自动适应!</translation>
    </message>
    <message>
        <source>Auto adaption failure! Electromagnetic interference is out of Auto adaption Range &#10; Please manually adjust the Sensitivity and Threshold</source>
        <translation>失败-自动适应！电磁干扰超出了自动适应的范围，请手动调整灵敏度和阈值！</translation>
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
<context>
    <name>OutputMapping</name>
    <message>
        <source>sway cannot be told about output %1 by its name: the driver keeps the touch foil on it itself.</source>
        <translation>无法按名称将输出 %1 告知 sway：驱动程序自行将触摸膜保持在该输出上。</translation>
    </message>
    <message>
        <source>sway did not take the mapping (%1): the driver keeps the touch foil on %2 itself.</source>
        <translation>sway 未接受映射（%1）：驱动程序自行将触摸膜保持在 %2 上。</translation>
    </message>
    <message>
        <source>sway now places the touch foil on %1. To keep this after sway restarts, add these lines to ~/.config/sway/config:
%2</source>
        <translation>sway 现在将触摸膜放在 %1 上。要在 sway 重新启动后保持此设置，请将以下行添加到 ~/.config/sway/config：
%2</translation>
    </message>
    <message>
        <source>For native two-finger touch the compositor places the touchscreen on an output by its name, and %1 is none it can take.</source>
        <translation>对于原生双指触摸，合成器按名称将触摸屏放在某个输出上，而 %1 不是它能接受的名称。</translation>
    </message>
    <message>
        <source>For native two-finger touch, KDE places the touchscreen on the screen chosen in System Settings, Touchscreen, or in ~/.config/kcminputrc:
%1
(it applies when the touchscreen next appears).</source>
        <translation>对于原生双指触摸，KDE 将触摸屏放在“系统设置”的“触摸屏”中所选的屏幕上，或在 ~/.config/kcminputrc 中设置：
%1
（在触摸屏下次出现时生效）。</translation>
    </message>
    <message>
        <source>For native two-finger touch, weston places the touchscreen on the output udev names; as root, put this line in /etc/udev/rules.d/71-kelvarin-output.rules:
%1</source>
        <translation>对于原生双指触摸，weston 将触摸屏放在 udev 指定的输出上；请以 root 身份将此行放入 /etc/udev/rules.d/71-kelvarin-output.rules：
%1</translation>
    </message>
    <message>
        <source>For native two-finger touch, GNOME places the touchscreen on the monitor its setting names by the vendor, product and serial that gnome-monitor-config list shows for %1:
gsettings set org.gnome.desktop.peripherals.touchscreen:/org/gnome/desktop/peripherals/touchscreens/dddd:0001/ output "['VENDOR', 'PRODUCT', 'SERIAL']"</source>
        <translation>对于原生双指触摸，GNOME 将触摸屏放在其设置按厂商、产品和序列号指定的显示器上，这些值由 gnome-monitor-config list 为 %1 显示：
gsettings set org.gnome.desktop.peripherals.touchscreen:/org/gnome/desktop/peripherals/touchscreens/dddd:0001/ output "['VENDOR', 'PRODUCT', 'SERIAL']"</translation>
    </message>
</context>
<context>
    <name>kv::controller::Kelvarin_AdvSetting</name>
    <message>
        <source>X + Y is %1: the sensor board sends frames of 16 to 64 electrodes, or of 128. Please change X or Y.</source>
        <translation>X + Y 为 %1：传感器板发送的帧为 16 到 64 个电极，或 128 个。请修改 X 或 Y。</translation>
    </message>
    <message>
        <source>Kelvarin Vyren - Advanced Setting</source>
        <translation>Kelvarin Vyren - 高级设置</translation>
    </message>
    <message>
        <source>Testing</source>
        <translation>测试</translation>
    </message>
    <message>
        <source>Show sensor index</source>
        <translation>显示传感器编号</translation>
    </message>
    <message>
        <source>Controller Boot with OS</source>
        <translation>控制程序开机启动</translation>
    </message>
    <message>
        <source>Non Standard Setting</source>
        <translation>非标准设置</translation>
    </message>
    <message>
        <source>X:</source>
        <translation>X:</translation>
    </message>
    <message>
        <source>Y:</source>
        <translation>Y:</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Please enter an integer between 8 and 80.</source>
        <translation>请输入 8 到 80 之间的整数。</translation>
    </message>
</context>
<context>
    <name>kv::controller::CalibrateDlg</name>
    <message>
        <source>Calibration</source>
        <translation>校准</translation>
    </message>
    <message>
        <source>Advanced...</source>
        <translation>高级设置</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>Mode Switch</source>
        <translation>模式切换</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Press and Hold here</source>
        <translation>手指在这里压下并保持</translation>
    </message>
    <message>
        <source>MODE: Regional Touch(Full Screen)</source>
        <translation>模式：区域触控（全屏膜）</translation>
    </message>
    <message>
        <source>MODE: Small Vyren drive Big Screen</source>
        <translation>模式：小膜带大屏</translation>
    </message>
    <message>
        <source>MODE: Regional Touch (Small Vyren)</source>
        <translation>模式：区域触控（小尺寸膜）</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>左</translation>
    </message>
    <message>
        <source>Top</source>
        <translation>上</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>右</translation>
    </message>
    <message>
        <source>Bottom</source>
        <translation>下</translation>
    </message>
</context>
<context>
    <name>AboutText</name>
    <message>
        <source>Load driver: Successfully! &#10;</source>
        <translation>加载驱动：成功！ &#10;</translation>
    </message>
    <message>
        <source>Load driver: Failure! &#10;</source>
        <translation>加载驱动：失败！ &#10;</translation>
    </message>
    <message>
        <source>Driver version: </source>
        <translation>驱动版本： </translation>
    </message>
    <message>
        <source>Number of Sensors : %d (X=%d, Y=%d) &#10;</source>
        <translation>传感器数量： %d (X=%d, Y=%d) &#10;</translation>
    </message>
    <message>
        <source>Sampling rate : %d &#10;</source>
        <translation>扫描速率： %d  &#10;</translation>
    </message>
    <message>
        <source>Threshold level: %d &#10;</source>
        <translation>阈值： %d &#10;</translation>
    </message>
    <message>
        <source>Sensitivity level : %d &#10;</source>
        <translation>灵敏度： %d &#10;</translation>
    </message>
    <message>
        <source>&#10;Product: Kelvarin Vyren&#10;</source>
        <translation>&#10;产品：Kelvarin Vyren&#10;</translation>
    </message>
    <message>
        <source>Product version: 10.3.3&#10;</source>
        <translation>产品版本：10.3.3&#10;</translation>
    </message>
    <message>
        <source>Technical support: support@kelvarin.example&#10;</source>
        <translation>技术支持：support@kelvarin.example&#10;</translation>
    </message>
    <message>
        <source>Manufacturer: Kelvarin Touch Systems&#10;</source>
        <translation>制造商：Kelvarin 触控系统&#10;</translation>
    </message>
    <message>
        <source>Web site: https://kelvarin.example&#10;</source>
        <translation>网站：https://kelvarin.example&#10;</translation>
    </message>
</context>
</TS>
