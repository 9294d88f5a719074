#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orvinta::testing {

// A private PulseAudio daemon for tests, with its own runtime directory, socket, home and
// cookie under a fresh temporary directory, so that tests never touch the developer's own sound
// server and leave nothing behind.
//
// The default layout is a small desktop:
//   - sink "speakers": a null sink, float32le, 48 000 Hz, stereo; the default sink;
//   - sink "mic_feed": a null sink in the microphone's format, which feeds
//   - source "mic": module-remap-source over mic_feed.monitor; the default source, a real input
//     device in the server's eyes (not a monitor), mono or stereo by option.
// Whatever plays into mic_feed is what the microphone hears, at a level known exactly.
//
// Besides its unix socket, the daemon listens on 127.0.0.1 (refusingServerAddress()) with
// anonymous access off and a cookie no client has, so that clients pointed there are refused
// with "Access denied".
//
// Not thread-safe: drive one server from one test thread, one that outlives the server. The daemon
// and its helpers are tied to the thread that started them and are killed when it ends, so that a
// crashed test leaves no daemon running. The destructor stops the daemon and
// every child process, and removes the temporary directory.
class PrivatePulseServer {
public:
    enum class Microphone {
        remapped,    // mic_feed + remap source "mic" (default)
        standalone,  // module-sine-source "mic": an input that no sink feeds
        none,        // no input device at all
    };

    struct Options {
        bool withSpeakers = true;
        Microphone microphone = Microphone::remapped;
        int microphoneChannels = 2;
        unsigned microphoneRate = 48000;
        std::string microphoneFormat = "s16le";  // a PulseAudio sample format name
    };

    // No sink and no source: the server has no default source and no default sink.
    static Options nothingAttached();
    // Only the speakers: the default source is the speakers' monitor.
    static Options onlyMonitor();
    // A microphone but no sink: no default sink (the microphone is standalone, as a mic_feed
    // sink would become the default sink).
    static Options noSink();

    PrivatePulseServer();
    explicit PrivatePulseServer(Options options);
    ~PrivatePulseServer();
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    // Starts the daemon and returns once it answers with its devices loaded; after stop() or
    // kill() it starts again at the same address. Throws std::runtime_error (with the daemon's
    // log) when it does not come up within 10 s.
    void start();
    // Ends playback, then the daemon (SIGTERM), and waits for it.
    void stop();
    // Kills the daemon with SIGKILL, as a crash would, and waits for it. Players are left to
    // fail on their own and are reaped by stopPlayback().
    void kill();
    bool isRunning() const { return daemonPid_ > 0; }

    // "unix:<dir>/runtime/pulse/native"; valid before start() and after stop().
    std::string serverAddress() const;
    // "tcp:127.0.0.1:<port>": the same daemon, refusing every client.
    std::string refusingServerAddress() const;
    // Points libpulse clients of this process at the server: PULSE_SERVER, and a private
    // PULSE_COOKIE and PULSE_CLIENTCONFIG, so no file of the user's is read.
    void exportToEnvironment() const;
    // The same, pointed at the refusing listener.
    void exportRefusingToEnvironment() const;

    // Runs pactl against the server and returns its standard output; throws std::runtime_error
    // (with its error output) when it exits non-zero.
    std::string pactl(const std::vector<std::string>& arguments) const;

    // Plays an endless sine of `peak` (full scale 1.0) on every channel into a sink, through a
    // pacat child process fed with float32 samples computed here. Returns once the player's
    // stream is connected. Several players may run at once.
    void playSine(const std::string& sinkName, int channels, unsigned rate, double peak,
                  double frequencyHz = 1000.0);
    // The same into the microphone's feed (mic_feed, in the microphone's channels and rate).
    void playSineIntoMicrophone(double peak, double frequencyHz = 1000.0);
    // The same into the speakers (48 000 Hz stereo).
    void playSineIntoSpeakers(double peak, double frequencyHz = 1000.0);
    // Stops every player and monitor recorder.
    void stopPlayback();

    // Leaves a 20 ms recorder on a sink's monitor. An idle null sink's monitor hands a new stream
    // its first audio only 1-2 s after it connects; with a low-latency recorder already there,
    // within tens of milliseconds. start() does this for the speakers and the microphone feed.
    void keepMonitorWarm(const std::string& sinkName);

    const Options& options() const { return options_; }
    std::filesystem::path directory() const { return directory_; }

    static constexpr const char* kSpeakers = "speakers";
    static constexpr const char* kMicrophoneFeed = "mic_feed";
    static constexpr const char* kMicrophone = "mic";

    // Plays an endless 48 000 Hz stereo signal into the speakers as a client of its own whose
    // application.name is `applicationName`: a sine of `peak` at `frequencyHz`, or white noise of
    // that peak when `frequencyHz` is 0. Returns once the server lists the new stream; the result
    // names the player for stopPlayer().
    int playAs(const std::string& applicationName, double peak, double frequencyHz);
    // Ends one player started by playAs(); its stream goes away.
    void stopPlayer(int player);

private:
    struct Player;

    void writeConfiguration() const;
    std::vector<std::string> clientEnvironment() const;
    std::string daemonLog() const;

    Options options_;
    std::filesystem::path directory_;
    int refusingPort_ = 0;
    pid_t daemonPid_ = -1;
    std::vector<std::unique_ptr<Player>> players_;
};

}  // namespace orvinta::testing
