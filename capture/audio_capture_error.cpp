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
            return "Microphone or Screen & System Audio Recording permission is required. Please "
                   "grant it under System Settings > Privacy & Security.";
        case Kind::noDisplayAvailable:
            return "No capturable display was found.";
        case Kind::unsupportedOSVersion:
            return "System audio capture requires macOS 14 or later.";
        case Kind::noInputDeviceAvailable:
            return "No microphone or audio input device is currently available. Check System "
                   "Settings > Sound > Input (or reconnect your microphone/audio interface), then "
                   "press Start again.";
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

AudioCaptureError AudioCaptureError::unsupportedOSVersion() {
    return AudioCaptureError(Kind::unsupportedOSVersion, {});
}

AudioCaptureError AudioCaptureError::noInputDeviceAvailable() {
    return AudioCaptureError(Kind::noInputDeviceAvailable, {});
}

}  // namespace orvinta
