#include "capture/audio_capture_error.h"

#include <gtest/gtest.h>

#include <exception>
#include <string>

namespace orvinta {
namespace {

TEST(AudioCaptureError, TextualErrorsKeepTheirTextAndSetupFailuresPrefixIt) {
    const auto setup = AudioCaptureError::streamSetupFailed("Connection refused");
    EXPECT_EQ(setup.kind(), AudioCaptureError::Kind::streamSetupFailed);
    EXPECT_EQ(setup.text(), "Connection refused");
    EXPECT_EQ(setup.errorDescription(), "Could not start system audio capture: Connection refused");
    const auto silent = AudioCaptureError::noAudioDelivered("The monitor stream went quiet.");
    EXPECT_EQ(silent.errorDescription(), "The monitor stream went quiet.");
    EXPECT_EQ(silent.text(), "The monitor stream went quiet.");
}

TEST(AudioCaptureError, FixedMessagesReadAsTheUserSeesThem) {
    EXPECT_EQ(AudioCaptureError::permissionDenied().errorDescription(),
              "Microphone or Screen & System Audio Recording permission is required. Please grant "
              "it under System Settings > Privacy & Security.");
    EXPECT_EQ(AudioCaptureError::noDisplayAvailable().errorDescription(),
              "No capturable display was found.");
    EXPECT_EQ(AudioCaptureError::unsupportedOSVersion().errorDescription(),
              "System audio capture requires macOS 14 or later.");
    EXPECT_EQ(AudioCaptureError::noInputDeviceAvailable().errorDescription(),
              "No microphone or audio input device is currently available. Check System Settings "
              "> Sound > Input (or reconnect your microphone/audio interface), then press Start "
              "again.");
    EXPECT_TRUE(AudioCaptureError::permissionDenied().text().empty());
}

TEST(AudioCaptureError, WhatSaysTheSameAsTheDescriptionAfterCopyAndRethrow) {
    std::exception_ptr stored;
    try {
        throw AudioCaptureError::streamSetupFailed("x");
    } catch (...) {
        stored = std::current_exception();
    }
    try {
        std::rethrow_exception(stored);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Could not start system audio capture: x");
        const auto* typed = dynamic_cast<const AudioCaptureError*>(&e);
        ASSERT_NE(typed, nullptr);
        const AudioCaptureError copy = *typed;
        EXPECT_STREQ(copy.what(), copy.errorDescription().c_str());
    }
}

}  // namespace
}  // namespace orvinta
