// CONTROLLER.INI reading and in-place writing, on text and on the file.
#include "controller/models/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/posix_file.h"
#include "common/safe_replace.h"

namespace kv::controller {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// One line: its content [begin, contentEnd) without the line end, and where the next begins.
// A CR before the LF (or at the very end of the text) belongs to the line end.
struct Line {
    size_t begin = 0;
    size_t contentEnd = 0;
    size_t end = 0;
    bool hasLf = false;
};

Line LineAt(std::string_view text, size_t begin) {
    Line line;
    line.begin = begin;
    const size_t lf = text.find('\n', begin);
    line.hasLf = lf != std::string_view::npos;
    line.end = line.hasLf ? lf + 1 : text.size();
    line.contentEnd = line.hasLf ? lf : text.size();
    if (line.contentEnd > begin && text[line.contentEnd - 1] == '\r') {
        --line.contentEnd;
    }
    return line;
}

// The name of a section header line ("[name]", blanks allowed around), or nothing.
std::optional<std::string_view> HeaderName(std::string_view content) {
    while (!content.empty() && IsBlank(content.front())) {
        content.remove_prefix(1);
    }
    if (content.empty() || content.front() != '[') {
        return std::nullopt;
    }
    content.remove_prefix(1);
    const size_t close = content.find(']');
    return Trim(close == std::string_view::npos ? content : content.substr(0, close));
}

// What a look-up or a write needs to know about one key in one section.
struct KeyScan {
    bool sectionFound = false;
    std::optional<ProfileSpan> value;
    size_t appendAt = 0;          // just after the section's last non-empty line
    std::string_view breakFirst;  // what that line lacks of a line end
};

// The line end a line needs before another can follow it.
std::string_view MissingBreak(const Line& line) {
    if (line.hasLf) {
        return {};
    }
    return line.end > line.contentEnd ? "\n" : kLineEnd;  // "\r" already there: only the LF
}

// Only the first section of the name counts, as with the Windows reader.
KeyScan ScanFor(std::string_view text, std::string_view section, std::string_view key) {
    KeyScan scan;
    bool inSection = false;
    for (size_t pos = 0; pos < text.size();) {
        const Line line = LineAt(text, pos);
        pos = line.end;
        const std::string_view content = text.substr(line.begin, line.contentEnd - line.begin);
        if (const auto header = HeaderName(content)) {
            if (inSection) {
                break;
            }
            if (SameName(*header, section)) {
                inSection = true;
                scan.sectionFound = true;
                scan.appendAt = line.end;
                scan.breakFirst = MissingBreak(line);
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (!Trim(content).empty()) {
            scan.appendAt = line.end;
            scan.breakFirst = MissingBreak(line);
        }
        const size_t equals = content.find('=');
        if (equals == std::string_view::npos || !SameName(Trim(content.substr(0, equals)), key)) {
            continue;
        }
        size_t begin = line.begin + equals + 1;
        size_t end = line.contentEnd;
        while (begin < end && IsBlank(text[begin])) {
            ++begin;
        }
        while (end > begin && IsBlank(text[end - 1])) {
            --end;
        }
        scan.value = ProfileSpan{begin, end};
        break;
    }
    return scan;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool HasBlankAround(std::string_view s) {
    return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back()));
}

}  // namespace

std::optional<ProfileSpan> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    return ScanFor(text, section, key).value;
}

std::optional<std::string> LookupProfileString(std::string_view text, std::string_view section,
                                               std::string_view key) {
    const auto span = FindProfileValue(text, section, key);
    if (!span) {
        return std::nullopt;
    }
    return std::string(text.substr(span->begin, span->end - span->begin));
}

int32_t ParseProfileInt(std::string_view value) {
    size_t i = 0;
    while (i < value.size() && IsBlank(value[i])) {
        ++i;
    }
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) {
        negative = value[i] == '-';
        ++i;
    }
    // 32-bit arithmetic that wraps, as the C loop of the Windows reader does, without
    // overflowing a signed type.
    uint32_t magnitude = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        magnitude = magnitude * 10u + static_cast<uint32_t>(value[i] - '0');
    }
    return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

int32_t LookupProfileInt(std::string_view text, std::string_view section, std::string_view key,
                         int32_t fallback) {
    const auto span = FindProfileValue(text, section, key);
    if (!span) {
        return fallback;
    }
    return ParseProfileInt(text.substr(span->begin, span->end - span->begin));
}

bool IsStorableProfileEntry(std::string_view section, std::string_view key,
                            std::string_view value) {
    if (section.empty() || key.empty()) {
        return false;
    }
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) {
        return false;
    }
    if (HasBlankAround(section) || HasBlankAround(key) || HasBlankAround(value)) {
        return false;
    }
    return section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos &&
           key.front() != '[';
}

bool WriteProfileString(std::string& text, std::string_view section, std::string_view key,
                        std::string_view value) {
    if (!IsStorableProfileEntry(section, key, value)) {
        return false;
    }
    const KeyScan scan = ScanFor(text, section, key);
    if (scan.value) {
        text.replace(scan.value->begin, scan.value->end - scan.value->begin, value);
        return true;
    }
    std::string added;
    if (scan.sectionFound) {
        added.append(scan.breakFirst);
    } else {
        if (!text.empty() && text.back() != '\n') {
            added.append(text.back() == '\r' ? "\n" : kLineEnd);
        }
        added.append("[").append(section).append("]").append(kLineEnd);
    }
    added.append(key).append("=").append(value).append(kLineEnd);
    text.insert(scan.sectionFound ? scan.appendAt : text.size(), added);
    return true;
}

// --- the file ---

namespace {

// A file that does not exist yet: nothing to lose, so it is written directly.
bool WriteNewFile(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    return ::close(fd) == 0 && written;
}

// Where the folder takes no new file but the file itself is writable. Overwriting and then
// cutting to length never leaves the file shorter than the new text until it is all there.
bool WriteInPlace(const std::string& target, std::string_view text) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = OverwriteAll(fd, text);
    return ::close(fd) == 0 && written;
}

// Replaces the file's contents: a temporary file beside it, renamed over it, so that a
// failure at any point leaves the old file whole. A symbolic link is followed to its target,
// which keeps its owner and permissions where we may keep them.
bool ReplaceProfileText(const std::string& path, std::string_view text) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return errno == ENOENT && WriteNewFile(path, text);
    }
    const std::string target(resolved);
    std::free(resolved);

    ReplaceOptions options;
    options.temporary = target + ".XXXXXX";
    const ReplaceResult replaced = ReplaceFileSafely(target, text, options);
    if (replaced.noTemporary) {
        return (replaced.error == EACCES || replaced.error == EPERM) && WriteInPlace(target, text);
    }
    return replaced.ok;
}

}  // namespace

bool ProfileFile::Exists() const {
    struct stat info {};
    return ::stat(path_.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool ProfileFile::CreateWithDefaults() const {
    return ReplaceProfileText(path_, kDefaultProfileText);
}

int32_t ProfileFile::ReadInt(std::string_view section, std::string_view key,
                             int32_t fallback) const {
    return LookupProfileInt(ReadRegularFile(path_, kMaxProfileBytes).text, section, key, fallback);
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view fallback) const {
    return LookupProfileString(ReadRegularFile(path_, kMaxProfileBytes).text, section, key)
        .value_or(std::string(fallback));
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) const {
    const FileText file = ReadRegularFile(path_, kMaxProfileBytes);
    // Rewriting a file we could not read whole would lose its rest; a folder or a FIFO at the
    // path is not ours to replace.
    if (!file.Whole() && file.outcome != FileText::Outcome::Missing) {
        return false;
    }
    const std::string& text = file.text;
    std::string changed = text;
    if (!WriteProfileString(changed, section, key, value)) {
        return false;
    }
    if (file.Whole() && changed == text) {
        return true;
    }
    return ReplaceProfileText(path_, changed);
}

bool ProfileFile::WriteInt(std::string_view section, std::string_view key, int32_t value) const {
    return WriteString(section, key, std::to_string(value));
}

}  // namespace kv::controller
