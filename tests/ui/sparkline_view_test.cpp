#include "ui/sparkline_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/ui/ui_test_support.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::colorNear;
using test::distance;
using test::over;

constexpr double kNegInf = -std::numeric_limits<double>::infinity();
// The sparkline's size in the read-out column of the dashboard.
const QSize kSparklineSize(195, 64);

HistoryPoint point(double t, double shortTerm, double momentary = 0.0) {
    HistoryPoint p;
    p.elapsedSeconds = t;
    p.shortTermLUFS = shortTerm;
    p.momentaryLUFS = momentary;
    return p;
}

// y of a loudness on the -60 ... 0 scale of kSparklineSize, worked out independently of the view.
double expectedY(double lufs) {
    return 64.0 * (-lufs / 60.0);
}

bool hasLineColour(const QImage& image, const QColor& line) {
    return test::countPixels(image, [&](const QColor& c) { return distance(c, line) <= 40; }) > 0;
}

struct SparklineFixture : ::testing::Test {
    SparklineFixture() {
        view.setWindowSeconds(10.0);
        view.setMetric(QStringLiteral("S"));
        view.setColor(Theme::green());
        view.setMinLUFS(-60.0);
        view.setMaxLUFS(0.0);
    }
    QImage render(QList<HistoryPoint> points) {
        view.setHistory(HistoryPointList(std::move(points)));
        return test::renderItem(view, kSparklineSize);
    }
    SparklineView view;
    const QColor background = Theme::canvasBackground();
    const QColor line = Theme::green();
};

TEST(SparklineMath, LineStretchesOverTheWidthUntilAFullWindowHasElapsedThenScrolls) {
    const QList<HistoryPoint> history = {point(0.0, -30.0), point(2.5, -30.0), point(5.0, -30.0)};
    const QPolygonF line =
        sparklinePoints(history, 10.0, SparklineMetric::shortTerm, -60.0, 0.0, QSizeF(200, 64));
    ASSERT_EQ(line.size(), 3);
    EXPECT_DOUBLE_EQ(line[0].x(), 0.0);
    EXPECT_DOUBLE_EQ(line[1].x(), 100.0);
    EXPECT_DOUBLE_EQ(line[2].x(), 200.0);

    // Once a full window has elapsed the line scrolls.
    QList<HistoryPoint> long_;
    for (int i = 0; i <= 300; ++i) {
        long_.append(point(i / 10.0, -20.0));
    }
    const QPolygonF scrolled =
        sparklinePoints(long_, 10.0, SparklineMetric::shortTerm, -60.0, 0.0, QSizeF(200, 64));
    // 30 s elapsed: the window runs from 20 s at the left edge to 30 s at the right edge.
    ASSERT_EQ(scrolled.size(), 101);
    EXPECT_NEAR(scrolled.front().x(), 0.0, 1e-6);
    EXPECT_DOUBLE_EQ(scrolled.back().x(), 200.0);
}

TEST(SparklineMath, RepaintsForANewLoudnessAResetOrAColumnAndAHopOfScrollOnly) {
    // 10 s over 200 pixels: 50 ms a column once the window has filled, half a hop.
    const auto moves = [](std::optional<HistoryPoint> drawn, QList<HistoryPoint> history) {
        return sparklineMovesVisibly(drawn, history, 10.0, SparklineMetric::shortTerm, 200.0);
    };
    const HistoryPoint drawn = point(20.0, -30.0, -10.0);
    EXPECT_FALSE(moves(drawn, {point(20.03, -30.0, -12.0)}));  // only the other metric changed
    EXPECT_FALSE(moves(drawn, {point(20.05, -30.0)}));
    EXPECT_TRUE(moves(drawn, {point(20.1, -30.0)}));
    EXPECT_TRUE(moves(drawn, {point(20.01, -29.0)}));
    EXPECT_TRUE(moves(drawn, {point(3.0, -30.0)}));  // time went back: a new run
    EXPECT_TRUE(moves(std::nullopt, {point(0.0, -30.0)}));
    EXPECT_TRUE(moves(drawn, {}));
    EXPECT_FALSE(moves(std::nullopt, {}));
}

TEST_F(SparklineFixture, LineBridgesSilenceWithAStraightSegment) {
    // -40 LUFS at 0...3 s, silence from 3.5 to 6.5 s, -20 LUFS from 7 to 10 s.
    QList<HistoryPoint> history;
    for (int i = 0; i <= 20; ++i) {
        const double t = i * 0.5;
        const double value = t <= 3.0 ? -40.0 : t >= 7.0 ? -20.0 : kNegInf;
        history.append(point(t, value));
    }
    const QImage image = render(history);
    // Halfway through the gap the bridge passes halfway between the two levels.
    const int x = kSparklineSize.width() / 2;
    EXPECT_TRUE(colorNear(image, x, static_cast<int>(expectedY(-30.0)), line, 1, 60));
    // And nothing green sits at the bottom edge where the silence would otherwise drop to.
    EXPECT_FALSE(colorNear(image, x, kSparklineSize.height() - 1, line, 1, 60));
    // Before and after the gap the line lies at its two levels.
    EXPECT_TRUE(colorNear(image, 30, static_cast<int>(expectedY(-40.0)), line, 1, 40));
    EXPECT_TRUE(colorNear(image, 170, static_cast<int>(expectedY(-20.0)), line, 1, 40));
}

TEST_F(SparklineFixture, ValuesBeyondTheScaleRunAlongTheTopAndBottomEdges) {
    QList<HistoryPoint> history;
    for (int i = 0; i <= 10; ++i) {
        history.append(point(i, i <= 4 ? 6.0 : -95.0));
    }
    const QImage image = render(history);
    // Above 0 LUFS: the top edge (half of the 1.5-point line is clipped away).
    const QColor halfCovered = over(QColor(line.red(), line.green(), line.blue(), 191), background);
    EXPECT_TRUE(colorNear(image, 40, 0, halfCovered, 0, 60));
    EXPECT_FALSE(colorNear(image, 40, 4, line, 2, 60));
    // Below -60 LUFS: the bottom edge.
    EXPECT_TRUE(colorNear(image, 160, kSparklineSize.height() - 1, halfCovered, 0, 60));
    EXPECT_FALSE(colorNear(image, 160, kSparklineSize.height() - 6, line, 2, 60));
}

TEST_F(SparklineFixture, MomentaryMetricDrawsTheMomentaryValuesAndOnePointDrawsNothing) {
    EXPECT_FALSE(
        hasLineColour(render({point(0.0, kNegInf), point(1.0, -30.0), point(2.0, kNegInf)}), line));
    view.setMetric(QStringLiteral("M"));
    const QImage image = render({point(0.0, -45.0, -15.0), point(10.0, -45.0, -15.0)});
    EXPECT_TRUE(colorNear(image, 100, static_cast<int>(expectedY(-15.0)), line, 1, 60));
    EXPECT_FALSE(colorNear(image, 100, static_cast<int>(expectedY(-45.0)), line, 2, 60));
}

}  // namespace
}  // namespace orvinta
