// Where the TUIO engine (selection 2) hands both fingers each frame; the TUIO sender
// implements it and creates its server on the first frame it receives.
#pragma once

#include <cstdint>

namespace kv {

class TuioSink {
public:
    virtual ~TuioSink() = default;
    // States after edge exclusion (0, 1, 2); positions are mapped screen fractions.
    virtual void SendFrame(int32_t stateA, float xA, float yA, int32_t stateB, float xB,
                           float yB) = 0;
};

// Drops every frame: no TUIO sender wired in.
class NullTuioSink final : public TuioSink {
public:
    void SendFrame(int32_t, float, float, int32_t, float, float) override {}
};

}  // namespace kv
