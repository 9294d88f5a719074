#pragma once

#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

#include "capture/application_audio_capture.h"
#include "state/background_queue.h"
#include "state/input_source.h"

namespace orvinta {

class UiThreadRelay;

// The applications playing on the sound server, as input sources for the input menu. Listing
// them waits on the server, so the question runs on a thread of its own and the answer is
// applied on the UI thread, with a change signal only when the list differs. One question is out
// at a time: a refresh while one is out is answered by it. Owned by AppState; lives on the UI
// thread.
class PlayingApplicationsProbe : public QObject {
    Q_OBJECT

public:
    // Lists the playing applications; called on the probe's own thread.
    using Query = std::function<std::vector<PlayingApplication>()>;

    explicit PlayingApplicationsProbe(Query query, QObject* parent = nullptr);
    ~PlayingApplicationsProbe() override;

    void refresh();
    const QList<InputSource>& applications() const { return applications_; }

signals:
    void applicationsChanged();

private:
    void apply(const QList<InputSource>& applications);

    const std::shared_ptr<const Query> query_;
    const std::shared_ptr<UiThreadRelay> relay_;
    bool questionOut_ = false;  // UI thread only
    QList<InputSource> applications_;
    BackgroundQueue queue_;
};

}  // namespace orvinta
