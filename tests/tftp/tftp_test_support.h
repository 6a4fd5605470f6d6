// Helpers of the TFTP tests: the shared test support, and the packets a
// device sends.
#pragma once

#include "platform/win.h"
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
