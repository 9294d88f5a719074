#include "capture/audio_capture_error.h"

#include <utility>

namespace orvinta {

namespace {

std::string describe(AudioCaptureError::Kind kind, const std::string& text) {
    using Kind = AudioCaptureError::Kind;
    switch (kind) {
        case Kind::streamSetupFailed:
            return "Could not start system audio capture: " + text;
        case Kind::noAudioDelivered:
            return text;
        case Kind::permissionDenied:
            // On Linux the sound server itself decides who may record; there is no separate
            // privacy setting to grant.
            return "The sound server (PulseAudio or PipeWire) refused to let this application "
                   "record. Make sure the sound server runs in your own user session, then press "
                   "Start again.";
        case Kind::noDisplayAvailable:
            return "No output device to listen to. Connect or enable one in your sound settings.";
        case Kind::noInputDeviceAvailable:
            return "No microphone or audio input device is available. Connect one or enable it "
                   "in your sound settings, then press Start again.";
    }
    return text;
}

}  // namespace

AudioCaptureError::AudioCaptureError(Kind kind, std::string text)
    : kind_(kind), text_(std::move(text)), description_(describe(kind_, text_)) {}

AudioCaptureError AudioCaptureError::streamSetupFailed(std::string text) {
    return AudioCaptureError(Kind::streamSetupFailed, std::move(text));
}

AudioCaptureError AudioCaptureError::noAudioDelivered(std::string text) {
    return AudioCaptureError(Kind::noAudioDelivered, std::move(text));
}

AudioCaptureError AudioCaptureError::permissionDenied() {
    return AudioCaptureError(Kind::permissionDenied, {});
}

AudioCaptureError AudioCaptureError::noDisplayAvailable() {
    return AudioCaptureError(Kind::noDisplayAvailable, {});
}

AudioCaptureError AudioCaptureError::noInputDeviceAvailable() {
    return AudioCaptureError(Kind::noInputDeviceAvailable, {});
}

}  // namespace orvinta
