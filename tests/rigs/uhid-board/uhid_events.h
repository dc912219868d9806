// The uhid protocol's messages as plain bytes: building the events that create, feed and
// destroy a device, and reading the kernel's requests. No system calls, so tests see exactly
// what would be written to /dev/uhid.
#pragma once

#include <linux/uhid.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::uhid {

// Identity and descriptor of the emulated device.
struct DeviceIdentity {
    std::string name;
    uint16_t bus = 0;
    uint32_t vendor = 0;
    uint32_t product = 0;
    uint32_t version = 0;
    std::vector<uint8_t> descriptor;
};

// UHID_CREATE2. False when the descriptor does not fit; the name is cut to the field.
bool BuildCreate(const DeviceIdentity& identity, uhid_event& event);
// UHID_INPUT2 with one input report as the device sends it (no ID byte when unnumbered).
// False when the report is empty or longer than the kernel takes.
bool BuildInput(const uint8_t* report, size_t length, uhid_event& event);
// UHID_DESTROY.
void BuildDestroy(uhid_event& event);
// The answer to a UHID_GET_REPORT or UHID_SET_REPORT request: the board has no feature
// reports, so it refuses (EIO) rather than leaving the kernel to wait for a time-out.
// False when the request is neither.
bool BuildRefusal(const uhid_event& request, uhid_event& reply);

// The bytes of an event of this type that the kernel reads; the whole structure is accepted
// too, but the exact size keeps traces small.
size_t EventSize(const uhid_event& event);

}  // namespace kv::uhid
