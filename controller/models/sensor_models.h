// How the Controller applies a sensor model to the driver's records. The model table and the
// layout type are shared with the driver (protocol/sensor_layout.h).
#pragma once

#include <cstdint>

#include "controller/models/driver_view.h"
#include "protocol/registry.h"
#include "protocol/sensor_layout.h"

namespace kv::controller {

using kv::FindSensorModel;
using kv::kDefaultSensorModel;
using kv::kSensorModels;
using kv::SensorLayout;
using kv::SensorModel;

// Applies a model: the Split State record takes its layout and is sent, Comms ReqState takes its
// channel count and is sent, and the driver is asked to save (Store DoSave); each onto the
// driver's copy of the record, once that has arrived (DriverView::Change).
void SetModel(DriverView& driver, int32_t code);

// Applies a layout as SetModel does.
void SetSensorLayout(DriverView& driver, const SensorLayout& layout);

// True when the driver's records, heard since it last started, hold this layout.
bool DriverHasLayout(const DriverView& driver, const SensorLayout& layout);

}  // namespace kv::controller
