// The base of every record: header, registration, the reading routines, Send and Publish.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "protocol/relaxed.h"
#include "protocol/wire.h"

namespace kv {

class DataManipulation;

// The header words a record carries in every frame (offsets 15..90). Like every record field,
// they are written by the receive thread while other threads read them.
struct RecordHeader {
    FixedText<16> kind;
    FixedText<16> object;
    FixedText<16> topic;
    Relaxed<int32_t> payloadSize = 0;
    Relaxed<int32_t> tag = 0;
    Relaxed<int32_t> eventValid = 0;
    Relaxed<int32_t> sequence = 0;
    Relaxed<int32_t> spare = 0;
    Relaxed<bool> settable = false;
    Relaxed<int32_t> remainingLength = 0;
};

// One row of the registration table.
struct TableEntry {
    std::string_view kind;
    std::string_view object;
    std::string_view topic;
    int32_t tag = 0;
    int32_t payloadPreset = 0;
    DataManipulation* record = nullptr;
    int32_t address = 0;
    int32_t spare[3] = {0, 0, 0};
    bool settable = false;
};

// What a record needs from the registry that owns it: the program's sending rules.
class RecordOwner {
public:
    virtual ~RecordOwner() = default;
    virtual int32_t SenderId() const = 0;
    // Hands a finished frame to the transport; returns the transport's result (0 without one).
    virtual int32_t Transmit(const uint8_t* frame, size_t length) = 0;
    // The program's Publish rule for a record; see Registry::PublishRecord.
    virtual int32_t PublishRecord(DataManipulation& record) = 0;
    // Marks the peer as heard from now (the liveness stamp of the presence record).
    virtual void MarkPeerHeard() = 0;
};

// Walks a record's wire fields in wire order, by their catalogue names; used by tools and
// tests to show and set records without knowing their classes. Array elements come between
// BeginArray and EndArray with a null name.
class FieldVisitor {
public:
    virtual ~FieldVisitor() = default;
    virtual void Size(int32_t& receivedSize) { Int("size", receivedSize); }
    virtual void Int(const char* name, int32_t& value) = 0;
    virtual void Real(const char* name, float& value) = 0;
    virtual void Flag(const char* name, bool& value) = 0;
    virtual void Char(const char* name, char& value) = 0;
    virtual void Text(const char* name, TextRef text) = 0;
    virtual void BeginArray(const char* name, int32_t count) = 0;
    virtual void EndArray() = 0;
};

class DataManipulation {
public:
    DataManipulation() = default;
    DataManipulation(const DataManipulation&) = delete;
    DataManipulation& operator=(const DataManipulation&) = delete;
    virtual ~DataManipulation() = default;

    // The ten operations, in their slot order.
    virtual void ReadPayload() {}
    virtual void SetAddress(int32_t address);
    virtual int32_t PayloadSize() const { return 0; }
    virtual bool Parse();
    virtual void Reset() {}
    virtual void SetRegistration(const TableEntry& entry);
    virtual void SetHeader(const RecordHeader& header);
    virtual int32_t Publish();
    virtual void Attach(const uint8_t* input, int32_t start, int32_t length);
    virtual int32_t WritePayload(uint8_t* out) { return (void)out, 0; }

    // Walks the wire fields (tools and tests only; not part of the wire path).
    virtual void VisitFields(FieldVisitor& visitor) { (void)visitor; }

    // Writes the frame (prefix, header, payload) and hands it to the transport.
    int32_t Send();
    // Writes the frame into out, which holds at least FrameSize() bytes; returns FrameSize().
    int32_t WriteFrame(uint8_t* out, int32_t sender);
    int32_t FrameSize() const { return PayloadSize() + wire::kFrameHeader; }

    // Reading routines on the read cursor; never read past the input length.
    int32_t ReadInt();
    float ReadReal();
    bool ReadFlag();
    char ReadChar();
    void ReadText(TextRef text);

    void SetOwner(RecordOwner* owner) { owner_ = owner; }
    RecordOwner* Owner() const { return owner_; }
    int32_t Address() const { return address_; }
    const TableEntry& Registration() const { return registration_; }
    int32_t Cursor() const { return cursor_; }

    RecordHeader header;
    Relaxed<int32_t> receivedPayloadSize = 0;  // the first payload integer as last read

protected:
    // True when the input at the cursor begins with prefix (all of it within the input).
    bool InputStartsWith(std::string_view prefix) const;

    int32_t cursor_ = 0;
    int32_t inputLength_ = 0;
    const uint8_t* input_ = nullptr;

private:
    int32_t address_ = 0;
    TableEntry registration_;
    RecordOwner* owner_ = nullptr;
};

// Reads a record's fields from its attached input, by the primitive rules.
// The fields are plain values or Relaxed ones; both take the value read.
class PayloadReader {
public:
    explicit PayloadReader(DataManipulation& record) : record_(record) {}
    template <class T>
    void Size(T& receivedSize) {
        receivedSize = record_.ReadInt();
    }
    template <class T>
    void Int(const char*, T& value) {
        value = record_.ReadInt();
    }
    template <class T>
    void Real(const char*, T& value) {
        value = record_.ReadReal();
    }
    template <class T>
    void Flag(const char*, T& value) {
        value = record_.ReadFlag();
    }
    template <class T>
    void Char(const char*, T& value) {
        value = record_.ReadChar();
    }
    void Text(const char*, TextRef text) { record_.ReadText(text); }
    void BeginArray(const char*, int32_t) {}
    void EndArray() {}

private:
    DataManipulation& record_;
};

// Writes a record's fields into a payload buffer; the size field is always the class's size.
class PayloadWriter {
public:
    PayloadWriter(uint8_t* out, int32_t payloadSize) : out_(out), payloadSize_(payloadSize) {}
    void Size(const int32_t&) { Int(nullptr, payloadSize_); }
    void Int(const char*, const int32_t& value) {
        wire::PutInt(out_ + written_, value);
        written_ += 4;
    }
    void Real(const char*, const float& value) {
        wire::PutReal(out_ + written_, value);
        written_ += 4;
    }
    void Flag(const char*, const bool& value) { wire::PutFlag(out_ + written_++, value); }
    void Char(const char*, const char& value) { out_[written_++] = static_cast<uint8_t>(value); }
    void Text(const char*, TextRef text) {
        text.Put(out_ + written_);
        written_ += text.width;
    }
    void BeginArray(const char*, int32_t) {}
    void EndArray() {}
    int32_t Written() const { return written_; }

private:
    uint8_t* out_;
    int32_t payloadSize_;
    int32_t written_ = 0;
};

// Hands a record's fields to a FieldVisitor, which works on plain values: each shared field is
// copied out, visited, and stored back only when the visitor changed it, so that a walk that
// only reads never writes over what the receive thread stores meanwhile.
class VisitorAdapter {
public:
    explicit VisitorAdapter(FieldVisitor& visitor) : visitor_(visitor) {}
    void Size(Relaxed<int32_t>& receivedSize) {
        Through(receivedSize, [this](int32_t& value) { visitor_.Size(value); });
    }
    void Int(const char* name, Relaxed<int32_t>& field) {
        Through(field, [this, name](int32_t& value) { visitor_.Int(name, value); });
    }
    void Real(const char* name, Relaxed<float>& field) {
        Through(field, [this, name](float& value) { visitor_.Real(name, value); });
    }
    void Flag(const char* name, Relaxed<bool>& field) {
        Through(field, [this, name](bool& value) { visitor_.Flag(name, value); });
    }
    void Char(const char* name, Relaxed<char>& field) {
        Through(field, [this, name](char& value) { visitor_.Char(name, value); });
    }
    void Text(const char* name, TextRef text) { visitor_.Text(name, text); }
    void BeginArray(const char* name, int32_t count) { visitor_.BeginArray(name, count); }
    void EndArray() { visitor_.EndArray(); }

private:
    template <class T, class Visit>
    static void Through(Relaxed<T>& field, Visit visit) {
        const T before = field;
        T value = before;
        visit(value);
        if (std::memcmp(&value, &before, sizeof value) != 0) {
            field = value;
        }
    }

    FieldVisitor& visitor_;
};

// Base of the record classes: one field list (Derived::Fields) gives the payload reader, the
// payload writer and the field walk, so the three can never disagree.
template <class Derived, int32_t kPayloadSize>
class Record : public DataManipulation {
public:
    static constexpr int32_t kPayload = kPayloadSize;

    int32_t PayloadSize() const override { return kPayloadSize; }
    void ReadPayload() override {
        PayloadReader reader(*this);
        static_cast<Derived*>(this)->Fields(reader);
    }
    int32_t WritePayload(uint8_t* out) override {
        PayloadWriter writer(out, kPayloadSize);
        static_cast<Derived*>(this)->Fields(writer);
        return writer.Written();
    }
    void VisitFields(FieldVisitor& visitor) override {
        VisitorAdapter adapter(visitor);
        static_cast<Derived*>(this)->Fields(adapter);
    }
};

}  // namespace kv
