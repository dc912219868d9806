// The built Driver as the process tests start it: its path, how long they wait on it, its
// hello and a copy of it in a folder of its own. A target that includes this header defines
// KV_DRIVER_PATH, the Driver of its build.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/support/process_support.h"

namespace kv::test {

inline constexpr const char* kDriver = KV_DRIVER_PATH;

// Generous bound for slow, shared machines and sanitizer builds; nothing is timed by it.
inline constexpr int kWaitMs = 60000;

// The driver's port, from its hello to peer; 0 when none came within kWaitMs.
inline uint16_t AwaitHello(UdpPeer& peer) {
    return AwaitDriverHello(peer, kWaitMs);
}

// Copies the Driver into folder as "Driver" and returns the copy's path. A Driver in a folder
// of its own keeps its DRIVER.INI there: no settings file from elsewhere applies.
inline std::string InstallDriver(const TempDir& folder) {
    const std::string program = folder.File("Driver");
    std::filesystem::copy_file(kDriver, program);
    return program;
}

}  // namespace kv::test
