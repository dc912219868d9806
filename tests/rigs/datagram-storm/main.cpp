// datagram-storm: sends a running Driver every kind of datagram a hostile or broken program on
// the machine could send (random bytes, truncated frames, frames behind stray bytes, valid
// records with random payloads, hellos), from several sockets at once, as fast as loopback
// takes them. With --records=status (the default) the valid records are only those that carry
// the driver's state rather than its settings or commands, so its settings must come out of
// the storm unchanged; --records=all also sends settings records (never Driver/DoStop).
// Every source first introduces itself with one record and waits for the driver's first-contact
// publish-all to it (the driver's receive thread is busy with it for over a second), so that the
// storm meets a driver that reads, not one that is answering; each source then says hello once,
// as its last datagram.
// With --flood the sources send only random bytes, in turn from one thread at --rate datagrams
// a second, without introducing themselves: a program on the machine (another user's, or a
// runaway of the owner's) throwing garbage at the driver from many ports while its owner works.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/command_line.h"
#include "protocol/registry.h"

namespace {

using kv::Registry;
using kv::TableEntry;

constexpr const char* kUsage =
    "Usage: datagram-storm --port=N [--count=N] [--sources=N] [--seed=N] "
    "[--records=status|all] [--flood [--rate=N]]\n"
    "Sends COUNT datagrams (default 1000000) from SOURCES sockets (default 4, at most 1000) to\n"
    "the Driver on 127.0.0.1:PORT and prints what it sent. --flood: random bytes only, the\n"
    "sources in turn, RATE datagrams a second (default 1000; 0: as fast as possible).\n";

// The records a storm may fill with random payloads while the driver's settings must stay as
// they were: state the driver publishes itself, never a setting or a command it acts on.
constexpr std::array<std::pair<std::string_view, std::string_view>, 19> kStatusRecords = {{
    {"Driver", "DoHeartBeat"},
    {"Driver", "State"},
    {"Store", "State"},
    {"Log", "DoStop"},
    {"Log", "DoRecord"},
    {"Log", "DoPlay"},
    {"Log", "State"},
    {"Comms", "ActState"},
    {"Comms", "ActStatus"},
    {"Graph", "State0"},
    {"Graph", "State1"},
    {"Graph", "State2"},
    {"Graph", "State3"},
    {"Sense", "Status"},
    {"Calib", "DoComplete"},
    {"Monitor", "Queue"},
    {"Copyright", "State"},
    {"Client", "client"},
    {"", ""},  // the end marker
}};

// A small fast generator (splitmix64): the storm's cost should be the driver's, not ours.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1
    size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
    void Fill(uint8_t* out, size_t length) {
        size_t i = 0;
        for (; i + 8 <= length; i += 8) {
            const uint64_t word = Next();
            std::copy_n(reinterpret_cast<const uint8_t*>(&word), 8, out + i);
        }
        const uint64_t word = Next();
        std::copy_n(reinterpret_cast<const uint8_t*>(&word), length - i, out + i);
    }

private:
    uint64_t state_;
};

struct Options {
    uint16_t port = 0;
    uint64_t count = 1'000'000;
    int sources = 4;
    uint64_t seed = 1;
    bool allRecords = false;
    bool flood = false;
    uint64_t rate = 1000;
};

// Reads a decimal into field when it is one within [low, high]; false otherwise.
template <class T>
bool ReadDecimal(std::string_view text, T& field, T low = std::numeric_limits<T>::min(),
                 T high = std::numeric_limits<T>::max()) {
    const auto number = kv::ParseDecimal<T>(text);
    if (!number || *number < low || *number > high) {
        return false;
    }
    field = *number;
    return true;
}

bool ReadOptions(int argc, char** argv, Options& options) {
    kv::CommandLine line(argc, argv);
    while (!line.AtEnd()) {
        const kv::OptionWord word = line.Next();
        if (word.name == "--flood" && !word.hasValue) {
            options.flood = true;
            continue;
        }
        const auto value = word.name == "--help" ? std::nullopt : line.ValueOf(word);
        if (!value) {
            return false;
        }
        bool valid = false;
        if (word.name == "--port") {
            const auto port = kv::ParsePort(*value);
            valid = port && *port != 0;
            options.port = valid ? *port : options.port;
        } else if (word.name == "--count") {
            valid = ReadDecimal(*value, options.count);
        } else if (word.name == "--sources") {
            valid = ReadDecimal(*value, options.sources, 1, 1000);
        } else if (word.name == "--seed") {
            valid = ReadDecimal(*value, options.seed);
        } else if (word.name == "--rate") {
            valid = ReadDecimal(*value, options.rate);
        } else if (word.name == "--records") {
            valid = *value == "status" || *value == "all";
            options.allRecords = *value == "all";
        }
        if (!valid) {
            return false;
        }
    }
    return options.port != 0;
}

// The frames of the records the storm may send, as the Controller would write them; their
// payloads are replaced by random bytes on every use.
std::vector<std::vector<uint8_t>> RecordFrames(bool allRecords) {
    Registry registry(kv::ProgramRole::Controller);
    std::vector<std::vector<uint8_t>> frames;
    for (const TableEntry& entry : registry.Table()) {
        const bool status =
            std::any_of(kStatusRecords.begin(), kStatusRecords.end(), [&](const auto& record) {
                return record.first == entry.object && record.second == entry.topic;
            });
        const bool stop = entry.object == "Driver" && entry.topic == "DoStop";
        if (stop || (!status && !allRecords)) {
            continue;
        }
        std::vector<uint8_t> frame(static_cast<size_t>(entry.record->FrameSize()));
        entry.record->WriteFrame(frame.data(), registry.SenderId());
        frames.push_back(std::move(frame));
    }
    return frames;
}

// Every source waits here until all have been introduced, so the storm starts at once.
class StartLine {
public:
    explicit StartLine(int parties) : waiting_(parties) {}
    void ArriveAndWait() {
        std::unique_lock lock(mutex_);
        if (--waiting_ == 0) {
            released_.notify_all();
            return;
        }
        released_.wait(lock, [this] { return waiting_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    int waiting_;
};

struct Counts {
    std::atomic<uint64_t> sent{0};
    std::atomic<uint64_t> failed{0};
    std::atomic<uint64_t> bytes{0};

    // Counts one datagram by what sendto returned for it.
    void Note(ssize_t result) {
        if (result < 0) {
            ++failed;
        } else {
            ++sent;
            bytes += static_cast<uint64_t>(result);
        }
    }
};

// The Driver's port on the loopback address.
sockaddr_in DriverAddress(uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

// A valid record frame with random payload bytes and random event words, at out.
size_t RecordDatagram(const std::vector<std::vector<uint8_t>>& frames, Random& random,
                      uint8_t* out) {
    const std::vector<uint8_t>& frame = frames[random.Below(frames.size())];
    std::copy(frame.begin(), frame.end(), out);
    random.Fill(out + kv::wire::kOffEventValid, 8);  // event valid word and sequence
    random.Fill(out + kv::wire::kFrameHeader, frame.size() - kv::wire::kFrameHeader);
    return frame.size();
}

// One datagram of a kind chosen at random; returns its length.
size_t MakeDatagram(const std::vector<std::vector<uint8_t>>& frames, Random& random,
                    std::vector<uint8_t>& out) {
    const size_t kind = random.Below(100);
    if (kind < 30) {  // random bytes, now and then beyond the receiver's buffer
        const size_t length =
            random.Below(1000) == 0 ? 30000 + random.Below(35000) : 1 + random.Below(1500);
        random.Fill(out.data(), length);
        return length;
    }
    if (kind < 50) {  // a record cut short; random bytes may later complete it
        const size_t length = RecordDatagram(frames, random, out.data());
        return 1 + random.Below(length - 1);
    }
    if (kind < 65) {  // stray bytes (or a lone frame prefix) before a whole record
        size_t stray = random.Below(64);
        random.Fill(out.data(), stray);
        if (random.Below(2) == 0) {
            kv::wire::PutPrefix(out.data() + stray, kv::wire::kCommandRecord,
                                kv::wire::kSenderController,
                                static_cast<int32_t>(random.Next() % 40000));
            stray += kv::wire::kPrefixSize;
        }
        return stray + RecordDatagram(frames, random, out.data() + stray);
    }
    // several whole records in one datagram, as the programs never send them
    size_t length = 0;
    const size_t records = 1 + random.Below(3);
    for (size_t i = 0; i < records; ++i) {
        length += RecordDatagram(frames, random, out.data() + length);
    }
    return length;
}

// Sends one record and waits until the driver's answer to this first contact ends with the
// end marker (or until the limit): the driver answers one new source at a time.
void Introduce(int fd, const sockaddr_in& to, const std::vector<uint8_t>& record, int limitMs) {
    sendto(fd, record.data(), record.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    const int32_t endAddress = Registry(kv::ProgramRole::Controller).endMarker.Address();
    std::vector<uint8_t> buffer(65536);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n >= kv::wire::kOffAddress + 4 &&
            buffer[kv::wire::kOffCommand] == kv::wire::kCommandRecord &&
            kv::wire::GetInt(buffer.data() + kv::wire::kOffAddress) == endAddress) {
            return;
        }
    }
}

void Storm(const Options& options, const std::vector<std::vector<uint8_t>>& frames, uint64_t count,
           uint64_t seed, Counts& counts, StartLine& introduced) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        counts.failed += count;
        introduced.ArriveAndWait();
        return;
    }
    const sockaddr_in to = DriverAddress(options.port);
    Random random(seed);
    std::vector<uint8_t> datagram(65536);
    // Over a second per source ahead of this one, and some to spare on a busy machine.
    Introduce(fd, to, frames.back(), 3000 * options.sources);
    introduced.ArriveAndWait();
    const auto hello = kv::wire::HelloDatagram(kv::wire::kSenderController);
    for (uint64_t i = 0; i < count; ++i) {
        size_t length = 0;
        if (i + 1 == count) {
            std::copy(hello.begin(), hello.end(), datagram.data());
            length = hello.size();
        } else {
            length = MakeDatagram(frames, random, datagram);
        }
        counts.Note(sendto(fd, datagram.data(), length, 0, reinterpret_cast<const sockaddr*>(&to),
                           sizeof to));
    }
    close(fd);
}

// The flood: random bytes (1 to 1500 of them) from each source in turn, paced to the rate.
void Flood(const Options& options, Counts& counts) {
    std::vector<int> sockets;
    for (int i = 0; i < options.sources; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) {
            std::perror("datagram-storm: socket");
            break;
        }
        sockets.push_back(fd);
    }
    const sockaddr_in to = DriverAddress(options.port);
    Random random(options.seed);
    std::vector<uint8_t> datagram(1500);
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < options.count && !sockets.empty(); ++i) {
        if (options.rate > 0) {
            std::this_thread::sleep_until(start +
                                          std::chrono::microseconds(i * 1'000'000 / options.rate));
        }
        const size_t length = 1 + random.Below(datagram.size());
        random.Fill(datagram.data(), length);
        counts.Note(sendto(sockets[i % sockets.size()], datagram.data(), length, 0,
                           reinterpret_cast<const sockaddr*>(&to), sizeof to));
    }
    for (const int fd : sockets) {
        close(fd);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ReadOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    Counts counts;
    if (options.flood) {
        const auto start = std::chrono::steady_clock::now();
        Flood(options, counts);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf(
            "flood: %llu datagrams (%llu refused by the system) from %d sources in %.1f s\n",
            static_cast<unsigned long long>(counts.sent.load()),
            static_cast<unsigned long long>(counts.failed.load()), options.sources, seconds);
        return counts.sent > 0 ? 0 : 1;
    }
    const std::vector<std::vector<uint8_t>> frames = RecordFrames(options.allRecords);
    StartLine introduced(options.sources + 1);
    std::vector<std::thread> senders;
    for (int i = 0; i < options.sources; ++i) {
        const auto sources = static_cast<uint64_t>(options.sources);
        const uint64_t share =
            options.count / sources + (static_cast<uint64_t>(i) < options.count % sources ? 1 : 0);
        senders.emplace_back(Storm, std::cref(options), std::cref(frames), share,
                             options.seed * 1000 + static_cast<uint64_t>(i), std::ref(counts),
                             std::ref(introduced));
    }
    introduced.ArriveAndWait();
    const auto start = std::chrono::steady_clock::now();
    for (std::thread& sender : senders) {
        sender.join();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("datagrams sent: %llu (%llu refused by the system) from %d sources\n",
                static_cast<unsigned long long>(counts.sent.load()),
                static_cast<unsigned long long>(counts.failed.load()), options.sources);
    std::printf("bytes sent: %.1f MB in %.2f s\n", static_cast<double>(counts.bytes) / 1e6,
                seconds);
    std::printf("rate: %.0f datagrams/s\n",
                seconds > 0 ? static_cast<double>(counts.sent) / seconds : 0.0);
    return counts.sent > 0 ? 0 : 1;
}
