#include "capture/audio_capture_error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/pulse_connection.h"
#include "capture/system_audio_diagnostics.h"

namespace orvinta {
namespace {

TEST(AudioCaptureError, EveryMessageTheWindowShowsIsTrueOnLinux) {
    std::vector<std::string> messages;
    for (const auto& error :
         {AudioCaptureError::streamSetupFailed("x"), AudioCaptureError::noAudioDelivered("x"),
          AudioCaptureError::permissionDenied(), AudioCaptureError::noDisplayAvailable(),
          AudioCaptureError::noInputDeviceAvailable()}) {
        messages.push_back(error.errorDescription());
    }
    for (int code = PA_OK; code < PA_ERR_MAX; ++code) {
        messages.push_back(PulseError(code).what());
    }
    for (const auto subject : {WatchdogSubject::microphone, WatchdogSubject::systemAudio}) {
        messages.push_back(*watchdogVerdict(subject, 0, 0, std::nullopt).errorText);
        messages.push_back(*watchdogVerdict(subject, 5, 0, std::nullopt).errorText);
    }
    // Another system's settings, tools and permissions, and names the user never sees.
    const char* const foreign[] = {"System Settings", "Privacy", "macOS",
                                   "Xcode",           "tccutil", "Screen",
                                   "display",         "Tessaro", "ScreenCaptureKit"};
    for (const auto& message : messages) {
        EXPECT_FALSE(message.empty());
        for (const char* word : foreign) {
            EXPECT_EQ(message.find(word), std::string::npos) << message;
        }
    }
}

TEST(AudioCaptureError, TextualErrorsCarryTheirText) {
    const auto error = AudioCaptureError::streamSetupFailed("Connection refused");
    EXPECT_EQ(error.text(), "Connection refused");
    EXPECT_STREQ(error.what(), error.errorDescription().c_str());
    EXPECT_TRUE(error.errorDescription().ends_with(": Connection refused"));
    EXPECT_EQ(AudioCaptureError::noAudioDelivered("quiet").errorDescription(), "quiet");
}

}  // namespace
}  // namespace orvinta
