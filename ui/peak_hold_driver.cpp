#include "ui/peak_hold_driver.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <map>
#include <vector>

namespace orvinta {

namespace {

struct Subscription {
    QObject* receiver;
    std::function<void()> tick;
};

struct Group {
    // Owned by the application, so that none outlives it; deleted later when its group empties
    // (possibly from inside its own tick).
    QPointer<QTimer> timer;
    std::vector<Subscription> subscriptions;
};

// Groups by tick interval in milliseconds.
std::map<int, Group>& groups() {
    static std::map<int, Group> instance;
    return instance;
}

}  // namespace

void PeakHoldDriver::subscribe(QObject* receiver, int intervalMs, std::function<void()> tick) {
    unsubscribe(receiver);
    const int interval = std::max(1, intervalMs);
    Group& group = groups()[interval];
    if (!group.timer) {
        group.timer = new QTimer(QCoreApplication::instance());
        group.timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(group.timer, &QTimer::timeout, [interval] {
            const auto found = groups().find(interval);
            if (found == groups().end()) {
                return;
            }
            // A tick may subscribe or unsubscribe receivers: walk a copy.
            const std::vector<Subscription> now = found->second.subscriptions;
            for (const Subscription& s : now) {
                s.tick();
            }
        });
        group.timer->start(interval);
    }
    group.subscriptions.push_back({receiver, std::move(tick)});
    QObject::connect(receiver, &QObject::destroyed, receiver,
                     [receiver] { unsubscribe(receiver); });
}

void PeakHoldDriver::unsubscribe(QObject* receiver) {
    auto& all = groups();
    for (auto it = all.begin(); it != all.end();) {
        std::erase_if(it->second.subscriptions,
                      [receiver](const Subscription& s) { return s.receiver == receiver; });
        if (it->second.subscriptions.empty()) {
            if (it->second.timer) {
                it->second.timer->stop();
                it->second.timer->deleteLater();
            }
            it = all.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace orvinta
