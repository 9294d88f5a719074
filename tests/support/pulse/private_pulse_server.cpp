#include "tests/support/pulse/private_pulse_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/eventually.h"

extern char** environ;

namespace orvinta::testing {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Our environment without what would point a child at the user's own server, bus or files.
std::vector<std::string> environmentWith(const std::vector<std::string>& overrides) {
    static const char* const kPrivate[] = {
        "PULSE_SERVER=",    "PULSE_COOKIE=", "PULSE_CLIENTCONFIG=",       "PULSE_RUNTIME_PATH=",
        "XDG_RUNTIME_DIR=", "HOME=",         "DBUS_SESSION_BUS_ADDRESS=", "XDG_CONFIG_HOME="};
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable(*entry);
        if (std::none_of(std::begin(kPrivate), std::end(kPrivate),
                         [&](const char* name) { return variable.starts_with(name); })) {
            result.push_back(variable);
        }
    }
    result.insert(result.end(), overrides.begin(), overrides.end());
    return result;
}

// Starts a program with the given standard input and output (standard error joins standard
// output; -1: /dev/null); returns its pid. It is killed when the thread that started it ends, so
// a crashed test leaves no daemon, player or recorder behind.
pid_t spawn(std::vector<std::string> arguments, const std::vector<std::string>& environment,
            int stdinFd = -1, int stdoutFd = -1) {
    if (access("/usr/bin/setpriv", X_OK) == 0) {
        arguments.insert(arguments.begin(), {"/usr/bin/setpriv", "--pdeathsig", "KILL", "--"});
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int fds[3] = {stdinFd, stdoutFd, stdoutFd};
    for (int target = 0; target < 3; ++target) {
        if (fds[target] >= 0) {
            posix_spawn_file_actions_adddup2(&actions, fds[target], target);
        } else {
            posix_spawn_file_actions_addopen(&actions, target, "/dev/null",
                                             target == 0 ? O_RDONLY : O_WRONLY, 0);
        }
    }
    const auto pointers = [](const std::vector<std::string>& texts) {
        std::vector<char*> result;
        result.reserve(texts.size() + 1);
        for (const auto& text : texts) {
            result.push_back(const_cast<char*>(text.c_str()));
        }
        result.push_back(nullptr);
        return result;
    };
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, arguments[0].c_str(), &actions, nullptr,
                                   pointers(arguments).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(error));
    }
    return pid;
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

void writeRandomCookie(const fs::path& path) {
    std::random_device random;
    std::ofstream file(path, std::ios::binary);
    for (int i = 0; i < 256; ++i) {
        file.put(static_cast<char>(random() & 0xff));
    }
}

int freeLocalPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    if (port == 0) {
        throw std::runtime_error("no free local port for the refusing listener");
    }
    return port;
}

}  // namespace

// One child (pacat playing, or parec recording) and, for players, the thread feeding it.
struct PrivatePulseServer::Player {
    pid_t pid = -1;
    int socket = -1;
    std::atomic<bool> stopping{false};
    std::thread writer;

    ~Player() {
        stopping.store(true);
        ::kill(pid, SIGTERM);
        if (socket >= 0) {
            shutdown(socket, SHUT_RDWR);
            if (writer.joinable()) {
                writer.join();
            }
            close(socket);
        }
        waitForExit(pid);
    }
};

PrivatePulseServer::Options PrivatePulseServer::nothingAttached() {
    Options options = onlyMonitor();
    options.withSpeakers = false;
    return options;
}

PrivatePulseServer::Options PrivatePulseServer::onlyMonitor() {
    Options options;
    options.microphone = Microphone::none;
    return options;
}

PrivatePulseServer::PrivatePulseServer() : PrivatePulseServer(Options()) {}

PrivatePulseServer::PrivatePulseServer(Options options) : options_(std::move(options)) {
    std::string pattern = (fs::temp_directory_path() / "orvinta-pulse-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory for the sound server");
    }
    directory_ = pattern;
    fs::create_directories(directory_ / "runtime");
    fs::create_directories(directory_ / "home" / ".config");
    fs::permissions(directory_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    writeRandomCookie(directory_ / "server-cookie");
    writeRandomCookie(directory_ / "client-cookie");
    std::ofstream(directory_ / "client.conf") << "autospawn = no\n";
}

PrivatePulseServer::~PrivatePulseServer() {
    try {
        stop();
    } catch (...) {
    }
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
}

void PrivatePulseServer::writeConfiguration() const {
    std::ofstream file(directory_ / "server.pa");
    const std::string micRate = std::to_string(options_.microphoneRate);
    const std::string micMap = options_.microphoneChannelMap.empty()
                                   ? ""
                                   : " channel_map=" + options_.microphoneChannelMap;
    if (options_.withSpeakers) {
        file << "load-module module-null-sink sink_name=" << kSpeakers
             << " rate=48000 format=float32le channels=2\n"
             << "set-default-sink " << kSpeakers << "\n";
    }
    if (options_.microphone == Microphone::remapped) {
        file << "load-module module-null-sink sink_name=" << kMicrophoneFeed << " rate=" << micRate
             << " format=" << options_.microphoneFormat
             << " channels=" << options_.microphoneChannels << micMap << "\n"
             << "load-module module-remap-source source_name=" << kMicrophone
             << " master=" << kMicrophoneFeed << ".monitor" << micMap << "\n";
    } else if (options_.microphone == Microphone::standalone) {
        file << "load-module module-sine-source source_name=" << kMicrophone << " rate=" << micRate
             << "\n";
    }
    if (options_.microphone != Microphone::none) {
        file << "set-default-source " << kMicrophone << "\n";
    }
    file << "load-module module-native-protocol-tcp port=" << refusingPort_
         << " listen=127.0.0.1 auth-anonymous=0 auth-cookie-enabled=1 cookie="
         << (directory_ / "server-cookie").string()
         << "\n"
         // Loaded last: once clients get in, every device above exists.
         << "load-module module-native-protocol-unix auth-anonymous=1 socket="
         << (directory_ / "runtime" / "pulse" / "native").string() << "\n";
}

std::string PrivatePulseServer::serverAddress() const {
    return "unix:" + (directory_ / "runtime" / "pulse" / "native").string();
}

std::string PrivatePulseServer::refusingServerAddress() const {
    return "tcp:127.0.0.1:" + std::to_string(refusingPort_);
}

std::vector<std::string> PrivatePulseServer::clientEnvironment() const {
    return environmentWith({
        "PULSE_SERVER=" + serverAddress(),
        "PULSE_COOKIE=" + (directory_ / "client-cookie").string(),
        "PULSE_CLIENTCONFIG=" + (directory_ / "client.conf").string(),
        "HOME=" + (directory_ / "home").string(),
        "XDG_RUNTIME_DIR=" + (directory_ / "runtime").string(),
    });
}

void PrivatePulseServer::exportToEnvironment() const {
    setenv("PULSE_SERVER", serverAddress().c_str(), 1);
    setenv("PULSE_COOKIE", (directory_ / "client-cookie").c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", (directory_ / "client.conf").c_str(), 1);
}

void PrivatePulseServer::exportRefusingToEnvironment() const {
    exportToEnvironment();
    setenv("PULSE_SERVER", refusingServerAddress().c_str(), 1);
}

void PrivatePulseServer::start() {
    if (isRunning()) {
        return;
    }
    const fs::path socket = directory_ / "runtime" / "pulse" / "native";
    const auto environment = environmentWith({
        "HOME=" + (directory_ / "home").string(),
        "XDG_RUNTIME_DIR=" + (directory_ / "runtime").string(),
        "XDG_CONFIG_HOME=" + (directory_ / "home" / ".config").string(),
        // Keep the daemon off the user's session bus.
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (directory_ / "no-bus").string(),
    });
    // Another process may take the refusing listener's port between our choice and the
    // daemon's bind; the daemon then exits, and we try another port.
    for (int attempt = 0; attempt < 3 && !isRunning(); ++attempt) {
        std::error_code ignored;
        fs::remove(socket, ignored);
        if (refusingPort_ == 0 || attempt > 0) {
            refusingPort_ = freeLocalPort();
        }
        writeConfiguration();
        daemonPid_ = spawn(
            {"pulseaudio", "-n", "-F", (directory_ / "server.pa").string(), "--daemonize=no",
             "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no", "--realtime=no",
             "--high-priority=no", "--log-target=file:" + (directory_ / "daemon.log").string()},
            environment);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(daemonPid_, &status, WNOHANG) == daemonPid_) {
                daemonPid_ = -1;
                break;
            }
            try {
                if (fs::exists(socket)) {
                    pactl({"info"});
                    if (options_.withSpeakers) {
                        keepMonitorWarm(kSpeakers);
                    }
                    if (options_.microphone == Microphone::remapped) {
                        keepMonitorWarm(kMicrophoneFeed);
                    }
                    return;
                }
            } catch (const std::runtime_error&) {
            }
            std::this_thread::sleep_for(20ms);
        }
    }
    kill();
    std::stringstream log;
    log << std::ifstream(directory_ / "daemon.log").rdbuf();
    throw std::runtime_error("the private sound server did not come up:\n" + log.str());
}

void PrivatePulseServer::stop() {
    stopPlayback();
    if (daemonPid_ > 0) {
        ::kill(daemonPid_, SIGTERM);
        waitForExit(daemonPid_);
        daemonPid_ = -1;
    }
}

void PrivatePulseServer::kill() {
    if (daemonPid_ > 0) {
        ::kill(daemonPid_, SIGKILL);
        waitForExit(daemonPid_);
        daemonPid_ = -1;
    }
}

void PrivatePulseServer::pause() const {
    ::kill(daemonPid_, SIGSTOP);
}

void PrivatePulseServer::resume() const {
    ::kill(daemonPid_, SIGCONT);
}

std::string PrivatePulseServer::pactl(const std::vector<std::string>& arguments) const {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> command = {"pactl", "--server=" + serverAddress()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    pid_t pid = -1;
    try {
        pid = spawn(command, clientEnvironment(), -1, out[1]);
    } catch (...) {
        close(out[0]);
        close(out[1]);
        throw;
    }
    close(out[1]);
    std::string output;
    FILE* stream = fdopen(out[0], "r");
    char buffer[4096];
    for (std::size_t n = 0; (n = std::fread(buffer, 1, sizeof(buffer), stream)) > 0;) {
        output.append(buffer, n);
    }
    std::fclose(stream);
    const int status = waitForExit(pid);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("pactl " + arguments.front() + " failed: " + output);
    }
    return output;
}

// Samples of one player: a sine of `peak` at `frequencyHz` on every channel or only on
// `onlyChannel`, or white noise of that peak when `frequencyHz` is 0.
struct PrivatePulseServer::Signal {
    int channels = 2;
    unsigned rate = 48000;
    double peak = 0.0;
    double frequencyHz = 1000.0;
    int onlyChannel = -1;
};

int PrivatePulseServer::startPlayer(std::vector<std::string> arguments, const Signal& signal,
                                    const std::string& streamMarker) {
    const auto streamCount = [&] {
        const std::string list = pactl({"list", "sink-inputs"});
        std::size_t count = 0;
        for (auto at = list.find(streamMarker); at != std::string::npos;
             at = list.find(streamMarker, at + 1)) {
            ++count;
        }
        return count;
    };
    const std::size_t before = streamCount();
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    auto player = std::make_unique<Player>();
    player->socket = sockets[0];
    // A quarter second of buffer keeps the signal free of underruns on a busy machine; the level
    // it plays is then exactly the level that was asked for.
    arguments.insert(
        arguments.end(),
        {"--playback", "--raw", "--server=" + serverAddress(), "--format=float32le",
         "--rate=" + std::to_string(signal.rate), "--channels=" + std::to_string(signal.channels),
         "--latency-msec=250", "--volume=65536"});
    arguments.insert(arguments.begin(), "pacat");
    try {
        player->pid = spawn(arguments, clientEnvironment(), sockets[1]);
    } catch (...) {
        close(sockets[1]);
        throw;
    }
    close(sockets[1]);

    player->writer = std::thread([socket = player->socket, stopping = &player->stopping, signal] {
        const auto width = static_cast<std::size_t>(signal.channels);
        std::mt19937 random(7);
        std::uniform_real_distribution<double> noise(-signal.peak, signal.peak);
        std::vector<float> samples(1024 * width);
        for (std::uint64_t frame = 0; !stopping->load();) {
            for (std::size_t i = 0; i < samples.size(); ++frame, i += width) {
                // The phase restarts every second, so it never loses precision.
                const double t = static_cast<double>(frame % signal.rate) / signal.rate;
                const auto value = static_cast<float>(
                    signal.frequencyHz > 0.0
                        ? signal.peak * std::sin(2.0 * std::numbers::pi * signal.frequencyHz * t)
                        : noise(random));
                for (std::size_t c = 0; c < width; ++c) {
                    const bool sounds =
                        signal.onlyChannel < 0 || c == static_cast<std::size_t>(signal.onlyChannel);
                    samples[i + c] = sounds ? value : 0.0f;
                }
            }
            const char* bytes = reinterpret_cast<const char*>(samples.data());
            for (std::size_t left = samples.size() * sizeof(float); left > 0;) {
                const ssize_t sent = send(socket, bytes, left, MSG_NOSIGNAL);
                if (sent < 0 && errno != EINTR) {
                    return;
                }
                bytes += std::max<ssize_t>(sent, 0);
                left -= static_cast<std::size_t>(std::max<ssize_t>(sent, 0));
            }
        }
    });
    const int id = player->pid;
    players_.push_back(std::move(player));

    if (!eventually([&] { return streamCount() > before; }, 5s, 20ms)) {
        throw std::runtime_error("the player " + streamMarker + " did not connect");
    }
    return id;
}

void PrivatePulseServer::playSine(const std::string& sinkName, int channels, unsigned rate,
                                  double peak, int onlyChannel, const std::string& channelMap) {
    const std::string clientName =
        "orvinta-test-sine-" + std::to_string(players_.size() + 1) + "-" + std::to_string(getpid());
    std::vector<std::string> arguments = {"--device=" + sinkName, "--client-name=" + clientName};
    if (!channelMap.empty()) {
        arguments.push_back("--channel-map=" + channelMap);
    }
    startPlayer(std::move(arguments), Signal{channels, rate, peak, 1000.0, onlyChannel},
                clientName);
}

void PrivatePulseServer::playSineIntoMicrophone(double peak, int onlyChannel) {
    playSine(kMicrophoneFeed, options_.microphoneChannels, options_.microphoneRate, peak,
             onlyChannel, options_.microphoneChannelMap);
}

void PrivatePulseServer::playSineIntoSpeakers(double peak) {
    playSine(kSpeakers, 2, 48000, peak);
}

void PrivatePulseServer::stopPlayback() {
    players_.clear();
}

void PrivatePulseServer::keepMonitorWarm(const std::string& sinkName) {
    auto recorder = std::make_unique<Player>();
    recorder->pid =
        spawn({"parec", "--raw", "--server=" + serverAddress(), "--device=" + sinkName + ".monitor",
               "--latency-msec=20", "--client-name=orvinta-test-warm-recorder"},
              clientEnvironment());
    players_.push_back(std::move(recorder));
}

int PrivatePulseServer::playAs(const std::string& applicationName, double peak,
                               double frequencyHz) {
    return startPlayer({std::string("--device=") + kSpeakers, "--client-name=" + applicationName,
                        "--stream-name=" + applicationName},
                       Signal{2, 48000, peak, frequencyHz, -1},
                       "application.name = \"" + applicationName + "\"");
}

void PrivatePulseServer::stopPlayer(int player) {
    std::erase_if(players_, [player](const auto& p) { return p->pid == player; });
}

}  // namespace orvinta::testing
