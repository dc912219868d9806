// Frame writing, header parsing and the bounded reading routines of every record.
#include "protocol/data_manipulation.h"

#include <vector>

namespace kv {

void DataManipulation::SetAddress(int32_t address) {
    address_ = address;
}

void DataManipulation::SetRegistration(const TableEntry& entry) {
    registration_ = entry;
}

void DataManipulation::SetHeader(const RecordHeader& h) {
    header = h;
}

void DataManipulation::Attach(const uint8_t* input, int32_t start, int32_t length) {
    input_ = input;
    cursor_ = start;
    inputLength_ = length;
}

// Reads the header from the cursor (frame offset 15). An empty remaining length or an "END"
// kind stops the parse before the payload.
bool DataManipulation::Parse() {
    header.remainingLength = ReadInt();
    if (header.remainingLength == 0) {
        return false;
    }
    const bool end = InputStartsWith("END");
    ReadText(header.kind);
    if (end) {
        return false;
    }
    ReadText(header.object);
    ReadText(header.topic);
    header.payloadSize = ReadInt();
    header.tag = ReadInt();
    header.settable = ReadInt() == 1;
    header.eventValid = ReadInt();
    header.sequence = ReadInt();
    header.spare = ReadInt();
    ReadPayload();
    return true;
}

int32_t DataManipulation::Publish() {
    if (owner_ == nullptr) {
        return 0;
    }
    return owner_->PublishRecord(*this);
}

int32_t DataManipulation::WriteFrame(uint8_t* out, int32_t sender) {
    const int32_t payload = PayloadSize();
    const int32_t frameSize = payload + wire::kFrameHeader;
    wire::PutPrefix(out, wire::kCommandRecord, sender, frameSize);
    wire::PutInt(out + wire::kOffAddress, address_);
    wire::PutInt(out + wire::kOffRemaining, payload + 76);
    TextRef(header.kind).Put(out + wire::kOffKind);
    TextRef(header.object).Put(out + wire::kOffObject);
    TextRef(header.topic).Put(out + wire::kOffTopic);
    wire::PutInt(out + wire::kOffPayloadSize, payload);
    wire::PutInt(out + wire::kOffTag, header.tag);
    wire::PutInt(out + wire::kOffSettable, header.settable ? 1 : 0);
    wire::PutInt(out + wire::kOffEventValid, header.eventValid);
    wire::PutInt(out + wire::kOffSequence, header.sequence);
    wire::PutInt(out + wire::kOffSpare, header.spare);
    // Classes that write fewer bytes than their payload size leave zeros behind.
    const int32_t written = WritePayload(out + wire::kFrameHeader);
    if (written < payload) {
        std::memset(out + wire::kFrameHeader + written, 0, static_cast<size_t>(payload - written));
    }
    return frameSize;
}

// Each thread writes its frames into a buffer of its own, kept for the next publish: the
// frame path allocates only when a frame is larger than any before it on that thread. A send
// made while that buffer is out (a transport that publishes from inside Send) gets its own.
int32_t DataManipulation::Send() {
    if (owner_ == nullptr) {
        return 0;
    }
    thread_local std::vector<uint8_t> kept;
    thread_local bool keptInUse = false;
    std::vector<uint8_t> nested;
    const bool useKept = !keptInUse;
    std::vector<uint8_t>& frame = useKept ? kept : nested;
    const int32_t frameSize = FrameSize();
    if (frame.size() < static_cast<size_t>(frameSize)) {
        frame.resize(static_cast<size_t>(frameSize));
    }
    WriteFrame(frame.data(), owner_->SenderId());
    if (useKept) {
        keptInUse = true;
    }
    const int32_t result = owner_->Transmit(frame.data(), static_cast<size_t>(frameSize));
    if (useKept) {
        keptInUse = false;
    }
    return result;
}

bool DataManipulation::InputStartsWith(std::string_view prefix) const {
    if (input_ == nullptr || cursor_ < 0 ||
        inputLength_ - cursor_ < static_cast<int32_t>(prefix.size())) {
        return false;
    }
    return std::memcmp(input_ + cursor_, prefix.data(), prefix.size()) == 0;
}

int32_t DataManipulation::ReadInt() {
    if (input_ == nullptr || inputLength_ - cursor_ < 4 || cursor_ < 0) {
        return 0;
    }
    const int32_t value = wire::GetInt(input_ + cursor_);
    cursor_ += 4;
    return value;
}

float DataManipulation::ReadReal() {
    if (input_ == nullptr || inputLength_ - cursor_ < 4 || cursor_ < 0) {
        return 0.0f;
    }
    const float value = wire::GetReal(input_ + cursor_);
    cursor_ += 4;
    return value;
}

bool DataManipulation::ReadFlag() {
    const bool value =
        input_ != nullptr && cursor_ >= 0 && cursor_ < inputLength_ && input_[cursor_] == '1';
    cursor_ += 1;
    return value;
}

char DataManipulation::ReadChar() {
    char value = 0;
    if (input_ != nullptr && cursor_ >= 0 && cursor_ < inputLength_) {
        value = static_cast<char>(input_[cursor_]);
    }
    cursor_ += 1;
    return value;
}

// Takes the characters up to the first NUL or the field's end, then moves exactly one width on.
void DataManipulation::ReadText(TextRef text) {
    int32_t available = 0;
    if (input_ != nullptr && cursor_ >= 0 && cursor_ < inputLength_) {
        available = inputLength_ - cursor_;
    }
    const int32_t limit = available < text.width ? available : text.width;
    int32_t used = 0;
    while (used < limit && input_[cursor_ + used] != 0) {
        ++used;
    }
    text.Set(std::string_view(reinterpret_cast<const char*>(input_ + cursor_),
                              static_cast<size_t>(used)));
    cursor_ += text.width;
}

}  // namespace kv
