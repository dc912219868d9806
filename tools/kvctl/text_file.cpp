// The temporary file, fsync and rename.
#include "tools/kvctl/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "messaging/posix_file.h"

namespace kv::kvctl {

bool WriteFileAtomically(const std::string& folder, const std::string& name, std::string_view text,
                         std::string& error) {
    const std::string target = folder + "/" + name;
    // A dot name without the .prom ending: the collector reads only *.prom.
    std::string temporary = folder + "/." + name + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot write in " + folder + ": " + std::strerror(errno);
        return false;
    }
    // mkstemp makes it 0600; the collector may run as another user.
    bool ok = ::fchmod(fd, 0644) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    int saved = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        error = "cannot write " + target + ": " + std::strerror(saved);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace kv::kvctl
