// The upgrade sequence on the main thread: what a dialog that cannot be
// created counts as, and the second trigger when the Transition stage ends
// before the first trigger's answer. Each run is a child process with its
// own network, a small device web server on 127.0.0.1:80 and a test thread
// playing the user.
#include "platform/linux/headless.h"
#include "resources/resource_ids.h"
#include "src/control/image_store.h"
#include "src/control/upgrade_sequence.h"
#include "src/shared/texts.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/listener.h"
#include "tests/support/http_server.h"
#include "tests/support/processes.h"
#include "tests/support/sockets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kTriggerStart[] = "/admin/upgrade?";

// The device's web server: the page with a version that needs the
// Transition image, and an answer to each trigger. The first trigger's
// answer comes only after the listener has (as if) finished the Transition
// stage, when `lateAnswer` is set.
class TriggerDevice {
public:
    explicit TriggerDevice(bool lateAnswer)
        : lateAnswer_(lateAnswer),
          server_(
              kLoopback, [this](const ReceivedRequest& request) { return Answer(request); }, 80) {}

    std::vector<std::string> Triggers() {
        std::lock_guard<std::mutex> lock(mutex_);
        return triggers_;
    }

private:
    std::string Answer(const ReceivedRequest& request) {
        size_t start = request.text.find(' ') + 1;
        std::string path = request.text.substr(start, request.text.find(' ', start) - start);
        std::string body;
        if (path.rfind(kTriggerStart, 0) == 0) {
            AnswerTrigger(path);
        } else {
            body = "<table><tr><td>Software Version:</td><td>2.0.11</td></tr></table>";
        }
        return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
    }

    void AnswerTrigger(const std::string& path) {
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            triggers_.push_back(path);
            first = triggers_.size() == 1;
        }
        if (first && lateAnswer_) {
            upgradeState.stage.store(Target);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }

    bool lateAnswer_;
    std::mutex mutex_;
    std::vector<std::string> triggers_;
    LoopbackHttpServer server_;  // last: it answers as soon as it is made
};

// Plays the user: Continue, the device's address, Upgrade; notes the dialogs
// and message boxes it meets.
void PlayTheUser(Report& report) {
    std::thread([&report] {
        uint64_t seen = 0;
        std::string shown;
        for (;;) {
            headless::Event event;
            bool found = headless::WaitForEvent(
                seen, 20000,
                [](const headless::Event& candidate) {
                    return candidate.kind == headless::EventKind::MessageBoxShown ||
                           candidate.kind == headless::EventKind::DialogShown;
                },
                &event);
            if (!found) {
                return;
            }
            seen = event.sequence;
            if (event.kind == headless::EventKind::MessageBoxShown) {
                report.Set("box", event.text);
                headless::AnswerMessageBox(event.window, IDOK);
                continue;
            }
            shown += (shown.empty() ? "" : " ") + std::to_string(event.templateId);
            report.Set("shown", shown);
            if (event.templateId == IDD_ADDRESS) {
                headless::TypeText(event.window, IDC_DEVICE_ADDRESS, "127.0.0.1");
            }
            if (event.templateId != IDD_CONNECTING && event.templateId != IDD_WAITING) {
                headless::PressButton(event.window, IDOK);
            }
        }
    }).detach();
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string WithoutFileName(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// RunUpgrade in a child, with the given dialog failing to be created.
ChildOutcome RunSequence(int failingDialog, bool lateTriggerAnswer, bool failFirstThread = false) {
    return RunInChild(true, 60, [=](Report& report) {
        if (failFirstThread) {
            headless::FailNextThreadStart();
        }
        upgradeState.instance = GetModuleHandleA(nullptr);
        LoadFirmwareImages();
        IdentifyProduct();
        upgradeState.localAddresses[0] = kLoopback;
        headless::FailNextDialog(failingDialog);
        TriggerDevice* device = new TriggerDevice(lateTriggerAnswer);
        PlayTheUser(report);
        std::thread([&report] { report.Set("returned", RunUpgrade()); }).detach();
        std::vector<std::string> triggers;
        for (int waited = 0;
             waited < 5000 && triggers.size() < 2 && report.Text().find("returned") == std::string::npos;
             waited += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            triggers = device->Triggers();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        triggers = device->Triggers();
        report.Set("triggers", static_cast<long long>(triggers.size()));
        for (size_t i = 0; i < triggers.size(); ++i) {
            report.Set("trigger" + std::to_string(i + 1), triggers[i]);
        }
    });
}

TEST(Sequence, WarningThatCannotBeCreatedEndsTheRunSilently) {
    ChildOutcome outcome = RunSequence(IDD_WARNING, false);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["returned"], "0");
    EXPECT_EQ(outcome.values.count("shown"), 0u) << outcome.values["shown"];
    EXPECT_EQ(outcome.values.count("box"), 0u);
    EXPECT_EQ(outcome.values["triggers"], "0");
}

TEST(Sequence, ConfirmThatCannotBeCreatedIsDeclined) {
    ChildOutcome outcome = RunSequence(IDD_CONFIRM_TRANSITION, false);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["returned"], "0");
    EXPECT_EQ(outcome.values["shown"], "139 101 105");
    EXPECT_EQ(outcome.values["box"], text::kUserAbort);
    EXPECT_EQ(outcome.values["triggers"], "0");
}

// The listener sets Target while the first trigger's answer is still on its
// way: the two stages chosen before it still get their second trigger.
TEST(Sequence, TransitionEndingBeforeTheFirstTriggerAnswerStillGetsTheSecondTrigger) {
    ChildOutcome outcome = RunSequence(0, true);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["shown"].rfind("139 101 105 304 ", 0), 0u) << outcome.values["shown"];
    EXPECT_EQ(outcome.values["triggers"], "2");
    std::string first = outcome.values["trigger1"];
    std::string second = outcome.values["trigger2"];
    EXPECT_TRUE(EndsWith(first, ".bi0")) << first;
    EXPECT_TRUE(EndsWith(second, ".bi1")) << second;
    EXPECT_EQ(WithoutFileName(first), WithoutFileName(second)) << "same address and port";
}

// What a device address may answer that is not the device's page: a
// redirect to a login page, a chunked page whose chunks cut the labels, and
// a megabyte of junk. Each ends the run as no answer would, before any
// confirm dialog could show empty values.
TEST(Sequence, AnAnswerThatIsNotTheDevicesPageIsNoResponse) {
    const std::string chunked =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        "14\r\n<tr><td>Software Ver\r\n2b\r\nsion:</td><td>2.0.12</td></tr></table>\r\n0\r\n\r\n";
    const std::string answers[] = {
        "HTTP/1.1 302 Found\r\nLocation: /login.html\r\nConnection: close\r\n\r\n"
        "<html><a href=\"/login.html\">Sign in</a></html>",
        chunked,
        std::string(1 << 20, 'j'),
    };
    for (const std::string& answer : answers) {
        ChildOutcome outcome = RunInChild(true, 30, [answer](Report& report) {
            upgradeState.instance = GetModuleHandleA(nullptr);
            LoadFirmwareImages();
            IdentifyProduct();
            upgradeState.localAddresses[0] = kLoopback;
            new LoopbackHttpServer(
                kLoopback, [answer](const ReceivedRequest&) { return answer; }, 80);
            PlayTheUser(report);
            report.Set("returned", RunUpgrade());
        });
        ASSERT_TRUE(outcome.exited) << answer.substr(0, 40);
        EXPECT_EQ(outcome.values["returned"], "0");
        EXPECT_EQ(outcome.values["shown"], "139 101 105") << answer.substr(0, 40);
        EXPECT_EQ(outcome.values["box"], text::kNoResponse) << answer.substr(0, 40);
    }
}

TEST(ThreadStart, RequestWorkerThatCannotStartEndsTheRunWithAMessage) {
    EXPECT_TRUE(EndedByMessage(RunSequence(0, false, true), text::kRequestThread, "returned"));
}

TEST(ThreadStart, ListenerThreadThatCannotStartEndsTheRunWithAMessage) {
    ChildOutcome outcome = RunInChild(true, 30, [](Report& report) {
        upgradeState.instance = GetModuleHandleA(nullptr);
        PlayTheUser(report);
        headless::FailNextThreadStart();
        report.Set("port", StartTftpListener(kLoopback));
    });
    EXPECT_TRUE(EndedByMessage(outcome, text::kListenerThread, "port"));
    EXPECT_EQ(outcome.values.count("shown"), 0u);
}

}  // namespace
