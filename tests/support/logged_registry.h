// A registry of one program on the tests' clock with every frame it sends kept: for the tests
// of what goes on the wire.
#pragma once

#include "protocol/registry.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"

namespace kv::test {

struct LoggedRegistry {
    explicit LoggedRegistry(ProgramRole role) : registry(role, clock) {
        registry.SetTransport(&transport);
    }
    LoggedRegistry(const LoggedRegistry&) = delete;
    LoggedRegistry& operator=(const LoggedRegistry&) = delete;

    FakeClock clock;
    Registry registry;
    FrameLog transport;
};

}  // namespace kv::test
