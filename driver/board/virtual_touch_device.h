// The virtual touch device: the 30-byte contact report the touch output fills, and sending it
// to the endpoint in the device's byte order.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "driver/core/contact_output.h"
#include "driver/core/touch_endpoint.h"

namespace kv {

constexpr size_t kContactReportBytes = 30;
using ContactReport = std::array<uint8_t, kContactReportBytes>;

// Makes the endpoint: one that is open, or null when there is none.
using TouchEndpointFactory = std::function<std::unique_ptr<TouchEndpoint>()>;

class VirtualTouchDevice final : public ContactOutput {
public:
    // Sets the staging report's construction values. The endpoint is made when Keep(true)
    // says native touch is the mode (or at the first Send, whichever comes first), not here: a
    // uinput touchscreen appears on the desktop as soon as it is created, so a driver whose
    // touch mode never sends contact reports must not create one. The factory is asked once
    // each time the device is wanted; no endpoint then makes every Send a no-op.
    explicit VirtualTouchDevice(TouchEndpointFactory factory);

    // Staging fields the touch output writes (little-endian in the report).
    void SetContactState(uint8_t state) { staging[2] = state; }
    void SetX(uint16_t x) { PutU16(4, x); }
    void SetY(uint16_t y) { PutU16(6, y); }
    void SetContactNumber(uint16_t contact) { PutU16(14, contact); }

    // The out report for a staging report: staging bytes 1..29, then staging byte 0.
    static ContactReport OutReport(const ContactReport& staging);
    // Sends the staging report, making the endpoint first if this is the first Send; nothing
    // when there is no endpoint.
    void Send();
    // One contact report of the native touch output: staged, then sent.
    void SendContact(uint8_t state, uint16_t contactNumber, uint16_t x, uint16_t y) override;
    // Makes the endpoint when it becomes wanted; lets it go when it no longer is.
    void Keep(bool wanted) override;

    // Whether the endpoint was made and opened (false before it was first wanted or sent to).
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

    void Make();

    TouchEndpointFactory factory_;
    std::unique_ptr<TouchEndpoint> endpoint_;
    bool asked_ = false;  // the factory was asked since the device was last let go
    bool wanted_ = false;
    bool opened_ = false;
};

}  // namespace kv
