// The emulated device on /dev/uhid: create, feed, destroy, and the kernel's requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/rigs/uhid-board/uhid_events.h"

namespace kv::uhid {

class UhidDevice {
public:
    UhidDevice() = default;
    ~UhidDevice();  // destroys the device and closes the node
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    // Opens the uhid node; false with Error() saying why.
    bool Open(const std::string& path);
    // Creates the device (plug); false with Error() saying why.
    bool Create(const DeviceIdentity& identity);
    // Removes the device (unplug); the node stays open for the next Create.
    bool Destroy();
    // Sends one input report; false when it could not be written.
    bool Input(const uint8_t* report, size_t length);
    // Waits up to timeoutMs for the kernel's messages and handles all that came: notes
    // open and close, refuses report requests. False on a read error.
    bool Service(int timeoutMs);

    bool Created() const { return created_; }
    // Whether a reader (hidraw, the input layer) has the device open now, and whether one
    // ever has since the last Create.
    bool OpenedByReader() const { return readers_; }
    bool EverOpened() const { return everOpened_; }
    const std::string& Error() const { return error_; }

private:
    bool Send(const uhid_event& event, const char* what);

    int fd_ = -1;
    bool created_ = false;
    bool readers_ = false;
    bool everOpened_ = false;
    std::string error_;
};

}  // namespace kv::uhid
