// The virtual touch device: the 30-byte contact report the touch output fills, and sending it
// to the endpoint in the device's byte order.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "driver/runtime/touch_endpoint.h"

namespace kv {

constexpr size_t kContactReportBytes = 30;
using ContactReport = std::array<uint8_t, kContactReportBytes>;

class VirtualTouchDevice {
public:
    // Sets the staging report's construction values and opens the endpoint once; a missing
    // endpoint (null or failing to open) is never retried and makes every Send a no-op.
    explicit VirtualTouchDevice(std::unique_ptr<TouchEndpoint> endpoint);

    // Staging fields the touch output writes (little-endian in the report).
    void SetContactState(uint8_t state) { staging[2] = state; }
    void SetX(uint16_t x) { PutU16(4, x); }
    void SetY(uint16_t y) { PutU16(6, y); }
    void SetContactNumber(uint16_t contact) { PutU16(14, contact); }

    // The out report for a staging report: staging bytes 1..29, then staging byte 0.
    static ContactReport OutReport(const ContactReport& staging);
    // Sends the staging report; nothing when the endpoint is not open.
    void Send();

    bool Opened() const { return opened_; }

    ContactReport outReport{};
    ContactReport staging{};
    int32_t contact1LastX = 0;
    int32_t contact1LastY = 0;
    int32_t contact2LastX = 0;
    int32_t contact2LastY = 0;
    bool contact1Down = false;
    bool contact2Down = false;

private:
    void PutU16(size_t offset, uint16_t value) {
        staging[offset] = static_cast<uint8_t>(value);
        staging[offset + 1] = static_cast<uint8_t>(value >> 8);
    }

    std::unique_ptr<TouchEndpoint> endpoint_;
    bool opened_ = false;
};

}  // namespace kv
