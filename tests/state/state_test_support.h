#pragma once

// Helpers shared by the state tests: starting a state and reading its log lines.

#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/app_state.h"

namespace orvinta::test {

// Starts the state and waits until the start has an outcome, success or failure.
inline bool startAndWait(AppState& state, int timeoutMs = 10'000) {
    QSignalSpy finished(&state, &AppState::startFinished);
    state.start();
    return finished.count() > 0 || finished.wait(timeoutMs);
}

// The lines of captured output that contain `needle`.
inline std::vector<std::string> linesContaining(const std::string& output,
                                                const std::string& needle) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < output.size()) {
        std::size_t end = output.find('\n', begin);
        if (end == std::string::npos) {
            end = output.size();
        }
        std::string line = output.substr(begin, end - begin);
        if (line.find(needle) != std::string::npos) {
            lines.push_back(std::move(line));
        }
        begin = end + 1;
    }
    return lines;
}

// The snapshot counts of the hop statistics lines in the output, each line checked for format.
inline std::vector<int> hopStatisticsCounts(const std::string& output) {
    const QRegularExpression format(QStringLiteral(
        R"(^\[Tessaro\] AppState: mainActor hop delay avg=\d+\.\dms max=\d+\.\dms \((\d+) snapshots\)$)"));
    std::vector<int> counts;
    for (const std::string& line : linesContaining(output, "mainActor hop delay")) {
        const QRegularExpressionMatch match = format.match(QString::fromStdString(line));
        EXPECT_TRUE(match.hasMatch()) << line;
        counts.push_back(match.captured(1).toInt());
    }
    return counts;
}

}  // namespace orvinta::test
