// Times LoudnessAnalyzer::process with every stage against libebur128 (integrated loudness,
// loudness range and true peak) on the same programme, and prints both as multiples of real
// time. A plain program rather than a Google Benchmark: one pass over a minute of audio is the
// unit that matters. Each pass is timed by the thread's CPU clock (what the work costs, whatever
// else the machine is running) and by the wall clock; the best of several passes counts.

#include <ebur128.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <vector>

#include "measurement/loudness_analyzer.h"
#include "measurement/loudness_histogram.h"

namespace {

constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
constexpr int kSeconds = 60;
constexpr int kBlockFrames = 4096;
constexpr int kPasses = 7;

using Clock = std::chrono::steady_clock;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Stopwatch {
    Clock::time_point wallStart = Clock::now();
    double cpuStart = threadCpuSeconds();

    double wallSeconds() const {
        return std::chrono::duration<double>(Clock::now() - wallStart).count();
    }
    double cpuSeconds() const { return threadCpuSeconds() - cpuStart; }
};

// Deterministic white noise whose level steps every 5 s through -30 ... -8 dBFS; the two
// channels carry different noise.
std::vector<std::vector<float>> makeProgramme() {
    const std::size_t frames = static_cast<std::size_t>(kSampleRate) * kSeconds;
    std::vector<std::vector<float>> channels(kChannels, std::vector<float>(frames));
    const double levelsDB[] = {-20.0, -12.0, -30.0, -8.0, -24.0, -16.0};
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < frames; ++i) {
        const double level =
            std::pow(10.0, levelsDB[(i / (5 * kSampleRate)) % std::size(levelsDB)] / 20.0);
        for (auto& channel : channels) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            const double uniform = static_cast<double>(state >> 11) * 0x1.0p-53 * 2.0 - 1.0;
            channel[i] = static_cast<float>(level * uniform);
        }
    }
    return channels;
}

std::vector<orvinta::ChannelBuffers> cutIntoBlocks(
    const std::vector<std::vector<float>>& programme) {
    std::vector<orvinta::ChannelBuffers> blocks;
    const std::size_t frames = programme[0].size();
    for (std::size_t start = 0; start < frames; start += kBlockFrames) {
        const std::size_t length = std::min<std::size_t>(kBlockFrames, frames - start);
        orvinta::ChannelBuffers block;
        for (const auto& channel : programme) {
            block.emplace_back(channel.begin() + static_cast<std::ptrdiff_t>(start),
                               channel.begin() + static_cast<std::ptrdiff_t>(start + length));
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

struct Result {
    double cpuSeconds = 1e30;
    double wallSeconds = 1e30;
    double integrated = 0.0;
    double range = 0.0;
    double maxTruePeak = 0.0;
};

Result runAnalyzer(const std::vector<orvinta::ChannelBuffers>& blocks) {
    orvinta::LoudnessAnalyzer analyzer(kChannels);
    orvinta::LoudnessSnapshot snapshot;
    const Stopwatch stopwatch;
    for (const auto& block : blocks) {
        snapshot = analyzer.process(block);
    }
    const double cpu = stopwatch.cpuSeconds();
    return {cpu, stopwatch.wallSeconds(), snapshot.integratedLUFS, snapshot.loudnessRangeLU,
            *std::max_element(snapshot.maxTruePeakDBTP.begin(), snapshot.maxTruePeakDBTP.end())};
}

// libebur128 on the same blocks (interleaved beforehand, outside the timing), asked for
// integrated loudness and loudness range once per second of audio like the analyzer computes
// them. It is not asked for momentary and short-term loudness after every block: it would sum
// the whole 3 s window again for each answer, which would dominate its time and flatter ours.
Result runLibebur128(const std::vector<float>& interleaved) {
    ebur128_state* state = ebur128_init(kChannels, kSampleRate,
                                        EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    if (state == nullptr) {
        std::fprintf(stderr, "libebur128: ebur128_init failed\n");
        std::exit(1);
    }
    const std::size_t frames = interleaved.size() / kChannels;
    double integrated = 0.0;
    double range = 0.0;
    double peak = 0.0;
    std::size_t framesSinceUpdate = 0;
    const Stopwatch stopwatch;
    for (std::size_t offset = 0; offset < frames; offset += kBlockFrames) {
        const std::size_t length = std::min<std::size_t>(kBlockFrames, frames - offset);
        ebur128_add_frames_float(state, interleaved.data() + offset * kChannels, length);
        for (unsigned c = 0; c < kChannels; ++c) {
            ebur128_prev_true_peak(state, c, &peak);
        }
        framesSinceUpdate += length;
        if (framesSinceUpdate >= static_cast<std::size_t>(kSampleRate)) {
            framesSinceUpdate -= kSampleRate;
            ebur128_loudness_global(state, &integrated);
            ebur128_loudness_range(state, &range);
        }
    }
    ebur128_loudness_global(state, &integrated);
    ebur128_loudness_range(state, &range);
    const double cpu = stopwatch.cpuSeconds();
    const double wall = stopwatch.wallSeconds();
    double maxPeak = 0.0;
    for (unsigned c = 0; c < kChannels; ++c) {
        ebur128_true_peak(state, c, &peak);
        maxPeak = std::max(maxPeak, peak);
    }
    ebur128_destroy(&state);
    return {cpu, wall, integrated, range, 20.0 * std::log10(maxPeak)};
}

}  // namespace

int main(int argc, char** argv) {
    const auto programme = makeProgramme();
    const auto blocks = cutIntoBlocks(programme);
    if (argc > 1 && std::string_view(argv[1]) == "--analyzer-only") {
        // For a profiler: the analyzer alone, pass after pass, for about five seconds.
        const auto until = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < until) {
            runAnalyzer(blocks);
        }
        return 0;
    }
    std::vector<float> interleaved(programme[0].size() * kChannels);
    for (std::size_t i = 0; i < programme[0].size(); ++i) {
        for (int c = 0; c < kChannels; ++c) {
            interleaved[i * kChannels + static_cast<std::size_t>(c)] = programme[c][i];
        }
    }

    std::printf("programme: %d s, %d channels, %d Hz, %d-frame blocks; best of %d passes each\n",
                kSeconds, kChannels, kSampleRate, kBlockFrames, kPasses);
    Result ours;
    Result theirs;
    const auto keepBest = [](Result& best, const Result& pass) {
        const double cpu = std::min(best.cpuSeconds, pass.cpuSeconds);
        const double wall = std::min(best.wallSeconds, pass.wallSeconds);
        best = pass;
        best.cpuSeconds = cpu;
        best.wallSeconds = wall;
    };
    // Alternate the two so that a burst of load elsewhere hits both alike.
    for (int pass = 0; pass < kPasses; ++pass) {
        keepBest(ours, runAnalyzer(blocks));
        keepBest(theirs, runLibebur128(interleaved));
    }

    const auto report = [](const char* name, const Result& r) {
        std::printf(
            "%-34s %7.0fx real time (CPU %6.1f ms), wall clock %7.0fx "
            "(I %.2f LUFS, LRA %.2f LU, max TP %.2f dBTP)\n",
            name, kSeconds / r.cpuSeconds, r.cpuSeconds * 1e3, kSeconds / r.wallSeconds,
            r.integrated, r.range, r.maxTruePeak);
    };
    report("Orvinta LoudnessAnalyzer::process", ours);
    report("libebur128 I|LRA|TRUE_PEAK", theirs);
    std::printf("ratio Orvinta / libebur128: %.2f (CPU), %.2f (wall clock)\n",
                theirs.cpuSeconds / ours.cpuSeconds, theirs.wallSeconds / ours.wallSeconds);

    // The statistics update the analyzer runs once per second of audio: integrated loudness and
    // loudness range from histograms that hold 5 hours of blocks. Its cost no longer grows with
    // the length of the run.
    {
        orvinta::LoudnessHistogram blocks;
        orvinta::LoudnessHistogram windows;
        std::uint64_t state = 12345;
        for (int hop = 0; hop < 5 * 3600 * 10; ++hop) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const double power = std::pow(
                10.0, (-40.0 + 30.0 * static_cast<double>(state >> 11) * 0x1.0p-53) / 10.0);
            blocks.add(power);
            windows.add(power);
        }
        double best = 1e30;
        double sink = 0.0;
        for (int pass = 0; pass < kPasses; ++pass) {
            const Stopwatch stopwatch;
            sink += blocks.integratedLUFS();
            sink += windows.loudnessRangeLU();
            best = std::min(best, stopwatch.cpuSeconds());
        }
        std::printf(
            "integrated loudness + loudness range after 5 hours: %.3f ms per update, once per "
            "second of audio (%.3f)\n",
            best * 1e3, sink / kPasses);
    }

    // The analyzer's own stage breakdown: one analyzer fed the programme over and over for a
    // little more than the 2 s report interval reports once.
    orvinta::LoudnessAnalyzer analyzer(kChannels);
    analyzer.onStageBreakdown = [](const orvinta::LoudnessAnalyzer::StageBreakdown& t) {
        std::printf(
            "stage breakdown over %lld calls, ms avg/max: truePeak %.3f/%.2f kWeight %.3f/%.2f "
            "ringWrite %.3f/%.2f hopEval (%lld calls) %.3f/%.2f\n",
            static_cast<long long>(t.callCount), t.avgTruePeakMs, t.maxTruePeakMs, t.avgKWeightMs,
            t.maxKWeightMs, t.avgRingWriteMs, t.maxRingWriteMs,
            static_cast<long long>(t.hopEvalCallCount), t.avgHopEvalMs, t.maxHopEvalMs);
    };
    const auto until = Clock::now() + std::chrono::milliseconds(2100);
    while (Clock::now() < until) {
        for (const auto& block : blocks) {
            analyzer.process(block);
        }
    }
    return 0;
}
