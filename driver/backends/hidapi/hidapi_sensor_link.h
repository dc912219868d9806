// The sensor board through hidapi's hidraw backend.
#pragma once

#include <string>
#include <vector>

#include "driver/core/report_descriptor.h"
#include "driver/core/sensor_link.h"

struct hid_device_;

namespace kv {

constexpr uint16_t kSensorVendorId = 0x2012;
constexpr uint16_t kSensorProductId = 0x1001;

// The calls into hidapi and the hidraw node that the link makes, behind an interface so that
// tests can play a board that is unplugged, replaced or interrupted by a signal.
class HidapiCalls {
public:
    virtual ~HidapiCalls() = default;
    // Paths of the matching devices, in enumeration order.
    virtual std::vector<std::string> Enumerate(uint16_t vendorId, uint16_t productId) = 0;
    // Null when the device cannot be opened (no rights, held exclusively, gone).
    virtual hid_device_* OpenPath(const std::string& path) = 0;
    virtual void Close(hid_device_* device) = 0;
    // hid_read_timeout; error is errno as it was right after the call (0 when the call did
    // not set it), so that an interrupted wait can be told from a failed device.
    virtual int ReadTimeout(hid_device_* device, uint8_t* data, size_t length, int timeoutMs,
                            int& error) = 0;
    // The input reports of the device behind a hidraw node, from its report descriptor.
    virtual InputReportLayout Layout(const std::string& path) = 0;
    virtual bool NodeExists(const std::string& path) = 0;
};

// The process's real hidapi.
HidapiCalls& SystemHidapi();

class HidapiSensorLink final : public SensorLink {
public:
    explicit HidapiSensorLink(HidapiCalls& hid = SystemHidapi(),
                              uint16_t vendorId = kSensorVendorId,
                              uint16_t productId = kSensorProductId);
    ~HidapiSensorLink() override;
    HidapiSensorLink(const HidapiSensorLink&) = delete;
    HidapiSensorLink& operator=(const HidapiSensorLink&) = delete;

    bool Open() override;
    bool Alive() override;
    int32_t Read(uint8_t* dest, size_t capacity) override;
    void Close() override;
    size_t LastDelivered() const override { return delivered_; }

private:
    HidapiCalls& hid_;
    uint16_t vendorId_;
    uint16_t productId_;
    hid_device_* device_ = nullptr;
    std::string path_;
    // Read from the descriptor at every open, since a reopen may find another device.
    int32_t reportLength_ = 0;
    bool numbered_ = false;
    bool readFailed_ = false;
    size_t delivered_ = 0;
};

}  // namespace kv
