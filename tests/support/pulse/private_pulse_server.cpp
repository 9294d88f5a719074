#include "tests/support/pulse/private_pulse_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace orvinta::testing {

namespace {

using namespace std::chrono_literals;

constexpr auto kReadyTimeout = 10s;
constexpr auto kPlayerTimeout = 5s;

// Variables that would point a child at the user's own server, session bus or files.
constexpr std::array<const char*, 8> kPrivateVariables = {
    "PULSE_SERVER",    "PULSE_COOKIE", "PULSE_CLIENTCONFIG",       "PULSE_RUNTIME_PATH",
    "XDG_RUNTIME_DIR", "HOME",         "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME",
};

std::vector<std::string> environmentWith(const std::vector<std::string>& overrides) {
    std::vector<std::string> result;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string variable(*entry);
        bool replaced = false;
        for (const char* name : kPrivateVariables) {
            const std::string prefix = std::string(name) + "=";
            if (variable.compare(0, prefix.size(), prefix) == 0) {
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            result.push_back(variable);
        }
    }
    result.insert(result.end(), overrides.begin(), overrides.end());
    return result;
}

// Starts a program with the given standard streams (-1: /dev/null); returns its pid.
pid_t spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            int stdinFd, int stdoutFd, int stderrFd);

// The same for a long-running child (the daemon, players, recorders): it is killed when the
// thread that started it ends, so a crashed or killed test leaves no daemon behind.
pid_t spawnTiedToUs(std::vector<std::string> arguments, const std::vector<std::string>& environment,
                    int stdinFd) {
    if (access("/usr/bin/setpriv", X_OK) == 0) {
        arguments.insert(arguments.begin(), {"/usr/bin/setpriv", "--pdeathsig", "KILL", "--"});
    }
    return spawn(arguments, environment, stdinFd, -1, -1);
}

pid_t spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            int stdinFd, int stdoutFd, int stderrFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int fds[3] = {stdinFd, stdoutFd, stderrFd};
    for (int target = 0; target < 3; ++target) {
        if (fds[target] >= 0) {
            posix_spawn_file_actions_adddup2(&actions, fds[target], target);
        } else {
            posix_spawn_file_actions_addopen(&actions, target, "/dev/null",
                                             target == 0 ? O_RDONLY : O_WRONLY, 0);
        }
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (const auto& variable : environment) {
        envp.push_back(const_cast<char*>(variable.c_str()));
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
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

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return text;
}

void writeRandomCookie(const std::filesystem::path& path, std::mt19937_64& random) {
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
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        close(fd);
    }
    if (port == 0) {
        throw std::runtime_error("no free local port for the refusing listener");
    }
    return port;
}

}  // namespace

// One pacat child playing a sine, fed through a socket by a thread of ours.
struct PrivatePulseServer::Player {
    pid_t pid = -1;
    int socket = -1;
    std::atomic<bool> stopping{false};
    std::thread writer;

    ~Player() {
        stopping.store(true);
        if (pid > 0) {
            ::kill(pid, SIGTERM);
        }
        if (socket >= 0) {
            shutdown(socket, SHUT_RDWR);
        }
        if (writer.joinable()) {
            writer.join();
        }
        if (socket >= 0) {
            close(socket);
        }
        if (pid > 0) {
            waitForExit(pid);
        }
    }
};

PrivatePulseServer::Options PrivatePulseServer::nothingAttached() {
    Options options;
    options.withSpeakers = false;
    options.microphone = Microphone::none;
    return options;
}

PrivatePulseServer::Options PrivatePulseServer::onlyMonitor() {
    Options options;
    options.microphone = Microphone::none;
    return options;
}

PrivatePulseServer::Options PrivatePulseServer::noSink() {
    Options options;
    options.withSpeakers = false;
    options.microphone = Microphone::standalone;
    return options;
}

PrivatePulseServer::PrivatePulseServer() : PrivatePulseServer(Options()) {}

PrivatePulseServer::PrivatePulseServer(Options options) : options_(std::move(options)) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvinta-pulse-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory for the sound server");
    }
    directory_ = pattern;
    std::filesystem::create_directories(directory_ / "runtime");
    std::filesystem::create_directories(directory_ / "home" / ".config");
    std::filesystem::permissions(directory_ / "runtime", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    std::mt19937_64 random(std::random_device{}());
    writeRandomCookie(directory_ / "server-cookie", random);
    writeRandomCookie(directory_ / "client-cookie", random);
    std::ofstream(directory_ / "client.conf") << "autospawn = no\n";
    refusingPort_ = freeLocalPort();
    writeConfiguration();
}

PrivatePulseServer::~PrivatePulseServer() {
    try {
        stop();
    } catch (...) {
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

void PrivatePulseServer::writeConfiguration() const {
    std::ofstream file(directory_ / "server.pa");
    const std::string micChannels = std::to_string(options_.microphoneChannels);
    const std::string micRate = std::to_string(options_.microphoneRate);
    if (options_.withSpeakers) {
        file << "load-module module-null-sink sink_name=" << kSpeakers
             << " rate=48000 format=float32le channels=2"
                " sink_properties=device.description=Speakers\n";
    }
    switch (options_.microphone) {
        case Microphone::remapped:
            file << "load-module module-null-sink sink_name=" << kMicrophoneFeed
                 << " rate=" << micRate << " format=" << options_.microphoneFormat
                 << " channels=" << micChannels
                 << " sink_properties=device.description=Microphone_feed\n";
            file << "load-module module-remap-source source_name=" << kMicrophone
                 << " master=" << kMicrophoneFeed << ".monitor"
                 << " source_properties=device.description=Microphone\n";
            break;
        case Microphone::standalone:
            file << "load-module module-sine-source source_name=" << kMicrophone
                 << " rate=" << micRate << " frequency=440\n";
            break;
        case Microphone::none:
            break;
    }
    if (options_.withSpeakers) {
        file << "set-default-sink " << kSpeakers << "\n";
    }
    if (options_.microphone != Microphone::none) {
        file << "set-default-source " << kMicrophone << "\n";
    }
    file << "load-module module-native-protocol-tcp port=" << refusingPort_
         << " listen=127.0.0.1 auth-anonymous=0 auth-cookie-enabled=1 cookie="
         << (directory_ / "server-cookie").string() << "\n";
    // Loaded last: once clients get in, every device above exists.
    file << "load-module module-native-protocol-unix auth-anonymous=1 socket="
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

std::string PrivatePulseServer::daemonLog() const {
    std::ifstream file(directory_ / "daemon.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void PrivatePulseServer::start() {
    if (isRunning()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove(directory_ / "runtime" / "pulse" / "native", ignored);
    const std::vector<std::string> arguments = {
        "pulseaudio",
        "-n",
        "-F",
        (directory_ / "server.pa").string(),
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--disallow-exit",
        "--use-pid-file=no",
        "--realtime=no",
        "--high-priority=no",
        "--log-target=file:" + (directory_ / "daemon.log").string(),
    };
    const auto environment = environmentWith({
        "HOME=" + (directory_ / "home").string(),
        "XDG_RUNTIME_DIR=" + (directory_ / "runtime").string(),
        "XDG_CONFIG_HOME=" + (directory_ / "home" / ".config").string(),
        // Keep the daemon off the user's session bus.
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (directory_ / "no-bus").string(),
    });
    daemonPid_ = spawnTiedToUs(arguments, environment, -1);

    const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
    int attempts = 1;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(daemonPid_, &status, WNOHANG) == daemonPid_) {
            daemonPid_ = -1;
            // Another process may have taken the refusing listener's port since we chose it.
            if (attempts++ < 3) {
                refusingPort_ = freeLocalPort();
                writeConfiguration();
                daemonPid_ = spawnTiedToUs(arguments, environment, -1);
                continue;
            }
            throw std::runtime_error("the private sound server exited at start:\n" + daemonLog());
        }
        if (std::filesystem::exists(directory_ / "runtime" / "pulse" / "native")) {
            try {
                pactl({"info"});
                if (options_.withSpeakers) {
                    keepMonitorWarm(kSpeakers);
                }
                if (options_.microphone == Microphone::remapped) {
                    keepMonitorWarm(kMicrophoneFeed);
                }
                return;
            } catch (const std::runtime_error&) {
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    kill();
    throw std::runtime_error("the private sound server did not come up:\n" + daemonLog());
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

std::string PrivatePulseServer::pactl(const std::vector<std::string>& arguments) const {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> command = {"pactl", "--server=" + serverAddress()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    pid_t pid = -1;
    try {
        pid = spawn(command, clientEnvironment(), -1, out[1], err[1]);
    } catch (...) {
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        throw;
    }
    close(out[1]);
    close(err[1]);
    // pactl writes little; reading the two pipes one after the other cannot fill either.
    std::string output = readAll(out[0]);
    std::string errors = readAll(err[0]);
    close(out[0]);
    close(err[0]);
    const int status = waitForExit(pid);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string joined;
        for (const auto& argument : arguments) {
            joined += " " + argument;
        }
        throw std::runtime_error("pactl" + joined + " failed: " + errors);
    }
    return output;
}

void PrivatePulseServer::playSine(const std::string& sinkName, int channels, unsigned rate,
                                  double peak, double frequencyHz) {
    const std::string clientName =
        "orvinta-test-sine-" + std::to_string(players_.size() + 1) + "-" + std::to_string(getpid());
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    auto player = std::make_unique<Player>();
    player->socket = sockets[0];
    // A quarter second of buffer keeps the sine free of underruns on a busy machine; the level
    // it plays is then exactly the level that was asked for.
    try {
        player->pid = spawnTiedToUs(
            {"pacat", "--playback", "--raw", "--server=" + serverAddress(), "--device=" + sinkName,
             "--format=float32le", "--rate=" + std::to_string(rate),
             "--channels=" + std::to_string(channels), "--latency-msec=250", "--volume=65536",
             "--client-name=" + clientName, "--stream-name=sine"},
            clientEnvironment(), sockets[1]);
    } catch (...) {
        close(sockets[1]);
        throw;
    }
    close(sockets[1]);

    player->writer = std::thread([socket = player->socket, stopping = &player->stopping, channels,
                                  rate, peak, frequencyHz] {
        constexpr std::size_t kFrames = 1024;
        std::vector<float> samples(kFrames * static_cast<std::size_t>(channels));
        std::uint64_t frame = 0;
        while (!stopping->load()) {
            for (std::size_t i = 0; i < kFrames; ++i, ++frame) {
                // The phase restarts every second, so it never loses precision.
                const double t = static_cast<double>(frame % rate) / rate;
                const auto value =
                    static_cast<float>(peak * std::sin(2.0 * std::numbers::pi * frequencyHz * t));
                for (int c = 0; c < channels; ++c) {
                    samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                        value;
                }
            }
            const char* bytes = reinterpret_cast<const char*>(samples.data());
            std::size_t left = samples.size() * sizeof(float);
            while (left > 0) {
                const ssize_t sent = send(socket, bytes, left, MSG_NOSIGNAL);
                if (sent < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    return;
                }
                bytes += sent;
                left -= static_cast<std::size_t>(sent);
            }
        }
    });
    players_.push_back(std::move(player));

    const auto deadline = std::chrono::steady_clock::now() + kPlayerTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (pactl({"list", "sink-inputs"}).find(clientName) != std::string::npos) {
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    throw std::runtime_error("the sine player did not connect to " + sinkName);
}

void PrivatePulseServer::playSineIntoMicrophone(double peak, double frequencyHz) {
    playSine(kMicrophoneFeed, options_.microphoneChannels, options_.microphoneRate, peak,
             frequencyHz);
}

void PrivatePulseServer::playSineIntoSpeakers(double peak, double frequencyHz) {
    playSine(kSpeakers, 2, 48000, peak, frequencyHz);
}

void PrivatePulseServer::stopPlayback() {
    players_.clear();
}

void PrivatePulseServer::keepMonitorWarm(const std::string& sinkName) {
    auto recorder = std::make_unique<Player>();
    recorder->pid = spawnTiedToUs(
        {"parec", "--raw", "--server=" + serverAddress(), "--device=" + sinkName + ".monitor",
         "--latency-msec=20", "--client-name=orvinta-test-warm-recorder"},
        clientEnvironment(), -1);
    players_.push_back(std::move(recorder));
}

int PrivatePulseServer::playAs(const std::string& applicationName, double peak,
                               double frequencyHz) {
    const std::string marker = "application.name = \"" + applicationName + "\"";
    const auto streamsOfTheApplication = [&] {
        const std::string list = pactl({"list", "sink-inputs"});
        std::size_t count = 0;
        for (auto at = list.find(marker); at != std::string::npos; at = list.find(marker, at + 1)) {
            ++count;
        }
        return count;
    };
    const std::size_t before = streamsOfTheApplication();
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    auto player = std::make_unique<Player>();
    player->socket = sockets[0];
    try {
        player->pid =
            spawnTiedToUs({"pacat", "--playback", "--raw", "--server=" + serverAddress(),
                           std::string("--device=") + kSpeakers, "--format=float32le",
                           "--rate=48000", "--channels=2", "--latency-msec=250", "--volume=65536",
                           "--client-name=" + applicationName, "--stream-name=" + applicationName},
                          clientEnvironment(), sockets[1]);
    } catch (...) {
        close(sockets[1]);
        throw;
    }
    close(sockets[1]);
    player->writer = std::thread([socket = player->socket, stopping = &player->stopping, peak,
                                  frequencyHz] {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> noise(-peak, peak);
        std::vector<float> frames(std::size_t{2} * 480);
        for (std::uint64_t frame = 0; !stopping->load();) {
            for (std::size_t i = 0; i < frames.size(); i += 2, ++frame) {
                const double t = static_cast<double>(frame % 48000) / 48000.0;
                frames[i] = static_cast<float>(
                    frequencyHz > 0.0 ? peak * std::sin(2.0 * std::numbers::pi * frequencyHz * t)
                                      : noise(random));
                frames[i + 1] = frames[i];
            }
            const char* bytes = reinterpret_cast<const char*>(frames.data());
            for (std::size_t left = frames.size() * sizeof(float); left > 0;) {
                const ssize_t sent = send(socket, bytes, left, MSG_NOSIGNAL);
                if (sent < 0 && errno != EINTR) {
                    return;
                }
                const std::size_t written = sent > 0 ? static_cast<std::size_t>(sent) : 0;
                bytes += written;
                left -= written;
            }
        }
    });
    const int id = player->pid;
    players_.push_back(std::move(player));
    const auto deadline = std::chrono::steady_clock::now() + kPlayerTimeout;
    while (streamsOfTheApplication() <= before) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error(applicationName + " did not start playing");
        }
        std::this_thread::sleep_for(20ms);
    }
    return id;
}

void PrivatePulseServer::stopPlayer(int player) {
    std::erase_if(players_, [player](const auto& p) { return p->pid == player; });
}

}  // namespace orvinta::testing
