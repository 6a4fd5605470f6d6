// Processes for tests: run-in-child, started programs, files.
#include "tests/support/processes.h"

#include "platform/linux/headless.h"
#include "tests/support/sockets.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

double SecondsNow() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// One line per value: backslashes and line feeds inside travel escaped.
void Report::Set(const std::string& key, const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    std::lock_guard<std::mutex> hold(lock_);
    text_ += key + "=" + escaped + "\n";
}

std::string Report::Text() {
    std::lock_guard<std::mutex> hold(lock_);
    return text_;
}

namespace {

// Programs started and not yet waited for, ended with the child that started them.
std::mutex programsLock;
std::vector<pid_t> programs;

void StopAllPrograms() {
    std::vector<pid_t> running;
    {
        std::lock_guard<std::mutex> hold(programsLock);
        running.swap(programs);
    }
    for (pid_t pid : running) {
        kill(pid, SIGKILL);
    }
}

void Forget(pid_t pid) {
    std::lock_guard<std::mutex> hold(programsLock);
    programs.erase(std::remove(programs.begin(), programs.end(), pid), programs.end());
}

void BringLoopbackUp() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request;
    std::memset(&request, 0, sizeof request);
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
    ioctl(fd, SIOCGIFFLAGS, &request);
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ioctl(fd, SIOCSIFFLAGS, &request);
    close(fd);
}

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written <= 0) {
            return;
        }
        done += static_cast<size_t>(written);
    }
}

std::map<std::string, std::string> ParseReport(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string value;
        for (size_t i = equals + 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
                value += line[i] == 'n' ? '\n' : line[i];
            } else {
                value += line[i];
            }
        }
        values[line.substr(0, equals)] = value;
    }
    return values;
}

}  // namespace

ChildOutcome RunInChild(bool privateNetwork, int timeoutSeconds, const std::function<void(Report&)>& body) {
    int channel[2];
    if (pipe(channel) != 0) {
        return {};
    }
    // The child's error output goes to a file, so that a sanitizer's report
    // there fails the test even though the child ends with _exit or
    // ExitProcess and not through the sanitizer's own exit code.
    char errorsPath[] = "/tmp/qor-test-child.XXXXXX";
    int errorsFd = mkstemp(errorsPath);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        dup2(errorsFd, 2);
        static Report report;
        static int reportFd = channel[1];
        if (privateNetwork) {
            if (unshare(CLONE_NEWNET) != 0) {
                report.Set("setup", "unshare failed");
                WriteAll(reportFd, report.Text());
                _exit(3);
            }
            BringLoopbackUp();
        }
        headless::SetExitHook([](int exitCode) {
            StopAllPrograms();
            report.Set("exit", exitCode);
            WriteAll(reportFd, report.Text());
        });
        body(report);
        StopAllPrograms();
        report.Set("exit", "body");
        WriteAll(reportFd, report.Text());
        _exit(0);
    }
    close(channel[1]);
    std::string text;
    double deadline = SecondsNow() + timeoutSeconds;
    bool timedOut = false;
    for (;;) {
        int leftMs = static_cast<int>((deadline - SecondsNow()) * 1000);
        if (leftMs <= 0) {
            timedOut = true;
            break;
        }
        pollfd ready = {channel[0], POLLIN, 0};
        if (poll(&ready, 1, leftMs) <= 0) {
            continue;
        }
        char chunk[4096];
        ssize_t received = read(channel[0], chunk, sizeof chunk);
        if (received <= 0) {
            break;
        }
        text.append(chunk, static_cast<size_t>(received));
    }
    close(channel[0]);
    ChildOutcome outcome;
    if (timedOut) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exited = !timedOut && WIFEXITED(status);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.values = ParseReport(text);
    close(errorsFd);
    std::string errors = ReadFile(errorsPath);
    unlink(errorsPath);
    std::fputs(errors.c_str(), stderr);
    if (errors.find("Sanitizer") != std::string::npos || errors.find("runtime error:") != std::string::npos) {
        ADD_FAILURE() << "sanitizer report in the child process";
    }
    return outcome;
}

pid_t StartProgram(const std::vector<std::string>& arguments, const std::string& logPath) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (pid > 0) {
        std::lock_guard<std::mutex> hold(programsLock);
        programs.push_back(pid);
    }
    return pid;
}

namespace {

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int WaitForProgramEnd(pid_t pid) {
    int status = 0;
    pid_t done = waitpid(pid, &status, 0);
    Forget(pid);
    return done == pid ? ExitStatus(status) : -1;
}

int WaitForProgram(pid_t pid, int timeoutSeconds) {
    double deadline = SecondsNow() + timeoutSeconds;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            Forget(pid);
            return ExitStatus(status);
        }
        if (done < 0 || SecondsNow() > deadline) {
            StopProgram(pid);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void StopProgram(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    Forget(pid);
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) != 0) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

std::string TempDirectory() {
    char pattern[] = "/tmp/qor-test.XXXXXX";
    const char* made = mkdtemp(pattern);
    return made != nullptr ? made : "/tmp";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool WriteFile(const std::string& path, const uint8_t* bytes, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

bool WriteFile(const std::string& path, const std::string& content) {
    return WriteFile(path, reinterpret_cast<const uint8_t*>(content.data()), content.size());
}

bool ChildServer::Start(const std::vector<std::string>& arguments, uint32_t address, uint16_t port,
                        const std::string& logPath) {
    pid_ = StartProgram(arguments, logPath);
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
        if (Listening(address, port)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

::testing::AssertionResult EndedByMessage(const ChildOutcome& outcome, const std::string& box,
                                          const std::string& unreached) {
    auto value = [&outcome](const char* key) {
        auto found = outcome.values.find(key);
        return found == outcome.values.end() ? std::string("(none)") : found->second;
    };
    if (!outcome.exited) {
        return ::testing::AssertionFailure() << "the child did not end in time";
    }
    if (value("box") != box || value("exit") != "0") {
        return ::testing::AssertionFailure()
               << "box " << value("box") << ", exit " << value("exit") << "; wanted box " << box << ", exit 0";
    }
    if (outcome.values.count(unreached) != 0) {
        return ::testing::AssertionFailure() << "the run went on to set " << unreached;
    }
    return ::testing::AssertionSuccess();
}
