// The pointer backend choice and its one-line description.
#include "driver/app/pointer_backend.h"

#include <unistd.h>

#include <cstdlib>

#include "driver/backends/uinput/uinput_pointer.h"
#include "driver/backends/x11/xtest_pointer.h"

namespace kv {

namespace {

PointerBackendChoice None(std::string reason) {
    PointerBackendChoice choice;
    choice.injector = std::make_unique<NullPointerInjector>();
    choice.description = "pointer: none (" + reason + ")";
    return choice;
}

PointerBackendChoice Failed(std::string error) {
    PointerBackendChoice choice;
    choice.error = std::move(error);
    return choice;
}

bool Writable(const std::string& path) {
    return access(path.c_str(), W_OK) == 0;
}

PointerBackendChoice MakeUinput(const PointerEnvironment& env, std::string& error) {
    PointerBackendChoice choice;
    std::unique_ptr<UinputPointer> pointer =
        UinputPointer::Create(env.uinputPath, error, env.screen);
    if (pointer) {
        const std::string node = pointer->DevNode();
        choice.description = "pointer: uinput absolute pointer \"" +
                             std::string(kUinputPointerName) + "\" on " + env.uinputPath +
                             (node.empty() ? std::string() : " as " + node);
        choice.injector = std::move(pointer);
    }
    return choice;
}

PointerBackendChoice MakeXTest(const PointerEnvironment& env, std::string& error) {
    PointerBackendChoice choice;
    std::unique_ptr<XTestPointer> pointer = XTestPointer::Create(env.display, error);
    if (pointer) {
        choice.description = "pointer: XTest on display " + env.display + " (" +
                             std::to_string(pointer->Width()) + "x" +
                             std::to_string(pointer->Height()) + ")";
        choice.injector = std::move(pointer);
    }
    return choice;
}

}  // namespace

bool ParsePointerBackend(std::string_view text, PointerBackend& backend) {
    if (text == "auto") {
        backend = PointerBackend::Auto;
    } else if (text == "uinput") {
        backend = PointerBackend::Uinput;
    } else if (text == "xtest") {
        backend = PointerBackend::XTest;
    } else if (text == "none") {
        backend = PointerBackend::None;
    } else {
        return false;
    }
    return true;
}

PointerEnvironment PointerEnvironment::FromProcess() {
    PointerEnvironment env;
    const char* display = std::getenv("DISPLAY");
    env.display = display != nullptr ? display : "";
    return env;
}

PointerBackendChoice ChoosePointerBackend(PointerBackend backend, const PointerEnvironment& env) {
    std::string error;
    switch (backend) {
        case PointerBackend::None:
            return None("as requested");
        case PointerBackend::Uinput: {
            PointerBackendChoice choice = MakeUinput(env, error);
            return choice.injector ? std::move(choice) : Failed("pointer uinput: " + error);
        }
        case PointerBackend::XTest: {
            if (env.display.empty()) {
                return Failed("pointer xtest: DISPLAY is not set");
            }
            PointerBackendChoice choice = MakeXTest(env, error);
            return choice.injector ? std::move(choice) : Failed("pointer xtest: " + error);
        }
        case PointerBackend::Auto:
            break;
    }

    std::string why;
    if (Writable(env.uinputPath)) {
        PointerBackendChoice choice = MakeUinput(env, error);
        if (choice.injector) {
            return choice;
        }
        why = error;
    } else {
        why = env.uinputPath + " is not writable";
    }
    if (env.display.empty()) {
        return None(why + ", DISPLAY is not set");
    }
    PointerBackendChoice choice = MakeXTest(env, error);
    if (choice.injector) {
        choice.description += " (" + why + ")";
        return choice;
    }
    return None(why + ", " + error);
}

}  // namespace kv
