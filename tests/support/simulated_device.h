// The simulated QOR device (tools/qor_device) run by a test on a loopback
// address, with Python found as the build found it.
#pragma once

#include "tests/support/sockets.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class SimulatedDevice {
public:
    // Its web server on `address`:`httpPort`; `options` are the device's own switches.
    SimulatedDevice(uint16_t httpPort, const std::vector<std::string>& options, uint32_t address = kLoopback);
    ~SimulatedDevice();
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    bool Ready(int timeoutMs) const;
    // Sends the upgrade trigger naming our TFTP port and file on 127.0.0.1.
    bool Trigger(uint16_t tftpPort, const std::string& fileName) const;
    std::string State() const;
    // The state from its "transfers" on, once a transfer has been saved; empty
    // after 5 s without. The device saves an image a moment after its last ACK.
    std::string TransferRecord() const;
    // The image saved under this name, once a transfer has been saved.
    std::string SavedImage(const std::string& fileName) const;
    std::string Log() const;

private:
    uint32_t address_;
    uint16_t httpPort_;
    std::string directory_;
    std::string stateFile_;
    std::string logFile_;
    pid_t pid_ = -1;
};

// The value of `"key": value` in the device's JSON state (first occurrence
// after `after`), as text.
std::string JsonValue(const std::string& json, const std::string& key, const std::string& after = "");
