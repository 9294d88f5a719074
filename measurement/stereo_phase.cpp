#include "measurement/stereo_phase.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

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

// Single-precision sums over eight interleaved partial sums, a shape the compiler vectorises
// without reassociating floating-point additions on its own.
DotProducts dotProducts(const float* left, const float* right, std::size_t count) {
    constexpr std::size_t kLanes = 8;
    float lr[kLanes] = {};
    float ll[kLanes] = {};
    float rr[kLanes] = {};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            const float l = left[i + lane];
            const float r = right[i + lane];
            lr[lane] += l * r;
            ll[lane] += l * l;
            rr[lane] += r * r;
        }
    }
    DotProducts sums;
    for (; i < count; ++i) {
        sums.leftRight += left[i] * right[i];
        sums.leftLeft += left[i] * left[i];
        sums.rightRight += right[i] * right[i];
    }
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        sums.leftRight += lr[lane];
        sums.leftLeft += ll[lane];
        sums.rightRight += rr[lane];
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
