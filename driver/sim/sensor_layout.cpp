// Frame layouts of the foil models.
#include "driver/sim/sensor_layout.h"

#include <array>

namespace kv::sim {

namespace {

struct Model {
    std::string_view name;
    int32_t split0;
    int32_t split1;
    int32_t mux;
};

constexpr std::array<Model, 12> kModels = {{
    {"S16", 4, 8, 16},
    {"B16", 4, 8, 16},
    {"S24", 8, 8, 24},
    {"B24", 4, 16, 24},
    {"S32", 10, 12, 32},
    {"B32", 6, 20, 32},
    {"S40", 12, 16, 40},
    {"B40", 8, 24, 40},
    {"S64", 20, 24, 64},
    {"B64", 12, 40, 64},
    {"S128", 40, 48, 128},
    {"B128", 40, 48, 128},
}};

}  // namespace

bool SensorLayout::Valid() const {
    const int32_t len = muxSize;
    return len >= 9 && len <= 256 && split0 > 0 && split0 < len && split1 > 0 && split1 < len &&
           split0 + split1 <= len && CountX() >= 6 && CountY() >= 6;
}

int32_t SensorLayout::SampleOfX(int32_t k) const {
    if (k < split0) {
        return flip0 != 0 ? split0 - 1 - k : k;
    }
    const int32_t k2 = k - split0;
    return flip2 != 0 ? muxSize - 1 - k2 : split0 + split1 + k2;
}

int32_t SensorLayout::SampleOfY(int32_t k) const {
    return flip1 != 0 ? split0 + split1 - 1 - k : split0 + k;
}

std::optional<SensorLayout> LayoutForModel(std::string_view name) {
    for (const Model& model : kModels) {
        if (model.name == name) {
            SensorLayout layout;
            layout.split0 = model.split0;
            layout.split1 = model.split1;
            layout.muxSize = model.mux;
            return layout;
        }
    }
    return std::nullopt;
}

}  // namespace kv::sim
