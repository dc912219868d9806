<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>kv::controller::Kelvarin_Basic</name>
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
</TS>
