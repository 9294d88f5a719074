#include "capture/pulse_error.h"

#include <pulse/def.h>
#include <pulse/error.h>

namespace orvinta {

namespace {

std::string describePulseError(int code) {
    const std::string server = std::string(" (") + pa_strerror(code) + ")";
    switch (code) {
        case PA_ERR_ACCESS:
            return "The sound server (PulseAudio or PipeWire) refused this application" + server +
                   ". Make sure it runs in your own user session, then press Start again.";
        case PA_ERR_CONNECTIONREFUSED:
        case PA_ERR_INVALIDSERVER:
            return "No sound server is running" + server +
                   ". Start PipeWire (systemctl --user start pipewire-pulse) or PulseAudio "
                   "(pulseaudio --start), then press Start again.";
        case PA_ERR_CONNECTIONTERMINATED:
        case PA_ERR_TIMEOUT:
            return "The sound server (PulseAudio or PipeWire) stopped answering" + server +
                   ". Restart it (systemctl --user restart pipewire-pulse, or pulseaudio -k), "
                   "then press Start again.";
        default:
            return "The sound server (PulseAudio or PipeWire) reported an error" + server +
                   ". Press Start again; if it keeps failing, restart the sound server.";
    }
}

}  // namespace

PulseError::PulseError(int code) : PulseError(code, describePulseError(code)) {}

PulseError::PulseError(int code, const std::string& description)
    : std::runtime_error(description), code_(code) {}

std::string PulseError::serverText() const {
    return pa_strerror(code_);
}

}  // namespace orvinta
