// Recordings of a HID device's input reports in the hid-recorder text format, which the
// Linux hid-replay tool can also play through uhid:
//   N: name   I: bus vendor product   R: size descriptor-bytes   E: seconds.micros size bytes
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::sim {

// Identity and descriptor of the simulated sensor board: vendor-defined, one 64-byte input
// report without a report ID.
extern const std::vector<uint8_t> kBoardReportDescriptor;
constexpr uint16_t kBoardVendor = 0x2012;
constexpr uint16_t kBoardProduct = 0x1001;
constexpr uint16_t kBusUsb = 3;
constexpr const char* kBoardName = "Kelvarin Vyren sensor board";

struct HidRecording {
    std::string name;
    uint16_t bus = kBusUsb;
    uint16_t vendor = 0;
    uint16_t product = 0;
    std::vector<uint8_t> descriptor;

    struct Event {
        int64_t micros = 0;         // from the start of the recording
        std::vector<uint8_t> data;  // the report as the device sent it (no ID when unnumbered)
    };
    std::vector<Event> events;
};

// Parses a recording; on failure returns nothing and says which line is wrong and why.
std::optional<HidRecording> ParseHidRecording(std::string_view text, std::string& error);
std::optional<HidRecording> LoadHidRecording(const std::string& path, std::string& error);

// Writes a recording as it happens: the header once, then one line per report, flushed so
// that nothing is lost when the process is stopped.
class HidRecordingWriter {
public:
    HidRecordingWriter() = default;
    ~HidRecordingWriter();
    HidRecordingWriter(const HidRecordingWriter&) = delete;
    HidRecordingWriter& operator=(const HidRecordingWriter&) = delete;

    // Opens the file and writes the header; false (with errno set) when it cannot.
    bool Open(const std::string& path, const std::string& name, uint16_t vendor, uint16_t product,
              const std::vector<uint8_t>& descriptor);
    // Appends one report; micros counts from the start of the recording.
    bool Write(int64_t micros, const uint8_t* data, size_t length);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
};

// The same lines into a string (tests and the scenario renderer).
std::string FormatHeader(const std::string& name, uint16_t vendor, uint16_t product,
                         const std::vector<uint8_t>& descriptor);
std::string FormatEvent(int64_t micros, const uint8_t* data, size_t length);

}  // namespace kv::sim
