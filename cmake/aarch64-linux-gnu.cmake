# Cross-building for 64-bit ARM (Raspberry Pi OS, Debian arm64) on a Debian host with the arm64
# architecture added (scripts/install-deps-arm64): the cross compilers, the arm64 libraries
# and pkg-config files in their multiarch folders, and Qt's build tools (moc, rcc, uic) from
# the host. ctest runs the arm64 programs through qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "arm64 pkg-config")

# The host's programs (help2man, lrelease, oscdump, the test tools) run as they are; libraries
# and packages are the arm64 ones.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

set(QT_HOST_PATH /usr CACHE PATH "Qt's host tools")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Qt's host tool packages")

find_program(KV_QEMU_AARCH64 qemu-aarch64-static qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_QEMU_AARCH64})
