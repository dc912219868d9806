// A private X server for one test: Xvfb on a display number it finds free itself.
#pragma once

#include <sys/types.h>

#include <string>

namespace kv::test {

class XvfbServer {
public:
    // Starts Xvfb (-displayfd, so the server picks a free display and says which once it
    // accepts connections) with one screen of the given size, no TCP. With a display (":N")
    // the server takes that one: a server started again where an earlier one ran.
    XvfbServer(int width = 1024, int height = 768, const std::string& display = "");
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool Running() const { return !name_.empty(); }
    // ":N", or empty when the server did not start (Error() says why).
    const std::string& Name() const { return name_; }
    const std::string& Error() const { return error_; }
    // Kills the server at once (SIGKILL), as a crash would; the display is free again.
    void Kill();

private:
    pid_t pid_ = -1;
    std::string name_;
    std::string error_;
};

}  // namespace kv::test
