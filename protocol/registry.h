// The message registry: one instance of every record, the fixed 38-entry table that gives
// each its address, delivery of received frames, the liveness rule and publish-all.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/clock.h"
#include "protocol/record_list.h"
#include "protocol/records.h"
#include "protocol/transport.h"

namespace kv {

enum class ProgramRole { Driver, Controller };

// What differs between the two programs' copies of the library.
struct RoleTraits {
    int32_t senderId;
    const char* version;
};
RoleTraits TraitsOf(ProgramRole role);

// The driver sends nothing after this much silence from the controller.
constexpr int64_t kPeerSilenceMs = 5000;
// Pause between the records of a publish-all.
constexpr int kPublishAllGapMs = 30;

// What the driver does with a peer's frame for a record (protocol/record_list.h).
enum class PeerWrite : uint8_t { Take, Refuse, Check, Acknowledge };

// One row of the registration table: what every record is registered as.
struct TableRow {
    std::string_view kind;
    std::string_view object;
    std::string_view topic;
    int32_t tag;
    bool settable;
    int32_t preset;  // the header's initial payload size
    PeerWrite peer;  // what the driver does with a peer's copy
};

// The registration table, in registration order. Both programs build the same table, so a
// record's position (and from it its address) names the same record on both sides.
#define KV_TABLE_ROW(kind, object, topic, tag, settable, preset, member, Class, peer) \
    TableRow{#kind, #object, #topic, tag, settable, preset, PeerWrite::peer},
inline constexpr std::array kTableRows = {KV_RECORDS(KV_TABLE_ROW)};
#undef KV_TABLE_ROW

struct DeliverResult {
    DataManipulation* record = nullptr;  // null: no record has that address
    bool parsed = false;                 // what Parse returned
    // The driver kept its own copy: the record is one only the driver writes, or a setting with
    // a field out of range. The peer is owed the driver's copy, to put its view right.
    bool refused = false;
};

class Registry final : private RecordOwner {
public:
    static constexpr int kEntries = static_cast<int>(kTableRows.size());
    static constexpr int32_t kFirstAddress = 8;

    explicit Registry(ProgramRole role, const Clock& clock = DefaultClock());
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;
    ~Registry() override = default;

    // The process's registry, built on first use for the role set before that use.
    static Registry& Instance();
    static void SetProcessRole(ProgramRole role);

    ProgramRole Role() const { return role_; }
    int32_t SenderId() const override { return traits_.senderId; }
    const char* Version() const { return traits_.version; }
    const Clock& GetClock() const { return clock_; }

    // Sending goes through this transport; without one nothing is sent.
    void SetTransport(Transport* transport) { transport_ = transport; }

    const std::array<TableEntry, kEntries>& Table() const { return table_; }
    // The table position of the record with this object and topic, or -1; no registry needed.
    static constexpr int IndexOf(std::string_view object, std::string_view topic) {
        for (size_t i = 0; i < kTableRows.size(); ++i) {
            if (kTableRows[i].object == object && kTableRows[i].topic == topic) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    // The table entry with this object and topic, or null.
    const TableEntry* Find(std::string_view object, std::string_view topic) const;
    const TableEntry* FindByAddress(int32_t address) const;

    // Parses the record frame that starts at buffer[start] into the addressed record.
    // validBytes bounds every read, whatever the frame claims. The driver's registry takes from
    // its peers only commands, the presence record and settings in range (see registry.cpp).
    DeliverResult Deliver(const uint8_t* buffer, int32_t start, int32_t validBytes);

    // Sends every registered record in table order, with a pause after each.
    void PublishAll();

    // What has arrived from the peer: every record parsed by Deliver counts, until
    // ForgetArrivals() (a driver that is new, or heard again after silence) makes every record
    // unheard again. Written by the receive thread, read by the program's own threads.
    void ForgetArrivals() { epoch_ = epoch_ + 1; }
    bool Arrived(int index) const;
    bool Arrived(const DataManipulation& record) const;
    // How many times the record at this table position has arrived, ever.
    uint32_t Arrivals(int index) const;
    // Changes with every ForgetArrivals().
    uint32_t ArrivalEpoch() const { return epoch_; }
    // The table position of a record of this registry, or -1.
    int IndexOf(const DataManipulation& record) const;

    // Liveness: the peer's last-heard time on this registry's clock.
    int64_t LastHeard() const { return lastHeard_; }
    void MarkPeerHeard() override;
    int64_t SilenceMs() const { return clock_.NowMs() - lastHeard_; }

    // Records, named by member (protocol/record_list.h gives each its object and topic).
#define KV_MEMBER(kind, object, topic, tag, settable, preset, member, Class, peer) Class member;
    KV_RECORDS(KV_MEMBER)
#undef KV_MEMBER
    SetValue unregistered;  // constructed, never in the table

    // Whether the driver takes a peer's copy of the record at this table position at all (its
    // own state it keeps to itself), in range or not.
    static bool DriverTakesFromPeers(int index);

private:
    // What became of a peer's frame for a record the driver guards (registry.cpp).
    enum class PeerOutcome { Taken, Refused, NotARecord };
    static bool GuardedFromPeers(size_t index);

    PeerOutcome TakeFromPeer(size_t index, const uint8_t* buffer, int32_t start,
                             int32_t validBytes);
    template <class R>
    PeerOutcome CommitInRange(size_t index, R& live, R& scratch, const uint8_t* buffer,
                              int32_t start, int32_t validBytes);

    int32_t Transmit(const uint8_t* frame, size_t length) override;
    int32_t PublishRecord(DataManipulation& record) override;
    void Register(int index, DataManipulation& record, int32_t& address);

    ProgramRole role_;
    RoleTraits traits_;
    const Clock& clock_;
    Relaxed<Transport*> transport_ = nullptr;  // set by the endpoint, read by every publisher
    Relaxed<int64_t> lastHeard_;
    std::array<TableEntry, kEntries> table_{};
    Relaxed<uint32_t> epoch_ = 1;
    // Per record: the epoch it last arrived in (0: never), and its arrivals.
    std::array<Relaxed<uint32_t>, kEntries> arrivedIn_{};
    std::array<Relaxed<uint32_t>, kEntries> arrivals_{};

    // Where a peer's settings are parsed before they are checked: one copy of each record
    // the driver checks, fixed, nothing per frame. Only the receive thread touches them.
#define KV_SCRATCH(kind, object, topic, tag, settable, preset, member, Class, peer) \
    KV_SCRATCH_##peer(member, Class)
#define KV_SCRATCH_Check(member, Class) Class member;
#define KV_SCRATCH_Take(member, Class)
#define KV_SCRATCH_Refuse(member, Class)
#define KV_SCRATCH_Acknowledge(member, Class)
    struct PeerScratch {
        KV_RECORDS(KV_SCRATCH)
        SetValue event;  // an acknowledged event
    };
#undef KV_SCRATCH
#undef KV_SCRATCH_Check
#undef KV_SCRATCH_Take
#undef KV_SCRATCH_Refuse
#undef KV_SCRATCH_Acknowledge
    PeerScratch scratch_;
};

}  // namespace kv
