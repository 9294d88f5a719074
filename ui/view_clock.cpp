#include "ui/view_clock.h"

#include <chrono>
#include <utility>

namespace orvinta {

namespace {

ViewClock::Source& source() {
    static ViewClock::Source replacement;
    return replacement;
}

}  // namespace

double ViewClock::now() {
    if (source()) {
        return source()();
    }
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceEpoch).count();
}

void ViewClock::setSource(Source replacement) {
    source() = std::move(replacement);
}

}  // namespace orvinta
