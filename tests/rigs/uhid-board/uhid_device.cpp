// The /dev/uhid backend of the emulated board.
#include "tests/rigs/uhid-board/uhid_device.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kv::uhid {

UhidDevice::~UhidDevice() {
    if (fd_ >= 0) {
        Destroy();
        ::close(fd_);
    }
}

bool UhidDevice::Open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        error_ = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool UhidDevice::Send(const uhid_event& event, const char* what) {
    const size_t size = EventSize(event);
    const ssize_t written = ::write(fd_, &event, size);
    if (written != static_cast<ssize_t>(size)) {
        error_ = std::string("cannot ") + what + ": " +
                 (written < 0 ? std::strerror(errno) : "short write");
        return false;
    }
    return true;
}

bool UhidDevice::Create(const DeviceIdentity& identity) {
    uhid_event event;
    if (!BuildCreate(identity, event)) {
        error_ = "the report descriptor is empty or too long";
        return false;
    }
    if (!Send(event, "create the device")) {
        return false;
    }
    created_ = true;
    readers_ = false;
    everOpened_ = false;
    return true;
}

bool UhidDevice::Destroy() {
    if (!created_) {
        return true;
    }
    uhid_event event;
    BuildDestroy(event);
    created_ = false;
    readers_ = false;
    return Send(event, "destroy the device");
}

bool UhidDevice::Input(const uint8_t* report, size_t length) {
    uhid_event event;
    if (!created_ || !BuildInput(report, length, event)) {
        return false;
    }
    return Send(event, "send an input report");
}

bool UhidDevice::Service(int timeoutMs) {
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready <= 0) {
        return ready == 0 || errno == EINTR;
    }
    uhid_event event;
    for (;;) {
        const ssize_t got = ::read(fd_, &event, sizeof(event));
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                return true;
            }
            error_ = std::string("cannot read from uhid: ") + std::strerror(errno);
            return false;
        }
        if (got < static_cast<ssize_t>(sizeof(event.type))) {
            return true;
        }
        switch (event.type) {
            case UHID_OPEN:
                readers_ = true;
                everOpened_ = true;
                break;
            case UHID_CLOSE:
                readers_ = false;
                break;
            case UHID_GET_REPORT:
            case UHID_SET_REPORT: {
                uhid_event reply;
                if (BuildRefusal(event, reply) && !Send(reply, "answer a report request")) {
                    return false;
                }
                break;
            }
            default:
                break;  // start, stop and output reports need nothing from the board
        }
    }
}

}  // namespace kv::uhid
