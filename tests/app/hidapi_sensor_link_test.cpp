// The hidapi sensor link against a stand-in for hidapi: which board it opens, what counts as
// a lost board, and the report layout after a reopen.
#include "driver/backends/hidapi/hidapi_sensor_link.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <map>

namespace kv {
namespace {

// Boards by hidraw path, each with its report layout and the results of its next reads.
class FakeHidapi final : public HidapiCalls {
public:
    struct ReadResult {
        int result = 0;  // bytes delivered, 0 for a time-out, -1 for a failure
        int error = 0;   // errno after the call
        uint8_t fill = 0;
    };
    struct Board {
        InputReportLayout layout;
        bool openable = true;
        std::deque<ReadResult> reads;
    };

    std::vector<std::string> Enumerate(uint16_t vendorId, uint16_t productId) override {
        std::vector<std::string> paths;
        if (vendorId == kSensorVendorId && productId == kSensorProductId) {
            for (const std::string& path : order) {
                if (boards.count(path) != 0) {
                    paths.push_back(path);
                }
            }
        }
        return paths;
    }
    hid_device_* OpenPath(const std::string& path) override {
        auto board = boards.find(path);
        if (board == boards.end() || !board->second.openable) {
            return nullptr;
        }
        ++openHandles;
        opened.push_back(path);
        return Handle(path);
    }
    void Close(hid_device_* device) override {
        ASSERT_EQ(device, Handle(opened.back()));
        --openHandles;
    }
    int ReadTimeout(hid_device_* device, uint8_t* data, size_t length, int timeoutMs,
                    int& error) override {
        EXPECT_EQ(timeoutMs, kReadTimeoutMs);
        lastReadLength = length;
        auto board = boards.find(opened.back());
        error = 0;
        if (device != Handle(opened.back()) || board == boards.end()) {
            return -1;
        }
        if (board->second.reads.empty()) {
            return 0;
        }
        const ReadResult read = board->second.reads.front();
        board->second.reads.pop_front();
        error = read.error;
        for (int i = 0; i < read.result && static_cast<size_t>(i) < length; ++i) {
            data[i] = read.fill;
        }
        return read.result;
    }
    InputReportLayout Layout(const std::string& path) override {
        ++layoutReads;
        return boards.at(path).layout;
    }
    bool NodeExists(const std::string& path) override { return boards.count(path) != 0; }

    // A distinct handle per path, as hidapi would give.
    hid_device_* Handle(const std::string& path) {
        return reinterpret_cast<hid_device_*>(&handles[path]);
    }

    std::vector<std::string> order;
    std::map<std::string, Board> boards;
    std::map<std::string, char> handles;
    std::vector<std::string> opened;
    int openHandles = 0;
    int layoutReads = 0;
    size_t lastReadLength = 0;
};

FakeHidapi::Board NumberedBoard(int32_t length) {
    FakeHidapi::Board board;
    board.layout.numbered = true;
    board.layout.length = length;
    return board;
}

class HidapiLink : public ::testing::Test {
protected:
    HidapiLink() {
        hid.order = {"/dev/hidraw0", "/dev/hidraw1", "/dev/hidraw2"};
        buffer.fill(0xEE);
    }

    FakeHidapi hid;
    HidapiSensorLink link{hid};
    std::array<uint8_t, 200> buffer{};
};

TEST_F(HidapiLink, OpensTheFirstBoardThatOpensInEnumerationOrder) {
    EXPECT_FALSE(link.Open());
    EXPECT_FALSE(link.Alive());

    hid.boards["/dev/hidraw0"] = NumberedBoard(65);
    hid.boards["/dev/hidraw0"].openable = false;  // held exclusively
    hid.boards["/dev/hidraw1"] = NumberedBoard(65);
    hid.boards["/dev/hidraw2"] = NumberedBoard(65);
    ASSERT_TRUE(link.Open());
    EXPECT_EQ(hid.opened, (std::vector<std::string>{"/dev/hidraw1"}));
    EXPECT_TRUE(link.Alive());

    ASSERT_TRUE(link.Open());  // a reopen closes the old handle first
    EXPECT_EQ(hid.openHandles, 1);
    link.Close();
    EXPECT_EQ(hid.openHandles, 0);
}

TEST_F(HidapiLink, OnlyARealReadFailureCountsAsALostBoard) {
    hid.boards["/dev/hidraw0"] = NumberedBoard(65);
    auto& reads = hid.boards["/dev/hidraw0"].reads;
    ASSERT_TRUE(link.Open());

    // A signal interrupts the wait: nothing arrived, the buffer stays, the board is there.
    reads.push_back({-1, EINTR, 0x11});
    EXPECT_EQ(link.Read(buffer.data(), buffer.size()), 64);
    EXPECT_EQ(link.LastDelivered(), 0u);
    EXPECT_EQ(buffer[1], 0xEE);
    EXPECT_TRUE(link.Alive());

    reads.push_back({65, 0, 0x22});
    EXPECT_EQ(link.Read(buffer.data(), buffer.size()), 64);
    EXPECT_EQ(link.LastDelivered(), 65u);
    EXPECT_EQ(buffer[64], 0x22);
    EXPECT_TRUE(link.Alive());

    // A hang-up (hidapi sets no errno) and a failed read both lose the board.
    for (int error : {0, EIO}) {
        ASSERT_TRUE(link.Open());
        reads.push_back({-1, error, 0});
        link.Read(buffer.data(), buffer.size());
        EXPECT_FALSE(link.Alive()) << error;
    }
}

TEST_F(HidapiLink, AReopenTakesTheReportLayoutOfTheBoardItFinds) {
    hid.boards["/dev/hidraw0"] = NumberedBoard(65);
    ASSERT_TRUE(link.Open());
    EXPECT_EQ(link.Read(buffer.data(), buffer.size()), 64);
    EXPECT_EQ(hid.lastReadLength, 65u);

    // Unplugged, and a board with unnumbered 41-byte reports turns up in its place.
    hid.boards.erase("/dev/hidraw0");
    EXPECT_FALSE(link.Alive());
    FakeHidapi::Board other;
    other.layout.numbered = false;
    other.layout.length = 41;
    other.reads.push_back({40, 0, 0x33});
    hid.boards["/dev/hidraw1"] = other;
    ASSERT_TRUE(link.Open());
    EXPECT_EQ(hid.layoutReads, 2);

    EXPECT_EQ(link.Read(buffer.data(), buffer.size()), 40);
    EXPECT_EQ(hid.lastReadLength, 40u);  // the report ID is not sent; index 0 holds it as 0
    EXPECT_EQ(link.LastDelivered(), 41u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[40], 0x33);
    EXPECT_EQ(buffer[41], 0xEE);
}

}  // namespace
}  // namespace kv
