<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
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
