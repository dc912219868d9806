// The matched filter: template matrix, correlation and the live graph records.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>

#include "driver/dsp/dsp_correlator.h"
#include "driver/dsp/touch_detector.h"
#include "dsp_test_support.h"

namespace kv {
namespace {

class DspCorrelatorTest : public ::testing::Test {
protected:
    DspCorrelatorTest()
        : detector(*shared.registry),
          correlator(std::make_unique<DspCorrelator>(*shared.registry, detector)) {}

    void Correlate(int32_t count, int32_t axis = 0) {
        correlator->Correlate(count, axis, axis == 1, signal.data());
    }
    // Every row: zero mean and unit population variance over its non-zero band.
    void ExpectNormalisedRows(int32_t count) {
        for (int32_t i = 0; i < count; ++i) {
            double sum = 0;
            double squares = 0;
            int n = 0;
            for (int32_t j = 0; j < count; ++j) {
                const float v = correlator->MatrixEntry(i, j);
                if (j < i - 2 || j > i + 2) {
                    EXPECT_EQ(v, 0.0f) << i << "," << j;
                    continue;
                }
                sum += v;
                squares += static_cast<double>(v) * v;
                ++n;
            }
            EXPECT_EQ(n, std::min(count - 1, i + 2) - std::max(0, i - 2) + 1) << i;
            EXPECT_NEAR(sum, 0.0, 1e-5) << "row " << i;
            EXPECT_NEAR(squares / n, 1.0, 1e-5) << "row " << i;
        }
    }

    test::PublishingRegistry shared;
    TouchDetector detector;
    std::unique_ptr<DspCorrelator> correlator;
    std::array<float, 128> signal{};
};

TEST_F(DspCorrelatorTest, TemplateIsTruncatedAndRenormalisedAtTheEnds) {
    Correlate(8);
    ASSERT_EQ(correlator->CachedCount(), 8);
    ExpectNormalisedRows(8);
    // Row 0 keeps template values 6, 3, 1.
    const double m0 = 10.0 / 3.0;
    const double s0 =
        std::sqrt(((6 - m0) * (6 - m0) + (3 - m0) * (3 - m0) + (1 - m0) * (1 - m0)) / 3);
    EXPECT_NEAR(correlator->MatrixEntry(0, 0), (6 - m0) / s0, 1e-5);
    EXPECT_NEAR(correlator->MatrixEntry(0, 2), (1 - m0) / s0, 1e-5);
    // Row 1 keeps 3, 6, 3, 1; row 7 mirrors row 0.
    EXPECT_NEAR(correlator->MatrixEntry(1, 1), (6 - 3.25) / std::sqrt(3.1875), 1e-5);
    EXPECT_NEAR(correlator->MatrixEntry(7, 7), correlator->MatrixEntry(0, 0), 1e-6);
    EXPECT_NEAR(correlator->MatrixEntry(6, 4), correlator->MatrixEntry(1, 3), 1e-6);
    // Full rows: 1, 3, 6, 3, 1 with mean 2.8 and variance 3.36.
    EXPECT_NEAR(correlator->MatrixEntry(4, 4), 3.2 / std::sqrt(3.36), 1e-5);
    EXPECT_NEAR(correlator->MatrixEntry(4, 2), -1.8 / std::sqrt(3.36), 1e-5);
}

TEST_F(DspCorrelatorTest, MatrixIsRebuiltWhenTheCountChanges) {
    Correlate(8);
    const float truncated = correlator->MatrixEntry(7, 7);
    Correlate(10);
    EXPECT_EQ(correlator->CachedCount(), 10);
    ExpectNormalisedRows(10);
    EXPECT_NEAR(correlator->MatrixEntry(7, 7), 3.2 / std::sqrt(3.36), 1e-5);
    Correlate(8);
    EXPECT_FLOAT_EQ(correlator->MatrixEntry(7, 7), truncated);
}

TEST_F(DspCorrelatorTest, FlatSignalCorrelatesToZeroAndABumpToItsPeak) {
    signal.fill(7.0f);
    Correlate(16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(correlator->Output(i), 0.0f, 1e-4) << i;
    }
    signal.fill(0.0f);
    const float bump[] = {1, 3, 6, 3, 1};
    for (int k = 0; k < 5; ++k) {
        signal[static_cast<size_t>(9 + k)] = bump[k];
    }
    Correlate(16);
    for (int i = 0; i < 16; ++i) {
        if (i != 11) {
            EXPECT_LT(correlator->Output(i), correlator->Output(11)) << i;
        }
    }
    EXPECT_EQ(correlator->PeakFinder().First().index, 11);
}

TEST_F(DspCorrelatorTest, FewerThanEightElectrodesDoNothing) {
    signal.fill(3.0f);
    Correlate(7);
    correlator->Correlate(16, 0, false, nullptr);
    EXPECT_EQ(correlator->CachedCount(), 0);
    EXPECT_EQ(shared.registry->graphState0.Param0, 0);
    EXPECT_EQ(shared.transport.Count(shared.registry->graphState0), 0);
}

TEST_F(DspCorrelatorTest, GraphCarriesTheScaledSignalWithASequenceNumber) {
    Graph& graph = shared.registry->graphState1;
    graph.Param0 = 1022;
    graph.Values[12] = 77.0f;
    for (int i = 0; i < 12; ++i) {
        signal[static_cast<size_t>(i)] = static_cast<float>(i) * 2.0f;
    }
    Correlate(12, 1);
    EXPECT_EQ(graph.Param0, 1023);
    EXPECT_EQ(graph.Param1, 12);
    EXPECT_FLOAT_EQ(graph.Values[5], 2.5f);    // the signal, a quarter of it
    EXPECT_FLOAT_EQ(graph.Values[12], 77.0f);  // beyond the count: untouched
    Correlate(12, 1);
    EXPECT_EQ(graph.Param0, 0);
    EXPECT_EQ(shared.transport.Count(graph), 2);
    EXPECT_EQ(shared.transport.Count(shared.registry->graphState0), 0);

    const std::vector<uint8_t> payload = shared.transport.LastPayload(graph);
    ASSERT_GE(payload.size(), 12u + 4 * 6);
    EXPECT_EQ(wire::GetInt(payload.data() + 4), 0);   // Param0
    EXPECT_EQ(wire::GetInt(payload.data() + 8), 12);  // Param1
    EXPECT_FLOAT_EQ(wire::GetReal(payload.data() + 12 + 4 * 5), 2.5f);
}

TEST_F(DspCorrelatorTest, SequenceWrapsWhateverTheRecordHeld) {
    Graph& graph = shared.registry->graphState0;
    graph.Param0 = 0x7FFFFFFF;  // as a peer could have written it
    Correlate(8, 0);
    EXPECT_EQ(graph.Param0, 0);
}

TEST_F(DspCorrelatorTest, AxesBeyondTheGraphRecordsPublishNoGraph) {
    signal[4] = 9.0f;
    Correlate(8, 5);
    EXPECT_EQ(correlator->PeakFinder().First().index, 4);
    for (const Graph* graph : {&shared.registry->graphState0, &shared.registry->graphState1,
                               &shared.registry->graphState2, &shared.registry->graphState3}) {
        EXPECT_EQ(shared.transport.Count(*graph), 0);
    }
}

}  // namespace
}  // namespace kv
