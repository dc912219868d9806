// Change detection and line formats of `kvctl monitor`.
#include "tools/kvctl/monitor_view.h"

#include <cmath>
#include <cstdio>

namespace kv::kvctl {

MonitorView::MonitorView(Registry& records, const Clock& clock, std::ostream& out)
    : records_(records), clock_(clock), out_(out) {}

void MonitorView::OnFrame(int index, DataManipulation& record, const uint8_t* frame,
                          size_t length) {
    (void)index, (void)frame, (void)length;
    if (&record == &records_.driverDoStop) {
        inPublishAll_ = true;
    } else if (&record == &records_.endMarker) {
        inPublishAll_ = false;
    } else if (&record == &records_.commsActStatus) {
        LinkChanged();
    } else if (&record == &records_.senseStatus) {
        SignalChanged();
    } else if (&record == &records_.monitorQueue && !inPublishAll_) {
        TouchArrived();
    }
}

void MonitorView::LinkChanged() {
    const CommsStatus& status = records_.commsActStatus;
    if (connected_ != status.Connected || statusCode_ != status.StatusCode) {
        connected_ = status.Connected;
        statusCode_ = status.StatusCode;
        out_ << "link connected=" << (status.Connected ? "yes" : "no")
             << " status=" << status.StatusCode << '\n';
    }
    if (frames_ != status.FramesLastPeriod) {
        frames_ = status.FramesLastPeriod;
        out_ << "frames per-period=" << status.FramesLastPeriod << '\n';
    }
    out_.flush();
}

void MonitorView::SignalChanged() {
    const float value = records_.senseStatus.Value;
    if (!std::isfinite(value)) {
        return;
    }
    if (signalPrinted_ && std::fabs(value - *signalPrinted_) < kSignalStep) {
        signalPending_ = false;  // back within a step of what the user sees
        return;
    }
    if (signalPrinted_ && clock_.NowMs() - signalPrintedAt_ < kSignalGapMs) {
        signalPending_ = true;
        return;
    }
    PrintSignal(value);
}

void MonitorView::Tick() {
    if (signalPending_ && clock_.NowMs() - signalPrintedAt_ >= kSignalGapMs) {
        const float value = records_.senseStatus.Value;
        if (std::isfinite(value)) {
            PrintSignal(value);
        }
    }
}

void MonitorView::PrintSignal(float value) {
    signalPrinted_ = value;
    signalPrintedAt_ = clock_.NowMs();
    signalPending_ = false;
    out_ << "signal value=" << std::lround(value) << '\n';
    out_.flush();
}

void MonitorView::TouchArrived() {
    const MonitorQueue& queue = records_.monitorQueue;
    const MonitorEntry& entry =
        queue.entries[static_cast<size_t>(queue.last % MonitorQueue::kEntries)];
    char buffer[120];
    std::snprintf(buffer, sizeof buffer,
                  "touch engine=%d primary=%d x=%.3f y=%.3f secondary=%d x=%.3f y=%.3f",
                  entry.Value1.Load(), entry.Value4.Load(), static_cast<double>(entry.Value6),
                  static_cast<double>(entry.Value7), entry.Value8.Load(),
                  static_cast<double>(entry.Value10), static_cast<double>(entry.Value11));
    std::string line = buffer;
    if (entry.Value2 != 0.0f) {
        std::snprintf(buffer, sizeof buffer, " wheel=%.2f", static_cast<double>(entry.Value2));
        line += buffer;
    }
    if (entry.Value3) {
        line += " right-click";
    }
    // A finger resting still repeats the same report every frame; one line says it.
    if (line == touchPrinted_) {
        return;
    }
    touchPrinted_ = line;
    out_ << line << '\n';
    out_.flush();
}

}  // namespace kv::kvctl
