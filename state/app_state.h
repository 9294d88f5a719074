#pragma once

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "capture/audio_capture_source.h"
#include "capture/audio_format_info.h"
#include "measurement/loudness_snapshot.h"
#include "state/goniometer_point_list.h"
#include "state/history_point_list.h"
#include "state/input_source.h"
#include "state/loudness_target.h"
#include "state/spectrum_rows.h"

namespace orvinta {

class LoudnessEngine;

// The one observable object the dashboard reads: settings, the latest measurements, the
// history for the sparklines, the error text and the input-format text. Lives on the UI thread
// for the life of the process and owns the one LoudnessEngine; engine and source callbacks hop
// to the UI thread and do nothing once the state is gone.
//
// QML sees optional values as undefined when absent (errorMessage and inputFormatDescription
// as empty strings), the enumerations by their raw values ("ebuR128", "microphone").
class AppState : public QObject {
    Q_OBJECT
    // clang-format off
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged FINAL)
    Q_PROPERTY(QString inputSource READ inputSourceRawValue WRITE setInputSourceRawValue NOTIFY inputSourceChanged FINAL)
    Q_PROPERTY(QString inputSourceDisplayName READ inputSourceDisplayName NOTIFY inputSourceChanged FINAL)
    Q_PROPERTY(QString target READ targetRawValue WRITE setTargetRawValue NOTIFY targetChanged FINAL)
    Q_PROPERTY(QString targetShortName READ targetShortName NOTIFY targetChanged FINAL)
    Q_PROPERTY(QString targetMenuLabel READ targetMenuLabel NOTIFY targetChanged FINAL)
    Q_PROPERTY(QString errorMessage READ errorMessageText WRITE setErrorMessageText NOTIFY errorMessageChanged FINAL)
    Q_PROPERTY(QString inputFormatDescription READ inputFormatDescriptionText NOTIFY inputFormatDescriptionChanged FINAL)
    Q_PROPERTY(double momentaryLUFS READ momentaryLUFS NOTIFY momentaryLUFSChanged FINAL)
    Q_PROPERTY(double shortTermLUFS READ shortTermLUFS NOTIFY shortTermLUFSChanged FINAL)
    Q_PROPERTY(double integratedLUFS READ integratedLUFS NOTIFY integratedLUFSChanged FINAL)
    Q_PROPERTY(double loudnessRangeLU READ loudnessRangeLU NOTIFY loudnessRangeLUChanged FINAL)
    Q_PROPERTY(double maxMomentaryLUFS READ maxMomentaryLUFS NOTIFY maxMomentaryLUFSChanged FINAL)
    Q_PROPERTY(QList<double> truePeakDBTP READ truePeakDBTP NOTIFY truePeakDBTPChanged FINAL)
    // The highest true peak per channel since start or reset; negative infinity before any.
    Q_PROPERTY(QList<double> maxTruePeakDBTP READ maxTruePeakDBTP NOTIFY maxTruePeakDBTPChanged FINAL)
    Q_PROPERTY(orvinta::HistoryPointList history READ history NOTIFY historyChanged FINAL)
    Q_PROPERTY(double elapsedSeconds READ elapsedSeconds NOTIFY elapsedSecondsChanged FINAL)
    Q_PROPERTY(QVariant phaseCorrelation READ phaseCorrelationVariant NOTIFY phaseCorrelationChanged FINAL)
    Q_PROPERTY(orvinta::GoniometerPointList goniometerPoints READ goniometerPoints NOTIFY goniometerPointsChanged FINAL)
    Q_PROPERTY(orvinta::SpectrumRows spectrumDB READ spectrumDB NOTIFY spectrumDBChanged FINAL)
    Q_PROPERTY(double historyWindowSeconds READ historyWindowSeconds CONSTANT FINAL)
    Q_PROPERTY(double radarCycleSeconds READ radarCycleSeconds WRITE setRadarCycleSeconds NOTIFY radarCycleSecondsChanged FINAL)
    Q_PROPERTY(QVariant targetOverrideLUFS READ targetOverrideLUFSVariant WRITE setTargetOverrideLUFSVariant NOTIFY targetOverrideLUFSChanged FINAL)
    Q_PROPERTY(double radarOuterLUFS READ radarOuterLUFS WRITE setRadarOuterLUFS NOTIFY radarOuterLUFSChanged FINAL)
    Q_PROPERTY(int resetSignal READ resetSignal NOTIFY resetSignalChanged FINAL)
    Q_PROPERTY(QVariant effectiveTargetLUFS READ effectiveTargetLUFSVariant NOTIFY effectiveTargetLUFSChanged FINAL)
    Q_PROPERTY(double radarRangeLU READ radarRangeLU NOTIFY radarRangeLUChanged FINAL)
    // clang-format on

public:
    // Creates the capture source for one start.
    using SourceFactory = std::function<std::shared_ptr<AudioCaptureSource>(InputSource)>;
    // The default input device's format, asked before any capture starts.
    using InputFormatQuery = std::function<std::optional<AudioFormatInfo>()>;
    // The monotonic clock behind elapsedSeconds and the hand-over statistics. It is also read
    // on the engine's processing queue, so it must be callable from any thread.
    using MonotonicClock = std::function<std::chrono::steady_clock::time_point()>;

    // Default wiring: MicrophoneCapture and SystemAudioCapture, MicrophoneCapture's query.
    explicit AppState(QObject* parent = nullptr);
    AppState(SourceFactory sourceFactory, InputFormatQuery inputFormatQuery,
             QObject* parent = nullptr);
    ~AppState() override;

    // Returns at once; the engine starts on a background thread and the outcome is applied
    // on the UI thread (startFinished is emitted then, whatever the outcome).
    Q_INVOKABLE void start();
    Q_INVOKABLE void stop();
    Q_INVOKABLE void reset();
    // TARGET buttons and arrow keys: move the target by deltaLU (±0.5), clamped to -40 … 0.
    Q_INVOKABLE void adjustTarget(double deltaLU);
    // RANGE buttons and Shift+arrow keys: move the radar range by deltaLU (±0.5), clamped to
    // 1 … 80.
    Q_INVOKABLE void adjustRange(double deltaLU);
    // Sets inputFormatDescription from the selected input: the fixed system-audio format, or
    // the default input device's format (none when it cannot be asked).
    Q_INVOKABLE void refreshInputFormatDescription();
    // Menu entries in order: maps with rawValue, displayName, shortName, menuLabel, targetLUFS.
    Q_INVOKABLE QVariantList targetOptions() const;
    // Menu entries in order: maps with rawValue and displayName.
    Q_INVOKABLE QVariantList inputSourceOptions() const;
    // Metric selector segments in order: maps with rawValue ("M", "S", "I") and label.
    Q_INVOKABLE QVariantList meterMetricOptions() const;

    bool isRunning() const;
    InputSource inputSource() const;
    void setInputSource(InputSource source);
    LoudnessTarget target() const;
    void setTarget(LoudnessTarget target);
    std::optional<QString> errorMessage() const;
    void setErrorMessage(std::optional<QString> message);
    std::optional<QString> inputFormatDescription() const;
    double momentaryLUFS() const;
    double shortTermLUFS() const;
    double integratedLUFS() const;
    double loudnessRangeLU() const;
    double maxMomentaryLUFS() const;
    QList<double> truePeakDBTP() const;
    QList<double> maxTruePeakDBTP() const;
    HistoryPointList history() const;
    double elapsedSeconds() const;
    std::optional<double> phaseCorrelation() const;
    GoniometerPointList goniometerPoints() const;
    SpectrumRows spectrumDB() const;
    double historyWindowSeconds() const;
    double radarCycleSeconds() const;
    void setRadarCycleSeconds(double seconds);
    std::optional<double> targetOverrideLUFS() const;
    void setTargetOverrideLUFS(std::optional<double> lufs);
    double radarOuterLUFS() const;
    void setRadarOuterLUFS(double lufs);
    int resetSignal() const;
    std::optional<double> effectiveTargetLUFS() const;
    double radarRangeLU() const;

    // Publishes one snapshot as the engine's hand-over does on the UI thread: values, maximum
    // momentary loudness, smoothed correlation, one history point and the history trim.
    // Public so that tests can feed exact values.
    void applySnapshot(LoudnessSnapshot snapshot);
    // Replaces the monotonic clock (tests move time forward with it). Call before the first
    // start(): the engine's processing queue reads it from then on.
    void setMonotonicClock(MonotonicClock clock);

    // QML-facing forms of the values above.
    QString inputSourceRawValue() const;
    void setInputSourceRawValue(const QString& rawValue);
    QString inputSourceDisplayName() const;
    QString targetRawValue() const;
    void setTargetRawValue(const QString& rawValue);
    QString targetShortName() const;
    QString targetMenuLabel() const;
    QString errorMessageText() const;
    void setErrorMessageText(const QString& message);
    QString inputFormatDescriptionText() const;
    QVariant phaseCorrelationVariant() const;
    QVariant targetOverrideLUFSVariant() const;
    void setTargetOverrideLUFSVariant(const QVariant& lufs);
    QVariant effectiveTargetLUFSVariant() const;

signals:
    void isRunningChanged();
    void inputSourceChanged();
    void targetChanged();
    void errorMessageChanged();
    void inputFormatDescriptionChanged();
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
    void radarCycleSecondsChanged();
    void targetOverrideLUFSChanged();
    void radarOuterLUFSChanged();
    void resetSignalChanged();
    void effectiveTargetLUFSChanged();
    void radarRangeLUChanged();
    void startFinished();

private:
    // Carries events from the engine's and the source's threads to the UI thread.
    struct Relay;
    // What happens when the start in flight finishes: it may have been stopped or superseded
    // by another start request while the engine was still starting.
    enum class PendingStartFollowUp { none, cancel, restart };

    void launchStart();
    void finishStart(const std::exception_ptr& error);
    void handleEngineError(const QString& text, quint64 runGeneration);
    void recordMainActorHop(std::chrono::steady_clock::time_point enqueuedAt);
    void endRun();
    void setRunning(bool running);
    void setInputFormatDescription(std::optional<QString> description);
    void setMomentaryLUFS(double lufs);
    void setShortTermLUFS(double lufs);
    void setIntegratedLUFS(double lufs);
    void setLoudnessRangeLU(double lu);
    void setMaxMomentaryLUFS(double lufs);
    void setPhaseCorrelation(std::optional<double> correlation);
    void setElapsedSeconds(double seconds);
    void emitDerivedChanges(std::optional<double> effectiveBefore, double rangeBefore);

    SourceFactory sourceFactory_;
    InputFormatQuery inputFormatQuery_;
    std::shared_ptr<Relay> relay_;

    // Everything below is confined to the UI thread.
    bool isRunning_ = false;
    InputSource inputSource_ = InputSource::microphone;
    LoudnessTarget target_ = LoudnessTarget::ebuR128;
    std::optional<QString> errorMessage_;
    std::optional<QString> inputFormatDescription_;
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
    double radarCycleSeconds_ = 60.0;
    std::optional<double> targetOverrideLUFS_;
    double radarOuterLUFS_ = -3.0;
    std::shared_ptr<LoudnessEngine> engine_;
    // Monotonic, so that a change of the system clock cannot bend elapsed time or the history.
    std::optional<std::chrono::steady_clock::time_point> startTime_;
    quint64 pointID_ = 0;
    double mainActorHopMaxMsSinceLastLog_ = 0.0;
    double mainActorHopSumMsSinceLastLog_ = 0.0;
    qint64 mainActorHopCountSinceLastLog_ = 0;
    std::optional<std::chrono::steady_clock::time_point> lastMainActorHopLogWallClock_;
    int resetSignal_ = 0;

    // The engine's start runs on a background thread; at most one is in flight.
    QFuture<void> startFuture_;
    bool startInFlight_ = false;
    PendingStartFollowUp pendingStartFollowUp_ = PendingStartFollowUp::none;
};

}  // namespace orvinta
