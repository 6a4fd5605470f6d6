// The request runner with the headless dialog manager: a test thread plays
// the user at dialogs 104 and 105 while the runner talks to a loopback device.
#include "platform/linux/headless.h"
#include "resources/resource_ids.h"
#include "src/shared/random.h"
#include "src/shared/texts.h"
#include "src/web/http_exchange.h"
#include "src/web/request_runner.h"
#include "tests/support/headless_waits.h"
#include "tests/support/processes.h"
#include "tests/support/simulated_device.h"
#include "tests/web/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const uint32_t kLocal = HostAddress("127.0.59.1");
const uint32_t kDevice = HostAddress("127.0.59.2");
constexpr char kPagePath[] = "/admin/advanced";

// Plays the user: each dialog or message box that appears is handed to `act`
// on the user's own thread.
class User {
public:
    using Act = std::function<void(const headless::Event&)>;
    explicit User(Act act) : act_(std::move(act)), after_(LastEventSequence()) {
        thread_ = std::thread([this] { Run(); });
    }
    ~User() {
        stop_ = true;
        thread_.join();
    }

private:
    void Run() {
        auto appeared = [](const headless::Event& e) {
            return e.kind == headless::EventKind::DialogShown || e.kind == headless::EventKind::MessageBoxShown;
        };
        while (!stop_) {
            headless::Event event;
            if (headless::WaitForEvent(after_, 20, appeared, &event)) {
                after_ = event.sequence;
                act_(event);
            }
        }
    }
    Act act_;
    uint64_t after_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// What the user saw in one password dialog.
struct PasswordDialogView {
    std::string user;
    std::string password;
    bool helpText = false;
    bool passwordFocused = false;
};

using Answers = std::deque<std::pair<std::string, std::string>>;

// The user at the password dialog types the next entry of `answers` and
// presses OK, and records what each dialog showed.
class Session {
public:
    explicit Session(Answers answers)
        : answers_(std::move(answers)), user_([this](const headless::Event& e) { Act(e); }) {}

    std::vector<int> Dialogs() {
        std::lock_guard<std::mutex> lock(mutex_);
        return dialogs_;
    }
    std::vector<PasswordDialogView> PasswordViews() {
        std::lock_guard<std::mutex> lock(mutex_);
        return views_;
    }
    std::vector<std::string> ConnectingTitles() {
        std::lock_guard<std::mutex> lock(mutex_);
        return titles_;
    }

private:
    void Act(const headless::Event& event) {
        if (event.kind != headless::EventKind::DialogShown) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        dialogs_.push_back(event.templateId);
        if (event.templateId == IDD_CONNECTING) {
            titles_.push_back(event.title);
        } else if (event.templateId == IDD_PASSWORD) {
            AnswerPasswordDialog(event.window);
        }
    }
    void AnswerPasswordDialog(HWND dialog) {
        WaitUntil(2000, [&] { return !headless::ItemText(dialog, IDC_TOP_TEXT).empty(); });
        PasswordDialogView view;
        view.user = headless::ItemText(dialog, IDC_USER);
        view.password = headless::ItemText(dialog, IDC_PASSWORD);
        view.helpText = headless::ItemText(dialog, IDC_TOP_TEXT) == text::kPasswordHelp;
        view.passwordFocused = headless::FocusedItem(dialog) == IDC_PASSWORD;
        views_.push_back(view);
        if (answers_.empty()) {
            headless::PressButton(dialog, IDCANCEL);
            return;
        }
        headless::TypeText(dialog, IDC_USER, answers_.front().first);
        headless::TypeText(dialog, IDC_PASSWORD, answers_.front().second);
        answers_.pop_front();
        headless::PressButton(dialog, IDOK);
    }

    std::mutex mutex_;
    Answers answers_;
    std::vector<int> dialogs_;
    std::vector<PasswordDialogView> views_;
    std::vector<std::string> titles_;
    User user_;
};

class Runner : public ::testing::Test {
protected:
    void SetUp() override {
        memset(&digestState, 0, sizeof digestState);
        memset(&upgradeState.deviceInfo, 0, sizeof upgradeState.deviceInfo);
        upgradeState.instance = GetModuleHandleA(nullptr);
        strcpy(upgradeState.deviceAddressText, "127.0.59.2");
        SeedRandom(3);
    }
    int Run(uint16_t port) {
        return RunDeviceRequest(upgradeState.instance, kLocal, kHttpLocalPortBase, kDevice, port, kPagePath,
                                upgradeState.httpBuffer, kHttpCapacity);
    }
};

// The user's thread may still be looking at the last dialog when the runner returns.
void ExpectDialogs(const std::vector<int>& expected, Session& session) {
    WaitUntil(2000, [&] { return session.Dialogs().size() >= expected.size(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(expected, session.Dialogs());
}

const std::vector<int> kOneAttempt = {IDD_CONNECTING};
const std::vector<int> kAskOnce = {IDD_CONNECTING, IDD_PASSWORD, IDD_CONNECTING};
const std::vector<int> kAskTwice = {IDD_CONNECTING, IDD_PASSWORD, IDD_CONNECTING, IDD_PASSWORD, IDD_CONNECTING};

TEST_F(Runner, OpenDeviceNeedsOneAttemptAndNoPassword) {
    std::string answer = HttpAnswer("HTTP/1.1 200 OK", "", DevicePage("2.0.12(SEa)"));
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest&) { return answer; });
    Session session(Answers{});
    EXPECT_EQ(int(answer.size()), Run(server.port()));
    EXPECT_STREQ("2.0.12(SEa)", upgradeState.deviceInfo.softwareVersion);
    ExpectDialogs(kOneAttempt, session);
    EXPECT_EQ(std::vector<std::string>{"Connecting with QOR@127.0.59.2"}, session.ConnectingTitles());
    EXPECT_TRUE(headless::ShownDialogs().empty());
}

TEST_F(Runner, PasswordDeviceAsksOnceThenReadsThePage) {
    DigestDevice device("pw", "auth");
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest& r) { return device.Handle(r); });
    Session session(Answers{{"admin", "pw"}});
    EXPECT_GT(Run(server.port()), 0);
    EXPECT_STREQ("2.0.13(SEg)", upgradeState.deviceInfo.softwareVersion);
    ExpectDialogs(kAskOnce, session);
    ASSERT_EQ(1u, session.PasswordViews().size());
    PasswordDialogView view = session.PasswordViews()[0];
    EXPECT_EQ("admin", view.user);
    EXPECT_EQ("", view.password);
    EXPECT_TRUE(view.helpText);
    EXPECT_TRUE(view.passwordFocused);
    EXPECT_EQ(std::vector<std::string>{"000000001"}, device.acceptedCounts());
    EXPECT_STREQ("admin", digestState.user);
    EXPECT_STREQ("pw", digestState.password);
}

TEST_F(Runner, WrongPasswordBringsTheDialogBackWithAdminAndAnEmptyBox) {
    DigestDevice device("pw", "auth");
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest& r) { return device.Handle(r); });
    Session session(Answers{{"someone", "wrong"}, {"admin", "pw"}});
    EXPECT_GT(Run(server.port()), 0);
    ExpectDialogs(kAskTwice, session);
    std::vector<PasswordDialogView> views = session.PasswordViews();
    ASSERT_EQ(2u, views.size());
    EXPECT_EQ("admin", views[1].user);
    EXPECT_EQ("", views[1].password);
    // The device kept its nonce, so the right password goes out as the second use of it.
    EXPECT_EQ(std::vector<std::string>{"000000002"}, device.acceptedCounts());
}

TEST_F(Runner, EmptyPasswordSendsNoAuthorizationAndTheDialogReturns) {
    DigestDevice device("pw", "");
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest& r) { return device.Handle(r); });
    Session session(Answers{{"admin", ""}, {"admin", "pw"}});
    EXPECT_GT(Run(server.port()), 0);
    ExpectDialogs(kAskTwice, session);
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(std::string::npos, requests[1].text.find("Authorization:"));
    EXPECT_NE(std::string::npos, requests[2].text.find("Authorization:"));
}

TEST_F(Runner, RestartedDeviceWithANewNonceIsRetriedSilently) {
    DigestDevice device("pw", "auth");
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest& r) { return device.Handle(r); });
    {
        Session session(Answers{{"admin", "pw"}});
        ASSERT_GT(Run(server.port()), 0);
        ASSERT_GT(Run(server.port()), 0);
    }
    device.ChangeNonce();
    Session session(Answers{});
    EXPECT_GT(Run(server.port()), 0);
    ExpectDialogs({IDD_CONNECTING, IDD_CONNECTING}, session);
    EXPECT_EQ((std::vector<std::string>{"000000001", "000000002", "000000001"}), device.acceptedCounts());
    EXPECT_EQ(2, device.challengesSent());
}

TEST_F(Runner, NewNonceOnEveryChallengeRetriesOnceThenAsksAgain) {
    DigestDevice device("pw", "auth");
    device.SetNewNonceOnEveryChallenge(true);
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest& r) { return device.Handle(r); });
    Session session(Answers{{"admin", "wrong"}, {"admin", "pw"}});
    EXPECT_GT(Run(server.port()), 0);
    ExpectDialogs({IDD_CONNECTING, IDD_PASSWORD, IDD_CONNECTING, IDD_CONNECTING, IDD_PASSWORD, IDD_CONNECTING},
                  session);
    EXPECT_EQ(3, device.challengesSent());
    EXPECT_EQ(std::vector<std::string>{"000000001"}, device.acceptedCounts());
}

TEST_F(Runner, UnreachableDeviceGivesZeroWithoutAskingForAPassword) {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kDevice);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);  // nobody listens on that port now

    Session session(Answers{});
    EXPECT_EQ(0, Run(ntohs(address.sin_port)));
    ExpectDialogs(kOneAttempt, session);
}

TEST_F(Runner, ProgressBarStepsWhileTheDeviceIsSlow) {
    LoopbackHttpServer server(kDevice, [](const ReceivedRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        return std::string("HTTP/1.1 200 OK\r\n\r\n");
    });
    std::mutex mutex;
    std::vector<int> positions;
    int maximum = 0;
    User user([&](const headless::Event& e) {
        if (e.kind != headless::EventKind::DialogShown) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            maximum = headless::ProgressOf(e.window, IDC_PROGRESS).maximum;
        }
        while (headless::IsShown(e.window)) {
            int position = headless::ProgressOf(e.window, IDC_PROGRESS).position;
            std::lock_guard<std::mutex> lock(mutex);
            if (positions.empty() || positions.back() != position) {
                positions.push_back(position);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    EXPECT_GT(Run(server.port()), 0);
    std::lock_guard<std::mutex> lock(mutex);
    // One step per 10 polls of 1 ms or more: some tens of steps in 700 ms,
    // never past 100, shown ten times a second.
    EXPECT_EQ(100, maximum);
    ASSERT_GE(positions.size(), 5u);
    for (size_t i = 1; i < positions.size(); ++i) {
        EXPECT_GT(positions[i], positions[i - 1]);
    }
    EXPECT_LE(positions.back(), 80);
}

// The simulated device of tools/qor_device, on a loopback address of its own.
class OnSimulatedDevice : public Runner {
protected:
    bool StartDevice(std::vector<std::string> options) {
        port_ = FreePort(kSimulated);
        device_ = std::make_unique<SimulatedDevice>(port_, options, kSimulated);
        return device_->Ready(5000);
    }
    int RunOnDevice() {
        return RunDeviceRequest(upgradeState.instance, kLocal, kHttpLocalPortBase, kSimulated, port_, kPagePath,
                                upgradeState.httpBuffer, kHttpCapacity);
    }
    const uint32_t kSimulated = HostAddress("127.0.59.3");
    uint16_t port_ = 0;
    std::unique_ptr<SimulatedDevice> device_;
};

TEST_F(OnSimulatedDevice, WithoutPasswordThePageComesAtOnce) {
    ASSERT_TRUE(StartDevice({"--software-version", "2.0.11"}));
    Session session(Answers{});
    EXPECT_GT(RunOnDevice(), 0);
    ExpectDialogs(kOneAttempt, session);
    EXPECT_STREQ("QOR-7101", upgradeState.deviceInfo.productName);
    EXPECT_STREQ("00:0B:82:11:22:33", upgradeState.deviceInfo.macAddress);
    EXPECT_STREQ("2.0.11", upgradeState.deviceInfo.softwareVersion);
    EXPECT_STREQ("1.0.2", upgradeState.deviceInfo.hardwareVersion);
    EXPECT_STREQ("QOR71010001234", upgradeState.deviceInfo.serialNumber);
}

TEST_F(OnSimulatedDevice, WithPasswordAWrongOneThenTheRightOne) {
    ASSERT_TRUE(StartDevice({"--password", "s3cret"}));
    Session session(Answers{{"admin", "wrong"}, {"admin", "s3cret"}});
    EXPECT_GT(RunOnDevice(), 0);
    ExpectDialogs(kAskTwice, session);
    std::vector<PasswordDialogView> views = session.PasswordViews();
    ASSERT_EQ(2u, views.size());
    EXPECT_EQ("admin", views[1].user);
    EXPECT_EQ("", views[1].password);
    EXPECT_STREQ("2.0.10", upgradeState.deviceInfo.softwareVersion);
    // Further requests go through on the same nonce without a dialog.
    Session again(Answers{});
    EXPECT_GT(RunOnDevice(), 0);
    ExpectDialogs(kOneAttempt, again);
}

TEST_F(OnSimulatedDevice, NewNonceInEveryChallenge) {
    ASSERT_TRUE(StartDevice({"--password", "s3cret", "--nonce-per-401"}));
    Session session(Answers{{"admin", "wrong"}, {"admin", "s3cret"}});
    EXPECT_GT(RunOnDevice(), 0);
    ExpectDialogs({IDD_CONNECTING, IDD_PASSWORD, IDD_CONNECTING, IDD_CONNECTING, IDD_PASSWORD, IDD_CONNECTING},
                  session);
}

TEST_F(OnSimulatedDevice, QopListAndMd5Sess) {
    ASSERT_TRUE(StartDevice(
        {"--password", "s3cret", "--qop", "auth,auth-int", "--algorithm", "MD5-sess", "--opaque", "0p4que"}));
    Session session(Answers{{"admin", "s3cret"}});
    EXPECT_GT(RunOnDevice(), 0);
    ExpectDialogs(kAskOnce, session);
    EXPECT_STREQ("2.0.10", upgradeState.deviceInfo.softwareVersion);
}

TEST_F(Runner, ProgressCarriesOnFromOneAttemptToTheNext) {
    DigestDevice device("pw", "auth");
    LoopbackHttpServer server(kDevice, [&](const ReceivedRequest& r) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        return device.Handle(r);
    });
    std::mutex mutex;
    std::vector<std::vector<int>> positionsPerDialog;
    User user([&](const headless::Event& e) {
        if (e.kind != headless::EventKind::DialogShown) {
            return;
        }
        if (e.templateId == IDD_PASSWORD) {
            headless::TypeText(e.window, IDC_PASSWORD, "pw");
            headless::PressButton(e.window, IDOK);
            return;
        }
        std::vector<int> positions;
        while (headless::IsShown(e.window)) {
            int position = headless::ProgressOf(e.window, IDC_PROGRESS).position;
            if (positions.empty() || positions.back() != position) {
                positions.push_back(position);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::lock_guard<std::mutex> lock(mutex);
        positionsPerDialog.push_back(positions);
    });
    EXPECT_GT(Run(server.port()), 0);
    WaitUntil(2000, [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return positionsPerDialog.size() == 2;
    });
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(2u, positionsPerDialog.size());
    const std::vector<int>& first = positionsPerDialog[0];
    const std::vector<int>& second = positionsPerDialog[1];
    ASSERT_GE(first.size(), 3u);
    ASSERT_GE(second.size(), 2u);
    // The new dialog starts with an empty bar, then goes on from where the first one stopped.
    EXPECT_EQ(0, second[0]);
    EXPECT_GT(second[1], first.back());
}

// In a child process: the user presses Cancel in dialog `templateId`, then
// answers the failure box and reports what it said.
void CancelIn(int templateId) {
    static User* user = new User([templateId](const headless::Event& e) {
        if (e.kind == headless::EventKind::DialogShown && e.templateId == templateId) {
            headless::PressButton(e.window, IDCANCEL);
        } else if (e.kind == headless::EventKind::MessageBoxShown) {
            fprintf(stderr, "box [%s] %s\n", e.title.c_str(), e.text.c_str());
            headless::AnswerMessageBox(e.window, IDOK);
        }
    });
    (void)user;
}

TEST_F(Runner, CancelWhileConnectingEndsTheUpgrade) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // A device that takes the connection and never answers.
            int listener = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address = {};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(kDevice);
            bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
            listen(listener, 4);
            socklen_t length = sizeof address;
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
            CancelIn(IDD_CONNECTING);
            Run(ntohs(address.sin_port));
            fprintf(stderr, "returned\n");
        },
        ::testing::ExitedWithCode(0), "box \\[QOR Firwmare Upgrade Error\\] Upgrade Failed: User Abort");
}

// A listener whose accept queue is full: the kernel drops further SYNs, so a
// connect to it hangs in the handshake. Gives the port, or 0.
uint16_t PortWhoseConnectsHang(uint32_t address) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(listener, 0) != 0) {
        return 0;
    }
    socklen_t length = sizeof local;
    getsockname(listener, reinterpret_cast<sockaddr*>(&local), &length);
    for (int i = 0; i < 8; ++i) {
        int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(filler, reinterpret_cast<sockaddr*>(&local), sizeof local);
        pollfd done = {filler, POLLOUT, 0};
        if (poll(&done, 1, 300) == 0) {
            return ntohs(local.sin_port);  // this one hangs: the queue is full
        }
    }
    return 0;
}

TEST_F(Runner, CancelWhileTheConnectItselfHangsActsAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            uint16_t port = PortWhoseConnectsHang(kDevice);
            if (port == 0) {
                fprintf(stderr, "no hanging port\n");
                _exit(3);
            }
            static std::atomic<double> pressedAt{0};
            static User* user = new User([](const headless::Event& e) {
                if (e.kind == headless::EventKind::DialogShown && e.templateId == IDD_CONNECTING) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                    pressedAt = SecondsNow();
                    headless::PressButton(e.window, IDCANCEL);
                } else if (e.kind == headless::EventKind::MessageBoxShown) {
                    double ms = (SecondsNow() - pressedAt) * 1000;
                    fprintf(stderr, "box %s after %s\n", e.text.c_str(), ms < 1000 ? "under a second" : "too long");
                    headless::AnswerMessageBox(e.window, IDOK);
                }
            });
            (void)user;
            Run(port);
            fprintf(stderr, "returned\n");
        },
        ::testing::ExitedWithCode(0), "box Upgrade Failed: User Abort after under a second");
}

TEST_F(Runner, CancelInThePasswordDialogEndsTheUpgrade) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            DigestDevice device("pw", "auth");
            LoopbackHttpServer server(kDevice, [&](const ReceivedRequest& r) { return device.Handle(r); });
            CancelIn(IDD_PASSWORD);
            Run(server.port());
            fprintf(stderr, "returned\n");
        },
        ::testing::ExitedWithCode(0), "box \\[QOR Firwmare Upgrade Error\\] Upgrade Failed: User Abort");
}

}  // namespace
