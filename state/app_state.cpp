#include "state/app_state.h"

#include <QMetaObject>
#include <QPointer>
#include <QVariantMap>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>
#include <utility>

#include "capture/audio_capture_error.h"
#include "capture/console_log.h"
#include "capture/loudness_engine.h"
#include "capture/microphone_capture.h"
#include "capture/system_audio_capture.h"
#include "state/meter_metric.h"

namespace orvinta {

namespace {

constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();
// The sparkline draws 60 s; the history keeps 2 s more so the window's left edge is covered.
constexpr double kHistoryWindowSeconds = 60.0;
constexpr double kHistoryMarginSeconds = 2.0;
constexpr double kMainActorHopLogIntervalSec = 5.0;
// The correlation is smoothed with a one-pole filter at the snapshot rate.
constexpr double kCorrelationSmoothingWeight = 0.3;
constexpr double kTargetAdjustMinLUFS = -40.0;
constexpr double kTargetAdjustMaxLUFS = 0.0;
constexpr double kRadarRangeMinLU = 1.0;
constexpr double kRadarRangeMaxLU = 80.0;
// The fallback target where none is set, for the radar range and the TARGET buttons.
constexpr double kFallbackTargetLUFS = -23.0;

// The text a user sees for a failed start or a capture error.
QString messageText(const std::exception_ptr& error) {
    static const QString unknown =
        QStringLiteral("Audio capture failed for an unknown reason. Try starting again.");
    if (!error) {
        return unknown;
    }
    try {
        std::rethrow_exception(error);
    } catch (const AudioCaptureError& captureError) {
        return QString::fromStdString(captureError.errorDescription());
    } catch (const std::exception& otherError) {
        const QString text = QString::fromUtf8(otherError.what());
        return text.isEmpty() ? unknown : text;
    } catch (...) {
        return unknown;
    }
}

std::chrono::steady_clock::time_point systemMonotonicNow() {
    return std::chrono::steady_clock::now();
}

double millisecondsBetween(std::chrono::steady_clock::time_point from,
                           std::chrono::steady_clock::time_point to) {
    return static_cast<double>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count()) /
           1'000'000.0;
}

template <typename T>
bool assignIfChanged(T& member, const T& value) {
    if (member == value) {
        return false;
    }
    member = value;
    return true;
}

std::shared_ptr<AudioCaptureSource> makeDefaultSource(InputSource source) {
    switch (source) {
        case InputSource::systemAudio:
            return std::make_shared<SystemAudioCapture>();
        case InputSource::microphone:
            return std::make_shared<MicrophoneCapture>();
    }
    return nullptr;
}

}  // namespace

// The engine calls back on its processing queue and the sources on their own threads, while
// AppState lives on the UI thread. Those threads reach AppState only through post(), which
// queues a functor to the UI thread under the mutex; the destructor clears `target` under the
// same mutex before anything else, so no event is ever posted to a dying object, and the
// events already queued are discarded with it. The functors check `self` again on the UI
// thread.
struct AppState::Relay {
    explicit Relay(AppState* owner) : self(owner), target(owner) {}

    template <typename Functor>
    void post(Functor&& functor) {
        std::lock_guard lock(mutex);
        if (target != nullptr) {
            QMetaObject::invokeMethod(target, std::forward<Functor>(functor), Qt::QueuedConnection);
        }
    }

    void detach() {
        std::lock_guard lock(mutex);
        target = nullptr;
    }

    // Written once in the constructor; copied on any thread, dereferenced only on the UI thread.
    const QPointer<AppState> self;
    // Set before the first start (which orders it before every read on the engine's threads),
    // never changed while the engine runs.
    MonotonicClock monotonicNow = systemMonotonicNow;
    // Counts stopped runs. The reporting thread stamps each error with it; an error stamped
    // before a stop belongs to a run that no longer exists. The source promises no callback
    // after its stop() returns, and the count moves on only after that, so relaxed is enough.
    std::atomic<quint64> runGeneration{0};

private:
    std::mutex mutex;
    AppState* target;  // guarded by mutex
};

AppState::AppState(QObject* parent)
    : AppState(
          makeDefaultSource, [] { return MicrophoneCapture::currentInputFormatInfo(); }, parent) {}

AppState::AppState(SourceFactory sourceFactory, InputFormatQuery inputFormatQuery, QObject* parent)
    : QObject(parent),
      sourceFactory_(std::move(sourceFactory)),
      inputFormatQuery_(std::move(inputFormatQuery)),
      relay_(std::make_shared<Relay>(this)),
      momentaryLUFS_(kNegativeInfinity),
      shortTermLUFS_(kNegativeInfinity),
      integratedLUFS_(kNegativeInfinity),
      maxMomentaryLUFS_(kNegativeInfinity),
      engine_(LoudnessEngine::create()) {
    engine_->onSnapshot = [relay = relay_](const LoudnessSnapshot& snapshot) {
        const auto enqueuedAt = relay->monotonicNow();
        relay->post(
            [self = relay->self, snapshot = LoudnessSnapshot(snapshot), enqueuedAt]() mutable {
                if (self) {
                    self->recordMainActorHop(enqueuedAt);
                    self->applySnapshot(std::move(snapshot));
                }
            });
    };
    engine_->onError = [relay = relay_](const std::exception_ptr& error) {
        const QString text = messageText(error);
        printLogLine("[Tessaro] AppState: engine reported error: " + text.toStdString());
        const quint64 generation = relay->runGeneration.load(std::memory_order_relaxed);
        relay->post([self = relay->self, text, generation] {
            if (self) {
                self->handleEngineError(text, generation);
            }
        });
    };
    refreshInputFormatDescription();
}

AppState::~AppState() {
    // From here on no callback reaches this object.
    relay_->detach();
    // The engine must not be stopped while its start is still running on the pool thread.
    startFuture_.waitForFinished();
    // Stops the source (whose callbacks end with its stop) and releases the analyzer; snapshots
    // still queued on the processing queue find the relay detached.
    engine_->stop();
}

void AppState::start() {
    if (startInFlight_) {
        // One engine start at a time: the running one is discarded when it finishes and a
        // fresh start with the settings of that moment follows.
        setErrorMessage(std::nullopt);
        pendingStartFollowUp_ = PendingStartFollowUp::restart;
        return;
    }
    if (isRunning_) {
        // A second source on a running engine would be released without being stopped.
        stop();
    }
    launchStart();
}

void AppState::launchStart() {
    setErrorMessage(std::nullopt);

    std::shared_ptr<AudioCaptureSource> source;
    std::exception_ptr creationError;
    try {
        source = sourceFactory_ ? sourceFactory_(inputSource_) : nullptr;
    } catch (...) {
        creationError = std::current_exception();
    }
    if (!source) {
        finishStart(creationError ? creationError
                                  : std::make_exception_ptr(AudioCaptureError::streamSetupFailed(
                                        "no capture source is available for this input")));
        return;
    }

    source->onFormatInfo = [relay = relay_](const AudioFormatInfo& info) {
        relay->post([self = relay->self, text = QString::fromStdString(info.displayDescription())] {
            if (self) {
                self->setInputFormatDescription(text);
            }
        });
    };

    startInFlight_ = true;
    pendingStartFollowUp_ = PendingStartFollowUp::none;
    startFuture_ = QtConcurrent::run([engine = engine_, source, relay = relay_] {
        std::exception_ptr error;
        try {
            engine->start(source);
        } catch (...) {
            error = std::current_exception();
        }
        relay->post([self = relay->self, error] {
            if (self) {
                self->finishStart(error);
            }
        });
    });
}

void AppState::finishStart(const std::exception_ptr& error) {
    startInFlight_ = false;
    const PendingStartFollowUp followUp =
        std::exchange(pendingStartFollowUp_, PendingStartFollowUp::none);

    if (followUp != PendingStartFollowUp::none) {
        // Stopped or superseded while starting: a started engine is stopped again at once.
        if (error) {
            printLogLine("[Tessaro] AppState: engine.start(with:) threw: " +
                         messageText(error).toStdString());
        } else {
            endRun();
        }
        if (followUp == PendingStartFollowUp::restart) {
            launchStart();
            return;
        }
        // The discarded source may have reported its format meanwhile.
        refreshInputFormatDescription();
        emit startFinished();
        return;
    }

    if (error) {
        const QString text = messageText(error);
        printLogLine("[Tessaro] AppState: engine.start(with:) threw: " + text.toStdString());
        setErrorMessage(text);
        emit startFinished();
        return;
    }

    history_.clear();
    emit historyChanged();
    pointID_ = 0;
    // The maximum covers the current run only; a previous run's (or source's) peak must not
    // stand over the new one.
    setMaxMomentaryLUFS(kNegativeInfinity);
    setElapsedSeconds(0.0);
    startTime_ = relay_->monotonicNow();
    setRunning(true);
    mainActorHopMaxMsSinceLastLog_ = 0.0;
    mainActorHopSumMsSinceLastLog_ = 0.0;
    mainActorHopCountSinceLastLog_ = 0;
    lastMainActorHopLogWallClock_.reset();
    emit startFinished();
}

void AppState::endRun() {
    engine_->stop();
    relay_->runGeneration.fetch_add(1, std::memory_order_relaxed);
}

void AppState::stop() {
    if (startInFlight_) {
        pendingStartFollowUp_ = PendingStartFollowUp::cancel;
    } else {
        endRun();
    }
    setRunning(false);
    refreshInputFormatDescription();
}

void AppState::reset() {
    engine_->resetLoudnessStatistics();
    setMaxMomentaryLUFS(kNegativeInfinity);
    setMomentaryLUFS(kNegativeInfinity);
    setShortTermLUFS(kNegativeInfinity);
    setIntegratedLUFS(kNegativeInfinity);
    setLoudnessRangeLU(0.0);
    truePeakDBTP_.fill(kNegativeInfinity);
    emit truePeakDBTPChanged();
    maxTruePeakDBTP_.fill(kNegativeInfinity);
    emit maxTruePeakDBTPChanged();
    history_.clear();
    pointID_ = 0;
    emit historyChanged();
    engine_->resetPhaseAndSpectrum();
    setPhaseCorrelation(std::nullopt);
    goniometerPoints_ = GoniometerPointList();
    emit goniometerPointsChanged();
    spectrumDB_ = SpectrumRows();
    emit spectrumDBChanged();
    ++resetSignal_;
    emit resetSignalChanged();
}

void AppState::handleEngineError(const QString& text, quint64 runGeneration) {
    if (runGeneration != relay_->runGeneration.load(std::memory_order_relaxed)) {
        // The run that failed was stopped meanwhile (a restart, or the user); the error must
        // not stop its successor. With nothing running the text is still worth showing.
        if (!isRunning_ && !startInFlight_) {
            setErrorMessage(text);
        }
        return;
    }
    setErrorMessage(text);
    stop();
}

void AppState::recordMainActorHop(std::chrono::steady_clock::time_point enqueuedAt) {
    const auto now = relay_->monotonicNow();
    const double delayMs = millisecondsBetween(enqueuedAt, now);
    mainActorHopMaxMsSinceLastLog_ = std::max(mainActorHopMaxMsSinceLastLog_, delayMs);
    mainActorHopSumMsSinceLastLog_ += delayMs;
    ++mainActorHopCountSinceLastLog_;

    if (lastMainActorHopLogWallClock_ && millisecondsBetween(*lastMainActorHopLogWallClock_, now) <
                                             kMainActorHopLogIntervalSec * 1000.0) {
        return;
    }
    lastMainActorHopLogWallClock_ = now;
    const double averageMs =
        mainActorHopCountSinceLastLog_ > 0
            ? mainActorHopSumMsSinceLastLog_ / static_cast<double>(mainActorHopCountSinceLastLog_)
            : 0.0;
    char line[160];
    std::snprintf(line, sizeof line,
                  "[Tessaro] AppState: mainActor hop delay avg=%.1fms max=%.1fms (%lld snapshots)",
                  averageMs, mainActorHopMaxMsSinceLastLog_,
                  static_cast<long long>(mainActorHopCountSinceLastLog_));
    printLogLine(line);
    mainActorHopMaxMsSinceLastLog_ = 0.0;
    mainActorHopSumMsSinceLastLog_ = 0.0;
    mainActorHopCountSinceLastLog_ = 0;
}

void AppState::applySnapshot(LoudnessSnapshot snapshot) {
    setMomentaryLUFS(snapshot.momentaryLUFS);
    setShortTermLUFS(snapshot.shortTermLUFS);
    setIntegratedLUFS(snapshot.integratedLUFS);
    setLoudnessRangeLU(snapshot.loudnessRangeLU);
    if (maxMomentaryLUFS_ <= snapshot.momentaryLUFS) {
        setMaxMomentaryLUFS(snapshot.momentaryLUFS);
    }

    // Each change repaints the items bound to it, so an equal value (the true peak between
    // peaks, the spectrum between its hops) is not published again.
    if (!std::equal(truePeakDBTP_.cbegin(), truePeakDBTP_.cend(), snapshot.truePeakDBTP.cbegin(),
                    snapshot.truePeakDBTP.cend())) {
        truePeakDBTP_ = QList<double>(snapshot.truePeakDBTP.begin(), snapshot.truePeakDBTP.end());
        emit truePeakDBTPChanged();
    }
    if (!std::equal(maxTruePeakDBTP_.cbegin(), maxTruePeakDBTP_.cend(),
                    snapshot.maxTruePeakDBTP.cbegin(), snapshot.maxTruePeakDBTP.cend())) {
        maxTruePeakDBTP_ =
            QList<double>(snapshot.maxTruePeakDBTP.begin(), snapshot.maxTruePeakDBTP.end());
        emit maxTruePeakDBTPChanged();
    }

    // A non-finite reading would stick in the smoothed value for good; it counts as none.
    std::optional<double> correlation = snapshot.phaseCorrelation;
    if (correlation && !std::isfinite(*correlation)) {
        correlation.reset();
    }
    if (!correlation) {
        setPhaseCorrelation(std::nullopt);
    } else if (!phaseCorrelation_) {
        setPhaseCorrelation(correlation);
    } else {
        setPhaseCorrelation(kCorrelationSmoothingWeight * *correlation +
                            (1.0 - kCorrelationSmoothingWeight) * *phaseCorrelation_);
    }

    if (goniometerPoints_.points() != snapshot.goniometerPoints) {
        goniometerPoints_ = GoniometerPointList(std::move(snapshot.goniometerPoints));
        emit goniometerPointsChanged();
    }
    if (spectrumDB_.rows() != snapshot.spectrumDB) {
        spectrumDB_ = SpectrumRows(std::move(snapshot.spectrumDB));
        emit spectrumDBChanged();
    }

    const double elapsed =
        startTime_ ? millisecondsBetween(*startTime_, relay_->monotonicNow()) / 1000.0 : 0.0;
    setElapsedSeconds(elapsed);

    ++pointID_;
    history_.append(
        HistoryPoint{pointID_, elapsed, snapshot.momentaryLUFS, snapshot.shortTermLUFS});
    const double cutoff = elapsed - kHistoryWindowSeconds - kHistoryMarginSeconds;
    const auto firstKept = std::find_if(
        history_.cbegin(), history_.cend(),
        [cutoff](const HistoryPoint& point) { return point.elapsedSeconds >= cutoff; });
    // The newest point carries `elapsed` itself, so it always stays.
    history_.erase(history_.cbegin(), firstKept);
    emit historyChanged();
}

void AppState::refreshInputFormatDescription() {
    std::optional<AudioFormatInfo> info;
    switch (inputSource_) {
        case InputSource::systemAudio:
            info = AudioFormatInfo{48'000.0, 32, true, 2};
            break;
        case InputSource::microphone:
            if (inputFormatQuery_) {
                try {
                    info = inputFormatQuery_();
                } catch (...) {
                    info.reset();
                }
            }
            break;
    }
    setInputFormatDescription(
        info ? std::optional<QString>(QString::fromStdString(info->displayDescription()))
             : std::nullopt);
}

void AppState::adjustTarget(double deltaLU) {
    if (!std::isfinite(deltaLU)) {
        return;
    }
    const double target = effectiveTargetLUFS().value_or(kFallbackTargetLUFS);
    setTargetOverrideLUFS(std::clamp(target + deltaLU, kTargetAdjustMinLUFS, kTargetAdjustMaxLUFS));
}

void AppState::adjustRange(double deltaLU) {
    if (!std::isfinite(deltaLU)) {
        return;
    }
    const double target = effectiveTargetLUFS().value_or(kFallbackTargetLUFS);
    const double range = std::clamp(radarRangeLU() + deltaLU, kRadarRangeMinLU, kRadarRangeMaxLU);
    setRadarOuterLUFS(target + range);
}

QVariantList AppState::targetOptions() const {
    QVariantList options;
    for (LoudnessTarget option : allLoudnessTargets()) {
        const std::optional<double> lufs = targetLUFS(option);
        options.append(QVariantMap{
            {QStringLiteral("rawValue"), rawValue(option)},
            {QStringLiteral("displayName"), displayName(option)},
            {QStringLiteral("shortName"), shortName(option)},
            {QStringLiteral("menuLabel"), menuLabel(option)},
            {QStringLiteral("targetLUFS"), lufs ? QVariant(*lufs) : QVariant()},
        });
    }
    return options;
}

QVariantList AppState::inputSourceOptions() const {
    QVariantList options;
    for (InputSource option : allInputSources()) {
        options.append(QVariantMap{
            {QStringLiteral("rawValue"), rawValue(option)},
            {QStringLiteral("displayName"), displayName(option)},
        });
    }
    return options;
}

QVariantList AppState::meterMetricOptions() const {
    QVariantList options;
    for (MeterMetric option : allMeterMetrics()) {
        options.append(QVariantMap{
            {QStringLiteral("rawValue"), rawValue(option)},
            {QStringLiteral("label"), label(option)},
        });
    }
    return options;
}

void AppState::setMonotonicClock(MonotonicClock clock) {
    relay_->monotonicNow = clock ? std::move(clock) : MonotonicClock(systemMonotonicNow);
}

// --- Settings -----------------------------------------------------------------------------

bool AppState::isRunning() const {
    return isRunning_;
}

void AppState::setRunning(bool running) {
    if (isRunning_ == running) {
        return;
    }
    isRunning_ = running;
    emit isRunningChanged();
}

InputSource AppState::inputSource() const {
    return inputSource_;
}

void AppState::setInputSource(InputSource source) {
    if (source == inputSource_) {
        return;
    }
    inputSource_ = source;
    emit inputSourceChanged();
    refreshInputFormatDescription();
    const bool starting = startInFlight_ && pendingStartFollowUp_ != PendingStartFollowUp::cancel;
    if (isRunning_ || starting) {
        QMetaObject::invokeMethod(
            this,
            [self = QPointer<AppState>(this), source] {
                if (!self) {
                    return;
                }
                printLogLine("[Tessaro] AppState: restarting capture for input source change -> " +
                             displayName(source).toStdString());
                self->stop();
                self->start();
            },
            Qt::QueuedConnection);
    }
}

LoudnessTarget AppState::target() const {
    return target_;
}

void AppState::setTarget(LoudnessTarget target) {
    if (target == target_) {
        // Choosing the selected preset again keeps a manual override.
        return;
    }
    const auto effectiveBefore = effectiveTargetLUFS();
    const double rangeBefore = radarRangeLU();
    target_ = target;
    emit targetChanged();
    if (targetOverrideLUFS_) {
        targetOverrideLUFS_.reset();
        emit targetOverrideLUFSChanged();
    }
    emitDerivedChanges(effectiveBefore, rangeBefore);
}

std::optional<QString> AppState::errorMessage() const {
    return errorMessage_;
}

void AppState::setErrorMessage(std::optional<QString> message) {
    if (message == errorMessage_) {
        return;
    }
    errorMessage_ = std::move(message);
    emit errorMessageChanged();
}

std::optional<QString> AppState::inputFormatDescription() const {
    return inputFormatDescription_;
}

void AppState::setInputFormatDescription(std::optional<QString> description) {
    if (description == inputFormatDescription_) {
        return;
    }
    inputFormatDescription_ = std::move(description);
    emit inputFormatDescriptionChanged();
}

double AppState::historyWindowSeconds() const {
    return kHistoryWindowSeconds;
}

double AppState::radarCycleSeconds() const {
    return radarCycleSeconds_;
}

void AppState::setRadarCycleSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds == radarCycleSeconds_) {
        return;
    }
    radarCycleSeconds_ = seconds;
    emit radarCycleSecondsChanged();
}

std::optional<double> AppState::targetOverrideLUFS() const {
    return targetOverrideLUFS_;
}

void AppState::setTargetOverrideLUFS(std::optional<double> lufs) {
    if (lufs && !std::isfinite(*lufs)) {
        return;
    }
    if (lufs == targetOverrideLUFS_) {
        return;
    }
    const auto effectiveBefore = effectiveTargetLUFS();
    const double rangeBefore = radarRangeLU();
    targetOverrideLUFS_ = lufs;
    emit targetOverrideLUFSChanged();
    emitDerivedChanges(effectiveBefore, rangeBefore);
}

double AppState::radarOuterLUFS() const {
    return radarOuterLUFS_;
}

void AppState::setRadarOuterLUFS(double lufs) {
    if (!std::isfinite(lufs) || lufs == radarOuterLUFS_) {
        return;
    }
    const auto effectiveBefore = effectiveTargetLUFS();
    const double rangeBefore = radarRangeLU();
    radarOuterLUFS_ = lufs;
    emit radarOuterLUFSChanged();
    emitDerivedChanges(effectiveBefore, rangeBefore);
}

std::optional<double> AppState::effectiveTargetLUFS() const {
    return targetOverrideLUFS_ ? targetOverrideLUFS_ : targetLUFS(target_);
}

double AppState::radarRangeLU() const {
    const std::optional<double> target = effectiveTargetLUFS();
    if (!target) {
        return 0.0 - kFallbackTargetLUFS;
    }
    // Never below 1 LU while a target exists.
    return std::max(radarOuterLUFS_, *target + 1.0) - *target;
}

void AppState::emitDerivedChanges(std::optional<double> effectiveBefore, double rangeBefore) {
    if (effectiveTargetLUFS() != effectiveBefore) {
        emit effectiveTargetLUFSChanged();
    }
    if (radarRangeLU() != rangeBefore) {
        emit radarRangeLUChanged();
    }
}

// --- Measurements -------------------------------------------------------------------------

double AppState::momentaryLUFS() const {
    return momentaryLUFS_;
}
double AppState::shortTermLUFS() const {
    return shortTermLUFS_;
}
double AppState::integratedLUFS() const {
    return integratedLUFS_;
}
double AppState::loudnessRangeLU() const {
    return loudnessRangeLU_;
}
double AppState::maxMomentaryLUFS() const {
    return maxMomentaryLUFS_;
}
QList<double> AppState::truePeakDBTP() const {
    return truePeakDBTP_;
}

QList<double> AppState::maxTruePeakDBTP() const {
    return maxTruePeakDBTP_;
}
HistoryPointList AppState::history() const {
    return HistoryPointList(history_);
}
double AppState::elapsedSeconds() const {
    return elapsedSeconds_;
}
std::optional<double> AppState::phaseCorrelation() const {
    return phaseCorrelation_;
}
GoniometerPointList AppState::goniometerPoints() const {
    return goniometerPoints_;
}
SpectrumRows AppState::spectrumDB() const {
    return spectrumDB_;
}
int AppState::resetSignal() const {
    return resetSignal_;
}

// Scalars notify only on a real change; -inf equals -inf, so silence does not churn the views.
void AppState::setMomentaryLUFS(double lufs) {
    if (assignIfChanged(momentaryLUFS_, lufs)) {
        emit momentaryLUFSChanged();
    }
}

void AppState::setShortTermLUFS(double lufs) {
    if (assignIfChanged(shortTermLUFS_, lufs)) {
        emit shortTermLUFSChanged();
    }
}

void AppState::setIntegratedLUFS(double lufs) {
    if (assignIfChanged(integratedLUFS_, lufs)) {
        emit integratedLUFSChanged();
    }
}

void AppState::setLoudnessRangeLU(double lu) {
    if (assignIfChanged(loudnessRangeLU_, lu)) {
        emit loudnessRangeLUChanged();
    }
}

void AppState::setMaxMomentaryLUFS(double lufs) {
    if (assignIfChanged(maxMomentaryLUFS_, lufs)) {
        emit maxMomentaryLUFSChanged();
    }
}

void AppState::setElapsedSeconds(double seconds) {
    if (assignIfChanged(elapsedSeconds_, seconds)) {
        emit elapsedSecondsChanged();
    }
}

void AppState::setPhaseCorrelation(std::optional<double> correlation) {
    if (assignIfChanged(phaseCorrelation_, correlation)) {
        emit phaseCorrelationChanged();
    }
}

// --- QML-facing forms ---------------------------------------------------------------------

QString AppState::inputSourceRawValue() const {
    return rawValue(inputSource_);
}

void AppState::setInputSourceRawValue(const QString& rawValueText) {
    if (const auto source = inputSourceFromRawValue(rawValueText)) {
        setInputSource(*source);
    }
}

QString AppState::inputSourceDisplayName() const {
    return displayName(inputSource_);
}

QString AppState::targetRawValue() const {
    return rawValue(target_);
}

void AppState::setTargetRawValue(const QString& rawValueText) {
    if (const auto target = loudnessTargetFromRawValue(rawValueText)) {
        setTarget(*target);
    }
}

QString AppState::targetShortName() const {
    return shortName(target_);
}

QString AppState::targetMenuLabel() const {
    return menuLabel(target_);
}

QString AppState::errorMessageText() const {
    return errorMessage_.value_or(QString());
}

void AppState::setErrorMessageText(const QString& message) {
    setErrorMessage(message.isEmpty() ? std::nullopt : std::optional<QString>(message));
}

QString AppState::inputFormatDescriptionText() const {
    return inputFormatDescription_.value_or(QString());
}

QVariant AppState::phaseCorrelationVariant() const {
    return phaseCorrelation_ ? QVariant(*phaseCorrelation_) : QVariant();
}

QVariant AppState::targetOverrideLUFSVariant() const {
    return targetOverrideLUFS_ ? QVariant(*targetOverrideLUFS_) : QVariant();
}

void AppState::setTargetOverrideLUFSVariant(const QVariant& lufs) {
    if (!lufs.isValid() || lufs.isNull()) {
        setTargetOverrideLUFS(std::nullopt);
        return;
    }
    bool ok = false;
    const double value = lufs.toDouble(&ok);
    if (ok) {
        setTargetOverrideLUFS(value);
    }
}

QVariant AppState::effectiveTargetLUFSVariant() const {
    const std::optional<double> lufs = effectiveTargetLUFS();
    return lufs ? QVariant(*lufs) : QVariant();
}

}  // namespace orvinta
