#pragma once

#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "capture/audio_capture_source.h"
#include "state/background_queue.h"
#include "state/input_source.h"

namespace orvinta {

class InputFormatProbe;
class LoudnessEngine;
class ReadingsPublisher;

// Starts and stops metering. Creates a capture source for the selected input at every start,
// drives the one LoudnessEngine, and relays the engine's snapshots and errors and the source's
// format to the UI thread. The engine's start and stop call into the sound server, which may be
// slow or stop answering, so they run in order on a background queue; the UI thread only
// records the request and never waits.
//
// States: stopped, starting (a start requested and not yet resolved) and running. stop() leaves
// either of the others at once: a pending start is cancelled, and its engine is stopped behind
// it on the queue. Snapshots reach the readings only while running and only if nothing (a start
// or a reset) overtook them. Owned by AppState; lives on the UI thread.
class CaptureRun : public QObject {
    Q_OBJECT

public:
    // Creates the capture source for one start; called on the UI thread. The source must not
    // call into the sound server before its start().
    using SourceFactory = std::function<std::shared_ptr<AudioCaptureSource>(InputSource)>;

    CaptureRun(SourceFactory sourceFactory, ReadingsPublisher& readings, InputFormatProbe& format,
               QObject* parent = nullptr);
    // Stops the engine on the background queue and waits for that briefly: a sound server that
    // stopped answering must not keep the application from quitting.
    ~CaptureRun() override;

    // From stopped: clears the error and starts. While running: stops and starts again. While
    // starting: nothing more (a second START must not open a second capture).
    void start();
    // Ends a run or cancels a pending start; the readings stay.
    void stop();
    // RESET: the analyzer's statistics and the readings start afresh; snapshots measured before
    // are dropped.
    void reset();

    bool isRunning() const { return isRunning_; }
    bool isStarting() const { return isStarting_; }
    InputSource inputSource() const { return inputSource_; }
    // Refreshes the format text and, while running or starting, starts again on the new source.
    void setInputSource(const InputSource& source);
    std::optional<QString> errorMessage() const { return errorMessage_; }
    void setErrorMessage(std::optional<QString> message);

signals:
    void isRunningChanged();
    void isStartingChanged();
    void inputSourceChanged();
    void errorMessageChanged();
    // A start request has ended: it runs, it failed (errorMessage says why) or it was stopped.
    void startFinished();

private:
    // What the engine's and the source's callbacks share with the run, across threads.
    struct Bridge;

    void finishStart(quint64 run, const std::exception_ptr& error);
    void failStart(const std::exception_ptr& error);
    void takeSnapshot();
    void handleEngineError(const QString& text, quint64 run);
    void setRunning(bool running);
    void setStarting(bool starting);

    SourceFactory sourceFactory_;
    ReadingsPublisher& readings_;
    InputFormatProbe& format_;
    std::shared_ptr<LoudnessEngine> engine_;
    std::shared_ptr<Bridge> bridge_;

    // Everything below is confined to the UI thread.
    bool isRunning_ = false;
    bool isStarting_ = false;
    InputSource inputSource_ = InputSource::microphone;
    std::optional<QString> errorMessage_;
    // Numbers the starts; `currentRun_` is the one running or starting, 0 when stopped.
    quint64 lastRun_ = 0;
    quint64 currentRun_ = 0;

    BackgroundQueue engineQueue_;
};

}  // namespace orvinta
