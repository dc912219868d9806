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

#include "common/clock.h"
#include "driver/board/main_loop.h"
#include "driver/board/signal_chain.h"
#include "driver/core/display_info.h"
#include "driver/core/pointer_injector.h"
#include "driver/core/settings_store.h"
#include "driver/core/verbose_log.h"
#include "driver/sim/scripted_sensor_link.h"
#include "protocol/registry.h"
#include "tests/support/counting_outputs.h"
#include "tests/support/fake_clock.h"
#include "tests/support/main_loop_fakes.h"

namespace {

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
    // Sleeping moves time on at once, so read time-outs and open retries cost nothing.
    kv::test::FakeClock clock;
    clock.ForgetSleeps();
    kv::Registry registry(kv::ProgramRole::Driver, clock);
    kv::FixedDisplay display(1920, 1080, 0);
    kv::NullPointerInjector injector;
    kv::test::CountingContacts contacts;
    kv::test::CountingPairOutput tuio;
    kv::test::CountingSettings settings;
    const kv::VerboseLog log(false);
    kv::ScriptedSensorLink link(clock);
    auto chain = std::make_unique<kv::SignalChain>(registry, display, injector, contacts, tuio);
    kv::CHid hid(registry, link, *chain, settings, clock, log);
    hid.BuildEngine(*chain);

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
