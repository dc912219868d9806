// The sensor model table and how the Controller applies a model to the driver's records.
#include "controller/sensor_models.h"

namespace kv::controller {

SensorLayout LayoutOfModel(int32_t code) {
    for (const SensorModel& model : kSensorModels) {
        if (model.code == code) {
            return model.layout;
        }
    }
    return SensorLayout{};
}

const SensorModel* FindSensorModel(std::string_view name) {
    for (const SensorModel& model : kSensorModels) {
        if (model.name == name) {
            return &model;
        }
    }
    return nullptr;
}

void SetModel(Registry& registry, int32_t code) {
    const SensorLayout layout = LayoutOfModel(code);
    Split& split = registry.splitState;
    split.Split0 = layout.split0;
    split.Split1 = layout.split1;
    split.Flip0 = layout.flip0;
    split.Flip1 = layout.flip1;
    split.Flip2 = layout.flip2;
    split.Publish();
    registry.commsReqState.MuxSize = layout.muxSize;
    registry.commsReqState.Publish();
    registry.storeDoSave.RaiseCounted();
}

}  // namespace kv::controller
