// Received bytes into records: Registry::Deliver on the raw input, and the input cut by a
// FrameCutter into frames for a registry, as the receive thread does. Every record that takes
// a frame is then written back, so that received header and field values also reach Send.
// Whatever the input left in the cutter, one whole frame sent after it must be delivered; and
// whatever arrived, every setting of the driver's registry is still in range. The driver's
// screen of datagrams (wire::HoldsFrame) reads the input alone and with a whole frame behind it,
// which it must never drop.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/frame_cutter.h"
#include "protocol/registry.h"
#include "protocol/setting_fields.h"
#include "protocol/wire.h"
#include "tests/support/discard_transport.h"
#include "tests/support/fake_clock.h"

namespace {

struct Receiver final : kv::FrameSink {
    explicit Receiver(kv::Registry& r) : registry(r) {}
    void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override {
        ++frames;
        const kv::DeliverResult result = registry.Deliver(buffer, start, validBytes);
        if (result.record != nullptr) {
            result.record->Send();
        }
    }
    void OnHello() override {}
    kv::Registry& registry;
    int frames = 0;
};

struct World {
    // Publish-all and liveness must not sleep or depend on the wall clock here.
    kv::test::FakeClock clock;
    kv::test::DiscardTransport transport;
    kv::Registry registry{kv::ProgramRole::Driver, clock};
    kv::Registry pristine{kv::ProgramRole::Controller, clock};  // never receives anything
    kv::FrameCutter cutter;
    World() {
        clock.StandStill();
        clock.ForgetSleeps();
        registry.SetTransport(&transport);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World();  // lives for the whole run, like the program's own
    kv::Registry& registry = world->registry;

    // The input as one frame at index 0, bounded by its own length.
    const auto length = static_cast<int32_t>(size > INT32_MAX ? INT32_MAX : size);
    const kv::DeliverResult result = registry.Deliver(data, 0, length);
    if (result.record != nullptr) {
        result.record->Send();
        if (auto* event = dynamic_cast<kv::SetValue*>(result.record)) {
            event->ConsumeCounted();
        }
    }

    // The input as a stream in two datagrams, split where its first byte says.
    Receiver receiver(registry);
    world->cutter.Clear();
    const size_t split = size > 0 ? data[0] % (size + 1) : 0;
    world->cutter.Append(data, split, receiver);
    world->cutter.Append(data + split, size - split, receiver);

    kv::Registry& pristine = world->pristine;
    std::vector<uint8_t> whole(static_cast<size_t>(pristine.senseStatus.FrameSize()));
    pristine.senseStatus.WriteFrame(whole.data(), pristine.SenderId());
    const int before = receiver.frames;
    world->cutter.Append(whole.data(), whole.size(), receiver);
    if (receiver.frames == before) {
        __builtin_trap();  // a stray prefix swallowed a whole frame
    }
    (void)kv::wire::HoldsFrame(data, size);
    std::vector<uint8_t> behind(data, data + size);
    behind.insert(behind.end(), whole.begin(), whole.end());
    if (!kv::wire::HoldsFrame(behind.data(), behind.size())) {
        __builtin_trap();  // the driver would drop a datagram with a whole frame in it
    }
    if (!kv::SettingsInRange(registry)) {
        __builtin_trap();  // a peer put a setting out of range into the driver's records
    }
    return 0;
}
