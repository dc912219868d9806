// Event lines written to the simulated board while it runs: the line parser, and the reader
// that hands lines from a pipe to the frame path in order and on time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/sim/live_scenario_input.h"
#include "driver/sim/simulated_board.h"
#include "driver/sim/simulated_sensor_link.h"
#include "tests/support/fake_clock.h"
#include "tests/support/process_support.h"
#include "tests/support/scenario_text.h"

using namespace kv::sim;

namespace {

Scenario QuietB64() {
    return kv::test::ScenarioOf("layout B64\nnoise 0\ndrift 0\nbaseline 100\n");
}

// The electrode with the highest reading on an axis, or -1 when nothing stands out of the
// rest counts (no finger on that axis).
int32_t Peak(const SimulatedBoard& board, int axis) {
    const int32_t count = axis == 0 ? board.Layout().CountX() : board.Layout().CountY();
    int32_t best = -1;
    double level = 110.0;
    for (int32_t k = 0; k < count; ++k) {
        if (board.Level(axis, k) > level) {
            level = board.Level(axis, k);
            best = k;
        }
    }
    return best;
}

int32_t Electrode(const SimulatedBoard& board, int axis, double position) {
    const int32_t count = axis == 0 ? board.Layout().CountX() : board.Layout().CountY();
    return static_cast<int32_t>(position * (count - 1) + 0.5);
}

// Applies the lines due by 1 s to the board, as the frames would, until shown() holds; the
// reader takes the lines on its own thread, so this waits (generously) for them.
template <class Shown>
void ApplyUntil(LiveScenarioInput& input, SimulatedBoard& board, Shown shown) {
    kv::test::WaitFor([&] {
        if (shown()) {
            return true;
        }
        input.ApplyDue(board, 1.0);
        return false;
    });
}

class PipeInput {
public:
    PipeInput() {
        EXPECT_EQ(pipe(fds_), 0);
        input = std::make_unique<LiveScenarioInput>(fds_[0], true, [this](const std::string& line) {
            const std::lock_guard<std::mutex> lock(mutex_);
            notices_.push_back(line);
        });
    }
    ~PipeInput() {
        Close();
        input.reset();
    }
    void Write(const std::string& text) {
        ASSERT_EQ(write(fds_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void Close() {
        if (fds_[1] >= 0) {
            close(fds_[1]);
            fds_[1] = -1;
        }
    }
    // Closes the writing end and waits (generously) until the reader has taken every line.
    bool CloseAndAwaitEnd() {
        Close();
        return kv::test::WaitFor([this] { return input->Ended(); });
    }
    std::vector<std::string> Notices() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return notices_;
    }

    std::unique_ptr<LiveScenarioInput> input;

private:
    int fds_[2] = {-1, -1};
    std::mutex mutex_;
    std::vector<std::string> notices_;
};

}  // namespace

TEST(LiveLines, AreTheVerbsOfScenarioLinesWithAtOptional) {
    LiveLineParser parser;
    ScenarioError error;

    auto down = parser.Parse("down 1 0.3 0.4\r", error);
    ASSERT_TRUE(down) << error.Text();
    EXPECT_EQ(down->verb, ScenarioEvent::Verb::Down);
    EXPECT_EQ(down->finger, 1);
    EXPECT_DOUBLE_EQ(down->x, 0.3);
    EXPECT_DOUBLE_EQ(down->y, 0.4);
    EXPECT_DOUBLE_EQ(down->time, 0.0) << "without 'at' a line takes effect at once";
    EXPECT_EQ(down->line, 1);

    EXPECT_FALSE(parser.Parse("   # just a comment", error));
    EXPECT_TRUE(error.message.empty()) << "a comment is no error";
    EXPECT_FALSE(parser.Parse("", error));
    EXPECT_TRUE(error.message.empty());

    auto move = parser.Parse("move 1 0.6 0.6 0.5", error);
    ASSERT_TRUE(move) << error.Text();
    EXPECT_DOUBLE_EQ(move->duration, 0.5);

    auto up = parser.Parse("at 0.25 up 1", error);
    ASSERT_TRUE(up) << error.Text();
    EXPECT_EQ(up->verb, ScenarioEvent::Verb::Up);
    EXPECT_DOUBLE_EQ(up->time, 0.25) << "'at' delays the line";

    // Which fingers are down follows the lines written so far.
    EXPECT_FALSE(parser.Parse("up 1", error));
    EXPECT_EQ(error.Text(), "line 6: finger 1 is not on the foil");
    EXPECT_FALSE(parser.Parse("wiggle 1", error));
    EXPECT_EQ(error.line, 7);
    EXPECT_NE(error.message.find("unknown verb 'wiggle'"), std::string::npos);
    EXPECT_FALSE(parser.Parse("down 1 1.5 0", error));
    EXPECT_NE(error.message.find("outside"), std::string::npos);

    // "end" lifts every finger and lines still follow it.
    ASSERT_TRUE(parser.Parse("down 2 0.5 0.5", error)) << error.Text();
    auto end = parser.Parse("end", error);
    ASSERT_TRUE(end) << error.Text();
    EXPECT_EQ(end->verb, ScenarioEvent::Verb::End);
    EXPECT_FALSE(parser.Parse("up 2", error));
    EXPECT_TRUE(parser.Parse("down 2 0.1 0.1", error)) << error.Text();
}

TEST(LiveInput, TouchesTheBoardInOrderAndOnTime) {
    SimulatedBoard board(QuietB64());
    PipeInput pipe;

    // A line written now shows on the board at the next frame that picks it up.
    pipe.Write("down 1 0.3 0.4\n");
    ApplyUntil(*pipe.input, board, [&] { return Peak(board, 0) >= 0; });
    EXPECT_EQ(Peak(board, 0), Electrode(board, 0, 0.3));
    EXPECT_EQ(Peak(board, 1), Electrode(board, 1, 0.4));

    // A delayed line holds back the lines written after it; a malformed line is reported and
    // skipped, and so is a line too long to be one; a last line without its newline still
    // counts.
    pipe.Write(std::string(kMaxLiveLineBytes + 904, 'x') + "\n");
    pipe.Write("at 1 up 1\nup 7\ndown 2 0.8");
    pipe.Write(" 0.7");
    ASSERT_TRUE(pipe.CloseAndAwaitEnd());
    pipe.input->ApplyDue(board, 2.0);
    EXPECT_EQ(Peak(board, 0), Electrode(board, 0, 0.3)) << "the lift is due one second later";
    pipe.input->ApplyDue(board, 2.9);
    EXPECT_EQ(Peak(board, 0), Electrode(board, 0, 0.3));
    pipe.input->ApplyDue(board, 3.0);
    EXPECT_EQ(Peak(board, 0), Electrode(board, 0, 0.8)) << "finger 1 lifted, finger 2 down";
    EXPECT_EQ(Peak(board, 1), Electrode(board, 1, 0.7));
    EXPECT_EQ(pipe.Notices(), (std::vector<std::string>{"line longer than 4096 bytes: ignored",
                                                        "line 3: finger 7 is not on the foil"}));
}

TEST(LiveInput, TellsLiveSourcesFromScenarioFiles) {
    EXPECT_TRUE(IsLiveSource("-"));
    EXPECT_FALSE(IsLiveSource("demo"));
    EXPECT_FALSE(IsLiveSource("/etc/hostname"));
    const kv::test::TempDir folder;
    ASSERT_FALSE(folder.Path().empty());
    const std::string fifo = folder.File("touch");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(IsLiveSource(fifo));

    // A named pipe is read without waiting for a writer, and across writers.
    std::string error;
    auto input = LiveScenarioInput::Open(fifo, nullptr, error);
    ASSERT_TRUE(input) << error;
    SimulatedBoard board(QuietB64());
    for (const char* line : {"down 3 0.5 0.5\n", "move 3 0.2 0.5\n"}) {
        const int fd = open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_GT(write(fd, line, std::strlen(line)), 0);
        close(fd);
    }
    ApplyUntil(*input, board, [&] { return Peak(board, 0) == Electrode(board, 0, 0.2); });
    EXPECT_EQ(Peak(board, 0), Electrode(board, 0, 0.2));
    EXPECT_FALSE(input->Ended());
    input.reset();

    // A pipe others may write to would let them touch the screen.
    ASSERT_EQ(chmod(fifo.c_str(), 0622), 0);
    EXPECT_FALSE(LiveScenarioInput::Open(fifo, nullptr, error));
    EXPECT_NE(error.find("other users may write to it"), std::string::npos) << error;
}

TEST(LiveInput, AddsFingersToTheScenarioTheLinkPlays) {
    // The scenario's own finger comes at 0.5 s; a live one is written before the start.
    ScenarioError error;
    auto scenario =
        ParseScenario("layout B64\nnoise 0\ndrift 0\nbaseline 100\nat 0.5 down 2 0.8 0.7\n", error);
    ASSERT_TRUE(scenario) << error.Text();
    kv::test::FakeClock clock(0);
    clock.StandStill();
    SimulatedSensorLink link(*scenario, clock, false, nullptr);
    auto pipe = std::make_unique<PipeInput>();
    pipe->Write("down 1 0.2 0.4\n");
    ASSERT_TRUE(pipe->CloseAndAwaitEnd());
    link.SetLiveInput(std::move(pipe->input));
    ASSERT_TRUE(link.Open());

    std::array<uint8_t, 80> report{};
    while (link.Now() < 0.3) {
        ASSERT_EQ(link.Read(report.data(), report.size()), kReportLength - 1);
    }
    const SimulatedBoard& board = link.Board();
    EXPECT_EQ(Peak(board, 0), Electrode(board, 0, 0.2)) << "the live finger, from the start";
    while (link.Now() < 0.6) {
        ASSERT_EQ(link.Read(report.data(), report.size()), kReportLength - 1);
    }
    EXPECT_GT(board.Level(0, Electrode(board, 0, 0.8)), 120.0) << "and the scenario's finger";
    EXPECT_GT(board.Level(0, Electrode(board, 0, 0.2)), 120.0);
}
