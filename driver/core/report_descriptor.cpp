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

// One short item: its type, tag and little-endian data.
struct Item {
    uint8_t type = 0;
    uint8_t tag = 0;
    uint32_t data = 0;
    size_t size = 0;  // prefix and data bytes
};

// The short item at descriptor[i], or nothing when its data runs past the end.
std::optional<Item> ReadShortItem(const uint8_t* descriptor, size_t size, size_t i) {
    const uint8_t prefix = descriptor[i];
    const size_t dataSize = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if (i + 1 + dataSize > size) {
        return std::nullopt;
    }
    Item item;
    for (size_t b = 0; b < dataSize; ++b) {
        item.data |= static_cast<uint32_t>(descriptor[i + 1 + b]) << (8 * b);
    }
    item.type = static_cast<uint8_t>((prefix >> 2) & 3);
    item.tag = static_cast<uint8_t>(prefix >> 4);
    item.size = 1 + dataSize;
    return item;
}

// The global state as a descriptor walk keeps it: the current values and the pushed ones.
struct GlobalState {
    Globals current;
    std::vector<Globals> stack;
    bool numbered = false;

    // False for a push too deep or a pop without a push.
    bool Apply(uint8_t tag, uint32_t data) {
        switch (tag) {
            case kTagReportSize:
                current.reportSize = data;
                break;
            case kTagReportCount:
                current.reportCount = data;
                break;
            case kTagReportId:
                current.reportId = static_cast<uint8_t>(data);
                numbered = true;
                break;
            case kTagPush:
                if (stack.size() >= kMaxPushDepth) {
                    return false;
                }
                stack.push_back(current);
                break;
            case kTagPop:
                if (stack.empty()) {
                    return false;
                }
                current = stack.back();
                stack.pop_back();
                break;
            default:
                break;
        }
        return true;
    }
};

// The longest report in bytes (with its id byte), from the input bits of each report id.
InputReportLayout LayoutFrom(const std::array<uint64_t, 256>& bits, bool numbered) {
    const uint64_t longest = *std::max_element(bits.begin(), bits.end());
    InputReportLayout layout;
    layout.numbered = numbered;
    if (longest > 0) {
        const uint64_t bytes = (longest + 7) / 8 + 1;
        layout.length = bytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bytes);
    }
    return layout;
}

}  // namespace

std::optional<InputReportLayout> ParseInputReports(const uint8_t* descriptor, size_t size) {
    if (descriptor == nullptr && size > 0) {
        return std::nullopt;
    }
    std::array<uint64_t, 256> bits{};
    GlobalState globals;
    size_t i = 0;
    while (i < size) {
        if (descriptor[i] == kLongItem) {
            if (i + 2 >= size) {
                return std::nullopt;
            }
            i += 3 + descriptor[i + 1];
            continue;
        }
        const auto item = ReadShortItem(descriptor, size, i);
        if (!item) {
            return std::nullopt;
        }
        if (item->type == kMain && item->tag == kTagInput) {
            const Globals& g = globals.current;
            bits[g.reportId] += static_cast<uint64_t>(g.reportSize) * g.reportCount;
        } else if (item->type == kGlobal && !globals.Apply(item->tag, item->data)) {
            return std::nullopt;
        }
        i += item->size;
    }
    return LayoutFrom(bits, globals.numbered);
}

}  // namespace kv
