#include "state/playing_applications_probe.h"

#include <utility>

#include "state/ui_thread_relay.h"

namespace orvinta {

PlayingApplicationsProbe::PlayingApplicationsProbe(Query query, QObject* parent)
    : QObject(parent),
      query_(std::make_shared<const Query>(std::move(query))),
      relay_(std::make_shared<UiThreadRelay>(this)) {}

PlayingApplicationsProbe::~PlayingApplicationsProbe() {
    relay_->detach();
}

void PlayingApplicationsProbe::refresh() {
    if (questionOut_ || !*query_) {
        return;
    }
    questionOut_ = true;
    queue_.post([query = query_, relay = relay_, self = this] {
        QList<InputSource> applications;
        try {
            for (const PlayingApplication& playing : (*query)()) {
                applications.append(
                    InputSource::application(QString::fromStdString(playing.id),
                                             QString::fromStdString(playing.displayName)));
            }
        } catch (...) {
            applications.clear();  // a server that cannot be asked has nothing playing
        }
        relay->post([self, applications] { self->apply(applications); });
    });
}

void PlayingApplicationsProbe::apply(const QList<InputSource>& applications) {
    questionOut_ = false;
    // Equal raw values may carry other display names: compare both.
    const auto entries = [](const QList<InputSource>& list) {
        QVariantList options;
        for (const InputSource& source : list) {
            options.append(inputSourceOption(source));
        }
        return options;
    };
    if (entries(applications) != entries(applications_)) {
        applications_ = applications;
        emit applicationsChanged();
    }
}

}  // namespace orvinta
