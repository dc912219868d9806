// The Controller's view of the driver, built only from what it has heard: whether the driver
// answers, whether its board is connected, and which of its records have arrived since it was
// last (re)started. Settings go out through Change(), which writes them onto the driver's own
// copy of the record: a record the driver has not sent yet is never sent whole from the
// Controller's construction values, and a publish-all in flight cannot undo what the user
// just changed. Plain C++ on the registry's clock; the main window calls Poll() from a timer.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "protocol/registry.h"

namespace kv::controller {

// How often the main window polls the view.
inline constexpr int kDriverViewPollMs = 50;
// A change sent this recently is written again onto a copy of its record that arrives after it
// (a publish-all that was under way: at start the driver sends two, 1.1 s each).
inline constexpr int kDriverViewRecentMs = 3000;
// A change that has waited this long for its record while the driver answers asks the driver
// for all its records (a hello), at most once per kDriverViewHelloGapMs.
inline constexpr int kDriverViewWaitMs = 2000;
inline constexpr int kDriverViewHelloGapMs = 3000;

class DriverView {
public:
    enum class Link {
        NoDriver,  // nothing heard within the last 5 s
        Waiting,   // the driver answers; its link status has not arrived yet
        NoBoard,   // the driver runs without its sensor board
        Board,     // the board is connected
    };

    // Writes a change into its record; true when that changed the record.
    using Apply = std::function<bool()>;

    explicit DriverView(Registry& registry) : registry_(registry) {}

    Registry& Records() { return registry_; }
    const Registry& Records() const { return registry_; }

    // Something was heard from the driver within the last 5 s (the driver's own rule for its
    // peers). Every "is the driver there" question of the Controller asks this.
    bool Answering() const;
    Link BoardLink() const;
    // Frames per second of the last two-second period the driver reported.
    int FramesPerSecond() const;
    // The driver's copy of this record has arrived since the driver was last (re)started or
    // heard again after silence.
    bool Knows(const DataManipulation& record) const;
    // Changes whenever what was heard is forgotten (a new driver, silence, ForgetDriver()).
    uint32_t Session() const { return registry_.ArrivalEpoch(); }

    // A setting the user changed: applied to the local copy at once (so the window shows it),
    // and sent, followed by a save request when save is set, once the driver's copy of the
    // record is known; applied again onto that copy first. Changes go out in the order made.
    void Change(DataManipulation& record, Apply apply, bool save = true);
    // A change of one field to value.
    template <class R, class T>
    void ChangeField(R& record, Relaxed<T> R::*field, T value, bool save = true) {
        Change(
            record,
            [&record, field, value] {
                const bool changed = (record.*field).Load() != value;
                record.*field = value;
                return changed;
            },
            save);
    }

    // Changes still waiting for their records.
    size_t Waiting() const { return queue_.size(); }
    // Sends the changes whose records have arrived, writes recent changes again onto copies
    // that arrived after them (and sends those that then differ), and asks a driver that keeps
    // a change waiting for its records.
    void Poll();
    // The Controller stops or restarts the driver, or asks it for a publish-all: nothing
    // heard so far counts any more.
    void ForgetDriver() { registry_.ForgetArrivals(); }
    // Who holds the driver's port when it is not a program of ours: the endpoint's lookup of
    // that port's owner, empty when it is ours, root's or free.
    using PortHolder = std::function<std::optional<uint32_t>()>;
    void SetPortHolder(uint16_t port, PortHolder holder) {
        driverPort_ = port;
        holder_ = std::move(holder);
    }
    uint16_t DriverPort() const { return driverPort_; }
    // The uid of another user's program on the driver's port while no driver answers us
    // (looked up at most once a second); such a program is never configured.
    std::optional<uint32_t> ForeignHolder() const;

    // Sends the hello datagram (the endpoint's); without one the view never asks.
    void SetHello(std::function<void()> hello) { hello_ = std::move(hello); }
    // Asks the driver for all its records (it answers with a publish-all).
    void SayHello() const {
        if (hello_) {
            hello_();
        }
    }

private:
    struct Pending {
        DataManipulation* record;
        Apply apply;
        bool save;
    };
    // A change sent: the record's arrivals then, and until when it is kept.
    struct Sent {
        Pending change;
        uint32_t arrivals;
        int64_t until;
    };

    // Publishes the change's record; keeps the change as recent. True when it asks for a save.
    bool Send(Pending change);
    uint32_t ArrivalsOf(const DataManipulation& record) const;

    Registry& registry_;
    std::deque<Pending> queue_;
    std::deque<Sent> recent_;
    std::function<void()> hello_;
    uint16_t driverPort_ = 0;
    PortHolder holder_;
    mutable std::optional<uint32_t> foreignHolder_;
    mutable int64_t holderAskedAt_ = INT64_MIN / 2;
    int64_t waitingSince_ = 0;
    int64_t lastHello_ = INT64_MIN / 2;
};

}  // namespace kv::controller
