// The simulated QOR device run by a test.
#include "tests/support/simulated_device.h"

#include "tests/support/processes.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

std::string DottedAddress(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                  address & 0xFF);
    return text;
}

}  // namespace

SimulatedDevice::SimulatedDevice(uint16_t httpPort, const std::vector<std::string>& options, uint32_t address)
    : address_(address), httpPort_(httpPort), directory_(TempDirectory()) {
    stateFile_ = directory_ + "/state.json";
    logFile_ = directory_ + "/device.log";
    std::vector<std::string> arguments = {QOR_PYTHON,
                                          QOR_SOURCE_DIR "/tools/qor_device/qor_device.py",
                                          DottedAddress(address),
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
        if (Listening(address_, httpPort_)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool SimulatedDevice::Trigger(uint16_t tftpPort, const std::string& fileName) const {
    std::string url = "http://" + DottedAddress(address_) + ":" + std::to_string(httpPort_) +
                      "/admin/upgrade?tftp://127.0.0.1:" + std::to_string(tftpPort) + fileName;
    pid_t curl = StartProgram({"curl", "-s", "-o", "/dev/null", "--max-time", "5", url});
    return WaitForProgram(curl, 10) == 0;
}

std::string SimulatedDevice::State() const {
    return ReadFile(stateFile_);
}

std::string SimulatedDevice::Log() const {
    return ReadFile(logFile_);
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
