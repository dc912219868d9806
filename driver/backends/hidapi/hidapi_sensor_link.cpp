// hidapi backend of the sensor link: enumeration by vendor and product id, bounded reads,
// report length from the hidraw report descriptor.
#include "driver/backends/hidapi/hidapi_sensor_link.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

class SystemHidapiCalls final : public HidapiCalls {
public:
    std::vector<std::string> Enumerate(uint16_t vendorId, uint16_t productId) override {
        std::vector<std::string> paths;
        if (hid_init() != 0) {
            return paths;
        }
        hid_device_info* devices = hid_enumerate(vendorId, productId);
        for (const hid_device_info* info = devices; info != nullptr; info = info->next) {
            if (info->vendor_id == vendorId && info->product_id == productId &&
                info->path != nullptr) {
                paths.emplace_back(info->path);
            }
        }
        hid_free_enumeration(devices);
        return paths;
    }
    hid_device_* OpenPath(const std::string& path) override { return hid_open_path(path.c_str()); }
    void Close(hid_device_* device) override { hid_close(device); }
    int ReadTimeout(hid_device_* device, uint8_t* data, size_t length, int timeoutMs,
                    int& error) override {
        // hidapi reports a hang-up without setting errno; a stale EINTR must not hide it.
        errno = 0;
        const int got = hid_read_timeout(device, data, length, timeoutMs);
        error = errno;
        return got;
    }
    InputReportLayout Layout(const std::string& path) override { return ReadLayout(path); }
    bool NodeExists(const std::string& path) override {
        struct stat node {};
        return ::stat(path.c_str(), &node) == 0;
    }
};

}  // namespace

HidapiCalls& SystemHidapi() {
    static SystemHidapiCalls calls;
    return calls;
}

HidapiSensorLink::HidapiSensorLink(HidapiCalls& hid, uint16_t vendorId, uint16_t productId)
    : hid_(hid), vendorId_(vendorId), productId_(productId) {}

HidapiSensorLink::~HidapiSensorLink() {
    Close();
}

bool HidapiSensorLink::Open() {
    Close();
    // The first board in enumeration order wins; one we may not open (no rights, held
    // exclusively) does not stop the search.
    for (const std::string& path : hid_.Enumerate(vendorId_, productId_)) {
        device_ = hid_.OpenPath(path);
        if (device_ != nullptr) {
            path_ = path;
            break;
        }
    }
    if (device_ == nullptr) {
        return false;
    }
    const InputReportLayout layout = hid_.Layout(path_);
    reportLength_ = layout.length;
    numbered_ = layout.numbered;
    readFailed_ = false;
    return true;
}

bool HidapiSensorLink::Alive() {
    return device_ != nullptr && !readFailed_ && hid_.NodeExists(path_);
}

int32_t HidapiSensorLink::Read(uint8_t* dest, size_t capacity) {
    const int32_t result = reportLength_ - 1;
    delivered_ = 0;
    if (device_ == nullptr || dest == nullptr || reportLength_ <= 0 || capacity == 0) {
        return result;
    }
    const size_t length = std::min(static_cast<size_t>(reportLength_), capacity);
    int got = 0;
    int error = 0;
    if (numbered_) {
        got = hid_.ReadTimeout(device_, dest, length, kReadTimeoutMs, error);
    } else if (length > 1) {
        // hidraw leaves the report ID out of unnumbered reports; index 0 holds it as 0.
        got = hid_.ReadTimeout(device_, dest + 1, length - 1, kReadTimeoutMs, error);
        if (got > 0) {
            dest[0] = 0;
        }
    }
    if (got < 0 && error == EINTR) {
        // A signal (SIGTERM, SIGINT) cut the wait short: nothing arrived, as after a time-out.
        // hidapi's poll() is never restarted, so this is no sign of a lost board.
    } else if (got < 0) {
        readFailed_ = true;  // unplugged: the next alive test says so
    } else if (got > 0) {
        delivered_ = static_cast<size_t>(numbered_ ? got : got + 1);
    }
    return result;
}

void HidapiSensorLink::Close() {
    if (device_ != nullptr) {
        hid_.Close(device_);
        device_ = nullptr;
    }
    path_.clear();
    reportLength_ = 0;
    numbered_ = false;
    readFailed_ = false;
}

}  // namespace kv
