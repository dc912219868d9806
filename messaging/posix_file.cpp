#include "messaging/posix_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace kv {

bool WriteAll(int fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace kv
