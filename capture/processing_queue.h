#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <exception>
#include <memory>
#include <string>

#include "capture/console_log.h"

namespace orvinta {

// The serial processing queue: one io_context run by one thread. The thread holds its own
// reference, so the io_context outlives the engine when the engine's last reference is dropped
// by a block running on the queue itself.
struct ProcessingQueue {
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> workGuard{io.get_executor()};

    static void run(const std::shared_ptr<ProcessingQueue>& queue) {
        for (;;) {
            try {
                queue->io.run();
                return;
            } catch (const std::exception& e) {
                // An owner's callback threw; keep the queue alive for the next block.
                printLogLine(std::string("[Tessaro] LoudnessEngine: a processing block failed: ") +
                             e.what());
            } catch (...) {
                printLogLine("[Tessaro] LoudnessEngine: a processing block failed");
            }
        }
    }
};

}  // namespace orvinta
