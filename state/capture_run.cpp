#include "state/capture_run.h"

#include <atomic>
#include <chrono>
#include <utility>

#include "capture/audio_capture_error.h"
#include "capture/console_log.h"
#include "capture/loudness_engine.h"
#include "state/input_format_probe.h"
#include "state/readings_publisher.h"
#include "state/snapshot_mailbox.h"
#include "state/ui_thread_relay.h"

namespace orvinta {

namespace {

using namespace std::chrono_literals;

// How long quitting waits for the engine to stop before it leaves the queue's thread behind.
constexpr auto kShutdownWait = 1000ms;

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

void logStartFailure(const QString& text) {
    printLogLine("[Tessaro] AppState: engine.start(with:) threw: " + text.toStdString());
}

}  // namespace

struct CaptureRun::Bridge {
    explicit Bridge(CaptureRun* owner) : owner(owner), relay(owner) {}

    // Dereferenced only inside calls posted through `relay`, which run only while it lives.
    CaptureRun* const owner;
    UiThreadRelay relay;
    SnapshotMailbox mailbox;
    // The run whose source the engine drives (0: none). Set on the engine queue before the
    // engine starts a source and cleared after its stop returned, so that every error the
    // source reports carries its own run's number.
    std::atomic<quint64> engineRun{0};
};

CaptureRun::CaptureRun(SourceFactory sourceFactory, ReadingsPublisher& readings,
                       InputFormatProbe& format, QObject* parent)
    : QObject(parent),
      sourceFactory_(std::move(sourceFactory)),
      readings_(readings),
      format_(format),
      engine_(LoudnessEngine::create()),
      bridge_(std::make_shared<Bridge>(this)) {
    // On the processing queue: a copy into the mailbox, and a post only if none is pending.
    engine_->onSnapshot = [bridge = bridge_](const LoudnessSnapshot& snapshot) {
        if (bridge->mailbox.put(snapshot, std::chrono::steady_clock::now())) {
            bridge->relay.post([owner = bridge->owner] { owner->takeSnapshot(); });
        }
    };
    engine_->onError = [bridge = bridge_](const std::exception_ptr& error) {
        const QString text = messageText(error);
        printLogLine("[Tessaro] AppState: engine reported error: " + text.toStdString());
        bridge->relay.post([owner = bridge->owner, text, run = bridge->engineRun.load()] {
            owner->handleEngineError(text, run);
        });
    };
    format_.refresh(inputSource_);
}

CaptureRun::~CaptureRun() {
    bridge_->relay.detach();
    engineQueue_.post([engine = std::move(engine_)] { engine->stop(); });
    engineQueue_.waitUntilIdle(kShutdownWait);
}

void CaptureRun::start() {
    if (isStarting_) {
        return;
    }
    if (isRunning_) {
        stop();
    }
    setErrorMessage(std::nullopt);

    std::shared_ptr<AudioCaptureSource> source;
    std::exception_ptr creationError;
    try {
        source = sourceFactory_ ? sourceFactory_(inputSource_) : nullptr;
    } catch (...) {
        creationError = std::current_exception();
    }
    if (!source) {
        failStart(creationError ? creationError
                                : std::make_exception_ptr(AudioCaptureError::streamSetupFailed(
                                      "no capture source is available for this input")));
        emit startFinished();
        return;
    }

    const quint64 run = ++lastRun_;
    currentRun_ = run;
    source->onFormatInfo = [bridge = bridge_, run](const AudioFormatInfo& info) {
        bridge->relay.post([owner = bridge->owner, run, info] {
            if (owner->currentRun_ == run) {
                owner->format_.report(info);
            }
        });
    };
    setStarting(true);
    engineQueue_.post([engine = engine_, bridge = bridge_, source = std::move(source), run] {
        bridge->engineRun.store(run);
        std::exception_ptr error;
        try {
            engine->start(source);
        } catch (...) {
            error = std::current_exception();
        }
        bridge->relay.post([owner = bridge->owner, run, error] { owner->finishStart(run, error); });
    });
}

void CaptureRun::finishStart(quint64 run, const std::exception_ptr& error) {
    if (run != currentRun_ || !isStarting_) {
        // Stopped while starting: the stop queued behind this start ends it.
        if (error) {
            logStartFailure(messageText(error));
        }
        return;
    }
    setStarting(false);
    if (error) {
        currentRun_ = 0;
        failStart(error);
    } else {
        readings_.beginRun();
        setRunning(true);
    }
    emit startFinished();
}

void CaptureRun::failStart(const std::exception_ptr& error) {
    const QString text = messageText(error);
    logStartFailure(text);
    setErrorMessage(text);
}

void CaptureRun::stop() {
    if (isRunning_ || isStarting_) {
        engineQueue_.post([engine = engine_, bridge = bridge_] {
            engine->stop();
            bridge->engineRun.store(0);
        });
    }
    currentRun_ = 0;
    setRunning(false);
    if (isStarting_) {
        setStarting(false);
        emit startFinished();
    }
    format_.refresh(inputSource_);
}

void CaptureRun::reset() {
    engine_->resetLoudnessStatistics();
    readings_.clear();
    engine_->resetPhaseAndSpectrum();
}

void CaptureRun::takeSnapshot() {
    std::optional<SnapshotMailbox::Delivery> delivery = bridge_->mailbox.take();
    // A snapshot of a run no longer shown, or measured before the latest start or reset, would
    // bring back readings the user has just cleared.
    if (!delivery || !isRunning_ || delivery->snapshot.generation < engine_->generation()) {
        return;
    }
    readings_.recordHop(delivery->handedOverAt);
    readings_.publish(std::move(delivery->snapshot));
}

void CaptureRun::handleEngineError(const QString& text, quint64 run) {
    if (run != 0 && run == currentRun_) {
        setErrorMessage(text);
        stop();
        return;
    }
    // The failing run was stopped meanwhile (a restart, or the user): its error must not stop
    // its successor, but with nothing running the text is still worth showing.
    if (!isRunning_ && !isStarting_) {
        setErrorMessage(text);
    }
}

void CaptureRun::setInputSource(const InputSource& source) {
    if (source == inputSource_) {
        return;
    }
    inputSource_ = source;
    emit inputSourceChanged();
    format_.refresh(source);
    if (isRunning_ || isStarting_) {
        printLogLine("[Tessaro] AppState: restarting capture for input source change -> " +
                     displayName(source).toStdString());
        stop();
        start();
    }
}

void CaptureRun::setErrorMessage(std::optional<QString> message) {
    if (message != errorMessage_) {
        errorMessage_ = std::move(message);
        emit errorMessageChanged();
    }
}

void CaptureRun::setRunning(bool running) {
    if (running != isRunning_) {
        isRunning_ = running;
        emit isRunningChanged();
    }
}

void CaptureRun::setStarting(bool starting) {
    if (starting != isStarting_) {
        isStarting_ = starting;
        emit isStartingChanged();
    }
}

}  // namespace orvinta
