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
</TS>
