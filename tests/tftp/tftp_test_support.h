// Helpers of the TFTP tests: UDP peers on loopback, child processes in a
// private network, the simulated device and real client programs.
#pragma once

#include "platform/win.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

constexpr uint32_t kLoopback = 0x7F000001;

double SecondsNow();

// A UDP socket on 127.0.0.1 with an ephemeral port (or the one given).
class UdpPeer {
public:
    explicit UdpPeer(uint16_t port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    uint16_t Port() const { return port_; }
    int Fd() const { return fd_; }
    void SendTo(uint16_t port, const std::vector<uint8_t>& packet, uint32_t address = kLoopback) const;
    // One datagram within `timeoutMs`; false when none came.
    bool Receive(std::vector<uint8_t>* packet, int timeoutMs, uint16_t* fromPort = nullptr) const;

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

std::vector<uint8_t> AckPacket(uint32_t block);
std::vector<uint8_t> RequestPacket(uint16_t opcode, const std::string& name);

// Observations of a child process, as "key=value" lines.
class Report {
public:
    void Set(const std::string& key, const std::string& value);
    void Set(const std::string& key, long long value) { Set(key, std::to_string(value)); }
    std::string Text();

private:
    std::mutex lock_;
    std::string text_;
};

struct ChildOutcome {
    bool exited = false;  // ended by itself in time
    int exitCode = -1;
    std::map<std::string, std::string> values;  // the last value of each key
};

// Runs `body` in a forked child, in a network namespace of its own with
// loopback up when `privateNetwork` is set. The child ends when the body
// returns or when the program ends the process (ExitProcess); either way its
// report reaches the parent, with "exit" set to "body" or to the exit code.
ChildOutcome RunInChild(bool privateNetwork, int timeoutSeconds, const std::function<void(Report&)>& body);

// Starts a program with its arguments; its output goes to `logPath`.
pid_t StartProgram(const std::vector<std::string>& arguments, const std::string& logPath = "/dev/null");
// Waits up to `timeoutSeconds` for it; its exit status, or -1 after killing it.
int WaitForProgram(pid_t pid, int timeoutSeconds);
void StopProgram(pid_t pid);

std::string TempDirectory();
std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const uint8_t* bytes, size_t size);

// The Python simulated device on 127.0.0.1, its web server on `httpPort`.
class SimulatedDevice {
public:
    SimulatedDevice(uint16_t httpPort, const std::vector<std::string>& options);
    ~SimulatedDevice();
    bool Ready(int timeoutMs) const;
    // Sends the upgrade trigger naming our TFTP port and file.
    bool Trigger(uint16_t tftpPort, const std::string& fileName) const;
    std::string State() const { return ReadFile(stateFile_); }
    // The state from its "transfers" on, once a transfer has been saved; empty
    // after 5 s without. The device saves an image a moment after its last ACK.
    std::string TransferRecord() const;
    // The image saved under this name, once a transfer has been saved.
    std::string SavedImage(const std::string& fileName) const;
    std::string Log() const { return ReadFile(logFile_); }

private:
    uint16_t httpPort_;
    std::string directory_;
    std::string stateFile_;
    std::string logFile_;
    pid_t pid_ = -1;
};

// A port on 127.0.0.1 that was free a moment ago.
uint16_t FreeTcpPort();
// The value of `"key": value` in the device's JSON state (first occurrence
// after `after`), as text.
std::string JsonValue(const std::string& json, const std::string& key, const std::string& after = "");

// Waits for a headless event of `kind` after `sequence`, optionally for one template.
bool WaitForDialog(uint64_t after, int templateId, int timeoutMs, HWND* window, uint64_t* sequence = nullptr);
bool WaitForMessageBox(uint64_t after, int timeoutMs, std::string* text, HWND* box, uint64_t* sequence = nullptr);
uint64_t LastEventSequence();
// Checks `holds` every millisecond until it is true or `timeoutMs` passes:
// a dialog shows before its owner has filled it in.
bool WaitUntil(int timeoutMs, const std::function<bool()>& holds);
