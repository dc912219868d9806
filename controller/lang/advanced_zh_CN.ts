<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>kv::controller::Kelvarin_Advanced</name>
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
</TS>
