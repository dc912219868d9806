<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
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
</TS>
