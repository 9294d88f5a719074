#include "measurement/true_peak_detector.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <stdexcept>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVINTA_TRUE_PEAK_X86 1
#endif

namespace orvinta {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kKaiserBeta = 8.6;
constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();

// Largest |acc| over every interpolated point of one chunk, any number of branches.
// history holds taps - 1 earlier samples followed by count new ones; branches holds each branch's
// coefficients oldest tap first. scratch has room for count values.
double peakOfChunkGeneric(const double* history, std::size_t count, const double* branches,
                          int branchCount, int taps, double* scratch) {
    double peak = 0.0;
    for (int p = 0; p < branchCount; ++p) {
        const double* coefficients = branches + static_cast<std::size_t>(p) * taps;
        std::fill(scratch, scratch + count, 0.0);
        for (int j = 0; j < taps; ++j) {
            const double c = coefficients[j];
            const double* x = history + j;
            for (std::size_t i = 0; i < count; ++i) {
                scratch[i] += c * x[i];
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            // A comparison that is false for NaN: a not-a-number point never becomes the peak.
            if (std::abs(scratch[i]) > peak) {
                peak = std::abs(scratch[i]);
            }
        }
    }
    return peak;
}

#if ORVINTA_TRUE_PEAK_X86
// Four branches, eight output samples per step: each of the eight accumulators holds four
// consecutive output samples of one branch, so the twelve-tap sums run in parallel lanes.
__attribute__((target("avx2,fma"))) double peakOfChunkFourBranchesAvx2(const double* history,
                                                                       std::size_t count,
                                                                       const double* branches,
                                                                       int taps) {
    const __m256d signMask = _mm256_set1_pd(-0.0);
    __m256d peak = _mm256_setzero_pd();
    const double* b0 = branches;
    const double* b1 = branches + taps;
    const double* b2 = branches + 2 * static_cast<std::size_t>(taps);
    const double* b3 = branches + 3 * static_cast<std::size_t>(taps);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256d a0 = _mm256_setzero_pd(), a1 = _mm256_setzero_pd();
        __m256d a2 = _mm256_setzero_pd(), a3 = _mm256_setzero_pd();
        __m256d a4 = _mm256_setzero_pd(), a5 = _mm256_setzero_pd();
        __m256d a6 = _mm256_setzero_pd(), a7 = _mm256_setzero_pd();
        const double* x = history + i;
        for (int j = 0; j < taps; ++j) {
            const __m256d xLow = _mm256_loadu_pd(x + j);
            const __m256d xHigh = _mm256_loadu_pd(x + j + 4);
            const __m256d c0 = _mm256_broadcast_sd(b0 + j);
            const __m256d c1 = _mm256_broadcast_sd(b1 + j);
            const __m256d c2 = _mm256_broadcast_sd(b2 + j);
            const __m256d c3 = _mm256_broadcast_sd(b3 + j);
            a0 = _mm256_fmadd_pd(c0, xLow, a0);
            a1 = _mm256_fmadd_pd(c0, xHigh, a1);
            a2 = _mm256_fmadd_pd(c1, xLow, a2);
            a3 = _mm256_fmadd_pd(c1, xHigh, a3);
            a4 = _mm256_fmadd_pd(c2, xLow, a4);
            a5 = _mm256_fmadd_pd(c2, xHigh, a5);
            a6 = _mm256_fmadd_pd(c3, xLow, a6);
            a7 = _mm256_fmadd_pd(c3, xHigh, a7);
        }
        // max(value, peak) keeps peak when value is NaN, like the scalar comparison.
        peak = _mm256_max_pd(_mm256_andnot_pd(signMask, a0), peak);
        peak = _mm256_max_pd(_mm256_andnot_pd(signMask, a1), peak);
        peak = _mm256_max_pd(_mm256_andnot_pd(signMask, a2), peak);
        peak = _mm256_max_pd(_mm256_andnot_pd(signMask, a3), peak);
        peak = _mm256_max_pd(_mm256_andnot_pd(signMask, a4), peak);
        peak = _mm256_max_pd(_mm256_andnot_pd(signMask, a5), peak);
        peak = _mm256_max_pd(_mm256_andnot_pd(signMask, a6), peak);
        peak = _mm256_max_pd(_mm256_andnot_pd(signMask, a7), peak);
    }
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, peak);
    double result = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    for (; i < count; ++i) {
        const double* x = history + i;
        for (const double* b : {b0, b1, b2, b3}) {
            double acc = 0.0;
            for (int j = 0; j < taps; ++j) {
                acc += b[j] * x[j];
            }
            if (std::abs(acc) > result) {
                result = std::abs(acc);
            }
        }
    }
    return result;
}

bool cpuHasAvx2Fma() {
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return supported;
}
#endif

}  // namespace

double TruePeakDetector::besselI0FromQuarterSquare(double a) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k <= 30; ++k) {
        term = term * a / (static_cast<double>(k) * k);
        sum += term;
        if (term < 1e-14) {
            break;
        }
    }
    return sum;
}

TruePeakDetector::TruePeakDetector(int oversampleFactor, int tapsPerPhase)
    : oversampleFactor_(oversampleFactor),
      tapsPerPhase_(tapsPerPhase),
      currentPeakDBTP_(kNegativeInfinity),
      maxPeakDBTP_(kNegativeInfinity) {
    if (oversampleFactor < 1 || tapsPerPhase < 1) {
        throw std::invalid_argument("TruePeakDetector: factor and taps per phase must be >= 1");
    }
    const int factor = oversampleFactor;
    const int taps = tapsPerPhase;
    const int length = factor * taps;
    const double centre = (length - 1) / 2.0;
    const double halfBeta = kKaiserBeta / 2.0;
    const double normaliser = besselI0FromQuarterSquare(halfBeta * halfBeta);

    // Kaiser-windowed sinc with its zeros every `factor` taps: the cut-off sits at half the input
    // sample rate.
    std::vector<double> prototype(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
        const double t = i - centre;
        const double u = t / factor;
        const double sinc = std::abs(u) < 1e-9 ? 1.0 : std::sin(kPi * u) / (kPi * u);
        const double r = centre == 0.0 ? 0.0 : t / centre;
        const double s = std::sqrt(std::max(1.0 - r * r, 0.0));
        const double windowArgument = halfBeta * s;
        const double window =
            besselI0FromQuarterSquare(windowArgument * windowArgument) / normaliser;
        prototype[static_cast<std::size_t>(i)] = sinc * window;
    }

    polyphaseFlat_.resize(static_cast<std::size_t>(length));
    reversedBranches_.resize(static_cast<std::size_t>(length));
    for (int p = 0; p < factor; ++p) {
        for (int k = 0; k < taps; ++k) {
            const int source = p + k * factor;
            const double value =
                source < length ? prototype[static_cast<std::size_t>(source)] : 0.0;
            polyphaseFlat_[static_cast<std::size_t>(p * taps + k)] = value;
            reversedBranches_[static_cast<std::size_t>(p * taps + (taps - 1 - k))] = value;
        }
    }

    history_.assign(static_cast<std::size_t>(taps - 1 + kChunkSamples), 0.0);
    scratch_.assign(static_cast<std::size_t>(kChunkSamples), 0.0);
}

void TruePeakDetector::process(std::span<const float> samples) {
    if (samples.empty()) {
        return;
    }
    double peak = 0.0;
    while (!samples.empty()) {
        const std::size_t count = std::min(samples.size(), static_cast<std::size_t>(kChunkSamples));
        peak = std::max(peak, processChunk(samples.first(count)));
        samples = samples.subspan(count);
    }
    currentPeakDBTP_ = peak > 0.0 ? 20.0 * std::log10(peak) : kNegativeInfinity;
    if (currentPeakDBTP_ > maxPeakDBTP_) {
        maxPeakDBTP_ = currentPeakDBTP_;
    }
}

void TruePeakDetector::resetMaxPeak() {
    maxPeakDBTP_ = kNegativeInfinity;
}

double TruePeakDetector::processChunk(std::span<const float> samples) {
    const std::size_t kept = static_cast<std::size_t>(tapsPerPhase_ - 1);
    const std::size_t count = samples.size();
    double* buffer = history_.data();
    std::copy(samples.begin(), samples.end(), buffer + kept);

    double peak = 0.0;
#if ORVINTA_TRUE_PEAK_X86
    if (oversampleFactor_ == 4 && cpuHasAvx2Fma()) {
        peak = peakOfChunkFourBranchesAvx2(buffer, count, reversedBranches_.data(), tapsPerPhase_);
    } else
#endif
    {
        peak = peakOfChunkGeneric(buffer, count, reversedBranches_.data(), oversampleFactor_,
                                  tapsPerPhase_, scratch_.data());
    }

    // The newest taps - 1 samples become the prefix of the next chunk.
    std::memmove(buffer, buffer + count, kept * sizeof(double));
    return peak;
}

}  // namespace orvinta
