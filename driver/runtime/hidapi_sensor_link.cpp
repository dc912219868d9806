// hidapi backend of the sensor link: enumeration by vendor and product id, bounded reads,
// report length from the hidraw report descriptor.
#include "driver/runtime/hidapi_sensor_link.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "driver/runtime/report_descriptor.h"

namespace kv {

namespace {

// The layout of the device behind a hidraw node; the default layout when it cannot be read
// (a node that is not hidraw, no rights for the ioctl).
InputReportLayout ReadLayout(const std::string& path) {
    InputReportLayout fallback;
    fallback.length = kDefaultInputReportLength;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return fallback;
    }
    int size = 0;
    hidraw_report_descriptor descriptor{};
    std::optional<InputReportLayout> layout;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 && size <= HID_MAX_DESCRIPTOR_SIZE) {
        descriptor.size = static_cast<uint32_t>(size);
        if (::ioctl(fd, HIDIOCGRDESC, &descriptor) == 0) {
            layout = ParseInputReports(descriptor.value, descriptor.size);
        }
    }
    ::close(fd);
    return layout ? *layout : fallback;
}

}  // namespace

HidapiSensorLink::HidapiSensorLink(uint16_t vendorId, uint16_t productId)
    : vendorId_(vendorId), productId_(productId) {}

HidapiSensorLink::~HidapiSensorLink() {
    Close();
}

bool HidapiSensorLink::Open() {
    Close();
    if (hid_init() != 0) {
        return false;
    }
    hid_device_info* devices = hid_enumerate(vendorId_, productId_);
    // The first board in enumeration order wins; one we may not open (no rights, held
    // exclusively) does not stop the search.
    for (const hid_device_info* info = devices; info != nullptr; info = info->next) {
        if (info->vendor_id != vendorId_ || info->product_id != productId_ ||
            info->path == nullptr) {
            continue;
        }
        device_ = hid_open_path(info->path);
        if (device_ != nullptr) {
            path_ = info->path;
            break;
        }
    }
    hid_free_enumeration(devices);
    if (device_ == nullptr) {
        return false;
    }
    const InputReportLayout layout = ReadLayout(path_);
    reportLength_ = layout.length;
    numbered_ = layout.numbered;
    readFailed_ = false;
    return true;
}

bool HidapiSensorLink::Alive() {
    struct stat node {};
    return device_ != nullptr && !readFailed_ && ::stat(path_.c_str(), &node) == 0;
}

int32_t HidapiSensorLink::Read(uint8_t* dest, size_t capacity) {
    const int32_t result = reportLength_ - 1;
    delivered_ = 0;
    if (device_ == nullptr || dest == nullptr || reportLength_ <= 0 || capacity == 0) {
        return result;
    }
    const size_t length = std::min(static_cast<size_t>(reportLength_), capacity);
    int got = 0;
    if (numbered_) {
        got = hid_read_timeout(device_, dest, length, kReadTimeoutMs);
    } else if (length > 1) {
        // hidraw leaves the report ID out of unnumbered reports; index 0 holds it as 0.
        got = hid_read_timeout(device_, dest + 1, length - 1, kReadTimeoutMs);
        if (got > 0) {
            dest[0] = 0;
        }
    }
    if (got < 0) {
        readFailed_ = true;  // unplugged: the next alive test says so
    } else if (got > 0) {
        delivered_ = static_cast<size_t>(numbered_ ? got : got + 1);
    }
    return result;
}

void HidapiSensorLink::Close() {
    if (device_ != nullptr) {
        hid_close(device_);
        device_ = nullptr;
    }
    path_.clear();
    reportLength_ = 0;
    numbered_ = false;
    readFailed_ = false;
}

}  // namespace kv
