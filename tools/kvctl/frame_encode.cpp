// Frame encoding for kvctl: a scratch registry, header options, field assignments, WriteFrame.
#include "tools/kvctl/frame_encode.h"

#include <memory>

#include "protocol/wire.h"
#include "tools/kvctl/field_assign.h"
#include "tools/kvctl/record_json.h"

namespace kv::kvctl {

EncodeResult EncodeFrame(const EncodeRequest& request) {
    EncodeResult result;
    const int32_t sender = TraitsOf(request.from).senderId;

    if (request.record == "hello") {
        if (request.eventValid || request.sequence || request.tag || !request.assignments.empty()) {
            result.error = "hello is a bare prefix: it takes no fields and no header options";
            return result;
        }
        const auto hello = wire::HelloDatagram(sender);
        result.frame.assign(hello.begin(), hello.end());
        result.ok = true;
        return result;
    }

    // The registry is large (the monitor ring alone is 11 kB): keep it off the stack.
    auto registry = std::make_unique<Registry>(request.from);
    DataManipulation* record = FindRecord(*registry, request.record);
    if (record == nullptr) {
        result.error = "no record '" + request.record + "': kvctl table lists them";
        return result;
    }
    if (request.eventValid) {
        record->header.eventValid = *request.eventValid;
    }
    if (request.sequence) {
        record->header.sequence = *request.sequence;
    }
    if (request.tag) {
        record->header.tag = *request.tag;
    }
    PrepareForAssignment(*record);
    for (const std::string& assignment : request.assignments) {
        AssignOutcome outcome = AssignField(*record, assignment);
        if (!outcome.ok) {
            result.error = outcome.error;
            return result;
        }
        if (!outcome.notice.empty()) {
            result.notices.push_back(std::move(outcome.notice));
        }
    }
    result.frame.resize(static_cast<size_t>(record->FrameSize()));
    record->WriteFrame(result.frame.data(), sender);
    result.ok = true;
    return result;
}

std::string ToHex(const uint8_t* bytes, size_t length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0x0F];
    }
    return out;
}

}  // namespace kv::kvctl
