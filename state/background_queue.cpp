#include "state/background_queue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace orvinta {

struct BackgroundQueue::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    // All guarded by mutex.
    std::deque<std::function<void()>> jobs;
    bool busy = false;
    bool closed = false;

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return closed || !jobs.empty(); });
            if (jobs.empty()) {
                return;
            }
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            busy = true;
            lock.unlock();
            job();
            // What the job holds (a source, the engine) is released here, off the UI thread.
            job = nullptr;
            lock.lock();
            busy = false;
            changed.notify_all();
        }
    }
};

BackgroundQueue::BackgroundQueue() : shared_(std::make_shared<Shared>()) {
    std::thread([shared = shared_] { shared->run(); }).detach();
}

BackgroundQueue::~BackgroundQueue() {
    std::lock_guard lock(shared_->mutex);
    shared_->closed = true;
    shared_->changed.notify_all();
}

void BackgroundQueue::post(std::function<void()> job) {
    std::lock_guard lock(shared_->mutex);
    shared_->jobs.push_back(std::move(job));
    shared_->changed.notify_all();
}

bool BackgroundQueue::waitUntilIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(shared_->mutex);
    return shared_->changed.wait_for(lock, timeout,
                                     [this] { return shared_->jobs.empty() && !shared_->busy; });
}

}  // namespace orvinta
