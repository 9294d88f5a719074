#include "measurement/console_log.h"

#include <cstdio>
#include <string>

namespace orvinta {

void printLogLine(std::string_view line) {
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line);
    text.push_back('\n');
    // stdio locks the stream for the whole call, so the line goes out in one piece.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace orvinta
