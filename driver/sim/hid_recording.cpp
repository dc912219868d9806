// Reading and writing hid-recorder text files.
#include "driver/sim/hid_recording.h"

#include <charconv>
#include <sstream>

#include "common/posix_file.h"

namespace kv::sim {

const std::vector<uint8_t> kBoardReportDescriptor = {
    0x06, 0x00, 0xFF,  // usage page: vendor defined
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection: application
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8 bits
    0x95, 0x40,        //   report count 64
    0x09, 0x01,        //   usage 1
    0x81, 0x02,        //   input: data, variable, absolute
    0xC0,              // end collection
};

namespace {

// An hour of a board at 100 reports a second is some 50 MB of text; far beyond, not one.
constexpr size_t kMaxRecordingBytes = size_t{1} << 30;

constexpr size_t kMaxReport = 4096;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view NextWord(std::string_view& s) {
    s = Trim(s);
    size_t end = 0;
    while (end < s.size() && s[end] != ' ' && s[end] != '\t') {
        ++end;
    }
    std::string_view word = s.substr(0, end);
    s.remove_prefix(end);
    return word;
}

template <class T>
bool Parse(std::string_view word, T& value, int base) {
    const char* end = word.data() + word.size();
    auto [ptr, ec] = std::from_chars(word.data(), end, value, base);
    return !word.empty() && ec == std::errc() && ptr == end;
}

// "size b0 b1 ..." with exactly size hex bytes.
bool ParseBytes(std::string_view rest, std::vector<uint8_t>& out, std::string& why) {
    size_t size = 0;
    if (!Parse(NextWord(rest), size, 10)) {
        why = "expected a byte count";
        return false;
    }
    if (size > kMaxReport) {
        why =
            "byte count " + std::to_string(size) + " is larger than " + std::to_string(kMaxReport);
        return false;
    }
    out.clear();
    out.reserve(size);
    for (std::string_view word = NextWord(rest); !word.empty(); word = NextWord(rest)) {
        uint8_t byte = 0;
        if (word.size() > 2 || !Parse(word, byte, 16)) {
            // Appended, not "'" + std::string(word): GCC 12 warns falsely (-Wrestrict) about
            // that insertion at the front when it inlines it in a Release build.
            why = std::string("'").append(word).append("' is not a hex byte");
            return false;
        }
        out.push_back(byte);
    }
    if (out.size() != size) {
        why = "byte count says " + std::to_string(size) + " but " + std::to_string(out.size()) +
              " bytes follow";
        return false;
    }
    return true;
}

// "seconds.micros", as hid-recorder prints it (the fraction has six digits).
bool ParseTime(std::string_view word, int64_t& micros) {
    const size_t dot = word.find('.');
    int64_t seconds = 0;
    int64_t fraction = 0;
    if (dot == std::string_view::npos) {
        if (!Parse(word, seconds, 10)) {
            return false;
        }
    } else {
        std::string_view frac = word.substr(dot + 1);
        if (!Parse(word.substr(0, dot), seconds, 10) || frac.size() > 6 ||
            !Parse(frac, fraction, 10)) {
            return false;
        }
        for (size_t i = frac.size(); i < 6; ++i) {
            fraction *= 10;
        }
    }
    if (seconds < 0 || seconds > 100'000'000 || fraction < 0) {
        return false;
    }
    micros = seconds * 1'000'000 + fraction;
    return true;
}

// Reads the lines of one recording into it; each step says why a line is refused.
class RecordingReader {
public:
    explicit RecordingReader(HidRecording& recording) : recording_(recording) {}

    bool HaveDescriptor() const { return haveDescriptor_; }

    // One line without its surrounding blanks, neither empty nor a comment.
    bool Line(std::string_view line, std::string& why) {
        if (line.size() < 2 || line[1] != ':') {
            why = "expected a line such as 'E: 0.000000 64 ...'";
            return false;
        }
        const char kind = line[0];
        std::string_view rest = line.substr(2);
        switch (kind) {
            case 'N':
                recording_.name = std::string(Trim(rest));
                return true;
            case 'I':
                return Identity(rest, why);
            case 'R':
                return Descriptor(rest, why);
            case 'E':
                return Event(rest, why);
            case 'D':
            case 'P':
            case 'S':
                return true;  // device number, physical path, other fields: not needed to replay
            default:
                why = std::string("unknown line type '") + kind + "'";
                return false;
        }
    }

private:
    // "I: bus vendor product" in hex.
    bool Identity(std::string_view rest, std::string& why) {
        if (!Parse(NextWord(rest), recording_.bus, 16) ||
            !Parse(NextWord(rest), recording_.vendor, 16) ||
            !Parse(NextWord(rest), recording_.product, 16)) {
            why = "expected 'I: bus vendor product' in hex";
            return false;
        }
        return true;
    }

    bool Descriptor(std::string_view rest, std::string& why) {
        if (!ParseBytes(rest, recording_.descriptor, why)) {
            why = "report descriptor: " + why;
            return false;
        }
        haveDescriptor_ = true;
        return true;
    }

    // "E: seconds.micros size bytes": kept with its time counted from the first event.
    bool Event(std::string_view rest, std::string& why) {
        HidRecording::Event event;
        if (!ParseTime(NextWord(rest), event.micros)) {
            why = "expected a time 'seconds.micros'";
            return false;
        }
        if (!ParseBytes(rest, event.data, why)) {
            why = "report: " + why;
            return false;
        }
        if (firstMicros_ < 0) {
            firstMicros_ = event.micros;
        }
        if (event.micros < firstMicros_ ||
            (!recording_.events.empty() &&
             event.micros - firstMicros_ < recording_.events.back().micros)) {
            why = "time goes back";
            return false;
        }
        event.micros -= firstMicros_;
        recording_.events.push_back(std::move(event));
        return true;
    }

    HidRecording& recording_;
    bool haveDescriptor_ = false;
    int64_t firstMicros_ = -1;
};

}  // namespace

std::optional<HidRecording> ParseHidRecording(std::string_view text, std::string& error) {
    HidRecording recording;
    RecordingReader reader(recording);
    int lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t next = text.find('\n', pos);
        if (next == std::string_view::npos) {
            next = text.size();
        }
        const std::string_view line = Trim(text.substr(pos, next - pos));
        pos = next + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (std::string why; !reader.Line(line, why)) {
            error = "line " + std::to_string(lineNumber) + ": " + Printable(why);
            return std::nullopt;
        }
    }
    if (!reader.HaveDescriptor()) {
        error = "no report descriptor ('R:' line)";
        return std::nullopt;
    }
    return recording;
}

std::optional<HidRecording> LoadHidRecording(const std::string& path, std::string& error) {
    // Without blocking on a FIFO, and within what memory allows for a long recording.
    const FileText file = ReadRegularFile(path, kMaxRecordingBytes);
    if (!file.Whole()) {
        error = "cannot load the recording: " + file.error;
        return std::nullopt;
    }
    auto recording = ParseHidRecording(file.text, error);
    if (!recording) {
        error = path + ": " + error;
    }
    return recording;
}

namespace {

// Formats "size b0 b1 ..." into out; returns the characters written.
size_t PutBytes(char* out, const uint8_t* data, size_t length) {
    static constexpr char kHex[] = "0123456789abcdef";
    size_t n = static_cast<size_t>(std::snprintf(out, 16, "%zu", length));
    for (size_t i = 0; i < length; ++i) {
        out[n++] = ' ';
        out[n++] = kHex[data[i] >> 4];
        out[n++] = kHex[data[i] & 0xF];
    }
    return n;
}

constexpr size_t EventLineCapacity(size_t length) {
    return 48 + length * 3;
}

// Formats "E: seconds.micros size bytes\n" into out; returns the characters written.
size_t PutEvent(char* out, int64_t micros, const uint8_t* data, size_t length) {
    const int n =
        std::snprintf(out, 40, "E: %06lld.%06lld ", static_cast<long long>(micros / 1'000'000),
                      static_cast<long long>(micros % 1'000'000));
    size_t used = static_cast<size_t>(n) + PutBytes(out + n, data, length);
    out[used++] = '\n';
    return used;
}

}  // namespace

std::string FormatHeader(const std::string& name, uint16_t vendor, uint16_t product,
                         const std::vector<uint8_t>& descriptor) {
    std::string bytes(16 + descriptor.size() * 3, '\0');
    bytes.resize(PutBytes(bytes.data(), descriptor.data(), descriptor.size()));
    char identity[32];
    std::snprintf(identity, sizeof identity, "I: %x %04x %04x\n", kBusUsb, vendor, product);
    return "# " + name + "\nD: 0\nR: " + bytes + "\nN: " + name + "\nP: \n" + identity;
}

std::string FormatEvent(int64_t micros, const uint8_t* data, size_t length) {
    std::string line(EventLineCapacity(length), '\0');
    line.resize(PutEvent(line.data(), micros, data, length));
    return line;
}

HidRecordingWriter::~HidRecordingWriter() {
    Close();
}

bool HidRecordingWriter::Open(const std::string& path, const std::string& name, uint16_t vendor,
                              uint16_t product, const std::vector<uint8_t>& descriptor) {
    Close();
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        return false;
    }
    const std::string header = FormatHeader(name, vendor, product, descriptor);
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size() ||
        std::fflush(file_) != 0) {
        Close();
        return false;
    }
    return true;
}

bool HidRecordingWriter::Write(int64_t micros, const uint8_t* data, size_t length) {
    if (file_ == nullptr || length > kMaxReport) {
        return false;
    }
    // One fixed line buffer: recording adds no allocation per report.
    char line[EventLineCapacity(kMaxReport)];
    const size_t used = PutEvent(line, micros, data, length);
    return std::fwrite(line, 1, used, file_) == used && std::fflush(file_) == 0;
}

void HidRecordingWriter::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

}  // namespace kv::sim
