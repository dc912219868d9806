// How the Controller applies a sensor model or layout to the driver's records.
#include "controller/sensor_models.h"

namespace kv::controller {

void SetModel(Registry& registry, int32_t code) {
    SetSensorLayout(registry, LayoutOfModelCode(code));
}

void SetSensorLayout(Registry& registry, const SensorLayout& layout) {
    SetLayout(registry, layout);
    registry.splitState.Publish();
    registry.commsReqState.Publish();
    registry.storeDoSave.RaiseCounted();
}

}  // namespace kv::controller
