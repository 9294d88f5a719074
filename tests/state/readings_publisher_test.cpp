#include "state/readings_publisher.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <limits>

#include "tests/state/state_test_support.h"
#include "tests/support/captured_log.h"

namespace orvinta {
namespace {

using namespace std::chrono_literals;
constexpr double kSilence = -std::numeric_limits<double>::infinity();

LoudnessSnapshot snapshotWith(double momentary, std::optional<double> correlation = {}) {
    LoudnessSnapshot snapshot;
    snapshot.momentaryLUFS = momentary;
    snapshot.shortTermLUFS = momentary - 1.0;
    snapshot.phaseCorrelation = correlation;
    return snapshot;
}

// A publisher on a clock that moves only when the test moves it.
struct ReadingsOnManualClock : testing::Test {
    std::chrono::steady_clock::time_point now{};
    ReadingsPublisher readings{[this] { return now; }};
};

TEST_F(ReadingsOnManualClock, CorrelationStartsUnsmoothedThenSmoothsAndTheMaximumHolds) {
    const struct {
        double momentary;
        std::optional<double> correlation;
        std::optional<double> shown;
        double maximum;
    } steps[] = {
        {-20.0, 1.0, 1.0, -20.0},
        {-20.0, -1.0, 0.3 * -1.0 + 0.7 * 1.0, -20.0},
        {-30.0, -1.0, 0.3 * -1.0 + 0.7 * 0.4, -20.0},
        {kSilence, std::nullopt, std::nullopt, -20.0},
        {-25.0, 0.5, 0.5, -20.0},
        // A non-finite reading would poison every later smoothed value.
        {-25.0, std::numeric_limits<double>::quiet_NaN(), std::nullopt, -20.0},
        {-12.5, std::nullopt, std::nullopt, -12.5},
    };
    for (const auto& step : steps) {
        readings.publish(snapshotWith(step.momentary, step.correlation));
        EXPECT_NEAR(readings.phaseCorrelation().value_or(9.0), step.shown.value_or(9.0), 1e-12);
        EXPECT_EQ(readings.maxMomentaryLUFS(), step.maximum);
    }
}

TEST_F(ReadingsOnManualClock, HistoryKeepsTheLastSixtyTwoSecondsAndAlwaysTheNewestPoint) {
    readings.beginRun();
    for (int second = 1; second <= 70; ++second) {
        now += 1s;
        readings.publish(snapshotWith(-20.0 - second));
    }
    HistoryPointList history = readings.history();
    // Points at 8 … 70 s: the cut-off 70 - 62 = 8 s is kept.
    ASSERT_EQ(history.size(), 63);
    EXPECT_EQ(history.points().front().id, 8u);
    EXPECT_EQ(history.points().back().shortTermLUFS, -91.0);
    EXPECT_EQ(readings.elapsedSeconds(), 70.0);

    // A long gap trims everything but the point just added.
    now += 500s;
    readings.publish(snapshotWith(-40.0));
    history = readings.history();
    ASSERT_EQ(history.size(), 1);
    EXPECT_EQ(history.points()[0].id, 71u);

    // RESET: the identifiers start again at 1 while elapsed time runs on from the start; the
    // true peaks keep their count.
    LoudnessSnapshot peaks = snapshotWith(-10.0, 0.5);
    peaks.truePeakDBTP = {-1.0, -2.0};
    readings.publish(peaks);
    readings.clear();
    EXPECT_EQ(readings.truePeakDBTP(), (QList<double>{kSilence, kSilence}));
    now += 1s;
    readings.publish(snapshotWith(-30.0));
    EXPECT_EQ(readings.history().points()[0].id, 1u);
    EXPECT_EQ(readings.history().points()[0].elapsedSeconds, 571.0);
}

TEST_F(ReadingsOnManualClock, HopStatisticsLineComesAtOnceThenAtMostEveryFiveSeconds) {
    testing::internal::CaptureStdout();
    readings.beginRun();
    for (int i = 0; i < 40; ++i) {  // four seconds of hand-overs 30 ms late
        const auto handedOverAt = now;
        now += 30ms;
        readings.recordHop(handedOverAt);
        now += 70ms;
    }
    now += 2s;  // 5.97 s after the first line
    readings.recordHop(now - 50ms);
    const std::string output = test::capturedLog();
    const QRegularExpression line(QStringLiteral(
        R"(^\[Tessaro\] AppState: mainActor hop delay avg=(\d+\.\d)ms max=(\d+\.\d)ms \((\d+) snapshots\)$)"));
    QStringList statistics;
    for (const std::string& text : test::linesContaining(output, "hop delay")) {
        const QRegularExpressionMatch match = line.match(QString::fromStdString(text));
        EXPECT_TRUE(match.hasMatch()) << text;
        statistics.append(match.capturedTexts().mid(1).join(u' '));
    }
    // The second window: 39 hand-overs 30 ms late and one 50 ms late.
    EXPECT_EQ(statistics,
              (QStringList{QStringLiteral("30.0 30.0 1"), QStringLiteral("30.5 50.0 40")}));
}

}  // namespace
}  // namespace orvinta
