// The sensor models the Controller offers and the frame layout each one sets in the driver.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "messaging/registry.h"

namespace kv::controller {

// How the driver splits a frame: 2 x split0 X electrodes, then split1 Y electrodes, read over
// muxSize channels; the flips are the same for every model.
struct SensorLayout {
    int32_t split0 = 20;
    int32_t split1 = 24;
    int32_t muxSize = 64;
    int32_t flip0 = 0;
    int32_t flip1 = 0;
    int32_t flip2 = 1;
};

struct SensorModel {
    std::string_view name;  // as listed in the first-run dialog
    int32_t code;
    SensorLayout layout;
};

// In the order of the first-run dialog's list.
inline constexpr std::array<SensorModel, 12> kSensorModels = {{
    {"S16", 2, {4, 8, 16}},
    {"S24", 4, {8, 8, 24}},
    {"S32", 6, {10, 12, 32}},
    {"S40", 16, {12, 16, 40}},
    {"S64", 32, {20, 24, 64}},
    {"S128", 48, {40, 48, 128}},
    {"B16", 3, {4, 8, 16}},
    {"B24", 5, {4, 16, 24}},
    {"B32", 7, {6, 20, 32}},
    {"B40", 17, {8, 24, 40}},
    {"B64", 33, {12, 40, 64}},
    {"B128", 49, {40, 48, 128}},
}};

// The entry the first-run dialog preselects.
inline constexpr std::string_view kDefaultSensorModel = "S64";

// The layout of a model code; a code not in the table gives the S64 layout (20/24/64).
SensorLayout LayoutOfModel(int32_t code);
// The table entry of that list name, or null.
const SensorModel* FindSensorModel(std::string_view name);

// Applies a model: the Split State record takes its layout and is published, Comms ReqState
// takes its channel count and is published, and the driver is asked to save (Store DoSave).
void SetModel(Registry& registry, int32_t code);

}  // namespace kv::controller
