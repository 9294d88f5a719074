#include "ui/true_peak_bar_view.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/ui/meter_test_support.h"
#include "ui/meter_bar_view.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::at;
using test::distance;
using test::ManualClock;
using test::over;
using test::renderOver;

constexpr double kInf = std::numeric_limits<double>::infinity();
// One of the two bars of the dashboard's true-peak panel.
constexpr double kDashboardWidth = 600.0;

QColor unlit() {
    return over(Theme::whiteAlpha(0.08), Theme::windowBackground());
}

TEST(TruePeakBarFunctions, FortyEightSegmentsAreGreenYellowAndRed) {
    for (int i = 0; i < 48; ++i) {
        const QColor expected = i <= 33 ? Theme::green() : i <= 42 ? Theme::yellow() : Theme::red();
        EXPECT_EQ(truePeakSegmentColor(i, 48), expected) << i;
    }
}

TEST(TruePeakBarFunctions, SegmentsShareTheWidthWithTwoPointGaps) {
    const QRectF bar(0.0, 10.0, 478.0, 18.0);  // 48 segments of 8 points and 47 gaps
    EXPECT_EQ(truePeakSegmentRect(bar, 0, 48), QRectF(0.0, 10.0, 8.0, 18.0));
    EXPECT_EQ(truePeakSegmentRect(bar, 47, 48), QRectF(470.0, 10.0, 8.0, 18.0));
    EXPECT_TRUE(truePeakSegmentRect(QRectF(0, 0, 50, 18), 0, 48).isEmpty());
}

TEST(TruePeakBarFunctions, MarkerStandsOnePointLeftOfThePeakButNeverLeftOfTheBar) {
    EXPECT_DOUBLE_EQ(truePeakMarkerX(600.0, 0.5), 299.0);
    EXPECT_DOUBLE_EQ(truePeakMarkerX(600.0, 1.0), 599.0);
    EXPECT_DOUBLE_EQ(truePeakMarkerX(600.0, 0.001), 0.0);
}

TEST(TruePeakBarFunctions, ReadoutShowsTheHeldPeakThenTheValueThenTheDash) {
    EXPECT_EQ(truePeakReadout(-3.04, -20.0, -60.0), QStringLiteral("-3.0"));
    EXPECT_EQ(truePeakReadout(-kInf, -20.26, -60.0), QStringLiteral("-20.3"));
    EXPECT_EQ(truePeakReadout(-61.0, -kInf, -60.0), QStringLiteral("\u2014"));
    EXPECT_EQ(truePeakReadout(-kInf, std::numeric_limits<double>::quiet_NaN(), -60.0),
              QStringLiteral("\u2014"));
}

TEST(TruePeakBarFunctions, ScaleCellsSpreadTheLabelsEvenlyAcrossTheRow) {
    const auto cells = truePeakScaleCells(QRectF(0.0, 50.0, 600.0, 16.0), 8);
    ASSERT_EQ(cells.size(), 8u);
    EXPECT_DOUBLE_EQ(cells.front().left(), 0.0);
    EXPECT_DOUBLE_EQ(cells.back().right(), 600.0);
    EXPECT_DOUBLE_EQ(cells[1].left() - cells[0].right(), 8.0);
    EXPECT_DOUBLE_EQ(cells[3].width(), cells[4].width());
}

class TruePeakBarViewTest : public ::testing::Test {
protected:
    TruePeakBarViewTest() {
        view.setLabel(QStringLiteral("L"));
        size = QSizeF(kDashboardWidth, view.implicitHeight());
        view.setSize(size);
        bar = truePeakBarLayout(size).bar;
    }

    QImage render() { return renderOver(view, size); }

    QPointF segmentCentre(int i) const { return truePeakSegmentRect(bar, i, 48).center(); }

    ManualClock clock;
    TruePeakBarView view;
    QSizeF size;
    QRectF bar;
};

TEST_F(TruePeakBarViewTest, LightsTheSegmentsBelowTheValueFromTheLeft) {
    view.setValue(-6.0);  // floor(54 / 60 * 48) = 43 lit
    const QImage image = render();
    // Worked out from the width alone: 48 segments and 47 gaps of 2 points.
    const double w = (kDashboardWidth - 94.0) / 48.0;
    for (int i = 0; i < 48; ++i) {
        const double x = i * (w + 2.0) + w / 2.0;
        const QColor expected = i < 43 ? truePeakSegmentColor(i, 48) : unlit();
        if (i == 42) {
            continue;  // the held-peak marker stands on the last lit segment
        }
        EXPECT_LE(distance(at(image, x, bar.center().y()), expected), 3) << i;
    }
}

TEST_F(TruePeakBarViewTest, SilenceLightsNothingAndShowsNoMarker) {
    view.setValue(-kInf);
    const QImage image = render();
    for (int i = 0; i < 48; ++i) {
        const QPointF c = segmentCentre(i);
        EXPECT_LE(distance(at(image, c.x(), c.y()), unlit()), 3) << i;
    }
    EXPECT_LE(distance(at(image, 0.5, bar.center().y()), unlit()), 3);
}

TEST_F(TruePeakBarViewTest, PeakAboveZeroDbtpMarksTheRightEdgeInRedWhileHeld) {
    view.setValue(1.2);
    view.setValue(-20.0);
    QImage image = render();
    EXPECT_LE(distance(at(image, kDashboardWidth - 1.0, bar.center().y()), Theme::red()), 3);
    // The segments behind it follow the current value only.
    const QPointF top = segmentCentre(47);
    EXPECT_LE(distance(at(image, top.x() - 3.0, top.y()), unlit()), 3);

    clock.advance(1.1);
    view.peakTick();
    EXPECT_DOUBLE_EQ(view.peakValue(), 1.2);

    // After the 1.2-second hold it falls 1.5 dB per tick; below 0 dBTP the marker is white.
    clock.advance(0.15);
    view.peakTick();
    EXPECT_DOUBLE_EQ(view.peakValue(), -0.3);
    image = render();
    const double x = truePeakMarkerX(kDashboardWidth, 59.7 / 60.0) + 1.0;
    EXPECT_LE(distance(at(image, x, bar.center().y()), Theme::white()), 3);
}

TEST_F(TruePeakBarViewTest, MarkerFollowsTheHeldPeakNotTheValue) {
    view.setValue(-30.0);
    view.setValue(-50.0);
    const QImage image = render();
    const double x = truePeakMarkerX(kDashboardWidth, 0.5) + 1.0;
    EXPECT_LE(distance(at(image, x, bar.center().y()), Theme::white()), 3);
}

TEST_F(TruePeakBarViewTest, NewIdentityForgetsTheHeldPeak) {
    view.setValue(-3.0);
    view.setValue(-40.0);
    view.setIdentity(7);
    EXPECT_EQ(view.peakValue(), -kInf);
    const QImage image = render();
    const double x = truePeakMarkerX(kDashboardWidth, 57.0 / 60.0) + 1.0;
    EXPECT_GT(distance(at(image, x, bar.center().y()), Theme::white()), 100);
}

TEST_F(TruePeakBarViewTest, ScaleLabelsStartAtTheLeftAndEndAtTheRightEdge) {
    const QImage image = render();
    const QRectF row = truePeakBarLayout(size).scaleRow;
    auto inkInColumns = [&](int from, int to) {
        int ink = 0;
        for (int y = static_cast<int>(row.top()); y < static_cast<int>(row.bottom()); ++y) {
            for (int x = from; x < to; ++x) {
                if (image.pixelColor(x, y).lightness() > 120) {
                    ++ink;
                }
            }
        }
        return ink;
    };
    // Eight cells of 68 points, 8 apart: "-60" starts at the left edge, "0" ends at the right
    // edge, "-24" is centred on 262, and nothing stands between the first two labels.
    EXPECT_GT(inkInColumns(0, 6), 0);
    EXPECT_GT(inkInColumns(594, 600), 0);
    EXPECT_GT(inkInColumns(256, 268), 0);
    EXPECT_EQ(inkInColumns(60, 70), 0);
}

TEST_F(TruePeakBarViewTest, CaptionIsCyanAboveTheBar) {
    const QImage image = render();
    int cyan = 0;
    for (int y = 0; y < static_cast<int>(bar.top()); ++y) {
        for (int x = 0; x < 20; ++x) {
            if (distance(image.pixelColor(x, y), Theme::cyan()) <= 10) {
                ++cyan;
            }
        }
    }
    EXPECT_GT(cyan, 10);
}

}  // namespace
}  // namespace orvinta
