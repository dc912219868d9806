// Settings by name: reading and writing a field through its record's field list, and the range
// checks the table gives.
#include "protocol/setting_fields.h"

#include <cstring>

namespace kv {

namespace {

// Finds one named field in a record's field list and reads or writes it. Inside an array the
// elements have no names, so no setting is found there.
class FieldAccess final : public FieldVisitor {
public:
    FieldAccess(std::string_view name, const FieldValue* store) : name_(name), store_(store) {}

    void Size(int32_t&) override {}
    void Int(const char* name, int32_t& value) override { Visit(name, value); }
    void Real(const char* name, float& value) override { Visit(name, value); }
    void Flag(const char* name, bool& value) override { Visit(name, value); }
    void Char(const char*, char&) override {}
    void Text(const char*, TextRef) override {}
    void BeginArray(const char*, int32_t) override {}
    void EndArray() override {}

    bool found = false;
    FieldValue loaded;

private:
    template <class T>
    void Visit(const char* name, T& value) {
        if (found || name == nullptr || name_ != name) {
            return;
        }
        if (store_ == nullptr) {
            found = true;
            loaded = value;
        } else if (const T* wanted = std::get_if<T>(store_)) {
            found = true;
            value = *wanted;
        }
    }

    std::string_view name_;
    const FieldValue* store_;
};

}  // namespace

bool ValueCheck::Holds(const FieldValue& value) const {
    switch (kind) {
        case Kind::Any:
            return true;
        case Kind::Ints: {
            const int32_t* integer = std::get_if<int32_t>(&value);
            return integer != nullptr && ints.Holds(*integer);
        }
        case Kind::Reals: {
            const float* real = std::get_if<float>(&value);
            return real != nullptr && reals.Holds(*real);
        }
        case Kind::MuxSize: {
            const int32_t* integer = std::get_if<int32_t>(&value);
            return integer != nullptr && IsReadableMuxSize(*integer);
        }
    }
    return false;
}

std::optional<FieldValue> LoadField(DataManipulation& record, std::string_view field) {
    FieldAccess access(field, nullptr);
    record.VisitFields(access);
    if (!access.found) {
        return std::nullopt;
    }
    return access.loaded;
}

bool StoreField(DataManipulation& record, std::string_view field, const FieldValue& value) {
    FieldAccess access(field, &value);
    record.VisitFields(access);
    return access.found;
}

bool PairHolds(PairRule rule, const FieldValue& first, const FieldValue& partner) {
    switch (rule) {
        case PairRule::None:
            return true;
        case PairRule::ReadableSplit: {
            const int32_t* a = std::get_if<int32_t>(&first);
            const int32_t* b = std::get_if<int32_t>(&partner);
            return a != nullptr && b != nullptr && IsReadableSplit(*a, *b);
        }
        case PairRule::Below: {
            const float* a = std::get_if<float>(&first);
            const float* b = std::get_if<float>(&partner);
            return a != nullptr && b != nullptr && *a < *b;
        }
    }
    return false;
}

bool RecordInRange(DataManipulation& record, int index, bool fromPeersOnly) {
    for (size_t i = 0; i < kSettingFields.size(); ++i) {
        const SettingField& setting = kSettingFields[i];
        if (kSettingRecords[i] != index || (fromPeersOnly && !setting.fromPeers)) {
            continue;
        }
        const std::optional<FieldValue> value = LoadField(record, setting.field);
        if (!value || !setting.check.Holds(*value)) {
            return false;
        }
        if (setting.pair != PairRule::None) {
            const std::optional<FieldValue> partner = LoadField(record, setting.partner);
            if (!partner || !PairHolds(setting.pair, *value, *partner)) {
                return false;
            }
        }
    }
    return true;
}

bool InRangeAt(Registry& registry, int index) {
    if (index < 0 || index >= Registry::kEntries) {
        return true;
    }
    return RecordInRange(*registry.Table()[static_cast<size_t>(index)].record, index, true);
}

bool SettingsInRange(const Registry& registry) {
    // The field walk hands out writable references; here they are only read.
    Registry& records = const_cast<Registry&>(registry);
    for (int index = 0; index < Registry::kEntries; ++index) {
        if (!RecordInRange(*records.Table()[static_cast<size_t>(index)].record, index, false)) {
            return false;
        }
    }
    return true;
}

}  // namespace kv
