#include "common/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

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

bool OverwriteAll(int fd, std::string_view text) {
    return WriteAll(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 &&
           ::fsync(fd) == 0;
}

std::string FolderOfFile(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

FileText ReadRegularFile(const std::string& path, size_t maxBytes) {
    FileText file;
    auto fail = [&](FileText::Outcome outcome, const std::string& why) {
        file.outcome = outcome;
        file.error = path + ": " + why;
        return file;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int reason = errno;
        return fail(reason == ENOENT ? FileText::Outcome::Missing : FileText::Outcome::Failed,
                    std::strerror(reason));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int reason = errno;
        ::close(fd);
        return fail(FileText::Outcome::Failed, std::strerror(reason));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail(FileText::Outcome::NotRegular,
                    S_ISDIR(info.st_mode) ? "is a folder, not a file" : "is not a regular file");
    }
    file.outcome = FileText::Outcome::Whole;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int reason = errno;
            ::close(fd);
            file.text.clear();
            return fail(FileText::Outcome::Failed,
                        std::string("cannot read: ") + std::strerror(reason));
        }
        if (n == 0) {
            break;
        }
        const size_t room = maxBytes - file.text.size();
        if (static_cast<size_t>(n) > room) {
            file.text.append(buffer, room);
            ::close(fd);
            return fail(FileText::Outcome::TooLarge,
                        "is larger than " + std::to_string(maxBytes) + " bytes");
        }
        file.text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return file;
}

std::string Printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            out.append("\\x").push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace kv
