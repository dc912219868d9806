// Where a two-finger touch engine's pipelines send both mapped fingers each frame: the TUIO
// sender (two cursors) or the native touch output (two contacts).
#pragma once

#include "driver/core/pointer_sample.h"

namespace kv {

class FingerPairOutput {
public:
    virtual ~FingerPairOutput() = default;
    // States are after edge exclusion (0, 1, 2); positions are mapped screen fractions.
    virtual void SendPair(const PointerSample& primary, const PointerSample& secondary) = 0;
};

}  // namespace kv
