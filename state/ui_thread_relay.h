#pragma once

#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <utility>

namespace orvinta {

// Carries calls from other threads (the engine's processing queue, a capture source's delivery
// thread, a background queue) to one QObject on the UI thread. Shared, through a shared_ptr,
// by the object and by every callback that may outlive it.
//
// A call queued to the object is discarded by Qt if the object is destroyed first, so a posted
// functor may use the object's pointer unchecked. What Qt cannot order is a post racing the
// destructor; detach(), the first thing the owner's destructor does, takes the same mutex as
// post(), so that no call is queued to a dying object.
class UiThreadRelay {
public:
    explicit UiThreadRelay(QObject* target) : target_(target) {}

    // Any thread: runs `functor` on the target's thread, unless detach() came first.
    template <typename Functor>
    void post(Functor&& functor) {
        std::lock_guard lock(mutex_);
        if (target_ != nullptr) {
            QMetaObject::invokeMethod(target_, std::forward<Functor>(functor),
                                      Qt::QueuedConnection);
        }
    }

    // The owner's thread, from its destructor: nothing is posted afterwards.
    void detach() {
        std::lock_guard lock(mutex_);
        target_ = nullptr;
    }

private:
    std::mutex mutex_;
    QObject* target_;  // guarded by mutex_
};

}  // namespace orvinta
