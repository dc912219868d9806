// The virtual touch device's staging and out reports.
#include "driver/board/virtual_touch_device.h"

namespace kv {

VirtualTouchDevice::VirtualTouchDevice(TouchEndpointFactory factory)
    : factory_(std::move(factory)) {
    staging.fill(0);
    staging[0] = 1;
    staging[1] = 1;
    PutU16(8, 900);
    PutU16(10, 30);
    PutU16(12, 30);
    PutU16(14, 1);
}

ContactReport VirtualTouchDevice::OutReport(const ContactReport& staging) {
    ContactReport out{};
    for (size_t i = 1; i < kContactReportBytes; ++i) {
        out[i - 1] = staging[i];
    }
    out[kContactReportBytes - 1] = staging[0];
    return out;
}

void VirtualTouchDevice::SendContact(uint8_t state, uint16_t contactNumber, uint16_t x,
                                     uint16_t y) {
    SetContactState(state);
    SetContactNumber(contactNumber);
    SetX(x);
    SetY(y);
    Send();
}

void VirtualTouchDevice::Make() {
    asked_ = true;
    endpoint_ = factory_ ? factory_() : nullptr;
    opened_ = endpoint_ != nullptr;
}

void VirtualTouchDevice::Keep(bool wanted) {
    if (wanted == wanted_) {
        return;
    }
    wanted_ = wanted;
    if (wanted && !asked_) {
        Make();
    } else if (!wanted) {
        // The device goes with its contacts: the desktop ends any touch still down.
        endpoint_.reset();
        opened_ = false;
        asked_ = false;
    }
}

void VirtualTouchDevice::Send() {
    if (!asked_) {
        Make();
    }
    if (!opened_) {
        return;
    }
    outReport = OutReport(staging);
    endpoint_->Write(outReport.data(), outReport.size());
}

}  // namespace kv
