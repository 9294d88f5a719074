#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orvinta::testing {

// A private PulseAudio daemon for tests under a fresh temporary directory (runtime, socket, home,
// cookie), so tests never touch the developer's own sound server and leave nothing behind.
//
// The default layout is a small desktop:
//   - sink "speakers": a null sink, float32le, 48 000 Hz, stereo; the default sink;
//   - sink "mic_feed": a null sink in the microphone's format, which feeds
//   - source "mic": module-remap-source over mic_feed.monitor; the default source, a real input
//     device in the server's eyes. Whatever plays into mic_feed is what it hears, exactly.
// The daemon also listens on 127.0.0.1 (refusingServerAddress()) with a cookie no client has, so
// clients pointed there are refused with "Access denied".
//
// Drive one server from one test thread that outlives it. The daemon and its helpers die with
// that thread, so a crashed test leaves none running; the destructor stops them all and removes
// the directory.
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
        std::string microphoneChannelMap;        // e.g. "front-left,front-right"; empty: default
    };

    // No sink and no source: the server has no default source and no default sink.
    static Options nothingAttached();
    // Only the speakers: the default source is the speakers' monitor.
    static Options onlyMonitor();

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
    // SIGSTOP / SIGCONT: a server that hangs, its sockets open, answering nothing.
    void pause() const;
    void resume() const;
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

    // Plays an endless 1 kHz sine of `peak` (full scale 1.0) into a sink, on every channel or
    // only on `onlyChannel`, through a pacat child fed with float32 samples computed here, in
    // `channelMap` (empty: pacat's default). Returns once the player's stream is connected.
    void playSine(const std::string& sinkName, int channels, unsigned rate, double peak,
                  int onlyChannel = -1, const std::string& channelMap = {});
    // The same into the microphone's feed, in the microphone's channels, rate and map.
    void playSineIntoMicrophone(double peak, int onlyChannel = -1);
    // The same into the speakers (48 000 Hz stereo).
    void playSineIntoSpeakers(double peak);
    // Stops every player and monitor recorder.
    void stopPlayback();

    // Leaves a 20 ms recorder on a sink's monitor: an idle null sink's monitor gives a new
    // stream its first audio only after 1-2 s, a warm one within tens of milliseconds. start()
    // does this for the speakers and the microphone feed.
    void keepMonitorWarm(const std::string& sinkName);

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
    struct Signal;

    // Starts pacat with `arguments` (device and names) fed with `signal`, and returns once the
    // server lists one more stream carrying `streamMarker`; the result names the player.
    int startPlayer(std::vector<std::string> arguments, const Signal& signal,
                    const std::string& streamMarker);

    void writeConfiguration() const;
    std::vector<std::string> clientEnvironment() const;

    Options options_;
    std::filesystem::path directory_;
    int refusingPort_ = 0;
    pid_t daemonPid_ = -1;
    std::vector<std::unique_ptr<Player>> players_;
};

}  // namespace orvinta::testing
