// HID report descriptors on arbitrary bytes, as a board (or a recording of one) could hand
// them to the driver: the input report length must come out bounded or not at all.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "driver/core/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that any read past the end is caught.
    const std::vector<uint8_t> descriptor(data, data + size);
    const auto layout = kv::ParseInputReports(descriptor.data(), descriptor.size());
    if (layout && layout->length < 0) {
        std::abort();
    }
    return 0;
}
