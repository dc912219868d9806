// How the Controller applies a sensor model to the driver's records. The model table and the
// layout type are shared with the driver (messaging/sensor_layout.h).
#pragma once

#include <cstdint>

#include "messaging/registry.h"
#include "messaging/sensor_layout.h"

namespace kv::controller {

using kv::FindSensorModel;
using kv::kDefaultSensorModel;
using kv::kSensorModels;
using kv::SensorLayout;
using kv::SensorModel;

// Applies a model: the Split State record takes its layout and is published, Comms ReqState
// takes its channel count and is published, and the driver is asked to save (Store DoSave).
void SetModel(Registry& registry, int32_t code);

// Applies a layout as SetModel does.
void SetSensorLayout(Registry& registry, const SensorLayout& layout);

}  // namespace kv::controller
