// A reply read from the sway socket: any bytes give ok or a reason, and ok only for a reply
// that says "success" with true.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "desktop/sway_ipc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view payload(reinterpret_cast<const char*>(data), size);
    const kv::SwayCommandResult result = kv::ParseSwayCommandReply(payload);
    if (result.ok == !result.error.empty() ||
        (result.ok && payload.find("true") == std::string_view::npos)) {
        std::abort();
    }
    return 0;
}
