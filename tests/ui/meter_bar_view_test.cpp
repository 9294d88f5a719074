#include "ui/meter_bar_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <vector>

#include "tests/ui/ui_test_support.h"
#include "ui/peak_hold.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::at;
using test::distance;
using test::ManualClock;
using test::over;

using test::kInf;
using test::kNaN;
// The meter column of the dashboard is 160 points wide with a 14-point inset.
const QSizeF kDashboardSize(132.0, 520.0);

// Segment i's centre, worked out from the bar's frame: 3 points inset, 2 points between
// segments, 44 equal segments stacked upwards from the bottom.
QPointF segmentCentre(const QRectF& bar, int i) {
    const double h = (bar.height() - 6.0 - 2.0 * 43) / 44;
    return {bar.center().x(), bar.bottom() - 3.0 - i * (h + 2.0) - h / 2.0};
}

QColor barBackground() {
    return over(Theme::withAlpha(Theme::black(), 0.25), Theme::windowBackground());
}
QColor unlitOverBar() {
    return over(Theme::whiteAlpha(0.06), barBackground());
}

class MeterBarViewTest : public ::testing::Test {
protected:
    MeterBarViewTest() {
        view.setMinValue(-60.0);
        view.setMaxValue(0.0);
        view.setSize(kDashboardSize);
        bar = view.barFrame();
    }

    QImage render() { return test::renderItem(view, kDashboardSize, Theme::windowBackground()); }
    // y of the 2-point peak line for a value on the -60 ... 0 scale.
    double peakLineY(double value) const {
        return bar.bottom() - (value + 60.0) / 60.0 * bar.height() - 1.0;
    }
    QColor segment(const QImage& image, int i) const { return at(image, segmentCentre(bar, i)); }

    ManualClock clock;
    MeterBarView view;
    QRectF bar;
};

TEST_F(MeterBarViewTest, LightsExactlyTheSegmentsBelowTheValue) {
    const struct {
        double minValue, maxValue, value;
        int lit;
    } cases[] = {
        {-60.0, 0.0, -30.0, 22},                           // half the scale
        {-60.0, 0.0, -kInf, 0},    {-60.0, 0.0, 4.0, 44},  // above the scale
        {-20.0, -20.0, -19.0, 44},  // an empty scale: everything above it lit
        {-20.0, -20.0, -20.0, 0},
    };
    view.setShowTargetLine(false);
    view.setPeakHoldEnabled(false);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.minValue << " ... " << c.maxValue << ": " << c.value);
        view.setMinValue(c.minValue);
        view.setMaxValue(c.maxValue);
        view.setValue(c.value);
        const QImage image = render();
        for (int i = 0; i < 44; ++i) {
            const QColor expected = i < c.lit ? meterSegmentColor(i, 44) : unlitOverBar();
            EXPECT_LE(distance(segment(image, i), expected), 3) << "segment " << i;
        }
    }
}

TEST_F(MeterBarViewTest, DrawsTheTargetLineInYellowAtTheTargetsLevel) {
    view.setValue(-50.0);
    view.setTargetValue(-12.0);  // 80 % of the scale
    const double bottomEdge = bar.bottom() - 0.8 * bar.height();
    const QImage image = render();
    EXPECT_LE(distance(at(image, bar.center().x(), bottomEdge - 1.5), Theme::yellow()), 4);
    // Ten points away the bar is plain again.
    EXPECT_GT(distance(at(image, bar.center().x(), bottomEdge + 10.0), Theme::yellow()), 100);

    view.setTargetValue(QVariant());
    EXPECT_GT(distance(at(render(), bar.center().x(), bottomEdge - 1.5), Theme::yellow()), 100);
}

TEST_F(MeterBarViewTest, HeldPeakStaysForTheHoldTimeThenFallsOneUnitPerTick) {
    view.setValue(-10.0);
    view.setValue(-40.0);
    clock.advance(0.55);
    view.peakTick();
    EXPECT_DOUBLE_EQ(view.peakValue(), -10.0);
    EXPECT_LE(distance(at(render(), bar.center().x(), peakLineY(-10.0)),
                       over(Theme::whiteAlpha(0.85), barBackground())),
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

TEST_F(MeterBarViewTest, HeldPeakNeverSinksBelowASteadyLevel) {
    // A steady sine gives the same reading at every hop, so the value stops changing and never
    // raises the peak again: the peak line must stay on top of the lit segments.
    view.setValue(-10.0);
    view.setValue(-20.0);
    for (int tick = 0; tick < 40; ++tick) {
        clock.advance(0.05);
        view.peakTick();
    }
    EXPECT_DOUBLE_EQ(view.peakValue(), -20.0);
    EXPECT_LE(distance(at(render(), bar.center().x(), peakLineY(-20.0)),
                       over(Theme::whiteAlpha(0.85), barBackground())),
              40);
    // It falls again once the level drops.
    view.setValue(-30.0);
    clock.advance(0.65);
    view.peakTick();
    EXPECT_DOUBLE_EQ(view.peakValue(), -21.0);
}

TEST_F(MeterBarViewTest, ScaleLabelsHangJustBelowTheirTicks) {
    const QImage image = render();
    const int columnLeft = static_cast<int>(bar.left() - 34.0);
    auto inkBetween = [&](double top, double bottom) {
        const int y = static_cast<int>(top);
        return test::inkIn(image, QRect(columnLeft, y, 30, static_cast<int>(bottom) - y));
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

}  // namespace
}  // namespace orvinta
