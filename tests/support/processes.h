// Processes for tests: code run in a forked child (optionally in a network of
// its own), programs started and stopped by the test, and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// Seconds on the monotonic clock: real time, whatever the program's clock says.
double SecondsNow();

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
// A sanitizer report in the child's error output fails the calling test.
ChildOutcome RunInChild(bool privateNetwork, int timeoutSeconds, const std::function<void(Report&)>& body);

// The program ended the child's run itself, as on a failure: message box
// `box`, then exit code 0, inside the call that would have set `unreached`.
::testing::AssertionResult EndedByMessage(const ChildOutcome& outcome, const std::string& box,
                                          const std::string& unreached);

// Starts a program with its arguments; its output goes to `logPath`.
pid_t StartProgram(const std::vector<std::string>& arguments, const std::string& logPath = "/dev/null");
// Waits up to `timeoutSeconds` for it; its exit status, or -1 after killing it.
int WaitForProgram(pid_t pid, int timeoutSeconds);
// Waits for its end however long it takes, and sees it at once (for timing it).
int WaitForProgramEnd(pid_t pid);
void StopProgram(pid_t pid);

// A server program started by the test and stopped when the object goes;
// Start waits until it accepts connections on `address`:`port`.
class ChildServer {
public:
    ChildServer() = default;
    ~ChildServer() { StopProgram(pid_); }
    ChildServer(const ChildServer&) = delete;
    ChildServer& operator=(const ChildServer&) = delete;
    bool Start(const std::vector<std::string>& arguments, uint32_t address, uint16_t port,
               const std::string& logPath = "/dev/null");

private:
    pid_t pid_ = -1;
};

std::string TempDirectory();
std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const uint8_t* bytes, size_t size);
bool WriteFile(const std::string& path, const std::string& content);
