// The settings the records start from.
#include "driver/core/settings_store.h"

namespace kv {

void ApplySettingsDefaults(Registry& registry) {
    auto preset = [](CalibrationData& ref, float a, float b) {
        ref.SA = a;
        ref.SB = b;
        ref.SX = a;
        ref.SY = b;
    };
    preset(registry.calibRefTL, 0.1f, 0.1f);
    preset(registry.calibRefTR, 0.9f, 0.1f);
    preset(registry.calibRefBL, 0.1f, 0.9f);

    registry.commsReqState.Open = false;
    registry.driverConfig.Reset();  // Delay 20
    registry.driverConfig.start_at_boot = false;
    registry.edgeState.Top = 0;
    registry.edgeState.Left = 0;
    registry.edgeState.Right = 0;
    registry.edgeState.Bottom = 0;
    registry.calibState.exclude_edge_flag = 0;
    registry.outputPointer.Reset();  // every pointer enabled
}

}  // namespace kv
