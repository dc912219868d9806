// The virtual touch device's HID endpoint (0xDDDD:0x0001) through hidapi.
#pragma once

#include "driver/core/touch_endpoint.h"

struct hid_device_;

namespace kv {

constexpr uint16_t kTouchVendorId = 0xDDDD;
constexpr uint16_t kTouchProductId = 0x0001;

class CHidVMT final : public TouchEndpoint {
public:
    CHidVMT() = default;
    ~CHidVMT() override;
    CHidVMT(const CHidVMT&) = delete;
    CHidVMT& operator=(const CHidVMT&) = delete;

    // The first endpoint in enumeration order that opens.
    bool Open() override;
    void Write(const uint8_t* report, size_t length) override;

private:
    hid_device_* device_ = nullptr;
};

}  // namespace kv
