// Helpers of the TFTP tests: the shared test support, and the packets a
// device sends.
#pragma once

#include "platform/win.h"
#include "src/tftp/completion.h"
#include "tests/support/headless_waits.h"
#include "tests/support/processes.h"
#include "tests/support/simulated_device.h"
#include "tests/support/sockets.h"

#include <cstdint>
#include <string>
#include <vector>

std::vector<uint8_t> AckPacket(uint32_t block);
// The socket address a datagram from `address`:`port` carries.
sockaddr_in From(uint32_t address, uint16_t port);
std::vector<uint8_t> RequestPacket(uint16_t opcode, const std::string& name);

// The completion's world on a fake clock: pauses move the clock and never
// sleep; each attempt at the device's page is noted with the time it began
// and what dialog 110 showed then.
struct FakeCompletion {
    DWORD clock = 0;
    DWORD attemptMs = 0;         // how long an attempt takes
    int pageAtAttempt = -1;      // the attempt (0 the first) that first gets the device's page; -1 none
    bool throughRunner = false;  // attempts through the real runner instead of a scripted page
    int cancelAtPause = -1;      // presses Cancel on dialog 110 at this pause (0 the first)
    HWND upload = nullptr;
    int pauses = 0;
    std::vector<DWORD> attemptTimes;
    std::vector<int> barAtAttempt;    // dialog 110's position, -1 when it is not shown
    std::vector<int> rangeAtAttempt;  // and its range

    CompletionOps Ops();
};
