// A private X server for one test: Xvfb on a display number it finds free itself.
#pragma once

#include <sys/types.h>

#include <string>

namespace kv::test {

class XvfbServer {
public:
    // Starts Xvfb (-displayfd, so the server picks a free display and says which once it
    // accepts connections) with one screen of the given size, no TCP.
    XvfbServer(int width = 1024, int height = 768);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool Running() const { return !name_.empty(); }
    // ":N", or empty when the server did not start (Error() says why).
    const std::string& Name() const { return name_; }
    const std::string& Error() const { return error_; }

private:
    pid_t pid_ = -1;
    std::string name_;
    std::string error_;
};

}  // namespace kv::test
