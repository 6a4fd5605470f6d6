// A small HTTP server for tests.
#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

LoopbackHttpServer::LoopbackHttpServer(uint32_t address, Handler handler, uint16_t port)
    : address_(address), handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    local.sin_port = htons(port);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(listener_, 16) != 0) {
        perror("test server");
        return;
    }
    socklen_t length = sizeof local;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
    thread_ = std::thread(&LoopbackHttpServer::Serve, this);
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    close(listener_);
}

std::vector<ReceivedRequest> LoopbackHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void LoopbackHttpServer::Serve() {
    while (!stopping_) {
        pollfd waiting = {listener_, POLLIN, 0};
        if (poll(&waiting, 1, 20) <= 0) {
            continue;
        }
        sockaddr_in peer = {};
        socklen_t length = sizeof peer;
        int connection = accept(listener_, reinterpret_cast<sockaddr*>(&peer), &length);
        if (connection < 0) {
            continue;
        }
        ReceivedRequest request;
        request.peerPort = ntohs(peer.sin_port);
        request.peerAddress = ntohl(peer.sin_addr.s_addr);
        char chunk[4096];
        // Up to the empty line; a request cut short is taken as it is.
        while (request.text.find("\r\n\r\n") == std::string::npos) {
            pollfd readable = {connection, POLLIN, 0};
            if (poll(&readable, 1, 300) <= 0) {
                break;
            }
            ssize_t received = recv(connection, chunk, sizeof chunk, 0);
            if (received <= 0) {
                break;
            }
            request.text.append(chunk, size_t(received));
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        Answer(connection, request);
    }
}

void LoopbackHttpServer::Answer(int connection, const ReceivedRequest& request) {
    std::string answer = handler_(request);
    for (size_t sent = 0; sent < answer.size();) {
        ssize_t count = send(connection, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) {
            break;
        }
        sent += size_t(count);
    }
    close(connection);
}

std::string DevicePage(const std::string& softwareVersion) {
    return "<html><body><table>\r\n"
           "<tr><td>Product Name:</td><td>QOR-7101</td></tr>\r\n"
           "<tr><td>MAC Address:</td><td>00:0E:08:12:34:56</td></tr>\r\n"
           "<tr><td>Software Version:</td><td>" +
           softwareVersion +
           "</td></tr>\r\n"
           "<tr><td>Hardware Version:</td><td>2.0</td></tr>\r\n"
           "<tr><td>Serial Number:</td><td>FM700123456</td></tr>\r\n"
           "</table></body></html>\r\n";
}

std::string HttpAnswer(const std::string& statusLine, const std::string& headers, const std::string& body) {
    return statusLine + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}
