// The HTTP exchange over loopback against a small server: the exact request,
// the answer kept within capacity, challenges, an unreachable device and the
// local port search.
#include "platform/linux/headless.h"
#include "src/shared/random.h"
#include "src/web/http_exchange.h"
#include "tests/web/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const uint32_t kLocal = HostAddress("127.0.57.1");
const uint32_t kDevice = HostAddress("127.0.57.2");
// Only the port search test binds here, and only the all-ports-held test on
// the next address, so that no other test's connections take or free their
// ports while they run beside it.
const uint32_t kSearchLocal = HostAddress("127.0.57.3");
const uint32_t kAllHeldLocal = HostAddress("127.0.57.4");

constexpr char kPagePath[] = "/admin/advanced";
constexpr char kPlainRequest[] = "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n";

// A socket bound, not listening, to hold a local port.
int HoldPort(uint32_t address, uint16_t port) {
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    local.sin_port = htons(port);
    if (bind(holder, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        close(holder);
        return -1;
    }
    return holder;
}

// The same, for a port the program has just used: its connection may still
// wait for the last ACK of its close for a moment.
int HoldPortOnceFree(uint32_t address, uint16_t port) {
    int holder = HoldPort(address, port);
    for (int waited = 0; holder < 0 && waited < 2000; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        holder = HoldPort(address, port);
    }
    return holder;
}

// A port on the device address where nobody listens: connect is refused.
uint16_t ClosedPort() {
    int probe = HoldPort(kDevice, 0);
    sockaddr_in bound = {};
    socklen_t length = sizeof bound;
    getsockname(probe, reinterpret_cast<sockaddr*>(&bound), &length);
    close(probe);
    return ntohs(bound.sin_port);
}

class Exchange : public ::testing::Test {
protected:
    void SetUp() override {
        memset(&digestState, 0, sizeof digestState);
        memset(&upgradeState.deviceInfo, 0, sizeof upgradeState.deviceInfo);
        buffer.assign(kHttpBufferSize + 16, 'B');
        SeedRandom(1);
    }
    int Run(const LoopbackHttpServer& server, uint32_t capacity = kHttpCapacity, const char* path = kPagePath) {
        return ExchangeWithDevice(local, kHttpLocalPortBase, server.address(), server.port(), path, buffer.data(),
                                  capacity);
    }
    std::vector<char> buffer;
    uint32_t local = kLocal;
};

TEST_F(Exchange, PlainRequestIs53BytesAndThePageFillsDeviceInfo) {
    std::string answer = HttpAnswer("HTTP/1.1 200 OK", "", DevicePage("2.0.12(SEa)"));
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest&) { return answer; });
    ASSERT_EQ(int(answer.size()), Run(server));
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(53u, requests[0].text.size());
    EXPECT_EQ(kPlainRequest, requests[0].text);
    EXPECT_EQ(answer, std::string(buffer.data()));
    const DeviceInfo& info = upgradeState.deviceInfo;
    EXPECT_STREQ("QOR-7101", info.productName);
    EXPECT_STREQ("00:0E:08:12:34:56", info.macAddress);
    EXPECT_STREQ("2.0.12(SEa)", info.softwareVersion);
    EXPECT_STREQ("2.0", info.hardwareVersion);
    EXPECT_STREQ("FM700123456", info.serialNumber);
    EXPECT_EQ(0u, digestState.nonceCount);
}

TEST_F(Exchange, PasswordAddsTheAuthorizationLineAndCounts) {
    DigestDevice device("pw", "auth");
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest& r) { return device.Handle(r); });
    ASSERT_EQ(-1, Run(server));
    EXPECT_STREQ("6a1f:1=", digestState.nonce);
    strcpy(digestState.user, "admin");
    strcpy(digestState.password, "pw");
    EXPECT_GT(Run(server), 0);
    EXPECT_GT(Run(server), 0);
    EXPECT_EQ(2u, digestState.nonceCount);
    EXPECT_STREQ(kPagePath, digestState.uri);
    EXPECT_EQ((std::vector<std::string>{"000000001", "000000002"}), device.acceptedCounts());
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    const std::string& sent = requests[1].text;
    EXPECT_EQ(0u, sent.find("GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\nAuthorization: Digest "));
    EXPECT_EQ(sent.size() - 4, sent.find("\"\r\n\r\n") + 1);
    EXPECT_STREQ("2.0.13(SEg)", upgradeState.deviceInfo.softwareVersion);
}

TEST_F(Exchange, AChallengeLeavesDeviceInfoAlone) {
    strcpy(upgradeState.deviceInfo.softwareVersion, "before");
    LoopbackHttpServer server(kDevice, [](const ReceivedRequest&) {
        return HttpAnswer("HTTP/1.1 401 Unauthorized", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n",
                          "<td>Software Version:</td><td>in-401</td>");
    });
    EXPECT_EQ(-1, Run(server));
    EXPECT_STREQ("before", upgradeState.deviceInfo.softwareVersion);
    EXPECT_STREQ("n", digestState.nonce);
}

TEST_F(Exchange, UnusableChallengesAreCountedAsPages) {
    std::string http10 =
        HttpAnswer("HTTP/1.0 401 Unauthorized", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n",
                   "<td>Software Version:</td><td>in-1.0</td>");
    std::string noNonce = HttpAnswer("HTTP/1.1 401 Unauthorized", "WWW-Authenticate: Digest realm=\"r\"\r\n",
                                     "<td>Serial Number:</td><td>no-nonce</td>");
    std::string answer = http10;
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest&) { return answer; });
    EXPECT_EQ(int(http10.size()), Run(server));
    EXPECT_STREQ("in-1.0", upgradeState.deviceInfo.softwareVersion);
    answer = noNonce;
    EXPECT_EQ(int(noNonce.size()), Run(server));
    EXPECT_STREQ("no-nonce", upgradeState.deviceInfo.serialNumber);
    EXPECT_STREQ("in-1.0", upgradeState.deviceInfo.softwareVersion);
}

TEST_F(Exchange, AnswerIsKeptToCapacityWithTheTerminatorBehind) {
    const uint32_t capacity = 1000;
    std::string answer = HttpAnswer("HTTP/1.1 200 OK", "", std::string(5000, 'x'));
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest&) { return answer; });
    EXPECT_EQ(int(capacity), Run(server, capacity));
    EXPECT_EQ(answer.substr(0, capacity), std::string(buffer.data(), capacity));
    EXPECT_EQ('\0', buffer[capacity]);
    EXPECT_EQ('B', buffer[capacity + 1]);

    answer = answer.substr(0, capacity);
    EXPECT_EQ(int(capacity), Run(server, capacity));
    EXPECT_EQ('\0', buffer[capacity]);
}

TEST_F(Exchange, FullSizedAnswerFillsTheWholeBuffer) {
    std::string answer = HttpAnswer("HTTP/1.1 200 OK", "", DevicePage("2.0.12"));
    answer.resize(kHttpCapacity + 500, 'p');
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest&) { return answer; });
    EXPECT_EQ(int(kHttpCapacity), Run(server));
    EXPECT_EQ('\0', buffer[kHttpBufferSize - 1]);
    EXPECT_EQ('B', buffer[kHttpBufferSize]);
    EXPECT_STREQ("2.0.12", upgradeState.deviceInfo.softwareVersion);
}

TEST_F(Exchange, EmptyAnswerIsEmptyTextNotTheRequest) {
    strcpy(upgradeState.deviceInfo.productName, "kept");
    LoopbackHttpServer server(kDevice, [](const ReceivedRequest&) { return std::string(); });
    // The request itself holds a label and a tag end; it must not be read back as the page.
    EXPECT_EQ(0, Run(server, kHttpCapacity, "/x?Product%20Name:>request-text"));
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_STREQ("kept", upgradeState.deviceInfo.productName);
}

TEST_F(Exchange, UnreachableDeviceGivesZeroAndTheCountStillMoves) {
    strcpy(digestState.password, "pw");
    digestState.nonceCount = 4;
    strcpy(upgradeState.deviceInfo.macAddress, "kept");
    EXPECT_EQ(0, ExchangeWithDevice(kLocal, kHttpLocalPortBase, kDevice, ClosedPort(), kPagePath, buffer.data(),
                                    kHttpCapacity));
    EXPECT_EQ(5u, digestState.nonceCount);
    EXPECT_STREQ("kept", upgradeState.deviceInfo.macAddress);
    EXPECT_EQ(INVALID_SOCKET, OpenDeviceConnection(kLocal, kHttpLocalPortBase, kDevice, ClosedPort()));
}

TEST_F(Exchange, LongPathsAreCutInTheRequestAndInTheUri) {
    std::string path = "/" + std::string(400, 'p');
    strcpy(digestState.password, "pw");
    strcpy(digestState.user, "admin");
    LoopbackHttpServer server(kDevice, [](const ReceivedRequest&) { return std::string("HTTP/1.1 200 OK\r\n\r\n"); });
    EXPECT_GT(Run(server, 200, path.c_str()), 0);
    EXPECT_EQ(path.substr(0, 127), digestState.uri);
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(200u, requests[0].text.size());
    EXPECT_EQ('B', buffer[201]);
}

TEST_F(Exchange, LocalPortSearchPassesOverPortsInUse) {
    LoopbackHttpServer server(kDevice, [](const ReceivedRequest&) { return std::string("HTTP/1.1 200 OK\r\n\r\n"); });
    local = kSearchLocal;
    Run(server);
    int holder = HoldPortOnceFree(kSearchLocal, kHttpLocalPortBase);
    ASSERT_GE(holder, 0);
    Run(server);
    std::vector<int> holders;
    for (int port = kHttpLocalPortBase + 1; port < kHttpLocalPortBase + 100; ++port) {
        holders.push_back(HoldPortOnceFree(kSearchLocal, uint16_t(port)));
        ASSERT_GE(holders.back(), 0) << port;
    }
    Run(server);
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(kHttpLocalPortBase, requests[0].peerPort);
    EXPECT_EQ(kSearchLocal, requests[0].peerAddress);
    EXPECT_EQ(kHttpLocalPortBase + 1, requests[1].peerPort);
    EXPECT_EQ(23556, requests[2].peerPort);
    for (int held : holders) {
        close(held);
    }
    close(holder);
}

// In a child: answer the failure box, print what it said, let the exit happen.
void AnswerTheFailureBox() {
    std::thread([] {
        headless::Event box;
        if (headless::WaitForEvent(
                0, 10000, [](const headless::Event& e) { return e.kind == headless::EventKind::MessageBoxShown; },
                &box)) {
            fprintf(stderr, "box [%s] %s type %#x\n", box.title.c_str(), box.text.c_str(), box.type);
            headless::AnswerMessageBox(box.window, IDOK);
        }
    }).detach();
}

TEST_F(Exchange, AllLocalPortsInUseEndTheUpgrade) {
    EXPECT_EXIT(
        {
            for (int port = kHttpLocalPortBase; port <= 23556; ++port) {
                if (HoldPort(kAllHeldLocal, uint16_t(port)) < 0) {
                    fprintf(stderr, "port %d not free\n", port);
                }
            }
            AnswerTheFailureBox();
            ExchangeWithDevice(kAllHeldLocal, kHttpLocalPortBase, kDevice, 80, kPagePath, buffer.data(), kHttpCapacity);
            fprintf(stderr, "returned\n");
        },
        ::testing::ExitedWithCode(0),
        "box \\[QOR Firwmare Upgrade Error\\] Upgrade Failed: Can't bind HTTP socket type 0x2000");
}

}  // namespace
