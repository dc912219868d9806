// Building and answering uhid messages.
#include "tests/rigs/uhid-board/uhid_events.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kv::uhid {

bool BuildCreate(const DeviceIdentity& identity, uhid_event& event) {
    std::memset(&event, 0, sizeof(event));
    if (identity.descriptor.empty() || identity.descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
        return false;
    }
    event.type = UHID_CREATE2;
    auto& create = event.u.create2;
    // Leave the last byte 0: the kernel expects a terminated string.
    const size_t nameLength = std::min(identity.name.size(), sizeof(create.name) - 1);
    std::memcpy(create.name, identity.name.data(), nameLength);
    create.rd_size = static_cast<uint16_t>(identity.descriptor.size());
    create.bus = identity.bus;
    create.vendor = identity.vendor;
    create.product = identity.product;
    create.version = identity.version;
    std::memcpy(create.rd_data, identity.descriptor.data(), identity.descriptor.size());
    return true;
}

bool BuildInput(const uint8_t* report, size_t length, uhid_event& event) {
    std::memset(&event, 0, sizeof(event));
    if (report == nullptr || length == 0 || length > UHID_DATA_MAX) {
        return false;
    }
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<uint16_t>(length);
    std::memcpy(event.u.input2.data, report, length);
    return true;
}

void BuildDestroy(uhid_event& event) {
    std::memset(&event, 0, sizeof(event));
    event.type = UHID_DESTROY;
}

bool BuildRefusal(const uhid_event& request, uhid_event& reply) {
    std::memset(&reply, 0, sizeof(reply));
    if (request.type == UHID_GET_REPORT) {
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = request.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
        return true;
    }
    if (request.type == UHID_SET_REPORT) {
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = request.u.set_report.id;
        reply.u.set_report_reply.err = EIO;
        return true;
    }
    return false;
}

size_t EventSize(const uhid_event& event) {
    const size_t header = sizeof(event.type);
    switch (event.type) {
        case UHID_CREATE2:
            return header + offsetof(uhid_create2_req, rd_data) + event.u.create2.rd_size;
        case UHID_INPUT2:
            return header + offsetof(uhid_input2_req, data) + event.u.input2.size;
        case UHID_DESTROY:
            return header;
        case UHID_GET_REPORT_REPLY:
            return header + offsetof(uhid_get_report_reply_req, data);
        case UHID_SET_REPORT_REPLY:
            return header + sizeof(uhid_set_report_reply_req);
        default:
            return sizeof(event);
    }
}

}  // namespace kv::uhid
