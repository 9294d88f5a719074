#include "state/input_format_probe.h"

#include <utility>

#include "capture/system_audio_capture.h"
#include "state/ui_thread_relay.h"

namespace orvinta {

InputFormatProbe::InputFormatProbe(Query query, QObject* parent)
    : QObject(parent),
      query_(std::make_shared<const Query>(std::move(query))),
      relay_(std::make_shared<UiThreadRelay>(this)),
      latestRequest_(std::make_shared<std::atomic<quint64>>(0)) {}

InputFormatProbe::~InputFormatProbe() {
    relay_->detach();
}

void InputFormatProbe::refresh(const InputSource& source) {
    const quint64 request = latestRequest_->fetch_add(1) + 1;
    const bool sourceChanged = lastSource_ != source;
    lastSource_ = source;
    // An application's streams are mixed into the system-audio format (48 kHz float stereo).
    if (source.kind() != InputSource::Kind::microphone || !*query_) {
        show(source.kind() != InputSource::Kind::microphone
                 ? std::optional(SystemAudioCapture::deliveredFormatInfo())
                 : std::nullopt);
        return;
    }
    if (sourceChanged) {
        show(std::nullopt);
    }
    queue_.post([query = query_, relay = relay_, latest = latestRequest_, request, self = this] {
        if (latest->load() != request) {
            return;
        }
        std::optional<AudioFormatInfo> info;
        try {
            info = (*query)();
        } catch (...) {
            info.reset();
        }
        relay->post([self, request, info] {
            if (self->latestRequest_->load() == request) {
                self->show(info);
            }
        });
    });
}

void InputFormatProbe::report(const AudioFormatInfo& info) {
    latestRequest_->fetch_add(1);
    show(info);
}

void InputFormatProbe::show(const std::optional<AudioFormatInfo>& info) {
    std::optional<QString> description;
    if (info) {
        description = QString::fromStdString(info->displayDescription());
        if (lastSource_ && lastSource_->kind() == InputSource::Kind::application) {
            *description += QStringLiteral(" · ") + displayName(*lastSource_);
        }
    }
    if (description != description_) {
        description_ = std::move(description);
        emit descriptionChanged();
    }
}

}  // namespace orvinta
