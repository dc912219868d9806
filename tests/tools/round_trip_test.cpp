// Every record through encode, decode and encode again: the JSON must carry every field
// exactly, so that the frame rebuilt from it is byte for byte the frame decoded.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/registry.h"
#include "tests/tools/json_reader.h"
#include "tests/tools/kvctl_encode.h"
#include "tools/kvctl/frame_decode.h"
#include "tools/kvctl/frame_encode.h"
#include "tools/kvctl/record_json.h"

namespace {

using kvtest::Encode;
using kvtest::Json;
using kvtest::Request;

std::vector<std::string> RecordNames() {
    kv::Registry registry(kv::ProgramRole::Controller);
    std::vector<std::string> names;
    for (const kv::TableEntry& entry : registry.Table()) {
        names.push_back(kv::kvctl::RecordName(entry));
    }
    return names;
}

Json DecodeOne(const std::vector<uint8_t>& frame) {
    kv::kvctl::DatagramDecoder decoder;
    std::ostringstream out;
    EXPECT_TRUE(decoder.Decode(frame.data(), frame.size(), out)) << out.str();
    const auto lines = kvtest::JsonLines(out.str());
    EXPECT_EQ(lines.size(), 1u) << out.str();
    if (lines.size() != 1 || !lines[0]) {
        ADD_FAILURE() << "not one JSON line: " << out.str();
        return Json();
    }
    return *lines[0];
}

int32_t Number(const Json& value) {
    return static_cast<int32_t>(std::stol(value.text));
}

// The frame kvctl builds from a decoded JSON object alone.
std::vector<uint8_t> Rebuild(const Json& decoded) {
    std::vector<std::string> fields;
    for (const auto& [name, value] : decoded["fields"].members) {
        if (name == "size" || name == "entry_index") {
            continue;  // written by the class and by the tag
        }
        switch (value.type) {
            case Json::Type::Array:
                for (size_t i = 0; i < value.items.size(); ++i) {
                    fields.push_back(name + "[" + std::to_string(i) + "]=" + value.items[i].text);
                }
                break;
            case Json::Type::Bool:
                fields.push_back(name + "=" + (value.boolean ? "true" : "false"));
                break;
            default:
                fields.push_back(name + "=" + value.text);
        }
    }
    return Encode(Request(decoded["record"].text, fields, Number(decoded["tag"]),
                          Number(decoded["event_valid"]), Number(decoded["sequence"])));
}

TEST(KvctlRoundTrip, EveryRecordWithItsConstructionValues) {
    for (const std::string& name : RecordNames()) {
        SCOPED_TRACE(name);
        const auto encoded = kv::kvctl::EncodeFrame(Request(name));
        ASSERT_TRUE(encoded.ok) << encoded.error;
        const Json decoded = DecodeOne(encoded.frame);
        EXPECT_EQ(decoded["record"].text, name);
        EXPECT_EQ(decoded["length"].text, std::to_string(encoded.frame.size()));
        if (name == "END") {
            EXPECT_FALSE(decoded["parsed"].boolean);
            continue;
        }
        ASSERT_TRUE(decoded["parsed"].boolean);
        const int payload = Number(decoded["payload_size"]);
        EXPECT_EQ(static_cast<size_t>(payload) + 91, encoded.frame.size());
        if (payload > 0) {
            EXPECT_EQ(decoded["fields"]["size"].text, std::to_string(payload));
        }
        EXPECT_EQ(Rebuild(decoded), encoded.frame);
    }
}

// Collects the fields of a record and gives each a distinct value that differs from its
// construction value, with the text the decoder must show for it.
class DistinctValues final : public kv::FieldVisitor {
public:
    struct Expectation {
        std::string path;  // Name or Name[i]
        std::string json;  // number text, "true"/"false", or the string's bytes
    };

    void Size(int32_t&) override {}
    void Int(const char* name, int32_t&) override {
        if (std::string(name) == "entry_index") {
            return;
        }
        ++k_;
        const int32_t value = (k_ % 2 == 0 ? -1 : 1) * (1000 + 37 * k_);
        Add(name, std::to_string(value), std::to_string(value));
    }
    void Real(const char* name, float&) override {
        const std::string text = std::to_string(++k_) + ".3";  // not exact in binary
        Add(name, text, text);
    }
    void Flag(const char* name, bool& value) override {
        Add(name, value ? "false" : "true", value ? "false" : "true");
    }
    void Char(const char* name, char&) override {
        const std::string text(1, static_cast<char>('a' + (++k_ % 26)));
        Add(name, text, text);
    }
    void Text(const char* name, kv::TextRef) override {
        const std::string text = "t" + std::to_string(++k_) + " \"=\\";
        Add(name, text, text);
    }
    void BeginArray(const char* name, int32_t) override {
        array_ = name;
        index_ = 0;
    }
    void EndArray() override { array_.clear(); }

    std::vector<std::string> assignments;
    std::vector<Expectation> expected;

private:
    void Add(const char* name, const std::string& value, const std::string& json) {
        std::string path;
        if (name != nullptr) {
            path = name;
        } else {
            const int i = index_++;
            if (i % 51 != 0) {
                return;  // a spread of elements is enough
            }
            path = array_ + "[" + std::to_string(i) + "]";
        }
        assignments.push_back(path + "=" + value);
        expected.push_back({path, json});
    }

    int k_ = 0;
    std::string array_;
    int index_ = 0;
};

std::string JsonAt(const Json& fields, const std::string& path) {
    const size_t open = path.find('[');
    if (open == std::string::npos) {
        const Json& v = fields[path];
        return v.type == Json::Type::Bool ? (v.boolean ? "true" : "false") : v.text;
    }
    const Json& array = fields[path.substr(0, open)];
    const size_t i = std::stoul(path.substr(open + 1));
    return i < array.items.size() ? array.items[i].text : "<missing>";
}

TEST(KvctlRoundTrip, EveryFieldOfEveryRecordWithDistinctValues) {
    for (const std::string& name : RecordNames()) {
        if (name == "END") {
            continue;
        }
        SCOPED_TRACE(name);
        auto registry = std::make_unique<kv::Registry>(kv::ProgramRole::Controller);
        kv::DataManipulation* record = kv::kvctl::FindRecord(*registry, name);
        ASSERT_NE(record, nullptr);
        DistinctValues values;
        record->VisitFields(values);

        const auto encoded = kv::kvctl::EncodeFrame(Request(name, values.assignments, 9, 1, 77));
        ASSERT_TRUE(encoded.ok) << encoded.error;
        const Json decoded = DecodeOne(encoded.frame);
        EXPECT_EQ(decoded["tag"].text, "9");
        EXPECT_EQ(decoded["event_valid"].text, "1");
        EXPECT_EQ(decoded["sequence"].text, "77");
        for (const auto& e : values.expected) {
            // Any character but "0" goes out as "1". Built, not assigned: GCC 12 warns falsely
            // (-Wrestrict) about assigning the literal once inlined in a Release build.
            const std::string want = name == "Driver/State" ? std::string("1") : e.json;
            EXPECT_EQ(JsonAt(decoded["fields"], e.path), want) << e.path;
        }
        EXPECT_EQ(Rebuild(decoded), encoded.frame);
    }
}

}  // namespace
