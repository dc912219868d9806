// The driver's end of the Controller's sends in page tests: every datagram is delivered into a
// driver-side registry, and the record it carried is noted as "Object/Topic".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "messaging/registry.h"
#include "messaging/transport.h"

namespace kv::controller::test {

class DriverSide final : public Transport {
public:
    int32_t Send(const uint8_t* bytes, size_t length) override {
        const DeliverResult result = driver.Deliver(bytes, 0, static_cast<int32_t>(length));
        received.push_back(Name(result.record));
        return static_cast<int32_t>(length);
    }
    std::string Name(const DataManipulation* record) const {
        for (const TableEntry& entry : driver.Table()) {
            if (entry.record == record) {
                return std::string(entry.object) + "/" + std::string(entry.topic);
            }
        }
        return "other";
    }
    Registry driver{ProgramRole::Driver};
    std::vector<std::string> received;
};

using Sent = std::vector<std::string>;

}  // namespace kv::controller::test
