// The whole touch path in one process, with time stamps between its stages.
#include "bench/quality/touch_rig.h"

#include <cstdio>
#include <cstdlib>

#include "driver/sim/scenario.h"

namespace kv::quality {

namespace {

double Micros(SteadyClock::time_point from, SteadyClock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

// What the stages left about the frame in flight.
struct FrameState {
    bool timeStages = false;
    int64_t frame = 0;
    double frameTime = 0.0;
    SteadyClock::time_point arrival;
    SteadyClock::time_point firstInject;
    bool injected = false;
    double touchMicros = 0.0;
    SteadyClock::time_point firstFeed;  // when the engine was first called in this frame
    bool fed = false;
    double peakX = 0.0;
    std::vector<FramePeaks>* peaks = nullptr;  // where to keep them; null: not kept
};

// The sensor link as the main loop sees it; notes when each report has arrived.
class TimedLink final : public SensorLink {
public:
    TimedLink(std::unique_ptr<sim::SimulatedSensorLink> inner, FrameState& state)
        : inner_(std::move(inner)), state_(state) {}

    bool Open() override { return inner_->Open(); }
    bool Alive() override { return inner_->Alive(); }
    int32_t Read(uint8_t* dest, size_t capacity) override {
        const int32_t result = inner_->Read(dest, capacity);
        if (state_.timeStages) {
            state_.arrival = SteadyClock::now();
        }
        return result;
    }
    void Close() override { inner_->Close(); }
    size_t LastDelivered() const override { return inner_->LastDelivered(); }
    double Now() const { return inner_->Now(); }

private:
    std::unique_ptr<sim::SimulatedSensorLink> inner_;
    FrameState& state_;
};

// Between the touch detector and the single-touch engine: the time spent in the engine.
class TimedEngine final : public TouchEngine {
public:
    TimedEngine(TouchEngine& inner, FrameState& state) : inner_(inner), state_(state) {}

    void Feed(const AxisPeaks& peaks) override {
        if (state_.peaks != nullptr) {
            if (peaks.axis == 0) {
                state_.peakX = peaks.first.position;
            } else if (peaks.frameComplete) {
                state_.peaks->push_back(
                    {state_.frame, state_.frameTime, state_.peakX, peaks.first.position});
            }
        }
        if (!state_.timeStages) {
            inner_.Feed(peaks);
            return;
        }
        const auto start = SteadyClock::now();
        if (!state_.fed) {
            state_.fed = true;
            state_.firstFeed = start;
        }
        inner_.Feed(peaks);
        state_.touchMicros += Micros(start, SteadyClock::now());
    }
    void PeriodicStep(int32_t framesLastPeriod) override { inner_.PeriodicStep(framesLastPeriod); }

private:
    TouchEngine& inner_;
    FrameState& state_;
};

// The pointer device: stamps the frame's first event and keeps every event when asked to.
class RecordingInjector final : public PointerInjector {
public:
    explicit RecordingInjector(FrameState& state) : state_(state) {}

    void Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t) override {
        if (!state_.injected) {
            state_.injected = true;
            if (state_.timeStages) {
                state_.firstInject = SteadyClock::now();
            }
        }
        if (!keepEvents) {
            return;
        }
        InjectedEvent event;
        event.frame = state_.frame;
        event.frameTime = state_.frameTime;
        event.flags = flags;
        if ((flags & pointer_flags::kMove) != 0) {
            event.x = dx / 65536.0;
            event.y = dy / 65536.0;
        }
        events.push_back(event);
    }

    bool keepEvents = true;
    std::vector<InjectedEvent> events;

private:
    FrameState& state_;
};

// The virtual touch device: keeps every report.
class RecordingContacts final : public ContactOutput {
public:
    explicit RecordingContacts(FrameState& state) : state_(state) {}

    void SendContact(uint8_t contactState, uint16_t number, uint16_t x, uint16_t y) override {
        constexpr double kRange = 32767.0;
        events.push_back(
            {state_.frame, state_.frameTime, contactState, number, x / kRange, y / kRange});
    }

    std::vector<ContactEvent> events;

private:
    FrameState& state_;
};

}  // namespace

struct TouchRig::Parts {
    Parts(const sim::Scenario& scenario, TouchMode mode, TouchPath path)
        : injector(state),
          contacts(state),
          chain(std::make_unique<SignalChain>(registry, display, injector, contacts, pairs, path)),
          engine(chain->Engines().For(mode), state),
          link(std::make_unique<sim::SimulatedSensorLink>(scenario, clock, true, nullptr), state),
          processor(*this) {
        clock.ForgetSleeps();
        TouchEngineSet engines{};
        engines[static_cast<size_t>(mode)] = &engine;
        chain->Dsp().Detector().SetTouchEngines(engines);
    }

    // The signal chain behind the main loop, with the frame's time stamps around it.
    class Processor final : public FrameProcessor {
    public:
        explicit Processor(Parts& parts) : parts_(parts) {}
        void ProcessFrame(int32_t muxSize, const uint8_t* samples, size_t available) override {
            FrameState& s = parts_.state;
            const auto entry = s.timeStages ? SteadyClock::now() : SteadyClock::time_point{};
            ++s.frame;
            s.frameTime = parts_.link.Now();
            s.injected = false;
            s.touchMicros = 0.0;
            s.fed = false;
            parts_.chain->ProcessFrame(muxSize, samples, available);
            if (!s.timeStages) {
                return;
            }
            const auto exit = SteadyClock::now();
            FrameTimes t;
            t.linkToChain = Micros(s.arrival, entry);
            t.touch = s.touchMicros;
            // Without an engine call (a frame the detector did not pass on) all is signal
            // processing, counted as the X axis's.
            t.dspX = Micros(entry, s.fed ? s.firstFeed : exit);
            t.dspY = Micros(entry, exit) - s.touchMicros - t.dspX;
            t.toInject = s.injected ? Micros(s.arrival, s.firstInject) : -1.0;
            t.whole = Micros(s.arrival, exit);
            parts_.times.push_back(t);
        }
        void MaintainHistories() override { parts_.chain->MaintainHistories(); }
        // Lifts come between frames (the board has gone silent): they are stamped with the
        // time they happen.
        void LiftTouches() override {
            parts_.state.frameTime = parts_.link.Now();
            parts_.chain->LiftTouches();
        }
        void SetGestureLimits(int32_t first, int32_t second) override {
            parts_.chain->SetGestureLimits(first, second);
        }

    private:
        Parts& parts_;
    };

    FrameState state;
    test::FakeClock clock{5'000'000};
    Registry registry{ProgramRole::Driver, clock};
    FixedDisplay display{1920, 1080, 0};
    RecordingInjector injector;
    RecordingContacts contacts;
    test::CountingPairOutput pairs;
    std::unique_ptr<SignalChain> chain;
    TimedEngine engine;
    TimedLink link;
    Processor processor;
    test::CountingSettings settings;
    VerboseLog log{false};
    std::unique_ptr<CHid> hid;
    std::vector<FrameTimes> times;
    std::vector<FramePeaks> peaks;
};

TouchRig::TouchRig(const std::string& scenarioText, bool timeStages, TouchMode mode,
                   TouchPath path) {
    sim::ScenarioError error;
    const auto scenario = sim::ParseScenario(scenarioText, error);
    const auto layout = scenario ? LayoutForModel(scenario->layout) : std::nullopt;
    if (!scenario || !layout) {
        std::fprintf(stderr, "touch rig: %s\n",
                     scenario ? "the scenario names no known layout" : error.Text().c_str());
        std::exit(1);
    }
    rate_ = scenario->rate;
    layout_ = *layout;
    parts_ = std::make_unique<Parts>(*scenario, mode, path);
    Parts& p = *parts_;
    p.state.timeStages = timeStages;
    p.injector.keepEvents = !timeStages;
    p.state.peaks = timeStages ? nullptr : &p.peaks;
    p.hid = std::make_unique<CHid>(p.registry, p.link, p.processor, p.settings, p.clock, p.log);
    p.hid->BuildEngine(*p.chain);
    // What the Controller would have sent: the model's layout and touch output switched on.
    SetLayout(p.registry, layout_);
    p.registry.outputState.Enable = true;
    p.registry.outputState.Mode = static_cast<int32_t>(ClickMode::Drag);
    p.registry.outputState.Selection = static_cast<int32_t>(mode);
    p.hid->Connect();
}

TouchRig::~TouchRig() {
    if (parts_) {
        parts_->hid.reset();
    }
}

void TouchRig::RunFrames(int64_t frames) {
    Parts& p = *parts_;
    const int64_t until = p.state.frame + frames;
    if (p.state.timeStages) {
        p.times.reserve(p.times.size() + static_cast<size_t>(frames));
    }
    while (p.state.frame < until) {
        p.hid->LoopIteration();
    }
}

void TouchRig::RunUntil(double seconds) {
    Parts& p = *parts_;
    while (p.link.Now() < seconds) {
        p.hid->LoopIteration();
    }
}

int64_t TouchRig::Frames() const {
    return parts_->state.frame;
}

const std::vector<InjectedEvent>& TouchRig::Events() const {
    return parts_->injector.events;
}

const std::vector<ContactEvent>& TouchRig::Contacts() const {
    return parts_->contacts.events;
}

const std::vector<FramePeaks>& TouchRig::Peaks() const {
    return parts_->peaks;
}

const std::vector<FrameTimes>& TouchRig::Times() const {
    return parts_->times;
}

}  // namespace kv::quality
