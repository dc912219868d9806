// The driver's end of the Controller's sends in page tests: a driver-side registry and the
// transport that delivers every datagram into it, noting the record it carried as
// "Object/Topic"; and the Controller's registry linked to it.
#pragma once

#include <string>
#include <vector>

#include "protocol/registry.h"
#include "tests/support/delivering_transport.h"

namespace kv::controller::test {

struct DriverSide {
    Registry driver{ProgramRole::Driver};
    kv::test::DeliveringTransport link{driver};
};

// The Controller's registry with its sends delivered to a driver side: what a page or dialog
// under test works on.
struct LinkedRegistries {
    LinkedRegistries() { registry.SetTransport(&driver.link); }
    // The driver's publish-all reaches the Controller: every record is known as the driver's.
    void DriverAnswers() { kv::test::DeliverAll(driver.driver, registry); }
    Registry registry{ProgramRole::Controller};
    DriverSide driver;
};

using Sent = std::vector<std::string>;

}  // namespace kv::controller::test
