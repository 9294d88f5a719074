#pragma once

// Helpers shared by the state tests: starting a state and reading its log lines.

#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

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

// The snapshot counts of the hand-over statistics lines in the output, each checked for form.
inline std::vector<int> hopStatisticsCounts(const std::string& output) {
    const QRegularExpression format(QStringLiteral(
        R"(^\[Tessaro\] AppState: mainActor hop delay avg=\d+\.\dms max=\d+\.\dms \((\d+) snapshots\)$)"));
    std::vector<int> counts;
    for (const std::string& line : linesContaining(output, "hop delay")) {
        const QRegularExpressionMatch match = format.match(QString::fromStdString(line));
        EXPECT_TRUE(match.hasMatch()) << line;
        counts.push_back(match.captured(1).toInt());
    }
    return counts;
}

}  // namespace orvinta::test
