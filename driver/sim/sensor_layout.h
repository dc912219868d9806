// Where each electrode sits in a frame, and the standard sensor models.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kv::sim {

// The split settings and mux size that decide a frame's layout.
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
};

// The standard layouts by model name ("S16" ... "B128").
std::optional<SensorLayout> LayoutForModel(std::string_view name);

}  // namespace kv::sim
