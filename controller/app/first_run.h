// Why no driver answers the Controller, in words the user can act on: what the Controller can
// find out for itself (the program file, the last start, the single-instance lock, the owner of
// the driver's port), for the first run's message.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace kv::controller {

class DriverLauncher;
class DriverView;

struct DriverAbsence {
    QString program;                     // the Driver the Controller starts
    bool programExists = true;           // the file is there
    bool programRunnable = true;         // and may be run
    bool startFailed = false;            // the last start could not run it
    std::optional<uint32_t> foreignUid;  // another user's program holds the driver's port
    bool lockHeld = false;               // a driver of this user runs (holds its lock)
    uint16_t port = 0;                   // the driver's UDP port
};

// Looks at what the Controller can see of a driver that does not answer.
DriverAbsence LookAtAbsentDriver(const DriverView& driver, const DriverLauncher& launcher,
                                 const QString& driverLock);
// The most likely reason first, as one sentence.
QString NoDriverReason(const DriverAbsence& absence);

}  // namespace kv::controller
