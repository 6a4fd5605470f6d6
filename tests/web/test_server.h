// A small HTTP server for the web client's tests: listens on a loopback
// address of its own, reads each request up to its empty line, answers what
// the handler gives and closes, as the device does. Also a Digest-protected
// device page checked with OpenSSL's MD5, independent of the product's.
#pragma once

#include "tests/support/processes.h"
#include "tests/support/sockets.h"

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

    // `address` in host order; the port is picked by the system.
    LoopbackHttpServer(uint32_t address, Handler handler);
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

// A device whose page needs Digest authentication (qop "auth" or none).
class DigestDevice {
public:
    DigestDevice(std::string password, std::string qop) : password_(std::move(password)), qop_(std::move(qop)) {}

    std::string Handle(const ReceivedRequest& request);
    // The next challenge brings a new nonce (a restart), or every one does.
    void ChangeNonce();
    void SetNewNonceOnEveryChallenge(bool on) { newNonceEveryTime_ = on; }

    int pagesServed() const { return pagesServed_; }
    int challengesSent() const { return challengesSent_; }
    // nc of every request whose Authorization line was correct, in order.
    std::vector<std::string> acceptedCounts() const;
    std::string lastAuthorization() const;

private:
    bool Accepts(const std::string& authorization);

    std::string password_;
    std::string qop_;
    std::atomic<int> nonceSerial_{1};
    std::atomic<bool> newNonceEveryTime_{false};
    std::atomic<int> pagesServed_{0};
    std::atomic<int> challengesSent_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> acceptedCounts_;
    std::string lastAuthorization_;
};

// MD5 in lowercase hex through OpenSSL.
std::string OpenSslMd5(const std::string& text);
