<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
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
</TS>
