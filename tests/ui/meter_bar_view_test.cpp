#include "ui/meter_bar_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/ui/meter_test_support.h"
#include "ui/peak_hold.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::at;
using test::distance;
using test::ManualClock;
using test::over;
using test::renderOver;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The meter column of the dashboard is 160 points wide with a 14-point inset.
const QSizeF kDashboardSize(132.0, 520.0);

// Segment i's centre, worked out from the bar's frame: 3 points inset, 2 points between
// segments, 44 equal segments stacked upwards from the bottom.
QPointF segmentCentre(const QRectF& bar, int i, int count = 44) {
    const double inner = bar.height() - 6.0;
    const double h = (inner - 2.0 * (count - 1)) / count;
    const double bottom = bar.bottom() - 3.0 - i * (h + 2.0);
    return {bar.center().x(), bottom - h / 2.0};
}

QColor unlitOverBar() {
    const QColor bar = over(Theme::withAlpha(Theme::black(), 0.25), Theme::windowBackground());
    return over(Theme::whiteAlpha(0.06), bar);
}

TEST(MeterBarFunctions, FillFractionTreatsSilenceAndNaNAsEmptyAndClampsAtTheTop) {
    EXPECT_DOUBLE_EQ(meterFillFraction(-30.0, -60.0, 0.0), 0.5);
    EXPECT_DOUBLE_EQ(meterFillFraction(-kInf, -60.0, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(meterFillFraction(kNaN, -60.0, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(meterFillFraction(-70.0, -60.0, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(meterFillFraction(6.0, -60.0, 0.0), 1.0);
    // An empty scale: above it everything is lit, at or below it nothing.
    EXPECT_DOUBLE_EQ(meterFillFraction(-19.0, -20.0, -20.0), 1.0);
    EXPECT_DOUBLE_EQ(meterFillFraction(-20.0, -20.0, -20.0), 0.0);
    EXPECT_DOUBLE_EQ(meterFillFraction(-21.0, -20.0, -20.0), 0.0);
}

TEST(MeterBarFunctions, LitSegmentsAreTheWholeSegmentsBelowTheFraction) {
    EXPECT_EQ(litSegmentCount(0.5, 44), 22);
    EXPECT_EQ(litSegmentCount(0.9999, 44), 43);
    EXPECT_EQ(litSegmentCount(1.0, 44), 44);
    EXPECT_EQ(litSegmentCount(0.0, 44), 0);
    EXPECT_EQ(litSegmentCount(0.5, 0), 0);
}

TEST(MeterBarFunctions, FortyFourSegmentsFallIntoFourColourBands) {
    std::vector<QColor> colours;
    for (int i = 0; i < 44; ++i) {
        colours.push_back(meterSegmentColor(i, 44));
    }
    for (int i = 0; i <= 27; ++i) {
        EXPECT_EQ(colours[i], QColor::fromRgbF(0.00f, 0.70f, 0.82f)) << i;
    }
    for (int i = 28; i <= 34; ++i) {
        EXPECT_EQ(colours[i], QColor::fromRgbF(0.28f, 0.76f, 0.05f)) << i;
    }
    for (int i = 35; i <= 39; ++i) {
        EXPECT_EQ(colours[i], QColor::fromRgbF(0.98f, 0.82f, 0.10f)) << i;
    }
    for (int i = 40; i <= 43; ++i) {
        EXPECT_EQ(colours[i], QColor::fromRgbF(0.95f, 0.20f, 0.16f)) << i;
    }
    // A one-segment bar has no position to divide by and stays blue-green.
    EXPECT_EQ(meterSegmentColor(0, 1), Theme::segmentBlueGreen());
}

TEST(MeterBarFunctions, ScaleStepIsTheFirstRoundStepOfATenthOfTheRange) {
    EXPECT_DOUBLE_EQ(meterScaleStep(-60.0, 0.0), 10.0);
    EXPECT_DOUBLE_EQ(meterScaleStep(-43.0, 1.0), 5.0);  // target -23 with a range of 5 LU
    EXPECT_DOUBLE_EQ(meterScaleStep(-2.0, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(meterScaleStep(-240.0, 0.0), 25.0);
    EXPECT_DOUBLE_EQ(meterScaleStep(-1000.0, 0.0), 50.0);
    EXPECT_DOUBLE_EQ(meterScaleStep(-20.0, -20.0), 12.0);
    EXPECT_DOUBLE_EQ(meterScaleStep(0.0, -60.0), 12.0);
}

TEST(MeterBarFunctions, ScaleTicksRunDownFromTheTopInWholeSteps) {
    EXPECT_EQ(meterScaleTicks(-60.0, 0.0), (std::vector<double>{0, -10, -20, -30, -40, -50, -60}));
    EXPECT_EQ(meterScaleTicks(-43.0, 1.0),
              (std::vector<double>{0, -5, -10, -15, -20, -25, -30, -35, -40}));
    EXPECT_EQ(meterScaleTicks(-36.0, -14.0),
              (std::vector<double>{-15, -18, -21, -24, -27, -30, -33, -36}));
    EXPECT_TRUE(meterScaleTicks(-kInf, 0.0).empty());
    EXPECT_TRUE(meterScaleTicks(-60.0, kNaN).empty());
    EXPECT_LE(meterScaleTicks(-1e9, 0.0).size(), 1000u);
}

TEST(PeakHold, FollowsTheValueUpAtOnceAndIgnoresSilence) {
    PeakHold peak;
    EXPECT_FALSE(peak.raise(-kInf, 1.0));
    EXPECT_FALSE(peak.raise(kNaN, 1.0));
    EXPECT_EQ(peak.peakValue(), -kInf);
    EXPECT_TRUE(peak.raise(-20.0, 1.0));
    EXPECT_FALSE(peak.raise(-25.0, 2.0));
    EXPECT_DOUBLE_EQ(peak.peakValue(), -20.0);
    EXPECT_DOUBLE_EQ(peak.peakTimestamp(), 1.0);
    // An equal value restarts the hold.
    EXPECT_TRUE(peak.raise(-20.0, 3.0));
    EXPECT_DOUBLE_EQ(peak.peakTimestamp(), 3.0);
}

TEST(PeakHold, FallsOneStepPerTickOnlyAfterTheHoldAndStopsBelowTheScale) {
    PeakHold peak;
    peak.raise(-57.5, 10.0);
    EXPECT_FALSE(peak.decay(10.6, -60.0, 0.6, 1.0));  // exactly the hold time: still held
    EXPECT_TRUE(peak.decay(10.65, -60.0, 0.6, 1.0));
    EXPECT_DOUBLE_EQ(peak.peakValue(), -58.5);
    EXPECT_TRUE(peak.decay(10.7, -60.0, 0.6, 1.0));
    EXPECT_DOUBLE_EQ(peak.peakValue(), -59.5);
    // The last step is limited to minValue - 1, and from there on nothing moves.
    EXPECT_TRUE(peak.decay(10.75, -60.0, 0.6, 5.0));
    EXPECT_DOUBLE_EQ(peak.peakValue(), -61.0);
    EXPECT_FALSE(peak.decay(10.8, -60.0, 0.6, 1.0));
    EXPECT_FALSE(peakFraction(peak.peakValue(), -60.0, 0.0).has_value());
}

TEST(PeakHold, ANegativeDecayRateNeverLiftsThePeak) {
    PeakHold peak;
    peak.raise(-20.0, 0.0);
    EXPECT_FALSE(peak.decay(5.0, -60.0, 0.6, -1.0));
    EXPECT_FALSE(peak.decay(5.0, -60.0, 0.6, kNaN));
    EXPECT_DOUBLE_EQ(peak.peakValue(), -20.0);
}

TEST(PeakHold, PeakFractionIsAbsentAtOrBelowTheBottomAndClampedAtTheTop) {
    EXPECT_FALSE(peakFraction(-kInf, -60.0, 0.0).has_value());
    EXPECT_FALSE(peakFraction(-60.0, -60.0, 0.0).has_value());
    EXPECT_DOUBLE_EQ(*peakFraction(-15.0, -60.0, 0.0), 0.75);
    EXPECT_DOUBLE_EQ(*peakFraction(3.0, -60.0, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(*peakFraction(-19.0, -20.0, -20.0), 1.0);
}

class MeterBarViewTest : public ::testing::Test {
protected:
    MeterBarViewTest() {
        view.setMinValue(-60.0);
        view.setMaxValue(0.0);
        view.setSize(kDashboardSize);
    }

    QImage render() { return renderOver(view, kDashboardSize); }

    ManualClock clock;
    MeterBarView view;
};

TEST_F(MeterBarViewTest, BarStandsBesideItsScaleInTheMiddleOfTheColumn) {
    const QRectF bar = view.barFrame();
    EXPECT_DOUBLE_EQ(bar.width(), 24.0);
    // 30-point scale, 4 points apart, the pair centred in 132 points.
    EXPECT_DOUBLE_EQ(bar.left(), 37.0 + 30.0 + 4.0);
    EXPECT_GT(bar.height(), 450.0);
    EXPECT_GE(bar.top(), 0.0);
    EXPECT_LE(bar.bottom(), kDashboardSize.height());
}

TEST_F(MeterBarViewTest, LightsExactlyTheSegmentsBelowTheValue) {
    view.setValue(-30.0);  // half the scale: segments 0-21 lit
    const QImage image = render();
    const QRectF bar = view.barFrame();
    for (int i = 0; i < 44; ++i) {
        const QColor pixel = at(image, segmentCentre(bar, i).x(), segmentCentre(bar, i).y());
        const QColor expected = i < 22 ? meterSegmentColor(i, 44) : unlitOverBar();
        EXPECT_LE(distance(pixel, expected), 3)
            << "segment " << i << " " << pixel.name().toStdString();
    }
}

TEST_F(MeterBarViewTest, SilenceLightsNothingAndRaisesNoPeak) {
    view.setValue(-kInf);
    const QImage image = render();
    const QRectF bar = view.barFrame();
    for (int i = 0; i < 44; ++i) {
        const QPointF c = segmentCentre(bar, i);
        EXPECT_LE(distance(at(image, c.x(), c.y()), unlitOverBar()), 3) << i;
    }
    EXPECT_EQ(view.peakValue(), -kInf);
}

TEST_F(MeterBarViewTest, ValueAboveTheScaleLightsEverySegmentAndPinsThePeakLineAtTheTop) {
    view.setShowTargetLine(false);
    view.setValue(4.0);
    const QImage image = render();
    const QRectF bar = view.barFrame();
    for (int i = 0; i < 44; ++i) {
        const QPointF c = segmentCentre(bar, i);
        EXPECT_LE(distance(at(image, c.x(), c.y()), meterSegmentColor(i, 44)), 3) << i;
    }
    // The 2-point peak line sits on the bar's top edge, white at 0.85.
    const QColor line = at(image, bar.center().x(), bar.top() - 1.0);
    EXPECT_LE(distance(line, over(Theme::whiteAlpha(0.85), Theme::windowBackground())), 4)
        << line.name().toStdString();
}

TEST_F(MeterBarViewTest, DrawsTheTargetLineInYellowAtTheTargetsLevel) {
    view.setValue(-50.0);
    view.setTargetValue(-12.0);  // 80 % of the scale
    const QImage image = render();
    const QRectF bar = view.barFrame();
    const double bottomEdge = bar.bottom() - 0.8 * bar.height();
    EXPECT_LE(distance(at(image, bar.center().x(), bottomEdge - 1.5), Theme::yellow()), 4);
    // Ten points away the bar is plain again.
    const QColor below = at(image, bar.center().x(), bottomEdge + 10.0);
    EXPECT_GT(distance(below, Theme::yellow()), 100);

    view.setTargetValue(QVariant());
    const QImage without = render();
    EXPECT_GT(distance(at(without, bar.center().x(), bottomEdge - 1.5), Theme::yellow()), 100);
}

TEST_F(MeterBarViewTest, HeldPeakStaysForTheHoldTimeThenFallsOneUnitPerTick) {
    view.setValue(-10.0);
    view.setValue(-40.0);
    EXPECT_DOUBLE_EQ(view.peakValue(), -10.0);

    clock.advance(0.55);
    view.peakTick();
    EXPECT_DOUBLE_EQ(view.peakValue(), -10.0);

    const QRectF bar = view.barFrame();
    const QImage held = render();
    const double lineY = bar.bottom() - (50.0 / 60.0) * bar.height() - 1.0;
    EXPECT_LE(distance(at(held, bar.center().x(), lineY),
                       over(Theme::whiteAlpha(0.85), over(Theme::withAlpha(Theme::black(), 0.25),
                                                          Theme::windowBackground()))),
              40);

    clock.advance(0.1);  // 0.65 s after the raise
    view.peakTick();
    EXPECT_DOUBLE_EQ(view.peakValue(), -11.0);
    clock.advance(0.05);
    view.peakTick();
    EXPECT_DOUBLE_EQ(view.peakValue(), -12.0);

    // A value equal to the held peak restarts the hold.
    view.setValue(-12.0);
    clock.advance(0.5);
    view.peakTick();
    EXPECT_DOUBLE_EQ(view.peakValue(), -12.0);
}

TEST_F(MeterBarViewTest, PeakThatLeftTheScaleIsNotDrawnAndRisesAgainWithTheNextValue) {
    view.setValue(-59.0);
    view.setValue(-kInf);
    for (int tick = 0; tick < 40; ++tick) {
        clock.advance(0.05);
        view.peakTick();
    }
    // The last step lands exactly on the bottom of the scale, where the peak stops.
    EXPECT_DOUBLE_EQ(view.peakValue(), -60.0);
    const QImage image = render();
    const QRectF bar = view.barFrame();
    EXPECT_LE(distance(at(image, bar.center().x(), bar.bottom() - 1.0),
                       over(Theme::withAlpha(Theme::black(), 0.25), Theme::windowBackground())),
              3);
    view.setValue(-45.0);
    EXPECT_DOUBLE_EQ(view.peakValue(), -45.0);
}

TEST_F(MeterBarViewTest, PeakLineTurnsRedWhileTheHeldPeakIsAboveTheOverThreshold) {
    view.setShowTargetLine(false);
    view.setPeakOverThreshold(-20.0);
    view.setValue(-15.0);
    view.setValue(-50.0);
    const QRectF bar = view.barFrame();
    const double lineY = bar.bottom() - (45.0 / 60.0) * bar.height() - 1.0;
    EXPECT_LE(distance(at(render(), bar.center().x(), lineY), Theme::red()), 30);

    view.setPeakOverThreshold(-10.0);
    const QColor white = at(render(), bar.center().x(), lineY);
    EXPECT_GT(white.lightness(), 180) << white.name().toStdString();
}

TEST_F(MeterBarViewTest, DisabledPeakHoldNeitherHoldsNorDraws) {
    view.setPeakHoldEnabled(false);
    view.setValue(-10.0);
    EXPECT_EQ(view.peakValue(), -kInf);
}

TEST_F(MeterBarViewTest, NewIdentityStartsWithoutAHeldPeak) {
    view.setShowTargetLine(false);
    view.setValue(-10.0);
    view.setValue(-40.0);
    view.setIdentity(view.identity() + 1);
    EXPECT_EQ(view.peakValue(), -kInf);
    const QImage image = render();
    const QRectF bar = view.barFrame();
    const double lineY = bar.bottom() - (50.0 / 60.0) * bar.height() - 1.0;
    EXPECT_LE(distance(at(image, bar.center().x(), lineY), unlitOverBar()), 40);
    // The current value lights its segments as before.
    const QPointF lit = segmentCentre(bar, 5);
    EXPECT_LE(distance(at(image, lit.x(), lit.y()), meterSegmentColor(5, 44)), 3);
}

TEST_F(MeterBarViewTest, EmptyScaleLightsEverythingAboveItAndNothingElse) {
    view.setMinValue(-20.0);
    view.setMaxValue(-20.0);
    const QRectF bar = view.barFrame();
    view.setValue(-19.0);
    QImage image = render();
    EXPECT_LE(distance(at(image, segmentCentre(bar, 43).x(), segmentCentre(bar, 43).y()),
                       meterSegmentColor(43, 44)),
              3);
    view.setValue(-20.0);
    image = render();
    EXPECT_LE(
        distance(at(image, segmentCentre(bar, 0).x(), segmentCentre(bar, 0).y()), unlitOverBar()),
        3);
}

TEST_F(MeterBarViewTest, ScaleLabelsHangJustBelowTheirTicks) {
    const QImage image = render();
    const QRectF bar = view.barFrame();
    const double columnLeft = bar.left() - 34.0;
    auto inkBetween = [&](double top, double bottom) {
        int ink = 0;
        for (int y = static_cast<int>(top); y < static_cast<int>(bottom); ++y) {
            for (int x = static_cast<int>(columnLeft); x < static_cast<int>(columnLeft + 30); ++x) {
                if (image.pixelColor(x, y).lightness() > 120) {
                    ++ink;
                }
            }
        }
        return ink;
    };
    for (int tick = 0; tick >= -60; tick -= 10) {
        const double y = bar.bottom() - (tick + 60.0) / 60.0 * bar.height();
        EXPECT_GT(inkBetween(y - 8.0, y + 6.0), 5) << "label " << tick;
        if (tick > -60) {
            // Halfway to the next tick down there is no text.
            const double gap = y + bar.height() / 12.0;
            EXPECT_EQ(inkBetween(gap - 3.0, gap + 3.0), 0) << "between " << tick;
        }
    }
}

TEST_F(MeterBarViewTest, ValuesSetWhileQmlBuildsTheItemDoNotRaiseThePeak) {
    // QML sets the initial bindings between classBegin and componentComplete.
    MeterBarView built;
    QQmlParserStatus& status = built;
    status.classBegin();
    built.setValue(-12.0);
    status.componentComplete();
    EXPECT_EQ(built.peakValue(), -kInf);
    built.setValue(-14.0);
    EXPECT_DOUBLE_EQ(built.peakValue(), -14.0);
}

}  // namespace
}  // namespace orvinta
