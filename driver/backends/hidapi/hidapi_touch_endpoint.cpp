// hidapi backend of the virtual touch device.
#include "driver/backends/hidapi/hidapi_touch_endpoint.h"

#include <hidapi/hidapi.h>

namespace kv {

CHidVMT::~CHidVMT() {
    if (device_ != nullptr) {
        hid_close(device_);
    }
}

bool CHidVMT::Open() {
    if (device_ != nullptr) {
        hid_close(device_);
        device_ = nullptr;
    }
    if (hid_init() != 0) {
        return false;
    }
    hid_device_info* devices = hid_enumerate(kTouchVendorId, kTouchProductId);
    for (const hid_device_info* info = devices; info != nullptr && device_ == nullptr;
         info = info->next) {
        if (info->vendor_id == kTouchVendorId && info->product_id == kTouchProductId &&
            info->path != nullptr) {
            device_ = hid_open_path(info->path);
        }
    }
    hid_free_enumeration(devices);
    return device_ != nullptr;
}

void CHidVMT::Write(const uint8_t* report, size_t length) {
    if (device_ != nullptr && report != nullptr) {
        (void)hid_write(device_, report, length);
    }
}

}  // namespace kv
