// Chooses how the pointer output reaches the desktop: a uinput absolute pointer, XTest on
// X11, or nothing, automatically or as the user asked (--pointer=auto|uinput|xtest|none).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "driver/core/display_info.h"
#include "driver/core/pointer_injector.h"

namespace kv {

enum class PointerBackend { Auto, Uinput, XTest, None };

// "auto", "uinput", "xtest" or "none"; false for anything else.
bool ParsePointerBackend(std::string_view text, PointerBackend& backend);

// What the choice looks at, passed in so that tests need not touch the process environment.
struct PointerEnvironment {
    std::string uinputPath = "/dev/uinput";
    std::string display;  // the value of $DISPLAY; empty when unset
    // The picture the uinput pointer's axes span (its resolution follows from it).
    ScreenMillimetres screen = kDefaultScreenMm;

    // The real paths and the process's $DISPLAY.
    static PointerEnvironment FromProcess();
};

struct PointerBackendChoice {
    // Null exactly when error is set.
    std::unique_ptr<PointerInjector> injector;
    // One line for --verbose: which backend and why.
    std::string description;
    // Why the requested backend could not be made; empty on success.
    std::string error;
};

// auto: uinput when its node is writable, else XTest when a display is set, else none; a
// backend that auto picks but cannot create falls through to the next. An explicit backend
// that cannot be created is an error.
PointerBackendChoice ChoosePointerBackend(PointerBackend backend, const PointerEnvironment& env);

}  // namespace kv
