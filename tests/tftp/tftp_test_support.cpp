// Helpers of the TFTP tests: the packets a device sends and where they come from.
#include "tests/tftp/tftp_test_support.h"

#include "src/net/sockets.h"
#include "src/tftp/packets.h"

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

sockaddr_in From(uint32_t address, uint16_t port) {
    sockaddr_in sender;
    MakeSockAddr(address, port, &sender);
    return sender;
}
