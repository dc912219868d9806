// evdev-capture: waits for the input device with a given name, then prints its events as
// "seconds TYPE CODE value" lines (names from libevdev) until the time is up or SIGTERM.
// Reads back what the driver injected through uinput; the device's axes (range and
// resolution) go to standard error first.
#include <dirent.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/clock.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}

// The first /dev/input/event* node whose device has this name; null when none has.
libevdev* FindDevice(const std::string& name, int& fdOut) {
    DIR* folder = ::opendir("/dev/input");
    if (folder == nullptr) {
        return nullptr;
    }
    libevdev* found = nullptr;
    while (dirent* entry = ::readdir(folder)) {
        if (std::string_view(entry->d_name).rfind("event", 0) != 0) {
            continue;
        }
        const std::string path = std::string("/dev/input/") + entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        libevdev* dev = nullptr;
        if (libevdev_new_from_fd(fd, &dev) == 0 && name == libevdev_get_name(dev)) {
            found = dev;
            fdOut = fd;
            break;
        }
        if (dev != nullptr) {
            libevdev_free(dev);
        }
        ::close(fd);
    }
    ::closedir(folder);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("Usage: evdev-capture NAME SECONDS\n", stderr);
        return 2;
    }
    const std::string name = argv[1];
    const double seconds = std::atof(argv[2]);
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);
    const kv::Clock& clock = kv::DefaultClock();
    const int64_t end = clock.NowMs() + static_cast<int64_t>(seconds * 1000.0);
    int fd = -1;
    libevdev* dev = nullptr;
    while (dev == nullptr && !stopRequested && clock.NowMs() < end) {
        dev = FindDevice(name, fd);
        if (dev == nullptr) {
            clock.SleepMs(50);
        }
    }
    if (dev == nullptr) {
        std::fprintf(stderr, "evdev-capture: no device named '%s'\n", name.c_str());
        return 1;
    }
    std::fprintf(stderr, "evdev-capture: reading '%s'\n", name.c_str());
    // The axes as the device describes them, for checks of its ranges and resolution.
    for (const unsigned axis : {ABS_X, ABS_Y, ABS_MT_POSITION_X, ABS_MT_POSITION_Y}) {
        if (const input_absinfo* info = libevdev_get_abs_info(dev, axis)) {
            std::fprintf(stderr, "evdev-capture: %s %d..%d resolution %d\n",
                         libevdev_event_code_get_name(EV_ABS, axis), info->minimum, info->maximum,
                         info->resolution);
        }
    }
    while (!stopRequested && clock.NowMs() < end) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 100) <= 0) {
            continue;
        }
        input_event event{};
        int rc = libevdev_next_event(dev, LIBEVDEV_READ_FLAG_NORMAL, &event);
        while (rc == LIBEVDEV_READ_STATUS_SUCCESS || rc == LIBEVDEV_READ_STATUS_SYNC) {
            const char* type = libevdev_event_type_get_name(event.type);
            const char* code = libevdev_event_code_get_name(event.type, event.code);
            std::printf("%ld.%06ld %s %s %d\n", static_cast<long>(event.input_event_sec),
                        static_cast<long>(event.input_event_usec), type ? type : "?",
                        code ? code : "?", event.value);
            rc = libevdev_next_event(dev, LIBEVDEV_READ_FLAG_NORMAL, &event);
        }
        std::fflush(stdout);
        if (rc == -ENODEV) {
            break;  // the device went away with the driver
        }
    }
    libevdev_free(dev);
    ::close(fd);
    return 0;
}
