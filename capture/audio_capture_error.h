#pragma once

#include <exception>
#include <string>

namespace orvinta {

// The errors capture sources raise, each with the message the user sees.
// what() returns the same text as errorDescription().
class AudioCaptureError : public std::exception {
public:
    enum class Kind {
        streamSetupFailed,
        noAudioDelivered,
        permissionDenied,
        noDisplayAvailable,  // the system-audio source found no output device
        noInputDeviceAvailable,
    };

    static AudioCaptureError streamSetupFailed(std::string text);
    static AudioCaptureError noAudioDelivered(std::string text);
    static AudioCaptureError permissionDenied();
    static AudioCaptureError noDisplayAvailable();
    static AudioCaptureError noInputDeviceAvailable();

    Kind kind() const { return kind_; }
    // The payload of streamSetupFailed and noAudioDelivered; empty for the other cases.
    const std::string& text() const { return text_; }
    const std::string& errorDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    AudioCaptureError(Kind kind, std::string text);

    Kind kind_;
    std::string text_;
    std::string description_;
};

}  // namespace orvinta
