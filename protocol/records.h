// The record classes: every setting, state and command the two programs exchange.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/data_manipulation.h"

namespace kv {

// Events travel in the header alone. Counted events are acted on once per new sequence
// number; acknowledged events are cleared and echoed back by their consumer.
class SetValue : public DataManipulation {
public:
    bool Parse() override;
    void Reset() override { lastHandled = 0; }

    // Counted events. A raise never repeats a number this side raised before, even when the
    // peer's older copy (a publish-all in flight) has set the sequence back meanwhile: the peer
    // would take a repeated number for a request it has handled already.
    void RaiseCounted();
    // True once for every new sequence number seen with event valid set.
    bool ConsumeCounted();
    // Acknowledged events.
    void RaiseAcknowledged();
    // True when event valid is set; clears it and publishes the record back.
    bool ConsumeAcknowledged();

    Relaxed<int32_t> arrival = 0;  // set non-zero by every successful parse
    Relaxed<int32_t> lastHandled = 0;

private:
    // The last number raised here (written by the raising thread only).
    bool raisedAny_ = false;
    uint32_t lastRaised_ = 0;
};

class DriverConfig : public Record<DriverConfig, 11> {
public:
    template <class V>
    void Fields(V& v) {  // wire order differs from the memory order below
        v.Size(receivedPayloadSize);
        v.Flag("RunFlag0", RunFlag0);
        v.Flag("RunFlag1", RunFlag1);
        v.Flag("start_at_boot", start_at_boot);
        v.Int("Delay", Delay);
    }
    void Reset() override { Delay = 20; }

    Relaxed<bool> RunFlag0 = false;
    Relaxed<bool> RunFlag1 = false;
    Relaxed<int32_t> Delay = 0;
    Relaxed<bool> start_at_boot = false;
};

class DriverState : public Record<DriverState, 5> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Char("State", State);
    }
    // Anything but "0" goes out as "1".
    int32_t WritePayload(uint8_t* out) override;

    Relaxed<char> State = '0';
};

class StoreState : public Record<StoreState, 5> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Flag("State", State);
    }
    Relaxed<bool> State = false;
};

class LogState : public Record<LogState, 8> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Int("State", State);
    }
    Relaxed<int32_t> State = 0;
};

class CommState : public Record<CommState, 21> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Flag("Open", Open);
        v.Int("PortIndex", PortIndex);
        v.Int("BaudIndex", BaudIndex);
        v.Int("SampleIndex", SampleIndex);
        v.Int("MuxSize", MuxSize);
    }
    void ReadPayload() override;
    void Reset() override;

    Relaxed<bool> Open = false;
    Relaxed<int32_t> PortIndex = 0;
    Relaxed<int32_t> BaudIndex = 1;
    Relaxed<int32_t> SampleIndex = 5;
    Relaxed<int32_t> MuxSize = 64;
    Relaxed<int32_t> receivedPortIndex = 0;  // copy kept on every parse, not on the wire
};

class CommsStatus : public Record<CommsStatus, 97> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Int("StatusCode", StatusCode);
        v.Flag("Connected", Connected);
        v.Int("StatusWidth", StatusWidth);
        v.Int("FramesLastPeriod", FramesLastPeriod);
        v.Text("StatusText", StatusText);
    }
    void Reset() override { StatusText = "Status : "; }

    Relaxed<int32_t> StatusCode = 0;
    Relaxed<bool> Connected = false;
    Relaxed<int32_t> StatusWidth = 0;
    Relaxed<int32_t> FramesLastPeriod = 0;
    FixedText<80> StatusText;
};

class Graph : public Record<Graph, 1036> {
public:
    static constexpr int32_t kValues = 256;

    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Int("Param0", Param0);
        v.Int("Param1", Param1);
        v.BeginArray("Values", kValues);
        for (auto& value : Values) {  // 32 groups of 8 words, back to back
            v.Real(nullptr, value);
        }
        v.EndArray();
    }
    void Reset() override { Values.fill(0.0f); }

    Relaxed<int32_t> Param0 = 0;
    Relaxed<int32_t> Param1 = 0;
    std::array<Relaxed<float>, kValues> Values{};
};

class Split : public Record<Split, 24> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Int("Split0", Split0);
        v.Int("Split1", Split1);
        v.Int("Flip0", Flip0);
        v.Int("Flip1", Flip1);
        v.Int("Flip2", Flip2);
    }
    Relaxed<int32_t> Split0 = 12;
    Relaxed<int32_t> Split1 = 40;
    Relaxed<int32_t> Flip0 = 0;
    Relaxed<int32_t> Flip1 = 0;
    Relaxed<int32_t> Flip2 = 1;
};

class SenceState : public Record<SenceState, 17> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Int("CoarseRange", CoarseRange);
        v.Int("TouchThreshold", TouchThreshold);
        v.Int("PressThreshold", PressThreshold);
        v.Flag("Advanced", Advanced);
    }
    void Reset() override;

    Relaxed<int32_t> CoarseRange = 11;
    Relaxed<int32_t> TouchThreshold = 0;
    Relaxed<int32_t> PressThreshold = 5;
    Relaxed<bool> Advanced = false;
};

class SenseStatus : public Record<SenseStatus, 8> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Real("Value", Value);
    }
    Relaxed<float> Value = 0.0f;
};

class CalibrationState : public Record<CalibrationState, 37> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Int("exclude_edge_flag", exclude_edge_flag);
        v.Flag("Active", Active);
        v.Int("Progress", Progress);
        v.Int("Stage", Stage);
        v.Real("exclude_edge_left", exclude_edge_left);
        v.Real("exclude_edge_top", exclude_edge_top);
        v.Real("exclude_edge_right", exclude_edge_right);
        v.Real("exclude_edge_bottom", exclude_edge_bottom);
        v.Int("Angle", Angle);
    }
    Relaxed<int32_t> exclude_edge_flag = 0;
    Relaxed<bool> Active = false;
    Relaxed<int32_t> Progress = 0;
    Relaxed<int32_t> Stage = 0;
    Relaxed<float> exclude_edge_left = 0.0f;
    Relaxed<float> exclude_edge_top = 0.0f;
    Relaxed<float> exclude_edge_right = 1.0f;
    Relaxed<float> exclude_edge_bottom = 1.0f;
    Relaxed<int32_t> Angle = 0;
};

class CalibrationData : public Record<CalibrationData, 27> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Flag("RefFlag0", RefFlag0);
        v.Flag("RefFlag1", RefFlag1);
        v.Flag("RefFlag2", RefFlag2);
        v.Int("RefValue", RefValue);
        v.Real("SA", SA);
        v.Real("SB", SB);
        v.Real("SX", SX);
        v.Real("SY", SY);
    }
    Relaxed<bool> RefFlag0 = false;
    Relaxed<bool> RefFlag1 = false;
    Relaxed<bool> RefFlag2 = false;
    Relaxed<int32_t> RefValue = 0;
    Relaxed<float> SA = 0.0f;
    Relaxed<float> SB = 0.0f;
    Relaxed<float> SX = 0.0f;
    Relaxed<float> SY = 0.0f;
};

class EdgeState : public Record<EdgeState, 20> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Int("Top", Top);
        v.Int("Left", Left);
        v.Int("Right", Right);
        v.Int("Bottom", Bottom);
    }
    Relaxed<int32_t> Top = 0;
    Relaxed<int32_t> Left = 0;
    Relaxed<int32_t> Right = 0;
    Relaxed<int32_t> Bottom = 0;
};

class OutputState : public Record<OutputState, 14> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Int("Mode", Mode);
        v.Int("Selection", Selection);
        v.Flag("Enable", Enable);
        v.Flag("Fake", Fake);
    }
    Relaxed<int32_t> Mode = 4;
    Relaxed<int32_t> Selection = 0;
    Relaxed<bool> Enable = false;
    Relaxed<bool> Fake = false;
};

class Pointer : public Record<Pointer, 12> {
public:
    static constexpr const char* kNames[8] = {"Enable0", "Enable1", "Enable2", "Enable3",
                                              "Enable4", "Enable5", "Enable6", "Enable7"};
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        for (int i = 0; i < 8; ++i) {
            v.Flag(kNames[i], Enable[i]);
        }
    }
    void Reset() override { Enable.fill(true); }

    std::array<Relaxed<bool>, 8> Enable{};
};

class DampSettings : public Record<DampSettings, 24> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Real("SnapRange", SnapRange);
        v.Real("DampRange", DampRange);
        v.Real("DampPeriod", DampPeriod);
        v.Real("RightClickRange", RightClickRange);
        v.Real("RightClickPeriod", RightClickPeriod);
    }
    void Reset() override;

    Relaxed<float> SnapRange = 0.1f;
    Relaxed<float> DampRange = 0.02f;
    Relaxed<float> DampPeriod = 0.2f;
    Relaxed<float> RightClickRange = 0.07f;
    Relaxed<float> RightClickPeriod = 2.0f;
};

// One pointer report as the monitor shows it.
struct MonitorEntry {
    Relaxed<int32_t> Value1 = 0;
    Relaxed<float> Value2 = 0.0f;
    Relaxed<bool> Value3 = false;
    Relaxed<int32_t> Value4 = 0;
    Relaxed<int32_t> Value5 = 0;
    Relaxed<float> Value6 = 0.0f;
    Relaxed<float> Value7 = 0.0f;
    Relaxed<int32_t> Value8 = 0;
    Relaxed<int32_t> Value9 = 0;
    Relaxed<float> Value10 = 0.0f;
    Relaxed<float> Value11 = 0.0f;

    template <class V>
    void Fields(V& v) {
        v.Int("Value1", Value1);
        v.Real("Value2", Value2);
        v.Flag("Value3", Value3);
        v.Int("Value4", Value4);
        v.Int("Value5", Value5);
        v.Real("Value6", Value6);
        v.Real("Value7", Value7);
        v.Int("Value8", Value8);
        v.Int("Value9", Value9);
        v.Real("Value10", Value10);
        v.Real("Value11", Value11);
    }
};

// A ring of 256 entries; one frame carries one entry, chosen on sending by the header tag.
// The receiver ignores the index on the wire and appends the entry after its last one.
class MonitorQueue : public DataManipulation {
public:
    static constexpr int32_t kPayload = 11520;  // 256 entries of 45 bytes
    static constexpr int32_t kEntries = 256;
    static constexpr int32_t kWrittenBytes = 49;

    int32_t PayloadSize() const override { return kPayload; }

    void ReadPayload() override;
    int32_t WritePayload(uint8_t* out) override;
    // Shows the index on the wire of the last frame and the entry it landed in.
    void VisitFields(FieldVisitor& visitor) override;

    // Sender side: stores an entry in the given slot (taken modulo the queue length) and
    // points the tag at it. Each sender keeps its own slot counter.
    void Put(int32_t slot, const MonitorEntry& entry);

    std::array<MonitorEntry, kEntries> entries{};
    Relaxed<int32_t> last = 0;
    Relaxed<int32_t> receivedIndex = 0;  // the skipped index of the last frame read
};

class CopyRight : public Record<CopyRight, 1004> {
public:
    static constexpr int32_t kLines = 10;

    CopyRight() { Reset(); }
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.BeginArray("Lines", kLines);
        for (auto& line : Lines) {
            v.Text(nullptr, line);
        }
        v.EndArray();
    }
    void Reset() override;

    std::array<FixedText<100>, kLines> Lines;
};

// The controller's presence record; every parse stamps the receiver's liveness clock.
class ClientHereMessage : public Record<ClientHereMessage, 5> {
public:
    template <class V>
    void Fields(V& v) {
        v.Size(receivedPayloadSize);
        v.Flag("Present", Present);
    }
    bool Parse() override;
    void Reset() override { Present = true; }

    Relaxed<bool> Present = false;
};

}  // namespace kv
