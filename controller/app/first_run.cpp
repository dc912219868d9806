// Telling the user why no driver answers.
#include "controller/app/first_run.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "controller/models/driver_view.h"
#include "controller/platform/driver_launcher.h"

namespace kv::controller {

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("FirstRun", text);
}

}  // namespace

DriverAbsence LookAtAbsentDriver(const DriverView& driver, const DriverLauncher& launcher,
                                 const QString& driverLock) {
    DriverAbsence absence;
    absence.program = launcher.Program();
    const QFileInfo file(absence.program);
    absence.programExists = file.exists();
    absence.programRunnable = file.isFile() && file.isExecutable();
    absence.startFailed = launcher.LastStartFailed();
    absence.foreignUid = driver.ForeignHolder();
    absence.lockHeld = !LockIsFree(driverLock);
    absence.port = driver.DriverPort();
    return absence;
}

QString NoDriverReason(const DriverAbsence& absence) {
    if (!absence.programExists) {
        return Tr("the driver program %1 is missing; install it beside the Controller.")
            .arg(absence.program);
    }
    if (!absence.programRunnable) {
        return Tr("the driver program %1 cannot be run (it is not an executable file).")
            .arg(absence.program);
    }
    if (absence.foreignUid) {
        return Tr("UDP port %1, the driver's, is held by a program of another user (uid %2), "
                  "most likely that user's driver; yours cannot take the port while it runs.")
            .arg(absence.port)
            .arg(*absence.foreignUid);
    }
    if (absence.startFailed) {
        return Tr("the driver program %1 could not be started.").arg(absence.program);
    }
    if (absence.lockHeld) {
        return Tr("a driver is running but does not answer on UDP port %1 (it may have been "
                  "started with other ports); end it and start the Controller again.")
            .arg(absence.port);
    }
    return Tr("the driver was started but ended at once; run %1 --verbose in a terminal to see "
              "why.")
        .arg(absence.program);
}

}  // namespace kv::controller
