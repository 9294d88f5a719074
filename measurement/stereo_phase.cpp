#include "measurement/stereo_phase.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace orvinta {

namespace {

// 1/sqrt(2) rounded to single precision.
constexpr float kInverseSqrt2 = 0.70710677f;
constexpr float kSilenceDenominator = 1e-9f;

struct DotProducts {
    float leftRight = 0.0f;
    float leftLeft = 0.0f;
    float rightRight = 0.0f;
};

// Eight-lane float vectors (GCC/Clang vector extension); two sets of accumulators keep the adders
// busy. Built for AVX2 where the processor has it, with a portable fallback.
using FloatLanes = float __attribute__((vector_size(32)));
constexpr std::size_t kLaneCount = 8;

#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__)  // TSan cannot run an ifunc resolver
#define ORVINTA_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ORVINTA_AVX2_CLONES
#endif

ORVINTA_AVX2_CLONES DotProducts dotProducts(const float* left, const float* right,
                                            std::size_t count) {
    FloatLanes lr0{}, ll0{}, rr0{}, lr1{}, ll1{}, rr1{};
    std::size_t i = 0;
    for (; i + 2 * kLaneCount <= count; i += 2 * kLaneCount) {
        FloatLanes l0, r0, l1, r1;
        std::memcpy(&l0, left + i, sizeof(FloatLanes));
        std::memcpy(&r0, right + i, sizeof(FloatLanes));
        std::memcpy(&l1, left + i + kLaneCount, sizeof(FloatLanes));
        std::memcpy(&r1, right + i + kLaneCount, sizeof(FloatLanes));
        lr0 += l0 * r0;
        ll0 += l0 * l0;
        rr0 += r0 * r0;
        lr1 += l1 * r1;
        ll1 += l1 * l1;
        rr1 += r1 * r1;
    }
    DotProducts sums;
    for (; i < count; ++i) {
        sums.leftRight += left[i] * right[i];
        sums.leftLeft += left[i] * left[i];
        sums.rightRight += right[i] * right[i];
    }
    lr0 += lr1;
    ll0 += ll1;
    rr0 += rr1;
    for (std::size_t lane = 0; lane < kLaneCount; ++lane) {
        sums.leftRight += lr0[lane];
        sums.leftLeft += ll0[lane];
        sums.rightRight += rr0[lane];
    }
    return sums;
}

}  // namespace

std::optional<double> computePhaseCorrelation(std::span<const float> left,
                                              std::span<const float> right) {
    if (left.empty() || left.size() != right.size()) {
        return std::nullopt;
    }
    const DotProducts sums = dotProducts(left.data(), right.data(), left.size());
    const float denominator = std::sqrt(sums.leftLeft * sums.rightRight);
    // Silence, or one silent channel, counts as fully correlated; so does a not-a-number
    // denominator, which the comparison below lets through.
    if (!(denominator > kSilenceDenominator)) {
        return 1.0;
    }
    const float correlation = sums.leftRight / denominator;
    if (std::isnan(correlation)) {
        return 1.0;
    }
    return static_cast<double>(std::clamp(correlation, -1.0f, 1.0f));
}

std::vector<GoniometerPoint> makeGoniometerPoints(std::span<const float> left,
                                                  std::span<const float> right) {
    std::vector<GoniometerPoint> points;
    if (left.empty() || left.size() != right.size()) {
        return points;
    }
    constexpr auto kStep = static_cast<std::size_t>(kGoniometerDecimation);
    points.reserve((left.size() + kStep - 1) / kStep);
    for (std::size_t i = 0; i < left.size(); i += kStep) {
        const float l = left[i];
        const float r = right[i];
        points.push_back({(r - l) * kInverseSqrt2, (l + r) * kInverseSqrt2});
    }
    return points;
}

}  // namespace orvinta
