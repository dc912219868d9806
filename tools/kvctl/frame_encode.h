// Builds the bytes a program would send for a record, a hello or the end marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/registry.h"

namespace kv::kvctl {

struct EncodeRequest {
    std::string record;  // "Object/Topic", "END" or "hello"
    ProgramRole from = ProgramRole::Controller;
    std::optional<int32_t> eventValid;
    std::optional<int32_t> sequence;
    std::optional<int32_t> tag;
    std::vector<std::string> assignments;  // FIELD=VALUE, applied in order
};

struct EncodeResult {
    bool ok = false;
    std::vector<uint8_t> frame;
    std::string error;
    std::vector<std::string> notices;
};

// The frame that Send would produce for the request, starting from a freshly built registry
// of the sending program, so that every field not assigned keeps its construction value.
EncodeResult EncodeFrame(const EncodeRequest& request);

// Lowercase hex without separators.
std::string ToHex(const uint8_t* bytes, size_t length);

}  // namespace kv::kvctl
