// One line of the kernel's UDP socket table, as the owner lookup reads it where there is no
// udp_diag: any bytes give an owner or none, and an owner only for a line that names the port.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "transport/socket_owner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const kv::UdpEndpoint sender{0x7F000001, 0x9C40};
    const kv::UdpEndpoint receiver{0x7F000001, 11249};
    if (kv::ProcNetUdpOwner(line, sender, receiver) && line.find(":9C40") == std::string::npos &&
        line.find(":9c40") == std::string::npos) {
        std::abort();
    }
    return 0;
}
