// Selection 1: the single-finger engine plus two-finger pinch turned into wheel notches.
#pragma once

#include <cstdint>

#include "driver/touch/single_touch_engine.h"

namespace kv {

class PinchScrollEngine final : public SingleTouchEngine {
public:
    static constexpr float kNotchSpacing = 0.02f;

    explicit PinchScrollEngine(PointerPipeline& pipeline) : SingleTouchEngine(pipeline, 1) {}

    float Accumulator() const { return accumulator_; }

private:
    void AfterDecide() override;

    float accumulator_ = 0.0f;
    float previousSpacingX_ = 0.0f;
    float previousSpacingY_ = 0.0f;
};

}  // namespace kv
