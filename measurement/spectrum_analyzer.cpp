#include "measurement/spectrum_analyzer.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>

namespace orvinta {

namespace {

constexpr double kPi = 3.141592653589793;
// Scales the periodic Hann window 1 - cos(2 pi n / N) to a mean square of 1 (sqrt(2/3)).
constexpr double kHannScale = 0.8165;
constexpr double kLevelFloor = 1e-12;
constexpr int kFrequencySmoothingRadius = 2;

// FFTW's planner keeps global state: plans are made and destroyed under this lock. Executing a
// plan is thread-safe and takes no lock.
std::mutex& fftwPlannerMutex() {
    static std::mutex mutex;
    return mutex;
}

[[noreturn]] void failFftSetup(int fftSize) {
    std::fprintf(stderr, "SpectrumAnalyzer: failed to create FFT setup for size %d\n", fftSize);
    std::fflush(stderr);
    std::abort();
}

bool isPowerOfTwo(int value) {
    return value > 0 && (value & (value - 1)) == 0;
}

// m_k = 4 |X_k|^2; bin 0 carries the DC and Nyquist terms together, 4 (X_0^2 + X_(N/2)^2).
double powerOfBin(const fftwf_complex* spectrum, int k, int half) {
    if (k == 0) {
        const double dc = spectrum[0][0];
        const double nyquist = spectrum[half][0];
        return 4.0 * (dc * dc + nyquist * nyquist);
    }
    const double re = spectrum[k][0];
    const double im = spectrum[k][1];
    return 4.0 * (re * re + im * im);
}

// 10 log10(m / N^2 + 1e-12), through log2, which is the cheaper of the two in the C library.
float levelDB(double power, double normaliser) {
    constexpr double kTenLog10Of2 = 3.0102999566398120;
    // Samples near the top of the float range overflow the single-precision transform into
    // infinities and not-a-numbers; such a bin reads a level above anything finite samples
    // give, rather than spoiling the row with not-a-numbers.
    constexpr float kOverflowLevelDB = 800.0f;
    if (!(power <= std::numeric_limits<double>::max())) {
        return kOverflowLevelDB;
    }
    return static_cast<float>(kTenLog10Of2 * std::log2(power / normaliser + kLevelFloor));
}

}  // namespace

// A real-to-complex plan on buffers that live as long as the plan, so compute never allocates.
struct SpectrumAnalyzer::FftState {
    explicit FftState(int fftSize) {
        input =
            static_cast<float*>(fftwf_malloc(sizeof(float) * static_cast<std::size_t>(fftSize)));
        output = static_cast<fftwf_complex*>(
            fftwf_malloc(sizeof(fftwf_complex) * static_cast<std::size_t>(fftSize / 2 + 1)));
        if (input != nullptr && output != nullptr) {
            std::lock_guard lock(fftwPlannerMutex());
            plan = fftwf_plan_dft_r2c_1d(fftSize, input, output, FFTW_ESTIMATE);
        }
    }
    ~FftState() {
        if (plan != nullptr) {
            std::lock_guard lock(fftwPlannerMutex());
            fftwf_destroy_plan(plan);
        }
        fftwf_free(output);
        fftwf_free(input);
    }
    FftState(const FftState&) = delete;
    FftState& operator=(const FftState&) = delete;

    float* input = nullptr;
    fftwf_complex* output = nullptr;
    fftwf_plan plan = nullptr;
};

SpectrumAnalyzer::SpectrumAnalyzer(int fftSize, double sampleRate)
    : fftSize_(fftSize), sampleRate_(sampleRate), log2n_(0) {
    // The packed power values need an even length with a Nyquist bin; only powers of two qualify.
    if (fftSize < 2 || !isPowerOfTwo(fftSize)) {
        failFftSetup(fftSize);
    }
    while ((1 << (log2n_ + 1)) <= fftSize) {
        ++log2n_;
    }
    fft_ = std::make_unique<FftState>(fftSize);
    if (fft_->plan == nullptr) {
        failFftSetup(fftSize);
    }

    const auto size = static_cast<std::size_t>(fftSize);
    window_.resize(size);
    for (std::size_t n = 0; n < size; ++n) {
        window_[n] = static_cast<float>(
            kHannScale * (1.0 - std::cos(2.0 * kPi * static_cast<double>(n) / fftSize)));
    }
    ringBuffer_.assign(size, 0.0f);
    binDB_.assign(size / 2, 0.0f);
}

SpectrumAnalyzer::~SpectrumAnalyzer() = default;

void SpectrumAnalyzer::push(std::span<const float> samples) {
    if (samples.size() > ringBuffer_.size()) {
        samples = samples.last(ringBuffer_.size());
    }
    while (!samples.empty()) {
        const std::size_t room = ringBuffer_.size() - static_cast<std::size_t>(writeIndex_);
        const std::size_t count = std::min(room, samples.size());
        std::copy_n(samples.begin(), count, ringBuffer_.begin() + writeIndex_);
        writeIndex_ += static_cast<int>(count);
        if (writeIndex_ == fftSize_) {
            writeIndex_ = 0;
            filled_ = true;
        }
        samples = samples.subspan(count);
    }
}

std::optional<std::vector<float>> SpectrumAnalyzer::compute(int binCount, double minHz,
                                                            double maxHz) {
    std::vector<float> row;
    if (!computeInto(binCount, minHz, maxHz, row)) {
        return std::nullopt;
    }
    return row;
}

bool SpectrumAnalyzer::computeInto(int binCount, double minHz, double maxHz,
                                   std::vector<float>& out) {
    if (!filled_) {
        return false;
    }
    const int half = fftSize_ / 2;
    const int count = std::max(binCount, 0);

    // Unroll the ring oldest sample first and window it.
    const auto oldest = static_cast<std::size_t>(writeIndex_);
    const std::size_t tail = ringBuffer_.size() - oldest;
    float* input = fft_->input;
    for (std::size_t i = 0; i < tail; ++i) {
        input[i] = ringBuffer_[oldest + i] * window_[i];
    }
    for (std::size_t i = tail; i < ringBuffer_.size(); ++i) {
        input[i] = ringBuffer_[i - tail] * window_[i];
    }
    fftwf_execute(fft_->plan);
    hasTransform_ = true;

    if (count != tableBinCount_ || minHz != tableMinHz_ || maxHz != tableMaxHz_) {
        tableBinCount_ = count;
        tableMinHz_ = minHz;
        tableMaxHz_ = maxHz;
        lowBin_.resize(static_cast<std::size_t>(count));
        highBin_.resize(static_cast<std::size_t>(count));
        fraction_.resize(static_cast<std::size_t>(count));
        usedBins_.clear();
        const double binWidthHz = sampleRate_ / fftSize_;
        const double lastBin = half - 1;
        for (int i = 0; i < count; ++i) {
            const double t = count > 1 ? static_cast<double>(i) / (count - 1) : 0.0;
            const double frequency = minHz * std::pow(maxHz / minHz, t);
            double position = frequency / binWidthHz;
            // Outside the FFT's bins (or for unusable arguments) the row holds the edge bin's level
            // instead of extrapolating.
            if (!(position > 0.0)) {
                position = 0.0;
            }
            position = std::min(position, lastBin);
            const int low = static_cast<int>(std::floor(position));
            const int high = std::min(low + 1, half - 1);
            lowBin_[static_cast<std::size_t>(i)] = low;
            highBin_[static_cast<std::size_t>(i)] = high;
            fraction_[static_cast<std::size_t>(i)] = static_cast<float>(position - low);
            usedBins_.push_back(low);
            usedBins_.push_back(high);
        }
        std::sort(usedBins_.begin(), usedBins_.end());
        usedBins_.erase(std::unique(usedBins_.begin(), usedBins_.end()), usedBins_.end());
    }

    // Only the bins that the row reads need their logarithm.
    const double normaliser = static_cast<double>(fftSize_) * fftSize_;
    const fftwf_complex* spectrum = fft_->output;
    for (const int k : usedBins_) {
        binDB_[static_cast<std::size_t>(k)] = levelDB(powerOfBin(spectrum, k, half), normaliser);
    }

    const auto size = static_cast<std::size_t>(count);
    resampled_.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
        const double g = fraction_[i];
        const double low = binDB_[static_cast<std::size_t>(lowBin_[i])];
        const double high = binDB_[static_cast<std::size_t>(highBin_[i])];
        resampled_[i] = static_cast<float>((1.0 - g) * low + g * high);
    }

    // Plain mean over the neighbours j - 2 ... j + 2 that exist.
    frequencySmoothed_.resize(size);
    for (int j = 0; j < count; ++j) {
        const int first = std::max(0, j - kFrequencySmoothingRadius);
        const int last = std::min(count - 1, j + kFrequencySmoothingRadius);
        double sum = 0.0;
        for (int m = first; m <= last; ++m) {
            sum += resampled_[static_cast<std::size_t>(m)];
        }
        frequencySmoothed_[static_cast<std::size_t>(j)] =
            static_cast<float>(sum / (last - first + 1));
    }

    if (!hasSmoothed_ || smoothedDB_.size() != size) {
        smoothedDB_.assign(frequencySmoothed_.begin(), frequencySmoothed_.end());
        hasSmoothed_ = true;
    } else {
        const float keep = smoothing_;
        const float take = 1.0f - smoothing_;
        for (std::size_t i = 0; i < size; ++i) {
            const float previous = smoothedDB_[i];
            // A value spoilt by non-finite input recovers as soon as the input is finite again.
            smoothedDB_[i] = std::isfinite(previous)
                                 ? keep * previous + take * frequencySmoothed_[i]
                                 : frequencySmoothed_[i];
        }
    }
    out.assign(smoothedDB_.begin(), smoothedDB_.end());
    return true;
}

void SpectrumAnalyzer::reset() {
    std::fill(ringBuffer_.begin(), ringBuffer_.end(), 0.0f);
    writeIndex_ = 0;
    filled_ = false;
    smoothedDB_.clear();
    hasSmoothed_ = false;
}

std::vector<double> SpectrumAnalyzer::powerValues() const {
    std::vector<double> power;
    if (!hasTransform_) {
        return power;
    }
    const int half = fftSize_ / 2;
    const fftwf_complex* spectrum = fft_->output;
    power.resize(static_cast<std::size_t>(half));
    for (int k = 0; k < half; ++k) {
        power[static_cast<std::size_t>(k)] = powerOfBin(spectrum, k, half);
    }
    return power;
}

std::vector<float> SpectrumAnalyzer::binLevelsDB() const {
    std::vector<float> levels;
    const double normaliser = static_cast<double>(fftSize_) * fftSize_;
    for (const double power : powerValues()) {
        levels.push_back(levelDB(power, normaliser));
    }
    return levels;
}

}  // namespace orvinta
