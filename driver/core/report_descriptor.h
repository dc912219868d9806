// The input report length of a HID device, worked out from its report descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kv {

// The length a report reaches the driver with when the descriptor cannot be read.
constexpr int32_t kDefaultInputReportLength = 65;

struct InputReportLayout {
    // True when the device numbers its reports (the report ID is its first byte).
    bool numbered = false;
    // The longest input report in bytes, including the report ID byte that the driver keeps
    // at index 0 whether or not the device sends one; 0 when there are no input reports.
    int32_t length = 0;
};

// Sums the Input items of each report ID. Empty when the descriptor is cut short.
std::optional<InputReportLayout> ParseInputReports(const uint8_t* descriptor, size_t size);

}  // namespace kv
