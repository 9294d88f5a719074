#pragma once

#include <cstddef>
#include <span>

namespace orvinta {

// Coefficients of one second-order section, normalised so that a0 = 1:
// y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] - a2 y[n-2] - a1 y[n-1].
struct BiquadCoefficients {
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
};

// One second-order section in direct form I with its state in double precision.
struct BiquadFilter {
    BiquadCoefficients coeffs;
    double x1 = 0.0;  // previous input
    double x2 = 0.0;  // input two samples back
    double y1 = 0.0;  // previous output
    double y2 = 0.0;  // output two samples back

    // Filters one sample. The terms are added strictly left to right, so that every
    // implementation of the cascade (scalar or several channels side by side) rounds alike; the
    // previous output comes last, so that only one multiplication and one subtraction wait for
    // it (the recursion, not the arithmetic, bounds the speed).
    double step(double x) {
        double y = coeffs.b0 * x;
        y = y + coeffs.b1 * x1;
        y = y + coeffs.b2 * x2;
        y = y - coeffs.a2 * y2;
        y = y - coeffs.a1 * y1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// The BS.1770 K-weighting of one channel at 48 kHz: a high shelf of about +4 dB above 2 kHz
// followed by the revised low-frequency B-curve high-pass (RLB). The loudness analyzer owns one
// per channel and filters a private copy of each buffer with it on the engine's processing queue;
// no locking. The state carries over from buffer to buffer and is never cleared.
class KWeightingFilter {
public:
    KWeightingFilter();

    // Replaces every sample by its K-weighted value: each sample is widened to double, runs
    // through both sections in double precision and is rounded to float only at the end.
    void process(std::span<float> samples);

    // The same, writing the K-weighted input to `output` (which may be the input itself);
    // min(input.size(), output.size()) samples are filtered.
    void process(std::span<const float> input, std::span<float> output);

    // Filters several channels, inputs[i] into outputs[i] through filters[i], with results
    // identical to calling filters[i].process(inputs[i], outputs[i]) for each i. Neighbouring
    // channels of equal length run in pairs side by side, so that their independent
    // recursions overlap instead of waiting on one another (each recursion is bound by the
    // latency of its arithmetic). Channels without a filter or an output are left alone.
    static void processChannels(std::span<KWeightingFilter> filters,
                                std::span<const std::span<const float>> inputs,
                                std::span<const std::span<float>> outputs);

    const BiquadFilter& preFilter() const { return stage1; }
    const BiquadFilter& highPass() const { return stage2; }

private:
    // Runs two equally long channels through their filters in one loop, one SIMD lane each.
    static void processPair(KWeightingFilter& first, KWeightingFilter& second, const float* firstIn,
                            const float* secondIn, float* firstOut, float* secondOut,
                            std::size_t frames);

    BiquadFilter stage1;  // high-shelf pre-filter
    BiquadFilter stage2;  // RLB high-pass
};

}  // namespace orvinta
