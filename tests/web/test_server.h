// The web client's test peers: a Digest-protected device page checked with
// OpenSSL's MD5, independent of the product's, on the shared loopback HTTP
// server.
#pragma once

#include "tests/support/http_server.h"
#include "tests/support/processes.h"
#include "tests/support/sockets.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
