// Decoding of TUIO bundles with oscpack's reader.
#include "tuio_test_support.h"

#include <oscpack/osc/OscReceivedElements.h>

namespace kv::test {

namespace {

bool ReadMessage(const osc::ReceivedMessage& message, OscMessage& out) {
    out.profile = message.AddressPattern();
    auto arg = message.ArgumentsBegin();
    if (arg == message.ArgumentsEnd() || !arg->IsString()) {
        return false;
    }
    out.command = arg->AsString();
    for (++arg; arg != message.ArgumentsEnd(); ++arg) {
        if (arg->IsInt32()) {
            out.ints.push_back(arg->AsInt32());
        } else if (arg->IsFloat()) {
            out.floats.push_back(arg->AsFloat());
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

const OscMessage* OscBundle::Find(const std::string& command) const {
    for (const OscMessage& message : messages) {
        if (message.command == command) {
            return &message;
        }
    }
    return nullptr;
}

std::vector<const OscMessage*> OscBundle::All(const std::string& command) const {
    std::vector<const OscMessage*> found;
    for (const OscMessage& message : messages) {
        if (message.command == command) {
            found.push_back(&message);
        }
    }
    return found;
}

bool OscBundle::IsKeepAlive() const {
    return messages.size() == 2 && messages[0].command == "alive" && messages[1].command == "fseq";
}

OscBundle Decode(const Datagram& datagram) {
    OscBundle bundle;
    try {
        const osc::ReceivedPacket packet(datagram.data(), datagram.size());
        if (!packet.IsBundle()) {
            return bundle;
        }
        const osc::ReceivedBundle received(packet);
        for (auto element = received.ElementsBegin(); element != received.ElementsEnd();
             ++element) {
            if (!element->IsMessage()) {
                return bundle;
            }
            OscMessage message;
            if (!ReadMessage(osc::ReceivedMessage(*element), message)) {
                return bundle;
            }
            bundle.messages.push_back(std::move(message));
        }
    } catch (const osc::Exception&) {
        return bundle;
    }
    if (!bundle.messages.empty()) {
        bundle.profile = bundle.messages.front().profile;
    }
    bundle.ok = true;
    return bundle;
}

}  // namespace kv::test
