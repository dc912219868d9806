// Input reports on arbitrary bytes, as a board (or anything that claims to be one) sends them:
// the real main loop reads them from a scripted link and runs every frame through signal
// processing, calibration and touch output. The first bytes choose what the controller could
// have set over the record protocol (mux size, splits and flips, touch mode, output on or
// off) and the report length the board declares; the rest is the reports, each a length byte
// and then its bytes, the report ID first.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "driver/board/chid.h"
#include "driver/board/driver_engine.h"
#include "driver/core/display_info.h"
#include "driver/core/pointer_injector.h"
#include "driver/core/settings_store.h"
#include "driver/core/tuio_sink.h"
#include "driver/core/verbose_log.h"
#include "driver/sim/scripted_sensor_link.h"
#include "driver/touch/virtual_touch_output.h"
#include "messaging/clock.h"
#include "messaging/registry.h"

namespace {

// Sleeping moves time on at once, so read time-outs and open retries cost nothing.
class InstantClock final : public kv::Clock {
public:
    int64_t NowMs() const override { return now_; }
    void SleepMs(int ms) const override { now_ += std::max(ms, 0); }

private:
    mutable int64_t now_ = 1000000;
};

class FixedDisplay final : public kv::DisplayInfo {
public:
    int32_t Width() const override { return 1920; }
    int32_t Height() const override { return 1080; }
    int32_t Orientation() const override { return 0; }
};

class NoInjector final : public kv::PointerInjector {
public:
    void Inject(uint32_t, int32_t, int32_t, int32_t) override {}
};

class NoContacts final : public kv::ContactOutput {
public:
    void SendContact(uint8_t, uint16_t, uint16_t, uint16_t) override {}
};

class NoTuio final : public kv::TuioSink {
public:
    void SendFrame(int32_t, float, float, int32_t, float, float) override {}
};

class NoSettings final : public kv::SettingsStore {
public:
    void Load(kv::Registry&) override {}
    bool Save(const kv::Registry&) override { return true; }
};

// Mux sizes the board's modes know, and two it does not.
constexpr int32_t kMuxSizes[] = {16, 24, 31, 39, 40, 52, 64, 128, 0, 200};

struct Input {
    const uint8_t* data;
    size_t size;
    uint8_t Byte() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    InstantClock clock;
    kv::Registry registry(kv::ProgramRole::Driver, clock);
    FixedDisplay display;
    NoInjector injector;
    NoContacts contacts;
    NoTuio tuio;
    NoSettings settings;
    const kv::VerboseLog log(false);
    kv::ScriptedSensorLink link(clock);
    auto engine = std::make_unique<kv::DriverEngine>(registry, display, injector, contacts, tuio);
    kv::CHid hid(registry, link, *engine, settings, clock, log);
    hid.BuildEngine(*engine);

    const uint8_t choice = in.Byte();
    registry.commsReqState.MuxSize = kMuxSizes[choice % std::size(kMuxSizes)];
    registry.splitState.Split0 = static_cast<int8_t>(in.Byte());
    registry.splitState.Split1 = static_cast<int8_t>(in.Byte());
    const uint8_t flips = in.Byte();
    registry.splitState.Flip0 = flips & 1;
    registry.splitState.Flip1 = (flips >> 1) & 1;
    registry.splitState.Flip2 = (flips >> 2) & 1;
    const uint8_t output = in.Byte();
    registry.outputState.Selection = output & 3;
    registry.outputState.Enable = (output & 4) != 0;
    const uint8_t length = in.Byte();
    link.SetReportLength(length == 0 ? 65 : length);

    size_t reports = 0;
    while (in.size > 0) {
        const size_t n = std::min<size_t>(in.Byte(), in.size);
        link.QueueReport(std::vector<uint8_t>(in.data, in.data + n));
        in.data += n;
        in.size -= n;
        ++reports;
    }
    hid.Connect();
    // Each iteration takes at least one report; a few more let the silent board time out.
    for (size_t i = 0; i < reports + 3 && link.QueuedReports() > 0; ++i) {
        hid.LoopIteration();
    }
    hid.LoopIteration();
    return 0;
}
