// Digest device for the web client's tests.
#include "tests/web/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <chrono>
#include <map>

std::string OpenSslMd5(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

namespace {

constexpr char kRealm[] = "QOR Admin";

// The parameters of an Authorization line: name=value or name="value",
// separated by commas.
std::map<std::string, std::string> AuthorizationParameters(const std::string& line) {
    std::map<std::string, std::string> parameters;
    size_t at = line.find("Digest ");
    if (at == std::string::npos) {
        return parameters;
    }
    at += 7;
    while (at < line.size()) {
        size_t equals = line.find('=', at);
        if (equals == std::string::npos) {
            break;
        }
        std::string name = line.substr(at, equals - at);
        std::string value;
        size_t next;
        if (equals + 1 < line.size() && line[equals + 1] == '"') {
            size_t close = line.find('"', equals + 2);
            value = line.substr(equals + 2, close - equals - 2);
            next = close + 1;
        } else {
            next = line.find(',', equals);
            value = line.substr(equals + 1, next == std::string::npos ? std::string::npos : next - equals - 1);
        }
        parameters[name] = value;
        if (next == std::string::npos || next >= line.size()) {
            break;
        }
        at = next + 1;
    }
    return parameters;
}

}  // namespace

void DigestDevice::ChangeNonce() {
    ++nonceSerial_;
}

std::vector<std::string> DigestDevice::acceptedCounts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return acceptedCounts_;
}

std::string DigestDevice::lastAuthorization() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastAuthorization_;
}

bool DigestDevice::Accepts(const std::string& authorization) {
    std::map<std::string, std::string> p = AuthorizationParameters(authorization);
    std::string nonce = "6a1f:" + std::to_string(nonceSerial_.load()) + "=";
    if (p["realm"] != kRealm || p["nonce"] != nonce || p["qop"] != qop_) {
        return false;
    }
    std::string ha1 = OpenSslMd5(p["username"] + ":" + kRealm + ":" + password_);
    std::string ha2 = OpenSslMd5("GET:" + p["uri"]);
    std::string expected =
        qop_.empty() ? OpenSslMd5(ha1 + ":" + nonce + ":" + ha2)
                     : OpenSslMd5(ha1 + ":" + nonce + ":" + p["nc"] + ":" + p["cnonce"] + ":" + qop_ + ":" + ha2);
    if (p["username"] != "admin" || p["response"] != expected) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    acceptedCounts_.push_back(p["nc"]);
    return true;
}

std::string DigestDevice::Handle(const ReceivedRequest& request) {
    size_t at = request.text.find("\r\nAuthorization: ");
    if (at != std::string::npos) {
        std::string line = request.text.substr(at + 2, request.text.find("\r\n", at + 2) - at - 2);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lastAuthorization_ = line;
        }
        if (Accepts(line)) {
            ++pagesServed_;
            return HttpAnswer("HTTP/1.1 200 OK", "Content-Type: text/html\r\n", DevicePage("2.0.13(SEg)"));
        }
    }
    if (newNonceEveryTime_ && challengesSent_ > 0) {
        ++nonceSerial_;
    }
    ++challengesSent_;
    std::string challenge = "WWW-Authenticate: Digest realm=\"" + std::string(kRealm) +
                            "\", nonce=\"6a1f:" + std::to_string(nonceSerial_.load()) + "=\"" +
                            (qop_.empty() ? std::string() : ", qop=\"" + qop_ + "\"") + "\r\n";
    return HttpAnswer("HTTP/1.1 401 Unauthorized", challenge, "<html>401 Unauthorized</html>");
}
