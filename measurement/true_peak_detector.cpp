#include "measurement/true_peak_detector.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVINTA_TRUE_PEAK_X86 1
#endif

namespace orvinta {

namespace {

// Positions in the coefficient tables, computed in int (the tables hold a few dozen values).
constexpr std::size_t tableIndex(int position) {
    return static_cast<std::size_t>(position);
}

constexpr double kPi = 3.141592653589793;
constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();

// Largest |sample|. Without the sign bit a float's bits order like its magnitude, and an integer
// maximum vectorises; a not-a-number sample reads larger than any number, infinity included.
double largestMagnitude(std::span<const float> samples) {
    std::uint32_t largest = 0;
    for (const float sample : samples) {
        largest = std::max(largest, std::bit_cast<std::uint32_t>(sample) & 0x7fffffffu);
    }
    return static_cast<double>(std::bit_cast<float>(largest));
}

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

// Largest |acc| of the outputs [begin, end), one at a time; for the few outputs that do not fill
// a vector.
double peakOfOutputsScalar(const double* history, std::size_t begin, std::size_t end,
                           const double* branches, int branchCount, int taps) {
    double peak = 0.0;
    for (std::size_t i = begin; i < end; ++i) {
        for (int p = 0; p < branchCount; ++p) {
            const double* coefficients = branches + static_cast<std::size_t>(p) * taps;
            double acc = 0.0;
            for (int j = 0; j < taps; ++j) {
                acc += coefficients[j] * history[i + j];
            }
            if (std::abs(acc) > peak) {
                peak = std::abs(acc);
            }
        }
    }
    return peak;
}

#if ORVINTA_TRUE_PEAK_X86
// Four mirrored branches (branch 3 is branch 0 reversed, branch 2 is branch 1 reversed), an even
// number of taps. For a mirrored pair with outputs u and v:
//   (u + v) / 2 = sum_j a_j (x_j + x_(T-1-j)),  (u - v) / 2 = sum_j b_j (x_j - x_(T-1-j))
// over the first T/2 taps, with a_j, b_j the half sum and half difference of mirrored taps, and
// max(|u|, |v|) = |(u + v) / 2| + |(u - v) / 2|. That halves the multiply-adds; the sums and
// differences of the input are shared by both pairs. Eight output samples per step, four per
// vector, eight independent accumulators.
__attribute__((target("avx2,fma"))) double peakOfChunkMirroredAvx2(const double* history,
                                                                   std::size_t count,
                                                                   const double* pairs,
                                                                   const double* branches,
                                                                   int taps) {
    const std::size_t half = static_cast<std::size_t>(taps / 2);
    const double* evenA = pairs;
    const double* oddA = pairs + half;
    const double* evenB = pairs + 2 * half;
    const double* oddB = pairs + 3 * half;
    const __m256d signMask = _mm256_set1_pd(-0.0);
    __m256d peak = _mm256_setzero_pd();
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256d sumA0 = _mm256_setzero_pd(), sumA1 = _mm256_setzero_pd();
        __m256d diffA0 = _mm256_setzero_pd(), diffA1 = _mm256_setzero_pd();
        __m256d sumB0 = _mm256_setzero_pd(), sumB1 = _mm256_setzero_pd();
        __m256d diffB0 = _mm256_setzero_pd(), diffB1 = _mm256_setzero_pd();
        const double* x = history + i;
        for (std::size_t j = 0; j < half; ++j) {
            const std::size_t mirror = static_cast<std::size_t>(taps) - 1 - j;
            const __m256d early0 = _mm256_loadu_pd(x + j);
            const __m256d early1 = _mm256_loadu_pd(x + j + 4);
            const __m256d late0 = _mm256_loadu_pd(x + mirror);
            const __m256d late1 = _mm256_loadu_pd(x + mirror + 4);
            const __m256d plus0 = _mm256_add_pd(early0, late0);
            const __m256d plus1 = _mm256_add_pd(early1, late1);
            const __m256d minus0 = _mm256_sub_pd(early0, late0);
            const __m256d minus1 = _mm256_sub_pd(early1, late1);
            const __m256d ea = _mm256_broadcast_sd(evenA + j);
            const __m256d oa = _mm256_broadcast_sd(oddA + j);
            const __m256d eb = _mm256_broadcast_sd(evenB + j);
            const __m256d ob = _mm256_broadcast_sd(oddB + j);
            sumA0 = _mm256_fmadd_pd(ea, plus0, sumA0);
            sumA1 = _mm256_fmadd_pd(ea, plus1, sumA1);
            diffA0 = _mm256_fmadd_pd(oa, minus0, diffA0);
            diffA1 = _mm256_fmadd_pd(oa, minus1, diffA1);
            sumB0 = _mm256_fmadd_pd(eb, plus0, sumB0);
            sumB1 = _mm256_fmadd_pd(eb, plus1, sumB1);
            diffB0 = _mm256_fmadd_pd(ob, minus0, diffB0);
            diffB1 = _mm256_fmadd_pd(ob, minus1, diffB1);
        }
        const auto magnitude = [signMask](__m256d sum, __m256d diff)
            __attribute__((target("avx2,fma"))) {
            return _mm256_add_pd(_mm256_andnot_pd(signMask, sum), _mm256_andnot_pd(signMask, diff));
        };
        // max(value, peak) keeps peak when value is NaN, like the scalar comparison.
        peak = _mm256_max_pd(magnitude(sumA0, diffA0), peak);
        peak = _mm256_max_pd(magnitude(sumA1, diffA1), peak);
        peak = _mm256_max_pd(magnitude(sumB0, diffB0), peak);
        peak = _mm256_max_pd(magnitude(sumB1, diffB1), peak);
    }
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, peak);
    const double vectorPeak = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    return std::max(vectorPeak, peakOfOutputsScalar(history, i, count, branches, 4, taps));
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
    : TruePeakDetector(oversampleFactor, tapsPerPhase, defaultKaiserBeta) {}

TruePeakDetector::TruePeakDetector(int oversampleFactor, int tapsPerPhase, double kaiserBeta)
    : oversampleFactor_(oversampleFactor),
      tapsPerPhase_(tapsPerPhase),
      currentPeakDBTP_(kNegativeInfinity),
      maxPeakDBTP_(kNegativeInfinity) {
    if (oversampleFactor < 1 || tapsPerPhase < 1) {
        throw std::invalid_argument("TruePeakDetector: factor and taps per phase must be >= 1");
    }
    if (!(kaiserBeta >= 0.0)) {
        throw std::invalid_argument("TruePeakDetector: the Kaiser beta must be >= 0");
    }
    const int factor = oversampleFactor;
    const int taps = tapsPerPhase;
    const int length = factor * taps;
    const double centre = (length - 1) / 2.0;
    const double halfBeta = kaiserBeta / 2.0;
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
        double branchGain = 0.0;
        for (int k = 0; k < taps; ++k) {
            const int source = p + k * factor;
            const double value =
                source < length ? prototype[static_cast<std::size_t>(source)] : 0.0;
            polyphaseFlat_[tableIndex(p * taps + k)] = value;
            reversedBranches_[tableIndex(p * taps + (taps - 1 - k))] = value;
            branchGain += std::abs(value);
        }
        largestBranchGain_ = std::max(largestBranchGain_, branchGain);
    }

    // The prototype is symmetric, so branch L - 1 - p holds the taps of branch p in reverse order;
    // the vectorised path for four branches relies on that, so it is checked, not assumed.
    bool mirrored = factor == 4 && taps % 2 == 0;
    for (int p = 0; mirrored && p < factor; ++p) {
        for (int k = 0; k < taps; ++k) {
            if (polyphaseFlat_[tableIndex((factor - 1 - p) * taps + k)] !=
                polyphaseFlat_[static_cast<std::size_t>(p * taps + taps - 1 - k)]) {
                mirrored = false;
                break;
            }
        }
    }
    if (mirrored) {
        // Half sums and half differences of mirrored taps of branches 0 and 1, in time order.
        const int half = taps / 2;
        mirroredPairs_.resize(tableIndex(4 * half));
        for (int pair = 0; pair < 2; ++pair) {
            const double* branch = reversedBranches_.data() + static_cast<std::size_t>(pair) * taps;
            for (int j = 0; j < half; ++j) {
                const double early = branch[j];
                const double late = branch[taps - 1 - j];
                mirroredPairs_[tableIndex((2 * pair) * half + j)] = (early + late) / 2.0;
                mirroredPairs_[tableIndex((2 * pair + 1) * half + j)] = (early - late) / 2.0;
            }
        }
    }

    history_.assign(tableIndex(taps - 1 + kChunkSamples), 0.0);
    scratch_.assign(static_cast<std::size_t>(kChunkSamples), 0.0);
}

void TruePeakDetector::process(std::span<const float> samples) {
    if (samples.empty()) {
        return;
    }
    double peak = 0.0;
    while (!samples.empty()) {
        const std::size_t count = std::min(samples.size(), static_cast<std::size_t>(kChunkSamples));
        // -1 never skips: every point counts towards the buffer's own peak.
        peak = std::max(peak, processChunk(samples.first(count), -1.0));
        samples = samples.subspan(count);
    }
    currentPeakDBTP_ = peak > 0.0 ? 20.0 * std::log10(peak) : kNegativeInfinity;
    if (peak > maxPeakLinear_) {
        maxPeakLinear_ = peak;
        maxPeakDBTP_ = currentPeakDBTP_;
    }
}

void TruePeakDetector::processForMaximum(std::span<const float> samples) {
    double peak = 0.0;
    while (!samples.empty()) {
        const std::size_t count = std::min(samples.size(), static_cast<std::size_t>(kChunkSamples));
        peak = std::max(peak, processChunk(samples.first(count), std::max(peak, maxPeakLinear_)));
        samples = samples.subspan(count);
    }
    if (peak > maxPeakLinear_) {
        maxPeakLinear_ = peak;
        maxPeakDBTP_ = 20.0 * std::log10(peak);
    }
}

void TruePeakDetector::resetMaxPeak() {
    maxPeakDBTP_ = kNegativeInfinity;
    maxPeakLinear_ = 0.0;
}

double TruePeakDetector::processChunk(std::span<const float> samples, double skipAtOrBelow) {
    const std::size_t kept = static_cast<std::size_t>(tapsPerPhase_ - 1);
    const std::size_t count = samples.size();
    double* buffer = history_.data();
    if (skipAtOrBelow < 0.0) {
        std::copy(samples.begin(), samples.end(), buffer + kept);
        const double peak = peakOfPoints(buffer, count);
        // The newest taps - 1 samples become the prefix of the next chunk.
        std::memmove(buffer, buffer + count, kept * sizeof(double));
        return peak;
    }

    // Stretch by stretch: the points [begin, end) read buffer[begin, end + kept), the prefix
    // and then samples [first, end); only the samples of stretches that are interpolated are
    // widened into the buffer. The margin covers the rounding of the sums, which may land a
    // hair above the bound.
    double peak = 0.0;
    for (std::size_t begin = 0; begin < count; begin += kSkipStretch) {
        const std::size_t end = std::min(count, begin + kSkipStretch);
        const std::size_t first = std::max(begin, kept) - kept;
        double largest = largestMagnitude(samples.subspan(first, end - first));
        for (std::size_t j = begin; j < kept; ++j) {
            largest = std::max(largest, std::abs(buffer[j]));
        }
        // Written so that a not-a-number bound interpolates the stretch.
        if (!(largest * largestBranchGain_ * (1.0 + 1e-9) <= std::max(skipAtOrBelow, peak))) {
            std::copy(samples.begin() + static_cast<std::ptrdiff_t>(first),
                      samples.begin() + static_cast<std::ptrdiff_t>(end), buffer + kept + first);
            peak = std::max(peak, peakOfPoints(buffer + begin, end - begin));
        }
    }
    // The newest taps - 1 samples of prefix and chunk become the next prefix.
    if (count >= kept) {
        std::copy(samples.end() - static_cast<std::ptrdiff_t>(kept), samples.end(), buffer);
    } else {
        std::memmove(buffer, buffer + count, (kept - count) * sizeof(double));
        std::copy(samples.begin(), samples.end(), buffer + (kept - count));
    }
    return peak;
}

double TruePeakDetector::peakOfPoints(const double* history, std::size_t count) {
#if ORVINTA_TRUE_PEAK_X86
    if (!mirroredPairs_.empty() && cpuHasAvx2Fma()) {
        return peakOfChunkMirroredAvx2(history, count, mirroredPairs_.data(),
                                       reversedBranches_.data(), tapsPerPhase_);
    }
#endif
    return peakOfChunkGeneric(history, count, reversedBranches_.data(), oversampleFactor_,
                              tapsPerPhase_, scratch_.data());
}

}  // namespace orvinta
