#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "capture/audio_format_info.h"
#include "state/background_queue.h"
#include "state/input_source.h"

namespace orvinta {

class UiThreadRelay;

// The one-line description of the input format: the fixed system-audio format, the default
// input device's format, or the format a running source reports; for one application, followed
// by " · " and its name. The device is asked on a
// thread of its own, never on the UI thread, which a slow or silent sound server would freeze;
// the newest request or report wins and every older answer still on its way is dropped.
// Owned by AppState; lives on the UI thread.
class InputFormatProbe : public QObject {
    Q_OBJECT

public:
    // Asks the sound server for the default input device's format; called on the probe's own
    // thread, so it must be callable from any thread.
    using Query = std::function<std::optional<AudioFormatInfo>()>;

    explicit InputFormatProbe(Query query, QObject* parent = nullptr);
    ~InputFormatProbe() override;

    // Describes the format of `source`: at once for system audio and an application, once the
    // device has answered for the microphone (with none meanwhile when the source changed).
    void refresh(const InputSource& source);
    // A running source's own report.
    void report(const AudioFormatInfo& info);

    std::optional<QString> description() const { return description_; }

signals:
    void descriptionChanged();

private:
    void show(const std::optional<AudioFormatInfo>& info);

    const std::shared_ptr<const Query> query_;
    const std::shared_ptr<UiThreadRelay> relay_;
    // The number of the newest request. Written on the UI thread only; the probe's thread
    // reads it to skip a request that a newer one has overtaken before it ran.
    const std::shared_ptr<std::atomic<quint64>> latestRequest_;
    std::optional<InputSource> lastSource_;
    std::optional<QString> description_;
    BackgroundQueue queue_;
};

}  // namespace orvinta
