// A small HTTP server for tests: listens on a loopback address, reads each
// request up to its empty line, answers what the handler gives and closes,
// as the device does.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ReceivedRequest {
    std::string text;
    uint16_t peerPort = 0;
    uint32_t peerAddress = 0;  // host order
};

class LoopbackHttpServer {
public:
    // The answer to send; an empty one closes the connection without a byte.
    using Handler = std::function<std::string(const ReceivedRequest&)>;

    // `address` in host order; the port is picked by the system unless given.
    LoopbackHttpServer(uint32_t address, Handler handler, uint16_t port = 0);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    uint32_t address() const { return address_; }
    uint16_t port() const { return port_; }
    std::vector<ReceivedRequest> Requests() const;

private:
    void Serve();
    void Answer(int connection, const ReceivedRequest& request);

    uint32_t address_;
    uint16_t port_ = 0;
    int listener_ = -1;
    Handler handler_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
    std::thread thread_;
};

// The device's page with the five labels in table cells.
std::string DevicePage(const std::string& softwareVersion);
std::string HttpAnswer(const std::string& statusLine, const std::string& headers, const std::string& body);
