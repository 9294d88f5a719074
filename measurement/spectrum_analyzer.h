#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace orvinta {

// Turns one channel's raw audio into a smoothed magnitude spectrum in dB on a logarithmic
// frequency axis. Keeps the newest fftSize samples in a ring; compute() windows them with a
// periodic Hann window scaled to a mean square of 1, transforms them with FFTW, resamples the
// per-bin levels onto the log axis and smooths them across frequency and over time.
// The loudness analyzer owns one per channel (4096 points at 48 kHz) and drives it on the engine's
// processing queue. push() never allocates; compute() returns a new row, computeInto() fills the
// caller's; both allocate working rows only on the first call for a given row length.
class SpectrumAnalyzer {
public:
    // fftSize must be a power of two of at least 2; if the transform cannot be set up the process
    // stops with a message on stderr.
    SpectrumAnalyzer(int fftSize, double sampleRate);
    ~SpectrumAnalyzer();

    SpectrumAnalyzer(const SpectrumAnalyzer&) = delete;
    SpectrumAnalyzer& operator=(const SpectrumAnalyzer&) = delete;

    // Stores the newest samples in the ring; of a list longer than fftSize only its last fftSize
    // samples are kept.
    void push(std::span<const float> samples);

    // Nothing until fftSize samples have been pushed since construction or reset; then binCount dB
    // values from minHz to maxHz, spaced in equal frequency ratios.
    std::optional<std::vector<float>> compute(int binCount, double minHz, double maxHz);

    // Same as compute() but writes into out (resized to binCount) and returns false while not
    // filled; out allocates only when its capacity is below binCount.
    bool computeInto(int binCount, double minHz, double maxHz, std::vector<float>& out);

    // Back to the state right after construction (the transform and the window are kept).
    void reset();

    int fftSize() const { return fftSize_; }
    double sampleRate() const { return sampleRate_; }
    int writeIndex() const { return writeIndex_; }
    bool filled() const { return filled_; }
    const std::vector<float>& window() const { return window_; }
    // The power values m_k of the latest compute: 4 |X_k|^2 for 1 <= k < fftSize/2, and
    // 4 (X_0^2 + X_(fftSize/2)^2) at k = 0, X being the DFT of the windowed ring. Empty before the
    // first compute. Allocates; meant for inspection, not for the audio path.
    std::vector<double> powerValues() const;
    // The per-bin levels 10 log10(m_k / fftSize^2 + 1e-12) of the latest compute, every bin.
    std::vector<float> binLevelsDB() const;

private:
    struct FftState;

    int fftSize_;
    double sampleRate_;
    unsigned log2n_;
    std::unique_ptr<FftState> fft_;
    std::vector<float> window_;
    std::vector<float> ringBuffer_;
    int writeIndex_ = 0;
    bool filled_ = false;
    float smoothing_ = 0.7f;
    std::vector<float> smoothedDB_;
    bool hasSmoothed_ = false;
    bool hasTransform_ = false;

    // The log-axis resampling of the latest (binCount, minHz, maxHz): for each output index the
    // two FFT bins and the fraction between them, and the bins that any output reads. Rebuilt only
    // when the arguments change.
    int tableBinCount_ = -1;
    double tableMinHz_ = 0.0;
    double tableMaxHz_ = 0.0;
    std::vector<int> lowBin_;
    std::vector<int> highBin_;
    std::vector<double> fraction_;
    std::vector<int> usedBins_;

    std::vector<float> binDB_;
    std::vector<float> resampled_;
    std::vector<float> frequencySmoothed_;
};

}  // namespace orvinta
