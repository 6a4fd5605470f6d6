// Helpers of the TFTP tests: the shared test support, and the packets a
// device sends.
#pragma once

#include "tests/support/headless_waits.h"
#include "tests/support/processes.h"
#include "tests/support/simulated_device.h"
#include "tests/support/sockets.h"

#include <cstdint>
#include <string>
#include <vector>

std::vector<uint8_t> AckPacket(uint32_t block);
std::vector<uint8_t> RequestPacket(uint16_t opcode, const std::string& name);
