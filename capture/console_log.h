#pragma once

#include <chrono>
#include <string_view>

namespace orvinta {

// Diagnostic output: lines for standard output and entries for the systemd journal, from any
// thread, including the sound server's mainloop thread and the engine's processing queue.
//
// A call never waits for the output. Lines go through a fixed-capacity queue to one writer
// thread; when the queue is full (standard output has stopped being read) a line is dropped and
// counted, and so is a line whose write fails (a closed pipe gives EPIPE, never SIGPIPE: the
// writer thread blocks that signal). The count goes out in one line as soon as a write works
// again. Standard output that is a regular file never waits for a reader, so there a line is
// written at once by its caller when no earlier line is still queued and the writer is not
// writing. The writer thread never keeps the process from exiting: at exit, queued lines get a
// short moment to go out and are then abandoned.

// Writes one line (the caller passes it without the trailing newline) to standard output.
void printLogLine(std::string_view line);

// Writes one journal entry: MESSAGE, PRIORITY (err when `isError`, otherwise notice), CATEGORY
// and SYSLOG_IDENTIFIER=orvinta. A journal that cannot be reached is ignored.
void writeJournalEntry(std::string_view category, bool isError, std::string_view message);

// Waits until every line and entry handed over so far has been written or dropped, for at
// most `timeout`; false when some are still queued. For the end of the process and for readers
// of redirected output.
bool flushLogLines(std::chrono::milliseconds timeout);

}  // namespace orvinta
