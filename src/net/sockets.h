// Socket helpers shared by the web client and the TFTP server: IPv4
// addresses at the socket interface, the search for a free local port, one
// datagram received, and the bounded pause until one arrives.
#pragma once

#include "platform/win.h"

#include <cstdint>

// `address` is host order with the first octet most significant; the socket
// address carries it and the port in network order (and back).
void MakeSockAddr(uint32_t address, uint16_t port, sockaddr_in* out);
void SplitSockAddr(const sockaddr_in& address, uint32_t* outAddress, uint16_t* outPort);

// Binds `socket` to `address` and the first port of firstPort, firstPort + 1,
// ... (`tries` in all) that is free. No address reuse is asked for, so a port
// still held by another program or an earlier connection is passed over.
// Returns the bound port, or 0 when none was free.
uint16_t BindFirstFree(SOCKET socket, uint32_t address, uint16_t firstPort, int tries);

// The PC address the system sends from to reach `address`, as its routes
// decide; 0 when it has no route there. A UDP socket connected to it is
// bound to that address, and nothing is sent.
uint32_t LocalAddressToward(uint32_t address);

// One receive on a non-blocking UDP socket into `buffer` of `capacity` bytes:
// the byte count, or 0 or less when no datagram was read.
int ReceiveDatagram(SOCKET udpSocket, uint8_t* buffer, int capacity, sockaddr_in* sender);

// A socket watched for datagrams, so that a pause ends when one arrives.
struct DatagramWatch {
    SOCKET udpSocket;
    HANDLE event;
};
// Selects the socket's read event (the socket stays non-blocking). The event
// resets itself when a pause ends on it, so a wake costs no second call.
DatagramWatch WatchForDatagrams(SOCKET udpSocket);
void StopWatching(DatagramWatch* watch);
// Sleeps until a datagram arrives on the watched socket or `milliseconds`
// pass (INFINITE: until a datagram). Window messages do not end it: a thread
// that keeps time on a socket owns no window.
// True when a datagram may be waiting: false after the time alone.
bool PauseUntilDatagram(DatagramWatch* watch, DWORD milliseconds);
// Microseconds on a clock that never goes back, for counting polls.
uint64_t MicrosecondsNow();
