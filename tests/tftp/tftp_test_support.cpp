// Helpers of the TFTP tests: sockets, child processes, programs, the device.
#include "tests/tftp/tftp_test_support.h"

#include "platform/linux/headless.h"
#include "src/tftp/packets.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

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

UdpPeer::UdpPeer(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address;
    MakeSockAddr(kLoopback, port, &address);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("UdpPeer bind");
    }
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

UdpPeer::~UdpPeer() {
    close(fd_);
}

void UdpPeer::SendTo(uint16_t port, const std::vector<uint8_t>& packet, uint32_t address) const {
    sockaddr_in destination;
    MakeSockAddr(address, port, &destination);
    sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&destination), sizeof destination);
}

bool UdpPeer::Receive(std::vector<uint8_t>* packet, int timeoutMs, uint16_t* fromPort) const {
    pollfd ready = {fd_, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) {
        return false;
    }
    packet->resize(2048);
    sockaddr_in sender;
    socklen_t length = sizeof sender;
    ssize_t received = recvfrom(fd_, packet->data(), packet->size(), 0, reinterpret_cast<sockaddr*>(&sender), &length);
    if (received < 0) {
        return false;
    }
    packet->resize(static_cast<size_t>(received));
    if (fromPort != nullptr) {
        *fromPort = ntohs(sender.sin_port);
    }
    return true;
}

std::vector<uint8_t> AckPacket(uint32_t block) {
    std::vector<uint8_t> packet(4);
    PutU16BE(packet.data(), kTftpAck);
    PutU16BE(packet.data() + 2, block);
    return packet;
}

std::vector<uint8_t> RequestPacket(uint16_t opcode, const std::string& name) {
    std::vector<uint8_t> packet(2);
    PutU16BE(packet.data(), opcode);
    packet.insert(packet.end(), name.begin(), name.end());
    const char mode[] = "\0octet";
    packet.insert(packet.end(), mode, mode + sizeof mode);
    return packet;
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
    char errorsPath[] = "/tmp/qor-tftp-child.XXXXXX";
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

int WaitForProgram(pid_t pid, int timeoutSeconds) {
    double deadline = SecondsNow() + timeoutSeconds;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            Forget(pid);
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
    char pattern[] = "/tmp/qor-tftp-test.XXXXXX";
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

SimulatedDevice::SimulatedDevice(uint16_t httpPort, const std::vector<std::string>& options)
    : httpPort_(httpPort), directory_(TempDirectory()) {
    stateFile_ = directory_ + "/state.json";
    logFile_ = directory_ + "/device.log";
    std::vector<std::string> arguments = {"/usr/bin/python3",
                                          QOR_SOURCE_DIR "/tools/qor_device/qor_device.py",
                                          "127.0.0.1",
                                          "--http-port",
                                          std::to_string(httpPort),
                                          "--idle-delay",
                                          "0",
                                          "--state-file",
                                          stateFile_,
                                          "--save-dir",
                                          directory_ + "/saved",
                                          "--log",
                                          logFile_};
    arguments.insert(arguments.end(), options.begin(), options.end());
    pid_ = StartProgram(arguments);
}

SimulatedDevice::~SimulatedDevice() {
    StopProgram(pid_);
}

bool SimulatedDevice::Ready(int timeoutMs) const {
    double deadline = SecondsNow() + timeoutMs / 1000.0;
    while (SecondsNow() < deadline) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address;
        MakeSockAddr(kLoopback, httpPort_, &address);
        bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (connected) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool SimulatedDevice::Trigger(uint16_t tftpPort, const std::string& fileName) const {
    char url[256];
    std::snprintf(url, sizeof url, "http://127.0.0.1:%u/admin/upgrade?tftp://127.0.0.1:%u%s",
                  static_cast<unsigned>(httpPort_), static_cast<unsigned>(tftpPort), fileName.c_str());
    pid_t curl = StartProgram({"curl", "-s", "-o", "/dev/null", "--max-time", "5", url});
    return WaitForProgram(curl, 10) == 0;
}

// The device rewrites its state file at each change: a whole file ends in '}'.
std::string SimulatedDevice::TransferRecord() const {
    for (int i = 0; i < 500; ++i) {
        std::string state = State();
        size_t transfers = state.find("\"transfers\"");
        size_t last = state.find_last_not_of(" \n");
        if (transfers != std::string::npos && last != std::string::npos && state[last] == '}' &&
            state.find("\"saved_as\"", transfers) != std::string::npos) {
            return state.substr(transfers);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

std::string SimulatedDevice::SavedImage(const std::string& fileName) const {
    TransferRecord();
    std::string base = fileName;
    while (!base.empty() && base[0] == '/') {
        base.erase(0, 1);
    }
    return ReadFile(directory_ + "/saved/" + base);
}

uint16_t FreeTcpPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    MakeSockAddr(kLoopback, 0, &address);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

std::string JsonValue(const std::string& json, const std::string& key, const std::string& after) {
    size_t start = after.empty() ? 0 : json.find(after);
    if (start == std::string::npos) {
        return "";
    }
    size_t at = json.find("\"" + key + "\": ", start);
    if (at == std::string::npos) {
        return "";
    }
    at += key.size() + 4;
    size_t end = json.find_first_of(",\n}", at);
    return json.substr(at, end - at);
}

bool WaitForDialog(uint64_t after, int templateId, int timeoutMs, HWND* window, uint64_t* sequence) {
    headless::Event found;
    bool seen = headless::WaitForEvent(
        after, timeoutMs,
        [templateId](const headless::Event& event) {
            return event.kind == headless::EventKind::DialogShown && event.templateId == templateId;
        },
        &found);
    if (seen) {
        *window = found.window;
        if (sequence != nullptr) {
            *sequence = found.sequence;
        }
    }
    return seen;
}

bool WaitForMessageBox(uint64_t after, int timeoutMs, std::string* text, HWND* box, uint64_t* sequence) {
    headless::Event found;
    bool seen = headless::WaitForEvent(
        after, timeoutMs,
        [](const headless::Event& event) { return event.kind == headless::EventKind::MessageBoxShown; }, &found);
    if (seen) {
        *text = found.text;
        *box = found.window;
        if (sequence != nullptr) {
            *sequence = found.sequence;
        }
    }
    return seen;
}

uint64_t LastEventSequence() {
    std::vector<headless::Event> events = headless::Events();
    return events.empty() ? 0 : events.back().sequence;
}

bool WaitUntil(int timeoutMs, const std::function<bool()>& holds) {
    double deadline = SecondsNow() + timeoutMs / 1000.0;
    while (!holds()) {
        if (SecondsNow() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
