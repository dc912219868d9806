// kvctl encode's requests and the frames it builds of them, as the encode, decode and round-trip
// tests make them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/kvctl/frame_encode.h"

namespace kvtest {

// A request for a record ("Object/Topic", "END" or "hello") with its FIELD=VALUE assignments
// and the header words to set.
inline kv::kvctl::EncodeRequest Request(std::string record,
                                        std::vector<std::string> assignments = {},
                                        std::optional<int32_t> tag = std::nullopt,
                                        std::optional<int32_t> eventValid = std::nullopt,
                                        std::optional<int32_t> sequence = std::nullopt) {
    kv::kvctl::EncodeRequest request;
    request.record = std::move(record);
    request.assignments = std::move(assignments);
    request.tag = tag;
    request.eventValid = eventValid;
    request.sequence = sequence;
    return request;
}

// The frame kvctl encode builds of the request; a request it refuses fails the test.
inline std::vector<uint8_t> Encode(const kv::kvctl::EncodeRequest& request) {
    const auto result = kv::kvctl::EncodeFrame(request);
    EXPECT_TRUE(result.ok) << result.error;
    return result.frame;
}

inline std::vector<uint8_t> Encode(std::string record, std::vector<std::string> assignments = {},
                                   std::optional<int32_t> tag = std::nullopt) {
    return Encode(Request(std::move(record), std::move(assignments), tag));
}

}  // namespace kvtest
