// One end-to-end run: a private X server, a Driver installed in its own folder with its own
// settings and fed by a scenario, watched through the X server and the records it publishes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/registry.h"
#include "tests/support/frame_log.h"
#include "tests/support/process_support.h"
#include "tests/support/xvfb_server.h"

namespace kv::test {

struct SessionOptions {
    std::string scenario;  // path of the scenario file the simulated board plays
    bool outputEnabled = true;
    int32_t mode = 4;  // Output_State_Mode
    int width = 1024;
    int height = 768;
    // Where the pointer is put before the Driver starts, in pixels.
    int startX = 0;
    int startY = 0;
    // A window over the whole screen that collects button events.
    bool coverScreen = false;
};

// The real pointer as XQueryPointer saw it; only changes are kept.
struct PointerSeen {
    int x = 0;
    int y = 0;
    unsigned int buttons = 0;  // Button1Mask etc.

    bool LeftDown() const;
    bool operator==(const PointerSeen&) const = default;
};

struct ButtonSeen {
    bool press = false;
    unsigned int button = 0;
    int x = 0;  // root coordinates
    int y = 0;
};

// A pointer report the Driver copied into its monitor queue.
struct ReportSeen {
    int32_t state = 0;
    float x = 0.0f;
    float y = 0.0f;
};

class EndToEndSession {
public:
    explicit EndToEndSession(const SessionOptions& options);
    ~EndToEndSession();
    EndToEndSession(const EndToEndSession&) = delete;
    EndToEndSession& operator=(const EndToEndSession&) = delete;

    // Empty once the X server runs and the Driver has said hello; otherwise what failed.
    const std::string& Error() const { return error_; }

    // Watches (pointer, button events, monitor reports) until the reports show a touch that
    // has ended: a touching report followed by one that is not. False on timeout.
    bool WatchUntilTouchEnds(int timeoutMs);

    // Asks the Driver to stop the way the controller does and returns its exit status
    // (empty when it did not end within timeoutMs).
    std::optional<int> Stop(int timeoutMs);

    const std::vector<PointerSeen>& Pointer() const { return pointer_; }
    const std::vector<ButtonSeen>& Buttons() const { return buttons_; }
    const std::vector<ReportSeen>& Reports() const { return reports_; }
    int Width() const { return options_.width; }
    int Height() const { return options_.height; }
    // What the Driver wrote on stderr (it runs with --verbose), for failure messages.
    std::string DriverLog() const;

private:
    struct XState;
    bool Start();
    void WatchOnce(int receiveTimeoutMs);
    void SendPresence();

    SessionOptions options_;
    std::string error_;
    XvfbServer xvfb_;
    TempDir install_;
    TempDir runtime_;
    UdpPeer peer_;
    uint16_t driverPort_ = 0;
    // The controller's side of the records: builds what is sent, parses what arrives.
    FrameLog transport_;  // what the controller registry sends, passed on by hand
    Registry controller_{ProgramRole::Controller};
    int64_t lastPresenceMs_ = -1;
    std::unique_ptr<XState> x_;
    std::unique_ptr<Process> driver_;
    std::vector<PointerSeen> pointer_;
    std::vector<ButtonSeen> buttons_;
    std::vector<ReportSeen> reports_;
};

}  // namespace kv::test
