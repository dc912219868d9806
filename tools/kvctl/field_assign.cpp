// Assigns one field of a record by name, walking its fields (kv::FieldVisitor).
#include "tools/kvctl/field_assign.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "protocol/records.h"
#include "tools/kvctl/record_json.h"

namespace kv::kvctl {

namespace {

std::string Quote(std::string_view text) {
    std::string out = "'";
    out += text;
    out += '\'';
    return out;
}

// Finds the field named by the assignment and sets it. Array elements come with a null name
// between BeginArray and EndArray.
class Assigner final : public FieldVisitor {
public:
    Assigner(std::string_view name, std::optional<int32_t> index, std::string_view value)
        : name_(name), index_(index), value_(value) {}

    void Size(int32_t& receivedSize) override {
        (void)receivedSize;
        if (name_ == "size") {
            found_ = true;
            Fail("size is always written as the class's payload size and cannot be set");
        }
    }
    void Int(const char* name, int32_t& value) override {
        if (!Match(name)) {
            return;
        }
        if (const auto parsed = ParseInt(value_)) {
            value = *parsed;
        } else {
            Fail(Label() + " takes a 32-bit integer, not " + Quote(value_));
        }
    }
    void Real(const char* name, float& value) override {
        if (!Match(name)) {
            return;
        }
        if (const auto parsed = ParseReal(value_)) {
            value = *parsed;
        } else {
            Fail(Label() + " takes a finite decimal number, not " + Quote(value_));
        }
    }
    void Flag(const char* name, bool& value) override {
        if (!Match(name)) {
            return;
        }
        if (const auto parsed = ParseFlag(value_)) {
            value = *parsed;
        } else {
            Fail(Label() + " takes true, false, 1 or 0, not " + Quote(value_));
        }
    }
    void Char(const char* name, char& value) override {
        if (!Match(name)) {
            return;
        }
        if (value_.size() == 1) {
            value = value_[0];
        } else {
            Fail(Label() + " takes exactly one character, not " + Quote(value_));
        }
    }
    void Text(const char* name, TextRef text) override {
        if (!Match(name)) {
            return;
        }
        text.Set(value_);
        if (value_.size() > static_cast<size_t>(text.width)) {
            notice_ = Label() + " holds " + std::to_string(text.width) +
                      " characters: the text was cut to its first " + std::to_string(text.width);
        }
    }
    void BeginArray(const char* name, int32_t count) override {
        inArray_ = true;
        element_ = 0;
        arrayMatches_ = name_ == name;
        if (!arrayMatches_) {
            return;
        }
        found_ = true;
        const std::string n = std::to_string(count);
        if (!index_) {
            Fail(name_ + " is an array of " + n + ": set one element as " + name_ + "[i]");
        } else if (*index_ < 0 || *index_ >= count) {
            Fail("index " + std::to_string(*index_) + " is outside " + name_ + "[0.." +
                 std::to_string(count - 1) + "]");
        }
    }
    void EndArray() override {
        inArray_ = false;
        arrayMatches_ = false;
    }

    bool Found() const { return found_; }
    const std::string& Error() const { return error_; }
    const std::string& Notice() const { return notice_; }

private:
    bool Match(const char* name) {
        if (name == nullptr) {
            const int32_t element = element_++;
            return inArray_ && arrayMatches_ && error_.empty() && index_ && *index_ == element;
        }
        if (name_ != name) {
            return false;
        }
        found_ = true;
        if (index_) {
            Fail(name_ + " is not an array");
            return false;
        }
        return true;
    }
    std::string Label() const {
        return index_ ? name_ + "[" + std::to_string(*index_) + "]" : name_;
    }
    void Fail(std::string message) {
        if (error_.empty()) {
            error_ = std::move(message);
        }
    }

    std::string name_;
    std::optional<int32_t> index_;
    std::string_view value_;
    bool found_ = false;
    bool inArray_ = false;
    bool arrayMatches_ = false;
    int32_t element_ = 0;
    std::string error_;
    std::string notice_;
};

// Collects the field names for error messages.
class NameLister final : public FieldVisitor {
public:
    void Size(int32_t&) override { Add("size"); }
    void Int(const char* name, int32_t&) override { Add(name); }
    void Real(const char* name, float&) override { Add(name); }
    void Flag(const char* name, bool&) override { Add(name); }
    void Char(const char* name, char&) override { Add(name); }
    void Text(const char* name, TextRef) override { Add(name); }
    void BeginArray(const char* name, int32_t count) override {
        Add(name);
        // Appended, not "[" + std::to_string(count): GCC 12 warns falsely (-Wrestrict) about
        // that insertion at the front when it inlines it in a Release build.
        list_.append("[").append(std::to_string(count)).append("]");
        inArray_ = true;
    }
    void EndArray() override { inArray_ = false; }
    const std::string& List() const { return list_; }

private:
    void Add(const char* name) {
        if (inArray_ || name == nullptr) {
            return;
        }
        if (!list_.empty()) {
            list_ += ", ";
        }
        list_ += name;
    }
    std::string list_;
    bool inArray_ = false;
};

}  // namespace

std::optional<int32_t> ParseInt(std::string_view text) {
    bool negative = false;
    std::string_view digits = text;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    // Hex may spell any 32-bit pattern (0xFFFFFFFF is -1); decimal must fit int32.
    uint64_t magnitude = 0;
    const auto result =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) {
        return std::nullopt;
    }
    if (base == 16 && !negative) {
        if (magnitude > UINT32_MAX) {
            return std::nullopt;
        }
        return static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    }
    const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    if (magnitude > limit) {
        return std::nullopt;
    }
    const int64_t value =
        negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return static_cast<int32_t>(value);
}

std::optional<float> ParseReal(std::string_view text) {
    // from_chars takes no leading '+'; a user may well write one.
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    float value = 0.0f;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> ParseFlag(std::string_view text) {
    if (text == "true" || text == "1") {
        return true;
    }
    if (text == "false" || text == "0") {
        return false;
    }
    return std::nullopt;
}

AssignOutcome AssignField(DataManipulation& record, std::string_view assignment) {
    AssignOutcome outcome;
    const size_t equals = assignment.find('=');
    if (equals == std::string_view::npos) {
        outcome.error = "expected FIELD=VALUE, not " + Quote(assignment);
        return outcome;
    }
    std::string_view name = assignment.substr(0, equals);
    const std::string_view value = assignment.substr(equals + 1);

    std::optional<int32_t> index;
    if (const size_t open = name.find('['); open != std::string_view::npos) {
        const std::string_view inside = name.substr(open + 1);
        const auto parsed = inside.empty() || inside.back() != ']'
                                ? std::nullopt
                                : ParseInt(inside.substr(0, inside.size() - 1));
        if (!parsed) {
            outcome.error = "bad element " + Quote(name) + ": write NAME[i] with a number i";
            return outcome;
        }
        index = *parsed;
        name = name.substr(0, open);
    }
    if (name.empty()) {
        outcome.error = "missing field name in " + Quote(assignment);
        return outcome;
    }
    if (name == "entry_index" && dynamic_cast<MonitorQueue*>(&record) != nullptr) {
        outcome.error = "entry_index is the frame's tag: set it with --tag N";
        return outcome;
    }

    Assigner assigner(name, index, value);
    record.VisitFields(assigner);
    if (!assigner.Found()) {
        const std::string fields = FieldList(record);
        outcome.error =
            "no field " + Quote(name) + " in " + RecordName(record.Registration()) +
            (fields.empty() ? std::string(" (it has no fields)") : " (fields: " + fields + ")");
        return outcome;
    }
    if (!assigner.Error().empty()) {
        outcome.error = assigner.Error();
        return outcome;
    }
    outcome.ok = true;
    outcome.notice = assigner.Notice();
    return outcome;
}

void PrepareForAssignment(DataManipulation& record) {
    if (auto* queue = dynamic_cast<MonitorQueue*>(&record)) {
        const int32_t n = MonitorQueue::kEntries;
        queue->last = ((queue->header.tag % n) + n) % n;  // the slot WritePayload sends
    }
}

std::string FieldList(DataManipulation& record) {
    NameLister lister;
    record.VisitFields(lister);
    return lister.List();
}

}  // namespace kv::kvctl
