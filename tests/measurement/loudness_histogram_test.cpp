// The analyzer's run statistics (LoudnessHistogram) against the by-the-book computation over
// the full list of block powers, and both against worked examples.

#include "measurement/loudness_histogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "measurement/loudness_statistics.h"

namespace orvinta {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Statistics {
    double integratedLUFS;
    double loudnessRangeLU;
};

Statistics fromHistogram(const std::vector<double>& powers) {
    LoudnessHistogram histogram;
    for (const double p : powers) {
        histogram.add(p);
    }
    return {histogram.integratedLUFS(), histogram.loudnessRangeLU()};
}

Statistics fromList(const std::vector<double>& powers) {
    return {integratedLoudnessLUFS(powers), loudnessRangeLU(powers)};
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
        for (const Statistics& s : {fromHistogram(powers), fromList(powers)}) {
            if (std::isinf(e.integratedLUFS)) {
                EXPECT_EQ(s.integratedLUFS, e.integratedLUFS);
            } else {
                EXPECT_NEAR(s.integratedLUFS, e.integratedLUFS, 0.005)
                    << ::testing::PrintToString(e.lufs);
            }
            EXPECT_NEAR(s.loudnessRangeLU, e.loudnessRangeLU, 1e-9)
                << ::testing::PrintToString(e.lufs);
        }
    }
}

TEST(LoudnessHistogram, FiveHoursGiveTheWholeRunWithin0Point01LU) {
    // One block a hop for five hours. Levels from the issue (1 h at -15, 4 h at -30: the whole
    // run reads I -21.47, LRA 15.0), the same with a jitter of a few LU, levels spread from
    // below the absolute gate to near the top bin with digital silence among them, and a few
    // blocks far above the top bin, whose energy must still count in full (they share one bin, so
    // only the integrated loudness stays exact).
    constexpr int kHops = 5 * 3600 * 10;
    std::mt19937 generator(5);
    std::normal_distribution<double> jitter(0.0, 3.0);
    std::uniform_real_distribution<double> anywhere(-95.0, 25.0);
    struct Run {
        const char* name;
        double (*level)(int hop, std::mt19937&, std::normal_distribution<double>&,
                        std::uniform_real_distribution<double>&);
    };
    const Run runs[] = {
        {"steps", [](int hop, auto&, auto&, auto&) { return hop < kHops / 5 ? -15.0 : -30.0; }},
        {"jittered steps", [](int hop, std::mt19937& g, auto& j,
                              auto&) { return (hop < kHops / 5 ? -15.0 : -30.0) + j(g); }},
        {"anywhere",
         [](int hop, std::mt19937& g, auto&, auto& a) { return hop % 97 == 0 ? -kInf : a(g); }},
        {"a few beyond the top", [](int hop, std::mt19937& g, auto& j,
                                    auto&) { return hop % 499 == 0 ? 40.0 + j(g) : -23.0 + j(g); }},
    };
    for (const Run& run : runs) {
        std::vector<double> levels(kHops);
        for (int hop = 0; hop < kHops; ++hop) {
            levels[static_cast<std::size_t>(hop)] = run.level(hop, generator, jitter, anywhere);
        }
        const std::vector<double> powers = powersOf(levels);
        const Statistics exact = fromList(powers);
        const Statistics binned = fromHistogram(powers);
        EXPECT_NEAR(binned.integratedLUFS, exact.integratedLUFS, 0.01) << run.name;
        if (run.name != runs[3].name) {
            EXPECT_NEAR(binned.loudnessRangeLU, exact.loudnessRangeLU, 0.01) << run.name;
        }
        if (run.name == runs[0].name) {
            EXPECT_NEAR(exact.integratedLUFS, -21.47, 0.005);
            EXPECT_NEAR(exact.loudnessRangeLU, 15.0, 1e-9);
        }
    }
}

TEST(LoudnessHistogram, ClearForgetsEverything) {
    LoudnessHistogram histogram;
    for (const double p : powersOf({-10.0, -14.0, -50.0})) {
        histogram.add(p);
    }
    histogram.clear();
    EXPECT_EQ(histogram.size(), 0);
    EXPECT_EQ(histogram.integratedLUFS(), -kInf);
    for (const double p : powersOf({-30.0, -20.0})) {
        histogram.add(p);
    }
    EXPECT_NEAR(histogram.integratedLUFS(), -22.60, 0.005);
    EXPECT_NEAR(histogram.loudnessRangeLU(), 8.5, 1e-9);
}

}  // namespace
}  // namespace orvinta
