#pragma once

#include <string_view>

namespace orvinta {

// Writes one diagnostic line to standard output and flushes it, so that lines from
// different threads never interleave and a reader on a pipe sees each line at once.
// The caller passes the text without the trailing newline.
void printLogLine(std::string_view line);

}  // namespace orvinta
