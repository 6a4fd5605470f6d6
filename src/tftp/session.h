// One TFTP transfer: the image of the current stage, in lock-step 512-byte
// blocks, on the listener's socket.
#pragma once

#include "platform/win.h"
#include "src/tftp/packets.h"

#include <cstdint>

struct TftpSession {
    char fileName[128];
    uint8_t packet[kTftpPacketSize];
    uint32_t localAddress;
    uint32_t peerAddress;
    uint16_t localPort;
    uint16_t peerPort;
    SOCKET udpSocket;
    uint32_t nextBlock;
    uint32_t imageSize;
    uint32_t blockCount;
    uint32_t bytesAcked;
    uint32_t lastBlockSize;
    uint32_t sentSize;
    HWND uploadDialog;
};

int RunTftpSession(SOCKET udpSocket, uint32_t localAddress, uint16_t localPort, uint32_t peerAddress,
                   uint16_t peerPort, const char* fileName);
void ServeImage(TftpSession* session);
void SendOack(SOCKET udpSocket, uint8_t* packet, const sockaddr_in& destination, uint32_t imageSize);
void SendDataBlock(SOCKET udpSocket, uint8_t* packet, const uint8_t* payload, uint32_t payloadSize, uint32_t block,
                   const sockaddr_in& destination);
