#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <optional>
#include <utility>

#include "state/capture_run.h"
#include "state/goniometer_point_list.h"
#include "state/history_point_list.h"
#include "state/input_format_probe.h"
#include "state/input_source.h"
#include "state/loudness_target.h"
#include "state/meter_metric.h"
#include "state/meter_settings.h"
#include "state/playing_applications_probe.h"
#include "state/readings_publisher.h"
#include "state/spectrum_rows.h"

namespace orvinta {

// The one observable object the dashboard reads: settings, the latest measurements, the
// history for the sparklines, the error text and the input-format text. A facade over the
// capture run (start, stop, the engine), the readings and the meter settings. Lives on the UI
// thread for the life of the process; nothing it does waits for the sound server.
//
// QML sees optional values as undefined when absent (errorMessage and inputFormatDescription
// as empty strings), the enumerations by their raw values ("ebuR128", "microphone").
class AppState : public QObject {
    Q_OBJECT
    // clang-format off
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged FINAL)
    // A start was requested and has not yet run or failed; STOP cancels it.
    Q_PROPERTY(bool isStarting READ isStarting NOTIFY isStartingChanged FINAL)
    Q_PROPERTY(QString inputSource READ inputSourceRawValue WRITE setInputSourceRawValue NOTIFY inputSourceChanged FINAL)
    Q_PROPERTY(QString inputSourceDisplayName READ inputSourceDisplayName NOTIFY inputSourceChanged FINAL)
    // The input menu's application entries: maps with rawValue and displayName, by name. The
    // selected application stays listed while it plays nothing.
    Q_PROPERTY(QVariantList playingApplications READ playingApplications NOTIFY playingApplicationsChanged FINAL)
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
    using SourceFactory = CaptureRun::SourceFactory;
    using InputFormatQuery = InputFormatProbe::Query;
    using ApplicationsQuery = PlayingApplicationsProbe::Query;

    // Default wiring: MicrophoneCapture, SystemAudioCapture and ApplicationAudioCapture, with
    // their queries of the sound server.
    explicit AppState(QObject* parent = nullptr);
    // Without an applications query, no application is ever listed.
    AppState(SourceFactory sourceFactory, InputFormatQuery inputFormatQuery,
             QObject* parent = nullptr);
    AppState(SourceFactory sourceFactory, InputFormatQuery inputFormatQuery,
             ApplicationsQuery applicationsQuery, QObject* parent = nullptr);
    ~AppState() override;

    // All return at once; the engine starts and stops on a background thread. startFinished
    // tells when a start request has ended.
    Q_INVOKABLE void start();
    // Also cancels a pending start.
    Q_INVOKABLE void stop();
    // The START/STOP button and the space bar: stops a run or a pending start, else starts.
    Q_INVOKABLE void toggleRunning();
    Q_INVOKABLE void reset();
    // TARGET buttons and arrow keys: move the target by deltaLU (±0.5), clamped to -40 … 0.
    Q_INVOKABLE void adjustTarget(double deltaLU) { settings_.adjustTarget(deltaLU); }
    // RANGE buttons and Shift+arrow keys: move the radar range by deltaLU, clamped to 1 … 80.
    Q_INVOKABLE void adjustRange(double deltaLU) { settings_.adjustRange(deltaLU); }
    // Asks again for the selected input's format; the text follows when the answer is in.
    Q_INVOKABLE void refreshInputFormatDescription() { format_.refresh(run_.inputSource()); }
    // Menu entries in order: maps with rawValue, displayName, shortName, menuLabel, targetLUFS.
    Q_INVOKABLE QVariantList targetOptions() const { return loudnessTargetOptions(); }
    // The fixed inputs' menu entries in order: maps with rawValue and displayName.
    Q_INVOKABLE QVariantList inputSourceOptions() const { return orvinta::inputSourceOptions(); }
    // Asks the sound server, off the UI thread, which applications play; playingApplications
    // follows when the answer differs. The input menu calls it while it is open.
    Q_INVOKABLE void refreshPlayingApplications() { applications_.refresh(); }
    // Metric selector segments in order: maps with rawValue ("M", "S", "I") and label.
    Q_INVOKABLE QVariantList meterMetricOptions() const { return orvinta::meterMetricOptions(); }

    // The measurements, for C++ callers that publish exact values (the dashboard's tests).
    ReadingsPublisher& readings() { return readings_; }

    bool isRunning() const { return run_.isRunning(); }
    bool isStarting() const { return run_.isStarting(); }
    InputSource inputSource() const { return run_.inputSource(); }
    void setInputSource(const InputSource& source) { run_.setInputSource(source); }
    LoudnessTarget target() const { return settings_.target(); }
    void setTarget(LoudnessTarget target) { settings_.setTarget(target); }
    std::optional<QString> errorMessage() const { return run_.errorMessage(); }
    void setErrorMessage(std::optional<QString> message) {
        run_.setErrorMessage(std::move(message));
    }
    std::optional<QString> inputFormatDescription() const { return format_.description(); }
    double momentaryLUFS() const { return readings_.momentaryLUFS(); }
    double shortTermLUFS() const { return readings_.shortTermLUFS(); }
    double integratedLUFS() const { return readings_.integratedLUFS(); }
    double loudnessRangeLU() const { return readings_.loudnessRangeLU(); }
    double maxMomentaryLUFS() const { return readings_.maxMomentaryLUFS(); }
    QList<double> truePeakDBTP() const { return readings_.truePeakDBTP(); }
    QList<double> maxTruePeakDBTP() const { return readings_.maxTruePeakDBTP(); }
    HistoryPointList history() const { return readings_.history(); }
    double elapsedSeconds() const { return readings_.elapsedSeconds(); }
    std::optional<double> phaseCorrelation() const { return readings_.phaseCorrelation(); }
    GoniometerPointList goniometerPoints() const { return readings_.goniometerPoints(); }
    SpectrumRows spectrumDB() const { return readings_.spectrumDB(); }
    double historyWindowSeconds() const { return ReadingsPublisher::historyWindowSeconds; }
    double radarCycleSeconds() const { return settings_.radarCycleSeconds(); }
    void setRadarCycleSeconds(double seconds) { settings_.setRadarCycleSeconds(seconds); }
    std::optional<double> targetOverrideLUFS() const { return settings_.targetOverrideLUFS(); }
    void setTargetOverrideLUFS(std::optional<double> lufs) {
        settings_.setTargetOverrideLUFS(lufs);
    }
    double radarOuterLUFS() const { return settings_.radarOuterLUFS(); }
    void setRadarOuterLUFS(double lufs) { settings_.setRadarOuterLUFS(lufs); }
    int resetSignal() const { return readings_.resetSignal(); }
    std::optional<double> effectiveTargetLUFS() const { return settings_.effectiveTargetLUFS(); }
    double radarRangeLU() const { return settings_.radarRangeLU(); }

    // QML-facing forms of the values above.
    QString inputSourceRawValue() const { return rawValue(inputSource()); }
    void setInputSourceRawValue(const QString& rawValue);
    QString inputSourceDisplayName() const { return displayName(inputSource()); }
    QVariantList playingApplications() const;
    QString targetRawValue() const { return rawValue(target()); }
    void setTargetRawValue(const QString& rawValue);
    QString targetShortName() const { return shortName(target()); }
    QString targetMenuLabel() const { return menuLabel(target()); }
    QString errorMessageText() const { return errorMessage().value_or(QString()); }
    void setErrorMessageText(const QString& message);
    QString inputFormatDescriptionText() const { return format_.description().value_or(QString()); }
    QVariant phaseCorrelationVariant() const { return toVariant(phaseCorrelation()); }
    QVariant targetOverrideLUFSVariant() const { return toVariant(targetOverrideLUFS()); }
    void setTargetOverrideLUFSVariant(const QVariant& lufs);
    QVariant effectiveTargetLUFSVariant() const { return toVariant(effectiveTargetLUFS()); }

signals:
    void isRunningChanged();
    void isStartingChanged();
    void inputSourceChanged();
    void playingApplicationsChanged();
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
    static QVariant toVariant(std::optional<double> value) {
        return value ? QVariant(*value) : QVariant();
    }

    // Declared before the run, which uses them and is destroyed first.
    ReadingsPublisher readings_;
    MeterSettings settings_;
    InputFormatProbe format_;
    PlayingApplicationsProbe applications_;
    CaptureRun run_;
};

}  // namespace orvinta
