#include "measurement/k_weighting_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <numbers>
#include <random>
#include <span>
#include <vector>

#include "tests/measurement/loudness_signals.h"

namespace orvinta {
namespace {

using testing::noise;

// The cascade written out once more, straight from the published BS.1770 coefficients: each
// sample widened to double, both sections in double precision, rounded to float at the end.
// Its gain at 997 Hz and its agreement with libebur128 are checked through the analyzer.
std::vector<float> referenceCascade(const std::vector<float>& input) {
    struct Section {
        double b0, b1, b2, a1, a2;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double run(double x) {
            const double y = b0 * x + b1 * x1 + b2 * x2 - a2 * y2 - a1 * y1;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            return y;
        }
    };
    Section shelf{1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241,
                  0.73248077421585};
    Section highPass{1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621};
    std::vector<float> output(input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        output[i] = static_cast<float>(highPass.run(shelf.run(static_cast<double>(input[i]))));
    }
    return output;
}

TEST(KWeightingFilter, EqualsTheDoublePrecisionCascadeHoweverChannelsAndSignalsAreCut) {
    // One to six channels filtered together in pieces of awkward lengths (empty ones too),
    // equal within each pair of neighbours and unequal between pairs, odd channels in place and
    // even ones into a separate output: each comes out exactly as the cascade filters it whole.
    const std::size_t pieces[] = {0, 1, 127, 1024, 4095, 4801, 0, 2000};
    for (std::size_t channelCount = 1; channelCount <= 6; ++channelCount) {
        std::vector<std::vector<float>> inputs;
        for (std::size_t c = 0; c < channelCount; ++c) {
            inputs.push_back(noise(20000, static_cast<unsigned>(10 + c)));
        }
        std::vector<KWeightingFilter> filters(channelCount);
        std::vector<std::vector<float>> outputs = inputs;
        std::vector<std::size_t> done(channelCount, 0);
        for (std::size_t call = 0; call < 16; ++call) {
            std::vector<std::span<const float>> in;
            std::vector<std::span<float>> out;
            for (std::size_t c = 0; c < channelCount; ++c) {
                const std::size_t length =
                    std::min(pieces[(call + c) % std::size(pieces)], inputs[c].size() - done[c]);
                const std::vector<float>& source = c % 2 == 0 ? inputs[c] : outputs[c];
                in.push_back(std::span(source).subspan(done[c], length));
                out.push_back(std::span(outputs[c]).subspan(done[c], length));
                done[c] += length;
            }
            if (channelCount == 1) {
                filters[0].process(in[0], out[0]);
            } else {
                KWeightingFilter::processChannels(filters, in, out);
            }
        }
        for (std::size_t c = 0; c < channelCount; ++c) {
            inputs[c].resize(done[c]);
            outputs[c].resize(done[c]);
            EXPECT_EQ(outputs[c], referenceCascade(inputs[c]))
                << channelCount << " channels, " << c;
        }
    }
}

}  // namespace
}  // namespace orvinta
