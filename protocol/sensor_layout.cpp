// Frame layouts: the model table's lookups and the layout's place in the records.
#include "protocol/sensor_layout.h"

namespace kv {

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

const SensorModel* FindSensorModel(std::string_view name) {
    for (const SensorModel& model : kSensorModels) {
        if (model.name == name) {
            return &model;
        }
    }
    return nullptr;
}

std::optional<SensorLayout> LayoutForModel(std::string_view name) {
    if (const SensorModel* model = FindSensorModel(name)) {
        return model->layout;
    }
    return std::nullopt;
}

SensorLayout LayoutOfModelCode(int32_t code) {
    for (const SensorModel& model : kSensorModels) {
        if (model.code == code) {
            return model.layout;
        }
    }
    return FindSensorModel(kDefaultSensorModel)->layout;
}

SensorLayout LayoutOf(const Registry& registry) {
    const Split& split = registry.splitState;
    return {.split0 = split.Split0,
            .split1 = split.Split1,
            .flip0 = split.Flip0,
            .flip1 = split.Flip1,
            .flip2 = split.Flip2,
            .muxSize = registry.commsReqState.MuxSize};
}

void SetLayout(Registry& registry, const SensorLayout& layout) {
    Split& split = registry.splitState;
    split.Split0 = layout.split0;
    split.Split1 = layout.split1;
    split.Flip0 = layout.flip0;
    split.Flip1 = layout.flip1;
    split.Flip2 = layout.flip2;
    registry.commsReqState.MuxSize = layout.muxSize;
}

}  // namespace kv
