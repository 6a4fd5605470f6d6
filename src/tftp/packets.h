// TFTP packet layouts (RFC 1350, option acknowledgement of RFC 2347 with
// tsize and timeout of RFC 2349) and socket address helpers.
#pragma once

#include "platform/win.h"

#include <cstddef>
#include <cstdint>

constexpr size_t kTftpPacketSize = 1024;
constexpr uint32_t kTftpBlockSize = 512;
constexpr uint16_t kTftpRrq = 1;
constexpr uint16_t kTftpWrq = 2;
constexpr uint16_t kTftpData = 3;
constexpr uint16_t kTftpAck = 4;
constexpr uint16_t kTftpError = 5;
constexpr uint16_t kTftpOack = 6;

void PutU16BE(uint8_t* bytes, uint32_t value);
uint16_t GetU16BE(const uint8_t* bytes);
void MakeSockAddr(uint32_t address, uint16_t port, sockaddr_in* out);
void SplitSockAddr(const sockaddr_in& address, uint32_t* outAddress, uint16_t* outPort);

// One receive on a non-blocking socket into `packet` with the length 1024:
// the byte count, or 0 or less when no datagram was read.
int ReceiveDatagram(SOCKET udpSocket, uint8_t* packet, sockaddr_in* sender);

// A socket watched for datagrams, so that a pause ends when one arrives.
struct DatagramWatch {
    SOCKET udpSocket;
    WSAEVENT event;
};
// Selects the socket's read event (the socket stays non-blocking).
DatagramWatch WatchForDatagrams(SOCKET udpSocket);
void StopWatching(DatagramWatch* watch);
// Sleeps until a datagram arrives on the watched socket, a window message
// arrives for the calling thread, or `milliseconds` pass.
void PauseUntilDatagramOrMessage(DatagramWatch* watch, DWORD milliseconds);
// Microseconds on a clock that never goes back.
uint64_t MicrosecondsNow();

// Builds the option acknowledgement for `imageSize`; returns its length.
size_t BuildOack(uint8_t* packet, uint32_t imageSize);
// Builds DATA block `block`; returns its length (payload + 4).
size_t BuildDataBlock(uint8_t* packet, const uint8_t* payload, uint32_t payloadSize, uint32_t block);
