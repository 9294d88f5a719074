#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace orvinta {

// A serial queue of jobs that run, in order, on a thread of its own: the calls into the sound
// server, which may be slow or stop answering, and so never run on the UI thread.
//
// The thread ends by itself once the queue object is gone and every job has run; it holds what
// it needs, so it may outlive its owner. The destructor never waits: an application that quits
// while the server hangs must not hang with it. Owned by one object on the UI thread; post() and
// waitUntilIdle() are called from that thread.
class BackgroundQueue {
public:
    BackgroundQueue();
    ~BackgroundQueue();
    BackgroundQueue(const BackgroundQueue&) = delete;
    BackgroundQueue& operator=(const BackgroundQueue&) = delete;

    // The job runs on the queue's thread after every job posted before it, and is destroyed
    // there.
    void post(std::function<void()> job);
    // Waits at most `timeout` until every job posted so far has run; returns whether they have.
    bool waitUntilIdle(std::chrono::milliseconds timeout);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace orvinta
