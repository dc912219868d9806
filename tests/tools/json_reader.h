// A small strict JSON reader for the tests: rejects what a JSON consumer would reject, keeps
// numbers as written, and reads \u00XX escapes back to the byte XX (kvctl's text convention).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvtest {

struct JsonMember;

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    std::string text;  // a string's bytes, or a number as written
    std::vector<Json> items;
    // Name and value pairs in order; a struct of its own rather than std::pair, which may not
    // be instantiated while Json is still incomplete (clang rejects that).
    std::vector<JsonMember> members;

    const Json* Find(std::string_view key) const;
    // The member, or a null value when it is missing (the test then fails on its type).
    const Json& operator[](std::string_view key) const;
    bool IsNull() const { return type == Type::Null; }
};

struct JsonMember {
    std::string first;
    Json second;
};

inline const Json* Json::Find(std::string_view key) const {
    for (const auto& [name, value] : members) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

inline const Json& Json::operator[](std::string_view key) const {
    static const Json kMissing;
    const Json* found = Find(key);
    return found != nullptr ? *found : kMissing;
}

class JsonReader {
public:
    // One value filling the whole text (surrounding whitespace allowed).
    static std::optional<Json> Parse(std::string_view text) {
        JsonReader reader(text);
        Json value;
        reader.Space();
        if (!reader.Value(value, 0)) {
            return std::nullopt;
        }
        reader.Space();
        if (reader.pos_ != text.size()) {
            return std::nullopt;
        }
        return value;
    }

private:
    explicit JsonReader(std::string_view text) : s_(text) {}

    bool Value(Json& v, int depth) {
        if (depth > 16 || pos_ >= s_.size()) {
            return false;
        }
        const char c = s_[pos_];
        if (c == '{') {
            return Object(v, depth);
        }
        if (c == '[') {
            return Array(v, depth);
        }
        if (c == '"') {
            v.type = Json::Type::String;
            return String(v.text);
        }
        if (Literal("true")) {
            v.type = Json::Type::Bool;
            v.boolean = true;
            return true;
        }
        if (Literal("false")) {
            v.type = Json::Type::Bool;
            return true;
        }
        if (Literal("null")) {
            return true;
        }
        return Number(v);
    }
    bool Object(Json& v, int depth) {
        v.type = Json::Type::Object;
        ++pos_;
        Space();
        if (Take('}')) {
            return true;
        }
        do {
            Space();
            std::string key;
            if (pos_ >= s_.size() || s_[pos_] != '"' || !String(key)) {
                return false;
            }
            Space();
            if (!Take(':')) {
                return false;
            }
            Space();
            Json member;
            if (!Value(member, depth + 1)) {
                return false;
            }
            v.members.push_back(JsonMember{std::move(key), std::move(member)});
            Space();
        } while (Take(','));
        return Take('}');
    }
    bool Array(Json& v, int depth) {
        v.type = Json::Type::Array;
        ++pos_;
        Space();
        if (Take(']')) {
            return true;
        }
        do {
            Space();
            Json item;
            if (!Value(item, depth + 1)) {
                return false;
            }
            v.items.push_back(std::move(item));
            Space();
        } while (Take(','));
        return Take(']');
    }
    bool String(std::string& out) {
        ++pos_;
        while (pos_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (pos_ >= s_.size()) {
                return false;
            }
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    if (pos_ + 4 > s_.size()) {
                        return false;
                    }
                    unsigned code = 0;
                    for (int k = 0; k < 4; ++k) {
                        const char h = s_[pos_++];
                        code <<= 4;
                        if (h >= '0' && h <= '9') {
                            code |= static_cast<unsigned>(h - '0');
                        } else if (h >= 'a' && h <= 'f') {
                            code |= static_cast<unsigned>(h - 'a' + 10);
                        } else if (h >= 'A' && h <= 'F') {
                            code |= static_cast<unsigned>(h - 'A' + 10);
                        } else {
                            return false;
                        }
                    }
                    if (code > 0xFF) {
                        return false;  // kvctl escapes single bytes only
                    }
                    out += static_cast<char>(code);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }
    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool Number(Json& v) {
        const size_t start = pos_;
        Take('-');
        if (Take('0')) {
        } else if (!Digits()) {
            return false;
        }
        if (Take('.') && !Digits()) {
            return false;
        }
        if (Take('e') || Take('E')) {
            if (!Take('+')) {
                Take('-');
            }
            if (!Digits()) {
                return false;
            }
        }
        v.type = Json::Type::Number;
        v.text = std::string(s_.substr(start, pos_ - start));
        return true;
    }
    bool Digits() {
        const size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
            ++pos_;
        }
        return pos_ > start;
    }
    bool Literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) == word) {
            pos_ += word.size();
            return true;
        }
        return false;
    }
    bool Take(char c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    void Space() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) {
            ++pos_;
        }
    }

    std::string_view s_;
    size_t pos_ = 0;
};

// Splits output into lines and reads each as one JSON value; an unreadable line is a nullopt.
inline std::vector<std::optional<Json>> JsonLines(const std::string& output) {
    std::vector<std::optional<Json>> lines;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        lines.push_back(JsonReader::Parse(std::string_view(output).substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

}  // namespace kvtest
