// A minimal HID report descriptor walk: only what sizes the input reports.
#include "driver/core/report_descriptor.h"

#include <algorithm>
#include <array>
#include <vector>

namespace kv {

namespace {

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };
constexpr uint8_t kTagInput = 0x8;
constexpr uint8_t kTagReportSize = 0x7;
constexpr uint8_t kTagReportId = 0x8;
constexpr uint8_t kTagReportCount = 0x9;
constexpr uint8_t kTagPush = 0xA;
constexpr uint8_t kTagPop = 0xB;
constexpr uint8_t kLongItem = 0xFE;
// More nesting than any real device uses; deeper pushes are a broken descriptor.
constexpr size_t kMaxPushDepth = 16;

struct Globals {
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
};

}  // namespace

std::optional<InputReportLayout> ParseInputReports(const uint8_t* descriptor, size_t size) {
    if (descriptor == nullptr && size > 0) {
        return std::nullopt;
    }
    std::array<uint64_t, 256> bits{};
    std::vector<Globals> stack;
    Globals globals;
    bool numbered = false;

    size_t i = 0;
    while (i < size) {
        const uint8_t prefix = descriptor[i];
        if (prefix == kLongItem) {
            if (i + 2 >= size) {
                return std::nullopt;
            }
            i += 3 + descriptor[i + 1];
            continue;
        }
        const size_t dataSize = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + dataSize > size) {
            return std::nullopt;
        }
        uint32_t data = 0;
        for (size_t b = 0; b < dataSize; ++b) {
            data |= static_cast<uint32_t>(descriptor[i + 1 + b]) << (8 * b);
        }
        const auto type = static_cast<uint8_t>((prefix >> 2) & 3);
        const auto tag = static_cast<uint8_t>(prefix >> 4);
        if (type == kMain && tag == kTagInput) {
            bits[globals.reportId] +=
                static_cast<uint64_t>(globals.reportSize) * globals.reportCount;
        } else if (type == kGlobal) {
            switch (tag) {
                case kTagReportSize:
                    globals.reportSize = data;
                    break;
                case kTagReportCount:
                    globals.reportCount = data;
                    break;
                case kTagReportId:
                    globals.reportId = static_cast<uint8_t>(data);
                    numbered = true;
                    break;
                case kTagPush:
                    if (stack.size() >= kMaxPushDepth) {
                        return std::nullopt;
                    }
                    stack.push_back(globals);
                    break;
                case kTagPop:
                    if (stack.empty()) {
                        return std::nullopt;
                    }
                    globals = stack.back();
                    stack.pop_back();
                    break;
                default:
                    break;
            }
        }
        i += 1 + dataSize;
    }

    const uint64_t longest = *std::max_element(bits.begin(), bits.end());
    InputReportLayout layout;
    layout.numbered = numbered;
    if (longest > 0) {
        const uint64_t bytes = (longest + 7) / 8 + 1;
        layout.length = bytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bytes);
    }
    return layout;
}

}  // namespace kv
