// Entry point of the Driver process.
#include "driver/app/driver_program.h"

int main(int argc, char** argv) {
    return kv::DriverMain(argc, argv);
}
