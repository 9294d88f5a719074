#include "ui/radar_loudness_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "tests/ui/ui_test_support.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::at;
using test::distance;
using test::over;

using test::kInf;
using test::kNaN;

int storedCount(const RadarBuckets& buckets) {
    return static_cast<int>(std::count_if(buckets.begin(), buckets.end(),
                                          [](const auto& bucket) { return bucket.has_value(); }));
}

TEST(RadarFunctions, RecordingOverwritesWithinABucketAndClearsWhenTimeGoesBack) {
    RadarBuckets buckets(180);
    double last = -1.0;
    radarRecord(buckets, last, 0.1, -20.0, -60.0, 60.0);
    radarRecord(buckets, last, 0.2, -18.0, -60.0, 60.0);  // same third of a second
    EXPECT_EQ(buckets[0], -18.0);
    radarRecord(buckets, last, 0.4, -kInf, -60.0, 60.0);  // silence stores the minimum
    EXPECT_EQ(buckets[1], -60.0);
    EXPECT_DOUBLE_EQ(last, 0.4);

    // Less than a second back keeps the trace.
    radarRecord(buckets, last, 30.0, -10.0, -60.0, 60.0);
    radarRecord(buckets, last, 29.2, -11.0, -60.0, 60.0);
    EXPECT_EQ(buckets[0], -18.0);
    EXPECT_EQ(buckets[87], -11.0);

    // More than a second back starts a fresh trace.
    radarRecord(buckets, last, 5.0, -30.0, -60.0, 60.0);
    EXPECT_EQ(storedCount(buckets), 1);
    EXPECT_EQ(buckets[15], -30.0);
}

// The dashboard's radar panel leaves the radar about 285 points square.
constexpr double kSide = 285.0;

class RadarViewTest : public ::testing::Test {
protected:
    RadarViewTest() {
        view.setMinLUFS(-60.0);
        view.setMaxLUFS(0.0);
        view.setCycleSeconds(60.0);
        view.setSize(QSizeF(kSide, kSide));
    }

    QImage render() {
        return test::renderItem(view, QSizeF(kSide, kSide), Theme::windowBackground());
    }
    // The radar drawn now and, with the trace cleared by a new identity, without it.
    std::pair<QImage, QImage> renderWithAndWithoutTrace() {
        QImage with = render();
        view.setIdentity(view.identity() + 1);
        return {with, render()};
    }

    // Fills every bucket once with the given loudness; the sweep ends on the last bucket.
    void fillTurn(double lufs) {
        view.setMomentaryLUFS(lufs);
        for (int k = 0; k < 180; ++k) {
            view.setElapsedSeconds(k / 3.0 + 0.1);
        }
    }

    // Point at a fraction of the dial radius in the middle of bucket k's wedge.
    static QPointF inBucket(int k, double fraction) {
        const double angle = (k + 0.5) * 2.0 - 90.0;
        return radarPoint(QPointF(kSide / 2, kSide / 2), fraction * R, angle);
    }

    static constexpr double R = kSide / 2.0 * 0.88;
    RadarLoudnessView view;
};

TEST_F(RadarViewTest, FreshRadarDrawsNoWedgeAndTheSweepAtTwelveOClock) {
    const QImage image = render();
    EXPECT_EQ(
        test::countPixels(
            image, [](const QColor& c) { return distance(c, Theme::segmentBlueGreen()) < 40; }),
        0);
    // The sweep lies over the twelve o'clock spoke; three o'clock has the spoke alone.
    const QColor twelve = at(image, kSide / 2, kSide / 2 - 0.7 * R);
    const QColor three = at(image, kSide / 2 + 0.7 * R, kSide / 2);
    EXPECT_GT(twelve.lightness(), three.lightness() + 20);
    // Corners lie outside the rounded frame.
    EXPECT_LE(distance(at(image, 0, 0), Theme::windowBackground()), 1);
    EXPECT_LE(distance(at(image, 20, 2), Theme::canvasBackground()), 1);
}

TEST_F(RadarViewTest, LoudnessAboveTheScaleIsDrawnUpToTheRimAndNoFurther) {
    fillTurn(6.0);
    const auto [full, clean] = renderWithAndWithoutTrace();
    // Bucket 170 is 9 steps old when the sweep stands on 179.
    const double alpha = 0.9 - 0.6 * 9.0 / 179.0;
    const QPointF inside = inBucket(170, 0.95);
    EXPECT_LE(distance(at(full, inside),
                       over(Theme::withAlpha(loudnessRampColor(0.95), alpha), at(clean, inside))),
              6);
    const QPointF outside = inBucket(170, 1.06);
    EXPECT_LE(distance(at(full, outside), at(clean, outside)), 2);
}

TEST_F(RadarViewTest, NewestWedgesAreTheMostOpaqueAndColouredByTheirRadius) {
    // Wide wedges (10 degrees), so that a probe sees one wedge and no antialiased seam.
    view.setBucketCount(36);
    view.setMomentaryLUFS(-3.0);  // 95 % of the radius
    for (int k = 0; k < 36; ++k) {
        view.setElapsedSeconds(k * 60.0 / 36.0 + 0.1);
    }
    const auto [full, clean] = renderWithAndWithoutTrace();
    auto probe = [](int k, double fraction) {
        return radarPoint(QPointF(kSide / 2, kSide / 2), fraction * R, (k + 0.5) * 10.0 - 90.0);
    };
    for (int k : {34, 20, 10, 0}) {
        const double alpha = 0.9 - 0.6 * (35 - k) / 35.0;
        for (double fraction : {0.3, 0.86}) {
            const QPointF p = probe(k, fraction);
            const QColor expected =
                over(Theme::withAlpha(loudnessRampColor(fraction), alpha), at(clean, p));
            EXPECT_LE(distance(at(full, p), expected), 4) << "bucket " << k << " at " << fraction;
        }
    }
    // Beyond the stored loudness the dial shows through.
    const QPointF beyond = probe(20, 0.97);
    EXPECT_LE(distance(at(full, beyond), at(clean, beyond)), 2);
}

int yellowOnCircle(const QImage& image, double radius) {
    int yellow = 0;
    for (int degree = 0; degree < 360; ++degree) {
        const QPointF p = radarPoint(QPointF(kSide / 2, kSide / 2), radius, degree);
        yellow += distance(at(image, p.x(), p.y()), Theme::yellow()) < 70;
    }
    return yellow;
}

TEST_F(RadarViewTest, TargetIsADashedYellowRingAtItsPlaceOnTheScale) {
    view.setTargetLUFS(-12.0);
    const QImage image = render();
    const int onRing = yellowOnCircle(image, 0.8 * R);
    // Dashes of 8 on and 5 off cover about 60 % of the circle.
    EXPECT_GT(onRing, 150);
    EXPECT_LT(onRing, 300);
    EXPECT_EQ(yellowOnCircle(image, 0.75 * R), 0);

    view.setTargetLUFS(QVariant());
    EXPECT_EQ(yellowOnCircle(render(), 0.8 * R), 0);

    // A target below the scale shrinks the ring to the centre.
    view.setTargetLUFS(-70.0);
    EXPECT_EQ(yellowOnCircle(render(), 0.8 * R), 0);
}

TEST_F(RadarViewTest, CycleChangesKeepTheTraceWhileBucketCountChangesClearIt) {
    fillTurn(-20.0);
    view.setCycleSeconds(15.0);
    EXPECT_EQ(storedCount(view.buckets()), 180);
    view.setCycleSeconds(60.0);
    view.setBucketCount(90);
    EXPECT_EQ(view.buckets().size(), 90u);
    EXPECT_EQ(storedCount(view.buckets()), 0);
    view.setElapsedSeconds(59.9);  // the last of 90 buckets
    EXPECT_EQ(view.buckets().back(), -20.0);
    view.setBucketCount(0);
    view.setElapsedSeconds(1.0);
    EXPECT_TRUE(view.buckets().empty());
    render();  // draws the dial and the sweep without a trace
    // An absurd count is held to a tenth of a degree per bucket instead of taking gigabytes.
    view.setBucketCount(1'000'000'000);
    EXPECT_EQ(view.buckets().size(), std::size_t(kMaxRadarBucketCount));
    view.setElapsedSeconds(2.0);
    render();
}

}  // namespace
}  // namespace orvinta
