// DRIVER.INI as the driver writes it before any file has been read: the byte-exact vector the
// settings tests compare against, spelled out line by line.
#pragma once

#include <string>

namespace kv::test {

inline std::string DefaultSettingsText() {
    const char* lines[] = {
        "Comms_ReqState_Open=false",
        "Comms_ReqState_PortIndex=0",
        "Comms_ReqState_BaudIndex=1",
        "Comms_ReqState_SampleIndex=5",
        "Comms_ReqState_MuxSize=64",
        "Output_Tune_SnapRange=0.1",
        "Output_Tune_DampRange=0.02",
        "Output_Tune_DampPeriod=0.2",
        "Output_Tune_RightClickRange=0.07",
        "Output_Tune_RightClickPeriod=2",
        "Delay=20",
        "Split_State_Split0=12",
        "Split_State_Split1=40",
        "Split_State_Flip0=0",
        "Split_State_Flip1=0",
        "Split_State_Flip2=1",
        "Sense_State_CoarseRange=11",
        "Sense_State_TouchThreshold=0",
        "Sense_State_PressThreshold=5",
        "Sense_State_Advanced=false",
        "Calib_Ref_TL_SA=0.1",
        "Calib_Ref_TL_SB=0.1",
        "Calib_Ref_TL_SX=0.1",
        "Calib_Ref_TL_SY=0.1",
        "Calib_Ref_TR_SA=0.9",
        "Calib_Ref_TR_SB=0.1",
        "Calib_Ref_TR_SX=0.9",
        "Calib_Ref_TR_SY=0.1",
        "Calib_Ref_BL_SA=0.1",
        "Calib_Ref_BL_SB=0.9",
        "Calib_Ref_BL_SX=0.1",
        "Calib_Ref_BL_SY=0.9",
        "Edge_State_Top=0",
        "Edge_State_Left=0",
        "Edge_State_Right=0",
        "Edge_State_Bottom=0",
        "Output_State_Mode=4",
        "Output_State_Selection=0",
        "Output_State_Enable=false",
        "Output_Fake=false",
        "exclude_edge_flag=0",
        "exclude_edge_left=0",
        "exclude_edge_top=0",
        "exclude_edge_right=1",
        "exclude_edge_bottom=1",
        "Calib_State_Angle=0",
        "start_at_boot=false",
        "Output_Pointer_Enable0=true",
        "Output_Pointer_Enable1=true",
        "Output_Pointer_Enable2=true",
        "Output_Pointer_Enable3=true",
        "Output_Pointer_Enable4=true",
        "Output_Pointer_Enable5=true",
        "Output_Pointer_Enable6=true",
        "Output_Pointer_Enable7=true",
    };
    std::string text;
    for (const char* line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

// The default text with the line for key replaced by key=value.
inline std::string WithLine(std::string text, const std::string& key, const std::string& value) {
    const std::string start = key + "=";
    size_t at = text.compare(0, start.size(), start) == 0 ? 0 : text.find("\n" + start) + 1;
    const size_t end = text.find("\r\n", at);
    return text.replace(at, end - at, start + value);
}

}  // namespace kv::test
