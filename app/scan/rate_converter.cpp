#include "rate_converter.h"

#include <soxr.h>

namespace orvinta {

RateConverter::RateConverter(double inputRate, int channels)
    : channelCount(static_cast<std::size_t>(channels)) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // One thread: a file is measured on one core, and --jobs spreads the files.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t failure = nullptr;
    resampler = soxr_create(inputRate, outputRate, static_cast<unsigned>(channels), &failure, &io,
                            &quality, &runtime);
    if (failure != nullptr) {
        errorText = std::string("cannot convert the sample rate to 48000 Hz: ") + failure;
        soxr_delete(resampler);
        resampler = nullptr;
    }
}

RateConverter::~RateConverter() {
    soxr_delete(resampler);
}

RateConverter::Step RateConverter::process(std::span<const float> interleaved,
                                           std::span<float* const> channels, std::size_t capacity) {
    Step step;
    if (resampler == nullptr || capacity == 0) {
        return step;
    }
    const bool end = interleaved.empty();
    soxr_error_t failure = soxr_process(
        resampler, end ? nullptr : interleaved.data(), end ? 0 : interleaved.size() / channelCount,
        &step.consumed, const_cast<float**>(channels.data()), capacity, &step.produced);
    if (failure != nullptr) {
        errorText = std::string("sample-rate conversion failed: ") + failure;
        return {};
    }
    return step;
}

}  // namespace orvinta
