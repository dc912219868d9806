// How a frame's samples map onto the foil's electrodes, and the standard sensor models. The
// layout lives in two records (Split State and Comms ReqState's MuxSize); this is the one
// place that reads and writes it there.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/registry.h"

namespace kv {

// A frame holds split0 X electrodes, then split1 Y electrodes, then the rest of the X
// electrodes, read over muxSize channels; the flips reverse a segment. The defaults are those
// of the records.
struct SensorLayout {
    int32_t split0 = 12;
    int32_t split1 = 40;
    int32_t flip0 = 0;
    int32_t flip1 = 0;
    int32_t flip2 = 1;
    int32_t muxSize = 64;

    int32_t CountX() const { return muxSize - split1; }
    int32_t CountY() const { return split1; }
    // True when the driver would accept frames of this layout.
    bool Valid() const;
    // Frame sample index of X electrode k and of Y electrode k.
    int32_t SampleOfX(int32_t k) const;
    int32_t SampleOfY(int32_t k) const;

    bool operator==(const SensorLayout&) const = default;
};

struct SensorModel {
    std::string_view name;  // as listed in the first-run dialog and in scenarios
    int32_t code;           // the model code the Controller keeps
    SensorLayout layout;
};

// Every model has the standard flips (0, 0, 1). In the order of the first-run dialog's list.
inline constexpr std::array<SensorModel, 12> kSensorModels = {{
    {"S16", 2, {4, 8, 0, 0, 1, 16}},
    {"S24", 4, {8, 8, 0, 0, 1, 24}},
    {"S32", 6, {10, 12, 0, 0, 1, 32}},
    {"S40", 16, {12, 16, 0, 0, 1, 40}},
    {"S64", 32, {20, 24, 0, 0, 1, 64}},
    {"S128", 48, {40, 48, 0, 0, 1, 128}},
    {"B16", 3, {4, 8, 0, 0, 1, 16}},
    {"B24", 5, {4, 16, 0, 0, 1, 24}},
    {"B32", 7, {6, 20, 0, 0, 1, 32}},
    {"B40", 17, {8, 24, 0, 0, 1, 40}},
    {"B64", 33, {12, 40, 0, 0, 1, 64}},
    {"B128", 49, {40, 48, 0, 0, 1, 128}},
}};

// The channel counts the board's frames come in: one report of 16 to 64 samples, or a pair of
// reports for 128. The driver reads no other.
constexpr bool IsReadableMuxSize(int32_t muxSize) {
    return (muxSize >= 16 && muxSize <= 64) || muxSize == 128;
}

// The entry the first-run dialog preselects.
inline constexpr std::string_view kDefaultSensorModel = "S64";

// The table entry of that name, or null.
const SensorModel* FindSensorModel(std::string_view name);
// The layout of a model name, if there is such a model.
std::optional<SensorLayout> LayoutForModel(std::string_view name);
// The layout of a model code; a code not in the table gives the default model's layout.
SensorLayout LayoutOfModelCode(int32_t code);

// The layout the records hold.
SensorLayout LayoutOf(const Registry& registry);
// Writes the layout into Split State and Comms ReqState; publishes nothing.
void SetLayout(Registry& registry, const SensorLayout& layout);

}  // namespace kv
