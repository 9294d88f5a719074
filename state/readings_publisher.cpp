#include "state/readings_publisher.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "capture/console_log.h"
#include "capture/engine_timing.h"

namespace orvinta {

namespace {

constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();
constexpr double kHistoryMarginSeconds = 2.0;
constexpr double kUiThreadHopLogIntervalSec = 5.0;
// The correlation is smoothed with a one-pole filter at the snapshot rate.
constexpr double kCorrelationSmoothingWeight = 0.3;

using engine_timing::millisecondsBetween;

}  // namespace

ReadingsPublisher::ReadingsPublisher(MonotonicClock clock, QObject* parent)
    : QObject(parent),
      clock_(clock ? std::move(clock)
                   : MonotonicClock([] { return std::chrono::steady_clock::now(); })),
      momentaryLUFS_(kNegativeInfinity),
      shortTermLUFS_(kNegativeInfinity),
      integratedLUFS_(kNegativeInfinity),
      maxMomentaryLUFS_(kNegativeInfinity) {}

void ReadingsPublisher::beginRun() {
    history_.clear();
    pointID_ = 0;
    emit historyChanged();
    // The maximum covers the current run only; a previous run's (or source's) peak must not
    // stand over the new one.
    setScalar(maxMomentaryLUFS_, kNegativeInfinity, &ReadingsPublisher::maxMomentaryLUFSChanged);
    setScalar(elapsedSeconds_, 0.0, &ReadingsPublisher::elapsedSecondsChanged);
    startTime_ = clock_();
    uiThreadHopMaxMsSinceLastLog_ = 0.0;
    uiThreadHopSumMsSinceLastLog_ = 0.0;
    uiThreadHopCountSinceLastLog_ = 0;
    lastUiThreadHopLogTime_.reset();
}

void ReadingsPublisher::clear() {
    setScalar(maxMomentaryLUFS_, kNegativeInfinity, &ReadingsPublisher::maxMomentaryLUFSChanged);
    setScalar(momentaryLUFS_, kNegativeInfinity, &ReadingsPublisher::momentaryLUFSChanged);
    setScalar(shortTermLUFS_, kNegativeInfinity, &ReadingsPublisher::shortTermLUFSChanged);
    setScalar(integratedLUFS_, kNegativeInfinity, &ReadingsPublisher::integratedLUFSChanged);
    setScalar(loudnessRangeLU_, 0.0, &ReadingsPublisher::loudnessRangeLUChanged);
    truePeakDBTP_.fill(kNegativeInfinity);
    emit truePeakDBTPChanged();
    maxTruePeakDBTP_.fill(kNegativeInfinity);
    emit maxTruePeakDBTPChanged();
    history_.clear();
    pointID_ = 0;
    emit historyChanged();
    setPhaseCorrelation(std::nullopt);
    goniometerPoints_ = GoniometerPointList();
    emit goniometerPointsChanged();
    spectrumDB_ = SpectrumRows();
    emit spectrumDBChanged();
    ++resetSignal_;
    emit resetSignalChanged();
}

void ReadingsPublisher::recordHop(TimePoint handedOverAt) {
    const TimePoint now = clock_();
    const double delayMs = millisecondsBetween(handedOverAt, now);
    uiThreadHopMaxMsSinceLastLog_ = std::max(uiThreadHopMaxMsSinceLastLog_, delayMs);
    uiThreadHopSumMsSinceLastLog_ += delayMs;
    ++uiThreadHopCountSinceLastLog_;

    if (lastUiThreadHopLogTime_ &&
        millisecondsBetween(*lastUiThreadHopLogTime_, now) < kUiThreadHopLogIntervalSec * 1000.0) {
        return;
    }
    lastUiThreadHopLogTime_ = now;
    const double averageMs =
        uiThreadHopCountSinceLastLog_ > 0
            ? uiThreadHopSumMsSinceLastLog_ / static_cast<double>(uiThreadHopCountSinceLastLog_)
            : 0.0;
    char line[160];
    std::snprintf(line, sizeof line,
                  "[Tessaro] AppState: mainActor hop delay avg=%.1fms max=%.1fms (%lld snapshots)",
                  averageMs, uiThreadHopMaxMsSinceLastLog_,
                  static_cast<long long>(uiThreadHopCountSinceLastLog_));
    printLogLine(line);
    uiThreadHopMaxMsSinceLastLog_ = 0.0;
    uiThreadHopSumMsSinceLastLog_ = 0.0;
    uiThreadHopCountSinceLastLog_ = 0;
}

void ReadingsPublisher::publish(LoudnessSnapshot snapshot) {
    setScalar(momentaryLUFS_, snapshot.momentaryLUFS, &ReadingsPublisher::momentaryLUFSChanged);
    setScalar(shortTermLUFS_, snapshot.shortTermLUFS, &ReadingsPublisher::shortTermLUFSChanged);
    setScalar(integratedLUFS_, snapshot.integratedLUFS, &ReadingsPublisher::integratedLUFSChanged);
    setScalar(loudnessRangeLU_, snapshot.loudnessRangeLU,
              &ReadingsPublisher::loudnessRangeLUChanged);
    // The analyzer's own maximum holds the hops of snapshots that were never handed over.
    const double loudest = std::max(snapshot.momentaryLUFS, snapshot.maxMomentaryLUFS);
    if (maxMomentaryLUFS_ <= loudest) {
        setScalar(maxMomentaryLUFS_, loudest, &ReadingsPublisher::maxMomentaryLUFSChanged);
    }
    setPeaks(truePeakDBTP_, snapshot.truePeakDBTP, &ReadingsPublisher::truePeakDBTPChanged);
    setPeaks(maxTruePeakDBTP_, snapshot.maxTruePeakDBTP,
             &ReadingsPublisher::maxTruePeakDBTPChanged);

    // A non-finite reading would stick in the smoothed value for good; it counts as none.
    std::optional<double> correlation = snapshot.phaseCorrelation;
    if (correlation && !std::isfinite(*correlation)) {
        correlation.reset();
    }
    if (!correlation || !phaseCorrelation_) {
        setPhaseCorrelation(correlation);
    } else {
        setPhaseCorrelation(kCorrelationSmoothingWeight * *correlation +
                            (1.0 - kCorrelationSmoothingWeight) * *phaseCorrelation_);
    }

    // Each change repaints the items bound to it, so an equal list (the spectrum between its
    // hops) is not published again.
    if (goniometerPoints_.points() != snapshot.goniometerPoints) {
        goniometerPoints_ = GoniometerPointList(std::move(snapshot.goniometerPoints));
        emit goniometerPointsChanged();
    }
    if (spectrumDB_.rows() != snapshot.spectrumDB) {
        spectrumDB_ = SpectrumRows(std::move(snapshot.spectrumDB));
        emit spectrumDBChanged();
    }

    const double elapsed = startTime_ ? millisecondsBetween(*startTime_, clock_()) / 1000.0 : 0.0;
    setScalar(elapsedSeconds_, elapsed, &ReadingsPublisher::elapsedSecondsChanged);

    ++pointID_;
    history_.append(
        HistoryPoint{pointID_, elapsed, snapshot.momentaryLUFS, snapshot.shortTermLUFS});
    const double cutoff = elapsed - historyWindowSeconds - kHistoryMarginSeconds;
    const auto firstKept = std::find_if(
        history_.cbegin(), history_.cend(),
        [cutoff](const HistoryPoint& point) { return point.elapsedSeconds >= cutoff; });
    // The newest point carries `elapsed` itself, so it always stays.
    history_.erase(history_.cbegin(), firstKept);
    emit historyChanged();
}

// Scalars notify only on a real change; -inf equals -inf, so silence does not churn the views.
void ReadingsPublisher::setScalar(double& member, double value,
                                  void (ReadingsPublisher::*changed)()) {
    if (member != value) {
        member = value;
        emit(this->*changed)();
    }
}

void ReadingsPublisher::setPeaks(QList<double>& member, const std::vector<double>& values,
                                 void (ReadingsPublisher::*changed)()) {
    if (!std::equal(member.cbegin(), member.cend(), values.cbegin(), values.cend())) {
        member = QList<double>(values.begin(), values.end());
        emit(this->*changed)();
    }
}

void ReadingsPublisher::setPhaseCorrelation(std::optional<double> correlation) {
    if (phaseCorrelation_ != correlation) {
        phaseCorrelation_ = correlation;
        emit phaseCorrelationChanged();
    }
}

}  // namespace orvinta
