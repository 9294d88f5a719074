#pragma once

#include <QList>
#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

#include "measurement/loudness_snapshot.h"
#include "state/goniometer_point_list.h"
#include "state/history_point_list.h"
#include "state/spectrum_rows.h"

namespace orvinta {

// Reads the monotonic clock; callable from any thread.
using MonotonicClock = std::function<std::chrono::steady_clock::time_point()>;

// The published measurements: the latest snapshot's values, the maximum momentary loudness and
// true peaks since start or reset, the smoothed phase correlation, the rolling history for the
// sparklines, and the statistic of how late snapshots reach the UI thread. Owned by AppState;
// UI thread only.
class ReadingsPublisher : public QObject {
    Q_OBJECT

public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // The sparkline draws 60 s; the history keeps 2 s more so the window's left edge is covered.
    static constexpr double historyWindowSeconds = 60.0;

    // `clock` (the steady clock when empty) times elapsed seconds and hand-over delays.
    explicit ReadingsPublisher(MonotonicClock clock = {}, QObject* parent = nullptr);

    // A run has started: empty history, no maximum, elapsed time counted from now, and fresh
    // hand-over statistics (the next snapshot prints a statistics line at once).
    void beginRun();
    // RESET: no readings, the true peaks at -inf (as many as before), an empty history whose
    // identifiers start again at 1, and resetSignal one higher. Elapsed time runs on.
    void clear();
    // Counts the hand-over delay of a snapshot handed over at `handedOverAt` and prints the
    // statistics line when the first of a run or 5 s after the last.
    void recordHop(TimePoint handedOverAt);
    // Publishes one snapshot: its values, the maxima, the smoothed correlation, one history
    // point and the history trim.
    void publish(LoudnessSnapshot snapshot);

    double momentaryLUFS() const { return momentaryLUFS_; }
    double shortTermLUFS() const { return shortTermLUFS_; }
    double integratedLUFS() const { return integratedLUFS_; }
    double loudnessRangeLU() const { return loudnessRangeLU_; }
    double maxMomentaryLUFS() const { return maxMomentaryLUFS_; }
    QList<double> truePeakDBTP() const { return truePeakDBTP_; }
    QList<double> maxTruePeakDBTP() const { return maxTruePeakDBTP_; }
    HistoryPointList history() const { return HistoryPointList(history_); }
    double elapsedSeconds() const { return elapsedSeconds_; }
    std::optional<double> phaseCorrelation() const { return phaseCorrelation_; }
    GoniometerPointList goniometerPoints() const { return goniometerPoints_; }
    SpectrumRows spectrumDB() const { return spectrumDB_; }
    int resetSignal() const { return resetSignal_; }

signals:
    void momentaryLUFSChanged();
    void shortTermLUFSChanged();
    void integratedLUFSChanged();
    void loudnessRangeLUChanged();
    void maxMomentaryLUFSChanged();
    void truePeakDBTPChanged();
    void maxTruePeakDBTPChanged();
    void historyChanged();
    void elapsedSecondsChanged();
    void phaseCorrelationChanged();
    void goniometerPointsChanged();
    void spectrumDBChanged();
    void resetSignalChanged();

private:
    void setScalar(double& member, double value, void (ReadingsPublisher::*changed)());
    void setPeaks(QList<double>& member, const std::vector<double>& values,
                  void (ReadingsPublisher::*changed)());
    void setPhaseCorrelation(std::optional<double> correlation);

    MonotonicClock clock_;
    double momentaryLUFS_;
    double shortTermLUFS_;
    double integratedLUFS_;
    double loudnessRangeLU_ = 0.0;
    double maxMomentaryLUFS_;
    QList<double> truePeakDBTP_;
    QList<double> maxTruePeakDBTP_;
    QList<HistoryPoint> history_;
    double elapsedSeconds_ = 0.0;
    std::optional<double> phaseCorrelation_;
    GoniometerPointList goniometerPoints_;
    SpectrumRows spectrumDB_;
    int resetSignal_ = 0;
    // Monotonic, so that a change of the system clock cannot bend elapsed time or the history.
    std::optional<TimePoint> startTime_;
    quint64 pointID_ = 0;
    // The hand-over statistics since the last line.
    double uiThreadHopMaxMsSinceLastLog_ = 0.0;
    double uiThreadHopSumMsSinceLastLog_ = 0.0;
    qint64 uiThreadHopCountSinceLastLog_ = 0;
    std::optional<TimePoint> lastUiThreadHopLogTime_;
};

}  // namespace orvinta
