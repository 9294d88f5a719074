#pragma once

#include <stdexcept>
#include <string>

namespace orvinta {

// An error the sound server reported, with its code (a PA_ERR_* value). what() is a sentence
// the user can read: what went wrong with PulseAudio or PipeWire and what to do about it, with
// the server's own text (pa_strerror) in parentheses.
class PulseError : public std::runtime_error {
public:
    explicit PulseError(int code);
    PulseError(int code, const std::string& description);

    int code() const { return code_; }
    // The server's own text for the code, such as "Connection terminated".
    std::string serverText() const;

private:
    int code_;
};

}  // namespace orvinta
