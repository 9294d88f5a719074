#pragma once

// Child processes, files and a virtual X display for the tests that run the real application.

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/eventually.h"

namespace orvinta::testing {

// A child process with its standard output and error in files.
class Child {
public:
    Child(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env,
          const std::filesystem::path& stdoutPath, const std::filesystem::path& stderrPath,
          int extraFd = -1) {
        pid_ = ::fork();
        if (pid_ == 0) {
            for (const auto& [name, value] : env) {
                if (value.empty()) {
                    ::unsetenv(name.c_str());
                } else {
                    ::setenv(name.c_str(), value.c_str(), 1);
                }
            }
            const int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            if (extraFd >= 0) {
                ::dup2(extraFd, 3);
            }
            std::vector<char*> argv;
            for (const auto& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Child() { terminate(); }

    pid_t pid() const { return pid_; }
    bool isAlive() {
        if (pid_ <= 0) {
            return false;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exitStatus_ = status;
            pid_ = -1;
            return false;
        }
        return true;
    }
    // Waits up to `timeout` for the child to end by itself; returns its wait status.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout) {
        if (eventually([this] { return !isAlive(); }, timeout, std::chrono::milliseconds(20))) {
            return exitStatus_;
        }
        return std::nullopt;
    }
    void terminate() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            if (!waitForExit(std::chrono::milliseconds(3000))) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits until `path` contains `needle` after position `from`; returns the position or npos.
inline std::size_t waitForText(const std::filesystem::path& path, const std::string& needle,
                               std::size_t from, std::chrono::milliseconds timeout) {
    std::size_t found = std::string::npos;
    eventually([&] { return (found = readFile(path).find(needle, from)) != std::string::npos; },
               timeout, std::chrono::milliseconds(50));
    return found;
}

// Runs a command to its end and returns its standard output.
inline std::string run(const std::vector<std::string>& arguments, const std::string& display) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display));
    process.setProcessEnvironment(env);
    QStringList rest;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        rest << QString::fromStdString(arguments[i]);
    }
    process.start(QString::fromStdString(arguments[0]), rest);
    process.waitForFinished(20000);
    return process.readAllStandardOutput().toStdString();
}

// A virtual X display on a free number, started and stopped by the test.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const std::filesystem::path& logDirectory) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        xvfb_ = std::make_unique<Child>(
            std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", "1920x1200x24",
                                     "-nolisten", "tcp"},
            std::map<std::string, std::string>{}, logDirectory / "e2e-xvfb.out",
            logDirectory / "e2e-xvfb.err", fds[1]);
        ::close(fds[1]);
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') {
            number.push_back(c);
        }
        ::close(fds[0]);
        if (!number.empty()) {
            name_ = ":" + number;
        }
    }
    const std::string& name() const { return name_; }

private:
    std::unique_ptr<Child> xvfb_;
    std::string name_;
};

}  // namespace orvinta::testing
