#include "ui/true_peak_bar_view.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/ui/ui_test_support.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::at;
using test::distance;
using test::ManualClock;
using test::over;

constexpr double kInf = std::numeric_limits<double>::infinity();
// One of the two bars of the dashboard's true-peak panel.
constexpr double kDashboardWidth = 600.0;

QColor unlit() {
    return over(Theme::whiteAlpha(0.08), Theme::windowBackground());
}

TEST(TruePeakBarFunctions, FortyEightSegmentsAreGreenYellowAndRedWithTwoPointGaps) {
    for (int i = 0; i < 48; ++i) {
        const QColor expected = i <= 33 ? Theme::green() : i <= 42 ? Theme::yellow() : Theme::red();
        EXPECT_EQ(truePeakSegmentColor(i, 48), expected) << i;
    }
    const QRectF bar(0.0, 10.0, 478.0, 18.0);  // 48 segments of 8 points and 47 gaps
    EXPECT_EQ(truePeakSegmentRect(bar, 0, 48), QRectF(0.0, 10.0, 8.0, 18.0));
    EXPECT_EQ(truePeakSegmentRect(bar, 47, 48), QRectF(470.0, 10.0, 8.0, 18.0));
    EXPECT_TRUE(truePeakSegmentRect(QRectF(0, 0, 50, 18), 0, 48).isEmpty());
}

TEST(TruePeakBarFunctions, MarkerReadoutAndScaleCells) {
    // The marker stands one point left of the peak but never left of the bar.
    EXPECT_DOUBLE_EQ(truePeakMarkerX(600.0, 0.5), 299.0);
    EXPECT_DOUBLE_EQ(truePeakMarkerX(600.0, 0.001), 0.0);
    // The readout shows the held peak, else the value, else a dash.
    EXPECT_EQ(truePeakReadout(-3.04, -20.0, -60.0), QStringLiteral("-3.0"));
    EXPECT_EQ(truePeakReadout(-kInf, -20.26, -60.0), QStringLiteral("-20.3"));
    EXPECT_EQ(truePeakReadout(-61.0, -kInf, -60.0), QStringLiteral("\u2014"));
    EXPECT_EQ(truePeakReadout(-kInf, std::numeric_limits<double>::quiet_NaN(), -60.0),
              QStringLiteral("\u2014"));

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

    QImage render() { return test::renderItem(view, size, Theme::windowBackground()); }
    // The colour at the marker of a peak at `fraction` of the scale.
    QColor markerAt(const QImage& image, double fraction) const {
        return at(image, truePeakMarkerX(kDashboardWidth, fraction) + 1.0, bar.center().y());
    }

    ManualClock clock;
    TruePeakBarView view;
    QSizeF size;
    QRectF bar;
};

TEST_F(TruePeakBarViewTest, LightsTheSegmentsBelowTheValueFromTheLeftAndNoneForSilence) {
    // Worked out from the width alone: 48 segments and 47 gaps of 2 points.
    const double w = (kDashboardWidth - 94.0) / 48.0;
    for (const auto& [value, lit] : {std::pair{-6.0, 43}, std::pair{-kInf, 0}}) {
        view.setValue(value);  // -6: floor(54 / 60 * 48) = 43 lit
        const QImage image = render();
        for (int i = 0; i < 48; ++i) {
            if (i == lit - 1) {
                continue;  // the held-peak marker stands on the last lit segment
            }
            const QColor expected = i < lit ? truePeakSegmentColor(i, 48) : unlit();
            EXPECT_LE(distance(at(image, i * (w + 2.0) + w / 2.0, bar.center().y()), expected), 3)
                << value << ": " << i;
        }
        view.setIdentity(view.identity() + 1);
    }
    EXPECT_LE(distance(at(render(), 0.5, bar.center().y()), unlit()), 3);
}

TEST_F(TruePeakBarViewTest, PeakAboveZeroDbtpMarksTheRightEdgeInRedWhileHeld) {
    view.setValue(1.2);
    view.setValue(-20.0);
    QImage image = render();
    EXPECT_LE(distance(at(image, kDashboardWidth - 1.0, bar.center().y()), Theme::red()), 3);
    // The segments behind it follow the current value only.
    const QPointF top = truePeakSegmentRect(bar, 47, 48).center();
    EXPECT_LE(distance(at(image, top.x() - 3.0, top.y()), unlit()), 3);

    clock.advance(1.1);
    view.peakTick();
    EXPECT_DOUBLE_EQ(view.peakValue(), 1.2);

    // After the 1.2-second hold it falls 1.5 dB per tick; below 0 dBTP the marker is white
    // and follows the held peak, not the value.
    clock.advance(0.15);
    view.peakTick();
    EXPECT_DOUBLE_EQ(view.peakValue(), -0.3);
    EXPECT_LE(distance(markerAt(render(), 59.7 / 60.0), Theme::white()), 3);
}

TEST_F(TruePeakBarViewTest, NewIdentityForgetsTheHeldPeak) {
    view.setValue(-3.0);
    view.setValue(-40.0);
    EXPECT_LE(distance(markerAt(render(), 57.0 / 60.0), Theme::white()), 3);
    view.setIdentity(7);
    EXPECT_EQ(view.peakValue(), -kInf);
    EXPECT_GT(distance(markerAt(render(), 57.0 / 60.0), Theme::white()), 100);
}

TEST_F(TruePeakBarViewTest, ScaleLabelsSpanTheRowAndTheCaptionIsCyanAboveTheBar) {
    const QImage image = render();
    const QRectF row = truePeakBarLayout(size).scaleRow;
    auto inkInColumns = [&](int from, int to) {
        return test::inkIn(image,
                           QRect(from, static_cast<int>(row.top()), to - from,
                                 static_cast<int>(row.bottom()) - static_cast<int>(row.top())));
    };
    // Eight cells of 68 points, 8 apart: "-60" starts at the left edge, "0" ends at the right
    // edge, "-24" is centred on 262, and nothing stands between the first two labels.
    EXPECT_GT(inkInColumns(0, 6), 0);
    EXPECT_GT(inkInColumns(594, 600), 0);
    EXPECT_GT(inkInColumns(256, 268), 0);
    EXPECT_EQ(inkInColumns(60, 70), 0);

    const int cyan = test::countPixels(
        image, [](const QColor& c) { return distance(c, Theme::cyan()) <= 10; },
        QRect(0, 0, 20, static_cast<int>(bar.top())));
    EXPECT_GT(cyan, 10);
}

}  // namespace
}  // namespace orvinta
