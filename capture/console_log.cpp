#include "capture/console_log.h"

#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace orvinta {

namespace {

using namespace std::chrono_literals;

// Lines in the queue at most: far more than a burst of start-up lines, little memory.
constexpr std::size_t kQueueCapacity = 256;
// How long queued lines may delay the end of the process.
constexpr auto kExitFlushTimeout = 300ms;

struct Entry {
    std::string text;      // with its newline for standard output
    std::string category;  // a journal entry's CATEGORY; empty for standard output
    bool isError = false;
};

// The bounded hand-off between the threads that log and the one writer thread: a ring of cells,
// each with a sequence number that says whether it is free for the producer at a position or
// filled for the consumer (D. Vyukov's bounded queue). Producers claim a position with one
// compare-and-swap and never wait; the writer is the only consumer.
class LogWriter {
public:
    static LogWriter& instance() {
        // Never destroyed: the writer thread may still be blocked in write() when the process
        // exits, and must not find its queue gone.
        static LogWriter* const writer = [] {
            auto* created = new LogWriter;
            std::atexit([] { flushLogLines(kExitFlushTimeout); });
            return created;
        }();
        return *writer;
    }

    void submit(Entry&& entry) {
        if (entry.category.empty() && standardOutputIsRegularFile()) {
            const std::unique_lock lock(writeMutex, std::try_to_lock);
            if (lock.owns_lock() && isIdle()) {
                writeStandardOutput(entry.text);
                return;
            }
        }
        if (!tryPush(entry)) {
            dropped.fetch_add(1, std::memory_order_relaxed);
        }
    }

    bool flush(std::chrono::milliseconds timeout) {
        const std::uint64_t target = enqueuePos.load(std::memory_order_acquire);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (finished.load(std::memory_order_acquire) < target) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

private:
    struct Cell {
        std::atomic<std::uint64_t> sequence{0};
        Entry entry;
    };

    LogWriter() {
        for (std::size_t i = 0; i < kQueueCapacity; ++i) {
            cells[i].sequence.store(i, std::memory_order_relaxed);
        }
        std::thread([this] { run(); }).detach();
    }

    static bool standardOutputIsRegularFile() {
        struct stat info {};
        return ::fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode);
    }

    // Nothing queued and nothing being written; called with writeMutex held.
    bool isIdle() const {
        return finished.load(std::memory_order_acquire) ==
               enqueuePos.load(std::memory_order_acquire);
    }

    bool tryPush(Entry& entry) {
        std::uint64_t pos = enqueuePos.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = cells[pos % kQueueCapacity];
            const std::uint64_t sequence = cell.sequence.load(std::memory_order_acquire);
            const auto lead = static_cast<std::int64_t>(sequence - pos);
            if (lead == 0) {
                if (enqueuePos.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    cell.entry = std::move(entry);
                    // Release: the writer that sees the new sequence sees the entry.
                    cell.sequence.store(pos + 1, std::memory_order_release);
                    wakeups.fetch_add(1, std::memory_order_release);
                    wakeups.notify_one();
                    return true;
                }
            } else if (lead < 0) {
                return false;  // the cell still holds a line from one lap ago: full
            } else {
                pos = enqueuePos.load(std::memory_order_relaxed);
            }
        }
    }

    // Writer thread only.
    bool tryPop(Entry& entry) {
        Cell& cell = cells[dequeuePos % kQueueCapacity];
        if (cell.sequence.load(std::memory_order_acquire) != dequeuePos + 1) {
            return false;
        }
        entry = std::move(cell.entry);
        cell.sequence.store(dequeuePos + kQueueCapacity, std::memory_order_release);
        ++dequeuePos;
        return true;
    }

    void run() {
        // A write to a closed pipe then fails with EPIPE instead of killing the process.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

        Entry entry;
        for (;;) {
            // Read before looking at the queue: a line pushed after this read changes the
            // count, so the wait below returns at once instead of missing it.
            const std::uint32_t seen = wakeups.load(std::memory_order_acquire);
            for (;;) {
                const std::lock_guard lock(writeMutex);
                if (!tryPop(entry)) {
                    break;
                }
                if (entry.category.empty()) {
                    writeStandardOutput(entry.text);
                } else {
                    writeJournal(entry);
                }
                finished.fetch_add(1, std::memory_order_release);
            }
            wakeups.wait(seen, std::memory_order_acquire);
        }
    }

    static bool writeAll(std::string_view text) {
        while (!text.empty()) {
            const ssize_t written = ::write(STDOUT_FILENO, text.data(), text.size());
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            text.remove_prefix(static_cast<std::size_t>(written));
        }
        return true;
    }

    // Called with writeMutex held.
    void writeStandardOutput(std::string_view text) {
        const std::uint64_t lost = dropped.load(std::memory_order_relaxed);
        if (lost > 0 && writeAll("[Tessaro] log: " + std::to_string(lost) +
                                 " lines dropped while standard output was full or closed\n")) {
            dropped.fetch_sub(lost, std::memory_order_relaxed);
        }
        if (!writeAll(text)) {
            dropped.fetch_add(1, std::memory_order_relaxed);
        }
    }

    static void writeJournal(const Entry& entry) {
        (void)sd_journal_send("MESSAGE=%s", entry.text.c_str(), "PRIORITY=%i",
                              entry.isError ? LOG_ERR : LOG_NOTICE, "CATEGORY=%s",
                              entry.category.c_str(), "SYSLOG_IDENTIFIER=orvinta", nullptr);
    }

    std::array<Cell, kQueueCapacity> cells;
    std::atomic<std::uint64_t> enqueuePos{0};  // next position a producer claims
    std::uint64_t dequeuePos = 0;              // writer thread only
    // Entries the writer has taken out and written (or failed to); equals enqueuePos when
    // nothing is queued or being written.
    std::atomic<std::uint64_t> finished{0};
    // Bumped after every push; the idle writer sleeps on it (a futex, never a lock).
    std::atomic<std::uint32_t> wakeups{0};
    // Lines lost to a full queue or a failed write, not yet reported.
    std::atomic<std::uint64_t> dropped{0};
    // Held by whoever writes to standard output, the writer thread (blocking) or a caller on a
    // regular file (try_lock only, so a caller never waits for it).
    std::mutex writeMutex;
};

}  // namespace

void printLogLine(std::string_view line) {
    Entry entry;
    entry.text.reserve(line.size() + 1);
    entry.text.append(line);
    entry.text.push_back('\n');
    LogWriter::instance().submit(std::move(entry));
}

void writeJournalEntry(std::string_view category, bool isError, std::string_view message) {
    Entry entry{std::string(message), std::string(category), isError};
    if (entry.category.empty()) {
        entry.category = "orvinta";
    }
    LogWriter::instance().submit(std::move(entry));
}

bool flushLogLines(std::chrono::milliseconds timeout) {
    return LogWriter::instance().flush(timeout);
}

}  // namespace orvinta
