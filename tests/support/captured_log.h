#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "capture/console_log.h"

namespace orvinta::test {

// Standard output captured since testing::internal::CaptureStdout(), once the log writer has
// written every line handed to it (it writes on a thread of its own).
inline std::string capturedLog() {
    flushLogLines(std::chrono::seconds(5));
    return ::testing::internal::GetCapturedStdout();
}

}  // namespace orvinta::test
