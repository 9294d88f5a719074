#include "measurement/k_weighting_filter.h"

#include <algorithm>
#include <cstddef>

namespace orvinta {

namespace {

// Published BS.1770 coefficients for 48 kHz.
constexpr BiquadCoefficients kPreFilterCoefficients{
    1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241, 0.73248077421585};
constexpr BiquadCoefficients kHighPassCoefficients{1.0, -2.0, 1.0, -1.99004745483398,
                                                   0.99007225036621};

// Two doubles in one SSE2 register (GCC and Clang vector extension). Element-wise arithmetic
// on them rounds exactly like the scalar code, lane by lane.
using Double2 = double __attribute__((vector_size(2 * sizeof(double))));

// One section's coefficients and state for two channels, one lane each.
struct SectionPair {
    Double2 b0, b1, b2, a1, a2;
    Double2 x1, x2, y1, y2;

    SectionPair(const BiquadFilter& first, const BiquadFilter& second)
        : b0{first.coeffs.b0, second.coeffs.b0},
          b1{first.coeffs.b1, second.coeffs.b1},
          b2{first.coeffs.b2, second.coeffs.b2},
          a1{first.coeffs.a1, second.coeffs.a1},
          a2{first.coeffs.a2, second.coeffs.a2},
          x1{first.x1, second.x1},
          x2{first.x2, second.x2},
          y1{first.y1, second.y1},
          y2{first.y2, second.y2} {}

    void store(BiquadFilter& first, BiquadFilter& second) const {
        first.x1 = x1[0];
        first.x2 = x2[0];
        first.y1 = y1[0];
        first.y2 = y2[0];
        second.x1 = x1[1];
        second.x2 = x2[1];
        second.y1 = y1[1];
        second.y2 = y2[1];
    }

    // The same operations in the same order as BiquadFilter::step, on both lanes at once.
    // The sample is passed by reference to keep the vector out of the calling convention.
    void step(Double2& sample) {
        const Double2 x = sample;
        Double2 y = b0 * x;
        y = y + b1 * x1;
        y = y + b2 * x2;
        y = y - a2 * y2;
        y = y - a1 * y1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        sample = y;
    }
};

}  // namespace

KWeightingFilter::KWeightingFilter() {
    stage1.coeffs = kPreFilterCoefficients;
    stage2.coeffs = kHighPassCoefficients;
}

void KWeightingFilter::process(std::span<float> samples) {
    process(samples, samples);
}

void KWeightingFilter::process(std::span<const float> input, std::span<float> output) {
    // Local copies let the compiler keep the state in registers across the loop.
    BiquadFilter s1 = stage1;
    BiquadFilter s2 = stage2;
    const float* const in = input.data();
    float* const out = output.data();
    const std::size_t frames = std::min(input.size(), output.size());
    for (std::size_t i = 0; i < frames; ++i) {
        const double x = static_cast<double>(in[i]);
        out[i] = static_cast<float>(s2.step(s1.step(x)));
    }
    stage1 = s1;
    stage2 = s2;
}

void KWeightingFilter::processPair(KWeightingFilter& first, KWeightingFilter& second,
                                   const float* firstIn, const float* secondIn, float* firstOut,
                                   float* secondOut, std::size_t frames) {
    SectionPair s1(first.stage1, second.stage1);
    SectionPair s2(first.stage2, second.stage2);
    for (std::size_t i = 0; i < frames; ++i) {
        Double2 x{static_cast<double>(firstIn[i]), static_cast<double>(secondIn[i])};
        s1.step(x);
        s2.step(x);
        firstOut[i] = static_cast<float>(x[0]);
        secondOut[i] = static_cast<float>(x[1]);
    }
    s1.store(first.stage1, second.stage1);
    s2.store(first.stage2, second.stage2);
}

void KWeightingFilter::processChannels(std::span<KWeightingFilter> filters,
                                       std::span<const std::span<const float>> inputs,
                                       std::span<const std::span<float>> outputs) {
    const std::size_t count = std::min({filters.size(), inputs.size(), outputs.size()});
    const auto frames = [&](std::size_t c) {
        return std::min(inputs[c].size(), outputs[c].size());
    };
    std::size_t c = 0;
    while (c < count) {
        if (c + 1 < count && frames(c) == frames(c + 1)) {
            processPair(filters[c], filters[c + 1], inputs[c].data(), inputs[c + 1].data(),
                        outputs[c].data(), outputs[c + 1].data(), frames(c));
            c += 2;
        } else {
            filters[c].process(inputs[c], outputs[c]);
            ++c;
        }
    }
}

}  // namespace orvinta
