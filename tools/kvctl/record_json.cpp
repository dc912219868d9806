// JSON forms of records, written by walking their fields (kv::FieldVisitor).
#include "tools/kvctl/record_json.h"

#include <cxxabi.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace kv::kvctl {

namespace {

void AppendInt(std::string& out, int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendBool(std::string& out, bool value) {
    out += value ? "true" : "false";
}

// Writes the fields as one JSON object; array elements arrive with a null name.
class JsonFieldWriter final : public FieldVisitor {
public:
    explicit JsonFieldWriter(std::string& out) : out_(out) { out_ += '{'; }
    void Finish() { out_ += '}'; }

    void Size(int32_t& receivedSize) override {
        Key("size");
        AppendInt(out_, receivedSize);
    }
    void Int(const char* name, int32_t& value) override {
        Key(name);
        AppendInt(out_, value);
    }
    void Real(const char* name, float& value) override {
        Key(name);
        AppendJsonReal(out_, value);
    }
    void Flag(const char* name, bool& value) override {
        Key(name);
        AppendBool(out_, value);
    }
    void Char(const char* name, char& value) override {
        Key(name);
        AppendJsonString(out_, std::string_view(&value, 1));
    }
    void Text(const char* name, TextRef text) override {
        Key(name);
        AppendJsonString(out_, text.View());
    }
    void BeginArray(const char* name, int32_t count) override {
        (void)count;
        Key(name);
        out_ += '[';
        inArray_ = true;
        firstElement_ = true;
    }
    void EndArray() override {
        out_ += ']';
        inArray_ = false;
    }

private:
    void Key(const char* name) {
        if (inArray_ && name == nullptr) {
            if (!firstElement_) {
                out_ += ", ";
            }
            firstElement_ = false;
            return;
        }
        if (!firstMember_) {
            out_ += ", ";
        }
        firstMember_ = false;
        AppendJsonString(out_, name != nullptr ? name : "");
        out_ += ": ";
    }

    std::string& out_;
    bool firstMember_ = true;
    bool inArray_ = false;
    bool firstElement_ = true;
};

}  // namespace

std::string RecordName(const TableEntry& entry) {
    if (entry.kind == "END") {
        return "END";
    }
    std::string name(entry.object);
    name += '/';
    name += entry.topic;
    return name;
}

DataManipulation* FindRecord(Registry& registry, std::string_view name) {
    for (const TableEntry& entry : registry.Table()) {
        if (RecordName(entry) == name) {
            return entry.record;
        }
    }
    return nullptr;
}

// The dynamic type's name without its namespace: the classes carry the catalogue's names.
std::string ClassName(const DataManipulation& record) {
    const char* mangled = typeid(record).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    std::string name = status == 0 && demangled ? demangled.get() : mangled;
    const size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte >= 0x7F) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0x0F];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void AppendJsonReal(std::string& out, float value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendFieldsJson(DataManipulation& record, std::string& out) {
    JsonFieldWriter writer(out);
    record.VisitFields(writer);
    writer.Finish();
}

void AppendHeaderMembers(const DataManipulation& record, std::string& out) {
    const RecordHeader& h = record.header;
    out += "\"address\": ";
    AppendInt(out, record.Address());
    out += ", \"record\": ";
    AppendJsonString(out, RecordName(record.Registration()));
    out += ", \"kind\": ";
    AppendJsonString(out, h.kind.View());
    out += ", \"object\": ";
    AppendJsonString(out, h.object.View());
    out += ", \"topic\": ";
    AppendJsonString(out, h.topic.View());
    out += ", \"payload_size\": ";
    AppendInt(out, h.payloadSize);
    out += ", \"tag\": ";
    AppendInt(out, h.tag);
    out += ", \"settable\": ";
    AppendBool(out, h.settable);
    out += ", \"event_valid\": ";
    AppendInt(out, h.eventValid);
    out += ", \"sequence\": ";
    AppendInt(out, h.sequence);
    out += ", \"spare\": ";
    AppendInt(out, h.spare);
}

std::string RecordJson(DataManipulation& record) {
    std::string out = "{";
    AppendHeaderMembers(record, out);
    out += ", \"fields\": ";
    AppendFieldsJson(record, out);
    out += '}';
    return out;
}

}  // namespace kv::kvctl
