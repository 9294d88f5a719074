#include "state/app_state.h"

#include <memory>
#include <utility>

#include "capture/application_audio_capture.h"
#include "capture/microphone_capture.h"
#include "capture/system_audio_capture.h"

namespace orvinta {

namespace {

std::shared_ptr<AudioCaptureSource> makeDefaultSource(const InputSource& source) {
    switch (source.kind()) {
        case InputSource::Kind::systemAudio:
            return std::make_shared<SystemAudioCapture>();
        case InputSource::Kind::microphone:
            return std::make_shared<MicrophoneCapture>();
        case InputSource::Kind::application:
            return std::make_shared<ApplicationAudioCapture>(source.applicationId().toStdString());
    }
    return nullptr;
}

}  // namespace

AppState::AppState(QObject* parent)
    : AppState(
          makeDefaultSource, [] { return MicrophoneCapture::currentInputFormatInfo(); },
          [] { return ApplicationAudioCapture::playingApplications(); }, parent) {}

AppState::AppState(SourceFactory sourceFactory, InputFormatQuery inputFormatQuery, QObject* parent)
    : AppState(std::move(sourceFactory), std::move(inputFormatQuery), {}, parent) {}

AppState::AppState(SourceFactory sourceFactory, InputFormatQuery inputFormatQuery,
                   ApplicationsQuery applicationsQuery, QObject* parent)
    : QObject(parent),
      format_(std::move(inputFormatQuery)),
      applications_(std::move(applicationsQuery)),
      run_(std::move(sourceFactory), readings_, format_) {
    connect(&run_, &CaptureRun::isRunningChanged, this, &AppState::isRunningChanged);
    connect(&run_, &CaptureRun::isStartingChanged, this, &AppState::isStartingChanged);
    connect(&run_, &CaptureRun::inputSourceChanged, this, &AppState::inputSourceChanged);
    // The selected application is listed even while silent, so a change of either changes it.
    connect(&run_, &CaptureRun::inputSourceChanged, this, &AppState::playingApplicationsChanged);
    connect(&applications_, &PlayingApplicationsProbe::applicationsChanged, this,
            &AppState::playingApplicationsChanged);
    connect(&run_, &CaptureRun::errorMessageChanged, this, &AppState::errorMessageChanged);
    connect(&run_, &CaptureRun::startFinished, this, &AppState::startFinished);
    connect(&format_, &InputFormatProbe::descriptionChanged, this,
            &AppState::inputFormatDescriptionChanged);

    using R = ReadingsPublisher;
    connect(&readings_, &R::momentaryLUFSChanged, this, &AppState::momentaryLUFSChanged);
    connect(&readings_, &R::shortTermLUFSChanged, this, &AppState::shortTermLUFSChanged);
    connect(&readings_, &R::integratedLUFSChanged, this, &AppState::integratedLUFSChanged);
    connect(&readings_, &R::loudnessRangeLUChanged, this, &AppState::loudnessRangeLUChanged);
    connect(&readings_, &R::maxMomentaryLUFSChanged, this, &AppState::maxMomentaryLUFSChanged);
    connect(&readings_, &R::truePeakDBTPChanged, this, &AppState::truePeakDBTPChanged);
    connect(&readings_, &R::maxTruePeakDBTPChanged, this, &AppState::maxTruePeakDBTPChanged);
    connect(&readings_, &R::historyChanged, this, &AppState::historyChanged);
    connect(&readings_, &R::elapsedSecondsChanged, this, &AppState::elapsedSecondsChanged);
    connect(&readings_, &R::phaseCorrelationChanged, this, &AppState::phaseCorrelationChanged);
    connect(&readings_, &R::goniometerPointsChanged, this, &AppState::goniometerPointsChanged);
    connect(&readings_, &R::spectrumDBChanged, this, &AppState::spectrumDBChanged);
    connect(&readings_, &R::resetSignalChanged, this, &AppState::resetSignalChanged);

    using S = MeterSettings;
    connect(&settings_, &S::targetChanged, this, &AppState::targetChanged);
    connect(&settings_, &S::targetOverrideLUFSChanged, this, &AppState::targetOverrideLUFSChanged);
    connect(&settings_, &S::radarOuterLUFSChanged, this, &AppState::radarOuterLUFSChanged);
    connect(&settings_, &S::radarCycleSecondsChanged, this, &AppState::radarCycleSecondsChanged);
    connect(&settings_, &S::effectiveTargetLUFSChanged, this,
            &AppState::effectiveTargetLUFSChanged);
    connect(&settings_, &S::radarRangeLUChanged, this, &AppState::radarRangeLUChanged);
}

AppState::~AppState() = default;

void AppState::start() {
    run_.start();
}

void AppState::stop() {
    run_.stop();
}

void AppState::toggleRunning() {
    if (run_.isRunning() || run_.isStarting()) {
        run_.stop();
    } else {
        run_.start();
    }
}

void AppState::reset() {
    run_.reset();
}

void AppState::setInputSourceRawValue(const QString& rawValueText) {
    const auto source = inputSourceFromRawValue(rawValueText);
    if (!source) {
        return;
    }
    // An application's raw value carries only its id: the listing knows its name.
    for (const InputSource& playing : applications_.applications()) {
        if (playing == *source) {
            setInputSource(playing);
            return;
        }
    }
    setInputSource(*source);
}

QVariantList AppState::playingApplications() const {
    QVariantList entries;
    const InputSource& selected = inputSource();
    bool selectedListed = selected.kind() != InputSource::Kind::application;
    for (const InputSource& playing : applications_.applications()) {
        entries.append(inputSourceOption(playing));
        selectedListed = selectedListed || playing == selected;
    }
    if (!selectedListed) {
        entries.append(inputSourceOption(selected));
    }
    return entries;
}

void AppState::setTargetRawValue(const QString& rawValueText) {
    if (const auto target = loudnessTargetFromRawValue(rawValueText)) {
        setTarget(*target);
    }
}

void AppState::setErrorMessageText(const QString& message) {
    setErrorMessage(message.isEmpty() ? std::nullopt : std::optional<QString>(message));
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

}  // namespace orvinta
