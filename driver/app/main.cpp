// Entry point of the Driver process.
#include <csignal>

#include "driver/app/driver_program.h"

int main(int argc, char** argv) {
    // A write to a peer or a display server that has gone must fail, not end the driver.
    std::signal(SIGPIPE, SIG_IGN);
    return kv::DriverMain(argc, argv);
}
