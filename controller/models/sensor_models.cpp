// How the Controller applies a sensor model or layout to the driver's records.
#include "controller/models/sensor_models.h"

namespace kv::controller {

void SetModel(DriverView& driver, int32_t code) {
    SetSensorLayout(driver, LayoutOfModelCode(code));
}

void SetSensorLayout(DriverView& driver, const SensorLayout& layout) {
    Registry& records = driver.Records();
    // Sent even when the driver holds the layout already: the save writes it into DRIVER.INI.
    // The frame layout goes before the channel count, so that no frame of the new size is cut
    // by the old layout.
    driver.Change(
        records.splitState,
        [&records, layout] {
            SetLayout(records,
                      SensorLayout{layout.split0, layout.split1, layout.flip0, layout.flip1,
                                   layout.flip2, records.commsReqState.MuxSize});
            return true;
        },
        false);
    driver.Change(records.commsReqState, [&records, layout] {
        records.commsReqState.MuxSize = layout.muxSize;
        return true;
    });
}

bool DriverHasLayout(const DriverView& driver, const SensorLayout& layout) {
    const Registry& records = driver.Records();
    return driver.Knows(records.splitState) && driver.Knows(records.commsReqState) &&
           LayoutOf(records) == layout;
}

}  // namespace kv::controller
