#pragma once

// Helpers shared by the state tests: starting a state and reading its log lines.

#include <QSignalSpy>

#include <sstream>
#include <string>
#include <vector>

#include "state/app_state.h"

namespace orvinta::test {

// Starts the state and waits until the start request has an outcome.
inline bool startAndWait(AppState& state, int timeoutMs = 10'000) {
    QSignalSpy finished(&state, &AppState::startFinished);
    state.start();
    return finished.count() > 0 || finished.wait(timeoutMs);
}

// The lines of captured output that contain `needle`.
inline std::vector<std::string> linesContaining(const std::string& output,
                                                const std::string& needle) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.find(needle) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace orvinta::test
