// The controller's side of a counted event: raised on a controller registry and the frame it
// sends delivered to the driver's registry, as the transport would.
#pragma once

#include "protocol/registry.h"
#include "tests/support/frame_log.h"

namespace kv::test {

class ControllerSide {
public:
    ControllerSide() : registry(ProgramRole::Controller) { registry.SetTransport(&transport); }

    // Raises the event named by object and topic and returns the frame the controller sends.
    Bytes Raise(const char* object, const char* topic) {
        const TableEntry* entry = registry.Find(object, topic);
        static_cast<SetValue*>(entry->record)->RaiseCounted();
        return transport.frames.back();
    }
    void RaiseInto(Registry& driver, const char* object, const char* topic) {
        const Bytes frame = Raise(object, topic);
        driver.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
    }

    Registry registry;
    FrameLog transport;
};

}  // namespace kv::test
