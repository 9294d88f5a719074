// The analyzer's run statistics (LoudnessHistogram) against the by-the-book computation over
// the full list of block powers, and both against worked examples.

#include "measurement/loudness_histogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "measurement/loudness_statistics.h"
#include "tests/measurement/loudness_signals.h"

namespace orvinta {
namespace {

using orvinta::testing::kInf;

struct Statistics {
    double integratedLUFS;
    double loudnessRangeLU;
};

Statistics fromHistogram(const std::vector<double>& powers, LoudnessHistogram& histogram) {
    histogram.clear();
    for (const double p : powers) {
        histogram.add(p);
    }
    return {histogram.integratedLUFS(), histogram.loudnessRangeLU()};
}

std::vector<double> powersOf(const std::vector<double>& lufs) {
    std::vector<double> powers;
    for (const double l : lufs) {
        powers.push_back(std::isinf(l) ? 0.0 : std::pow(10.0, (l + 0.691) / 10.0));
    }
    return powers;
}

TEST(LoudnessStatistics, WorkedExamplesByHistogramAndByList) {
    struct Example {
        std::vector<double> lufs;
        double integratedLUFS;
        double loudnessRangeLU;
    };
    std::vector<double> steps;  // -40 ... -20 LUFS in steps of 1 LU
    for (int l = -20; l >= -40; --l) {
        steps.push_back(l);
    }
    const Example examples[] = {
        {{}, -kInf, 0.0},
        // The relative gate drops -40 from the integrated loudness but not from the range; the
        // mean is of powers, not of LUFS.
        {{-20.0, -40.0}, -20.0, 17.0},
        {{-20.0, -25.0}, -21.82, 4.25},
        {{-23.0, -23.0, -23.0}, -23.0, 0.0},
        // At the absolute gate is not above it; silence counts as measured.
        {{-70.0, -kInf, -75.0}, -70.0, 0.0},
        {{-30.0, -kInf, -70.0, -30.0}, -30.0, 0.0},
        // Interpolated percentiles: 0.95 x 10 - 0.1 x 10; -60 falls under the range gate.
        {{-30.0, -20.0}, -22.60, 8.5},
        {{-30.0, -60.0, -20.0}, -22.60, 8.5},
        {{-20.0, -45.0}, -20.0, 0.0},
        {steps, -25.52, 17.0},
    };
    for (const Example& e : examples) {
        const std::vector<double> powers = powersOf(e.lufs);
        LoudnessHistogram histogram;
        const Statistics exact{integratedLoudnessLUFS(powers), loudnessRangeLU(powers)};
        for (const Statistics& s : {fromHistogram(powers, histogram), exact}) {
            EXPECT_TRUE(testing::near(s.integratedLUFS, e.integratedLUFS, 0.005))
                << ::testing::PrintToString(e.lufs);
            EXPECT_NEAR(s.loudnessRangeLU, e.loudnessRangeLU, 1e-9)
                << ::testing::PrintToString(e.lufs);
        }
    }
}

TEST(LoudnessHistogram, FiveHoursGiveTheWholeRunWithin0Point01LUAndClearForgetsThem) {
    // One block a hop for five hours: 1 h at -15 then 4 h at -30 (the whole run reads I -21.47,
    // LRA 15.0); the same with a jitter of a few LU; levels from below the absolute gate to
    // near the top bin with digital silence among them; a few blocks far above the top bin,
    // whose energy still counts in full (they share one bin: only I stays exact).
    constexpr int kHops = 5 * 3600 * 10;
    std::mt19937 generator(5);
    std::normal_distribution<double> jitter(0.0, 3.0);
    std::uniform_real_distribution<double> anywhere(-95.0, 25.0);
    LoudnessHistogram histogram;
    for (const int run : {0, 1, 2, 3}) {
        std::vector<double> levels(kHops);
        for (int hop = 0; hop < kHops; ++hop) {
            const double step = hop < kHops / 5 ? -15.0 : -30.0;
            const double level[] = {step, step + jitter(generator),
                                    hop % 97 == 0 ? -kInf : anywhere(generator),
                                    (hop % 499 == 0 ? 40.0 : -23.0) + jitter(generator)};
            levels[static_cast<std::size_t>(hop)] = level[run];
        }
        const std::vector<double> powers = powersOf(levels);
        const Statistics binned = fromHistogram(powers, histogram);
        const Statistics exact{integratedLoudnessLUFS(powers), loudnessRangeLU(powers)};
        EXPECT_NEAR(binned.integratedLUFS, exact.integratedLUFS, 0.01) << "run " << run;
        if (run != 3) {
            EXPECT_NEAR(binned.loudnessRangeLU, exact.loudnessRangeLU, 0.01) << "run " << run;
        }
        if (run == 0) {
            EXPECT_NEAR(exact.integratedLUFS, -21.47, 0.005);
            EXPECT_NEAR(exact.loudnessRangeLU, 15.0, 1e-9);
        }
    }
    histogram.clear();
    EXPECT_EQ(histogram.size(), 0);
    EXPECT_EQ(histogram.integratedLUFS(), -kInf);
    EXPECT_EQ(histogram.loudnessRangeLU(), 0.0);
}

}  // namespace
}  // namespace orvinta
