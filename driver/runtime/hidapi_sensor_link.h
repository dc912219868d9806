// The sensor board through hidapi's hidraw backend.
#pragma once

#include <string>

#include "driver/runtime/sensor_link.h"

struct hid_device_;

namespace kv {

constexpr uint16_t kSensorVendorId = 0x2012;
constexpr uint16_t kSensorProductId = 0x1001;

class HidapiSensorLink final : public SensorLink {
public:
    HidapiSensorLink(uint16_t vendorId = kSensorVendorId, uint16_t productId = kSensorProductId);
    ~HidapiSensorLink() override;
    HidapiSensorLink(const HidapiSensorLink&) = delete;
    HidapiSensorLink& operator=(const HidapiSensorLink&) = delete;

    bool Open() override;
    bool Alive() override;
    int32_t Read(uint8_t* dest, size_t capacity) override;
    void Close() override;
    size_t LastDelivered() const override { return delivered_; }

private:
    uint16_t vendorId_;
    uint16_t productId_;
    hid_device_* device_ = nullptr;
    std::string path_;
    int32_t reportLength_ = 0;
    bool numbered_ = false;
    bool readFailed_ = false;
    size_t delivered_ = 0;
};

}  // namespace kv
