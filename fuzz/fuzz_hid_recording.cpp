// hid-recorder files on arbitrary text: the parser, and for every recording it accepts, the
// same recording written back out and read again must give the same reports.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "driver/sim/hid_recording.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto recording = kv::sim::ParseHidRecording(text, error);
    if (!recording) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    // The writer's form of the same recording (the name only goes to the header comment and
    // N: line, which the reader trims; keep it out of the comparison).
    std::string again =
        kv::sim::FormatHeader("fuzz", recording->vendor, recording->product, recording->descriptor);
    for (const auto& event : recording->events) {
        again += kv::sim::FormatEvent(event.micros, event.data.data(), event.data.size());
    }
    const auto reread = kv::sim::ParseHidRecording(again, error);
    if (!reread || reread->descriptor != recording->descriptor ||
        reread->vendor != recording->vendor || reread->product != recording->product ||
        reread->events.size() != recording->events.size()) {
        std::abort();
    }
    for (size_t i = 0; i < recording->events.size(); ++i) {
        if (reread->events[i].micros != recording->events[i].micros ||
            reread->events[i].data != recording->events[i].data) {
            std::abort();
        }
    }
    return 0;
}
