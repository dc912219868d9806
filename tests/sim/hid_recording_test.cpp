// hid-recorder files: what we write reads back, and bad files are refused with the line.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "driver/sim/hid_recording.h"

using namespace kv::sim;

TEST(HidRecording, WrittenFileReadsBack) {
    const auto path =
        std::filesystem::temp_directory_path() / ("kv_rec_" + std::to_string(::getpid()) + ".hid");
    {
        HidRecordingWriter writer;
        ASSERT_TRUE(writer.Open(path.string(), kBoardName, kBoardVendor, kBoardProduct,
                                kBoardReportDescriptor));
        std::vector<uint8_t> report(64);
        for (int i = 0; i < 64; ++i) {
            report[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 3);
        }
        ASSERT_TRUE(writer.Write(1'500'000, report.data(), report.size()));
        report[0] = 0xFF;
        ASSERT_TRUE(writer.Write(1'510'250, report.data(), report.size()));
    }
    std::string error;
    auto rec = LoadHidRecording(path.string(), error);
    std::filesystem::remove(path);
    ASSERT_TRUE(rec) << error;
    EXPECT_EQ(rec->name, kBoardName);
    EXPECT_EQ(rec->vendor, 0x2012);
    EXPECT_EQ(rec->product, 0x1001);
    EXPECT_EQ(rec->bus, 3);
    EXPECT_EQ(rec->descriptor, kBoardReportDescriptor);
    ASSERT_EQ(rec->events.size(), 2u);
    EXPECT_EQ(rec->events[0].micros, 0) << "times count from the first report";
    EXPECT_EQ(rec->events[1].micros, 10'250);
    EXPECT_EQ(rec->events[1].data[0], 0xFF);
    EXPECT_EQ(rec->events[1].data[63], 189);
}

TEST(HidRecording, LinesLookLikeHidRecorders) {
    const uint8_t data[] = {0x00, 0x1f, 0xa0};
    EXPECT_EQ(FormatEvent(12'345'678, data, 3), "E: 000012.345678 3 00 1f a0\n");
    const std::string header = FormatHeader("board", 0x2012, 0x1001, {0x06, 0x00, 0xff});
    EXPECT_NE(header.find("R: 3 06 00 ff\n"), std::string::npos) << header;
    EXPECT_NE(header.find("N: board\n"), std::string::npos);
    EXPECT_NE(header.find("I: 3 2012 1001\n"), std::string::npos);
}

TEST(HidRecording, AcceptsWhatOtherRecordersWrite) {
    std::string error;
    auto rec = ParseHidRecording(
        "# comment\nD: 0\nR: 2 a1 c0\nN: some device\nP: usb-0000:00:14.0-1/input0\n"
        "I: 3 2012 1001\nE: 100.5 2 01 02\nE: 100.750000 2 03 04\n",
        error);
    ASSERT_TRUE(rec) << error;
    ASSERT_EQ(rec->events.size(), 2u);
    EXPECT_EQ(rec->events[1].micros, 250'000);
}

TEST(HidRecording, BadFilesNameTheLine) {
    struct Case {
        const char* text;
        const char* says;
    };
    const Case cases[] = {
        {"R: 1 a1\nE: 0.0 2 01\n", "line 2: report: byte count says 2 but 1 bytes follow"},
        {"R: 1 a1\nE: soon 1 01\n", "line 2: expected a time"},
        {"R: 1 a1\nE: 1.0 1 zz\n", "line 2: report: 'zz' is not a hex byte"},
        {"R: 1 a1\nE: 2.0 1 01\nE: 1.0 1 01\n", "line 3: time goes back"},
        {"E: 0.0 1 01\n", "no report descriptor"},
        {"R: 1 a1\nQ: what\n", "line 2: unknown line type 'Q'"},
        {"R: 99999 a1\n", "line 1: report descriptor: byte count 99999 is larger"},
        {"R: 1 a1\nI: usb\n", "line 2: expected 'I: bus vendor product'"},
        {"garbage\n", "line 1: expected a line"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseHidRecording(c.text, error)) << c.text;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.text << " gave: " << error;
    }
}
