// Completion after a transfer: the re-query, the version check and the
// success dialog against a small page server, the updating wait's Cancel,
// and one whole Target run against the simulated device.
#include "platform/linux/headless.h"
#include "resources/resource_ids.h"
#include "src/control/image_store.h"
#include "src/shared/texts.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/completion.h"
#include "src/tftp/listener.h"
#include "src/ui/dialogs.h"
#include "tests/support/http_server.h"
#include "tests/tftp/tftp_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct DeviceAnswers {
    std::string version;  // of the device's page
    int silent = 0;       // connections closed unanswered first
    int booting = 0;      // then answers without the version
    bool server = true;   // false: nobody listens at all
};

std::string BootingAnswer() {
    return "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n\r\n"
           "<html><p>Product Name:</p><p>QOR-7101</p><p>Starting, please wait</p></html>";
}

std::string PageAnswer(const std::string& version) {
    std::string body =
        "<html><table><tr><td>Product Name:</td><td>QOR-7101</td></tr>"
        "<tr><td>Software Version:</td><td>" +
        version + "</td></tr></table></html>";
    return HttpAnswer("HTTP/1.1 200 OK", "Content-Type: text/html\r\n", body);
}

// The device's web server on 127.0.0.1:80: the first `silent` connections
// are closed unanswered, the next `booting` get a page without the version,
// as while the device starts, the others get the page with `version`.
LoopbackHttpServer* StartPageServer(const DeviceAnswers& answers) {
    auto served = std::make_shared<std::atomic<int>>(0);
    auto answer = [answers, served](const ReceivedRequest&) -> std::string {
        int number = served->fetch_add(1);
        if (number < answers.silent) {
            return "";
        }
        return number < answers.silent + answers.booting ? BootingAnswer() : PageAnswer(answers.version);
    };
    return new LoopbackHttpServer(kLoopback, answer, 80);
}

void PrepareProgram(int stage, bool handset) {
    upgradeState.instance = GetModuleHandleA(nullptr);
    LoadFirmwareImages();
    upgradeState.stage.store(stage);
    upgradeState.handsetVariant = handset ? 1 : 0;
    std::snprintf(upgradeState.deviceAddressText, sizeof upgradeState.deviceAddressText, "127.0.0.1");
}

TftpSession LoopbackSession() {
    TftpSession session;
    std::memset(&session, 0, sizeof session);
    session.localAddress = kLoopback;
    session.peerAddress = kLoopback;
    return session;
}

int CountShown(int templateId) {
    int count = 0;
    for (const headless::Event& event : headless::Events()) {
        count += event.kind == headless::EventKind::DialogShown && event.templateId == templateId;
    }
    return count;
}

// Plays the user: notes the success dialog or a message box and closes it.
void AnswerWhatComes(Report& report) {
    std::thread([&report] {
        uint64_t seen = 0;
        for (;;) {
            headless::Event event;
            bool found = headless::WaitForEvent(
                seen, 60000,
                [](const headless::Event& candidate) {
                    return candidate.kind == headless::EventKind::MessageBoxShown ||
                           (candidate.kind == headless::EventKind::DialogShown && candidate.templateId == IDD_SUCCESS);
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
            report.Set("successTitle", headless::Title(event.window));
            report.Set("successText", headless::ItemText(event.window, IDC_TOP_TEXT));
            report.Set("successVersion", headless::ItemText(event.window, IDC_SOFTWARE_VERSION));
            headless::PressButton(event.window, IDOK);
        }
    }).detach();
}

// VerifyUpgrade in a child with its own network and page server. The version
// read before the upgrade is `staleVersion`; by default the image's own, so
// that a check on anything but a fresh read would pass.
ChildOutcome Verify(int stage, bool handset, const DeviceAnswers& answers, const char* staleVersion = nullptr) {
    return RunInChild(true, 60, [=](Report& report) {
        PrepareProgram(stage, handset);
        std::snprintf(upgradeState.deviceInfo.softwareVersion, sizeof upgradeState.deviceInfo.softwareVersion, "%s",
                      staleVersion != nullptr ? staleVersion : HeaderVersion(StageImage()));
        LoopbackHttpServer* pages = answers.server ? StartPageServer(answers) : nullptr;
        AnswerWhatComes(report);
        // Real requests; the spacing between them passes on a fake clock.
        FakeCompletion world;
        world.throughRunner = true;
        world.upload = ShowModelessDialog(IDD_UPLOAD, UploadDialogProc);
        VerifyUpgrade(LoopbackSession(), world.upload, world.Ops());
        report.Set("returned", "yes");
        report.Set("connecting", CountShown(IDD_CONNECTING));
        report.Set("success", CountShown(IDD_SUCCESS));
        report.Set("connections", pages != nullptr ? static_cast<long long>(pages->Requests().size()) : 0);
        report.Set("deviceVersion", upgradeState.deviceInfo.softwareVersion);
    });
}

ChildOutcome Verify(int stage, bool handset, const std::string& deviceVersion) {
    DeviceAnswers answers;
    answers.version = deviceVersion;
    return Verify(stage, handset, answers);
}

TEST(VersionCheck, MatchShowsTheSuccessDialogInTheTargetStage) {
    ChildOutcome outcome = Verify(Target, false, "2.0.13(SEg)");
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["returned"], "yes");
    EXPECT_EQ(outcome.values["connecting"], "1");
    EXPECT_EQ(outcome.values["success"], "1");
    EXPECT_EQ(outcome.values["successTitle"], "QOR@127.0.0.1 Upgrade Successful!");
    EXPECT_EQ(outcome.values["successVersion"], "2.0.13(SEg)");
    EXPECT_EQ(outcome.values.count("box"), 0u);
}

TEST(VersionCheck, MatchInTheTransitionStageShowsNothing) {
    ChildOutcome outcome = Verify(Transition, false, "2.0.12");
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["returned"], "yes");
    EXPECT_EQ(outcome.values["success"], "0");
    EXPECT_EQ(outcome.values.count("box"), 0u);
}

TEST(VersionCheck, LetterCaseOrATrailingBlankIsAMismatch) {
    for (const char* version : {"2.0.13(SEG)", "2.0.13(SEg) "}) {
        ChildOutcome outcome = Verify(Target, false, version);
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.values["deviceVersion"], version);
        EXPECT_EQ(outcome.values["box"], text::kVersionMismatch) << version;
        EXPECT_EQ(outcome.values["success"], "0");
    }
}

TEST(VersionCheck, HandsetModelSkipsTheCheck) {
    ChildOutcome outcome = Verify(Target, true, "9.9.9");
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values.count("box"), 0u);
    EXPECT_EQ(outcome.values["success"], "1");
    EXPECT_EQ(outcome.values["successVersion"], "9.9.9");
}

TEST(Requery, ThirdAttemptAnswers) {
    ChildOutcome outcome = Verify(Target, false, {"2.0.13(SEg)", 2, 0, true});
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["connecting"], "3");
    EXPECT_EQ(outcome.values["connections"], "3");
    EXPECT_EQ(outcome.values["success"], "1");
}

TEST(Requery, PagesWithoutTheVersionCountAsFailedAttempts) {
    ChildOutcome outcome = Verify(Target, false, {"2.0.13(SEg)", 1, 3, true}, "2.0.12");
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["connecting"], "5");
    EXPECT_EQ(outcome.values.count("box"), 0u) << outcome.values["box"];
    EXPECT_EQ(outcome.values["success"], "1");
    EXPECT_EQ(outcome.values["successVersion"], "2.0.13(SEg)");
}

TEST(Requery, HandsetShowsTheVersionOfThisRequery) {
    ChildOutcome outcome = Verify(Target, true, {"9.9.9", 0, 2, true}, "1.0.0");
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["connecting"], "3");
    EXPECT_EQ(outcome.values["successVersion"], "9.9.9");
}

// The version read before the upgrade equals the image's here: only a fresh
// read keeps this from passing for a success.
TEST(Requery, TenPagesWithoutTheVersionAreNoResponse) {
    ChildOutcome outcome = Verify(Target, false, {"2.0.13(SEg)", 0, 10, true});
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["returned"], "yes");
    EXPECT_EQ(outcome.values["connecting"], "10");
    EXPECT_EQ(outcome.values["box"], text::kNoResponse);
    EXPECT_EQ(outcome.values["success"], "0");
}

TEST(Requery, TenFailedAttemptsReportNoResponseAndReturn) {
    ChildOutcome outcome = Verify(Target, false, {"", 0, 0, false});
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["returned"], "yes");
    EXPECT_EQ(outcome.values["connecting"], "10");
    EXPECT_EQ(outcome.values["success"], "0");
    EXPECT_EQ(outcome.values["box"], text::kNoResponse);
}

TEST(UpdatingWait, CancelEndsTheRunWithUserAbort) {
    ChildOutcome outcome = RunInChild(false, 30, [](Report& report) {
        PrepareProgram(Target, false);
        AnswerWhatComes(report);
        HWND upload = ShowModelessDialog(IDD_UPLOAD, UploadDialogProc);
        FakeCompletion world;
        world.upload = upload;
        world.cancelAtPause = 3;
        WaitForDeviceRestart(upload, world.Ops());
        report.Set("waitEnded", "yes");
    });
    EXPECT_TRUE(EndedByMessage(outcome, text::kUserAbort, "waitEnded"));
}

// The whole wait on the real ops ten times quick, on a clock that wraps
// inside it: the bar rises to its end, and the wait takes 937 ticks of the
// ops' clock.
TEST(UpdatingWait, RunsItsTicksAcrossTheClockWrap) {
    ChildOutcome outcome = RunInChild(false, 60, [](Report& report) {
        PrepareProgram(Target, false);
        HWND upload = ShowModelessDialog(IDD_UPLOAD, UploadDialogProc);
        headless::SetClockOffset(0);
        headless::SetClockOffset(static_cast<uint32_t>(0u - 10000u - timeGetTime()));
        SetCompletionRate(10);
        const CompletionOps& ops = RealCompletionOps();
        std::atomic<bool> waiting{true};
        std::thread sampler([&] {
            int previous = -1;
            int range = 0;
            bool rising = true;
            while (waiting && headless::IsShown(upload)) {
                headless::Progress bar = headless::ProgressOf(upload, IDC_PROGRESS);
                if (!headless::IsShown(upload)) {
                    break;
                }
                rising = rising && bar.position >= previous;
                previous = bar.position;
                range = bar.maximum;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            report.Set("rising", rising ? "yes" : "no");
            report.Set("range", range);
        });
        DWORD clockStart = ops.now(ops.context);
        double realStart = SecondsNow();
        WaitForDeviceRestart(upload, ops);
        DWORD clockEnd = ops.now(ops.context);
        report.Set("realMs", static_cast<long long>((SecondsNow() - realStart) * 1000));
        waiting = false;
        sampler.join();
        report.Set("clockMs", static_cast<long long>(DWORD(clockEnd - clockStart)));
        report.Set("wrapped", clockEnd < clockStart ? "yes" : "no");
        report.Set("dialog", headless::IsShown(upload) ? "shown" : "gone");
        report.Set("endPosition", headless::ProgressOf(upload, IDC_PROGRESS).position);
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["range"], "937");
    EXPECT_EQ(outcome.values["rising"], "yes");
    EXPECT_EQ(outcome.values["wrapped"], "yes");
    EXPECT_GE(std::stoi(outcome.values["clockMs"]), 936 * 32);
    EXPECT_LT(std::stoi(outcome.values["clockMs"]), 40000);
    EXPECT_LT(std::stoi(outcome.values["realMs"]), 20000) << "ten times quick, not real time";
    // Up and full for the re-query that follows.
    EXPECT_EQ(outcome.values["dialog"], "shown");
    EXPECT_EQ(outcome.values["endPosition"], "937");
}

// The gaps between attempts as "a,b,c", and what dialog 110 showed at each.
std::string Gaps(const std::vector<DWORD>& times) {
    std::string gaps;
    for (size_t i = 1; i < times.size(); ++i) {
        gaps += (i > 1 ? "," : "") + std::to_string(DWORD(times[i] - times[i - 1]));
    }
    return gaps;
}

std::string Bars(const FakeCompletion& world) {
    std::string bars;
    for (size_t i = 0; i < world.barAtAttempt.size(); ++i) {
        bars +=
            (i > 0 ? "," : "") + std::to_string(world.barAtAttempt[i]) + "/" + std::to_string(world.rangeAtAttempt[i]);
    }
    return bars;
}

// FinishUpload of a complete transfer on a fake clock from `clockStart`.
ChildOutcome FinishOnFakeClock(FakeCompletion world, DWORD clockStart) {
    return RunInChild(false, 30, [=](Report& report) mutable {
        PrepareProgram(Target, false);
        AnswerWhatComes(report);
        TftpSession session = LoopbackSession();
        session.uploadDialog = ShowModelessDialog(IDD_UPLOAD, UploadDialogProc);
        world.upload = session.uploadDialog;
        world.clock = clockStart;
        FinishUpload(&session, false, world.Ops());
        report.Set("returned", "yes");
        report.Set("attempts", static_cast<long long>(world.attemptTimes.size()));
        report.Set("firstAttemptAfter", static_cast<long long>(DWORD(world.attemptTimes.at(0) - clockStart)));
        report.Set("lastAttemptAfter", static_cast<long long>(DWORD(world.attemptTimes.back() - clockStart)));
        report.Set("gaps", Gaps(world.attemptTimes));
        report.Set("bars", Bars(world));
        report.Set("uploadAfter", headless::IsShown(world.upload) ? "shown" : "gone");
        report.Set("success", CountShown(IDD_SUCCESS));
    });
}

std::string Repeated(const std::string& item, int count) {
    std::string all;
    for (int i = 0; i < count; ++i) {
        all += (i > 0 ? "," : "") + item;
    }
    return all;
}

// A device that never serves its page: ten attempts 3 s apart after the
// 30 s wait, about 57 s in all, with dialog 110 up and full at each.
TEST(RequerySpacing, TenAttemptsThreeSecondsApartBehindAFullBar) {
    FakeCompletion world;
    world.attemptMs = 20;  // a refused connect on Linux or Wine
    ChildOutcome outcome = FinishOnFakeClock(world, 1000);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["attempts"], "10");
    EXPECT_GE(std::stoi(outcome.values["firstAttemptAfter"]), 936 * 32);  // 937 whole ticks
    EXPECT_EQ(outcome.values["gaps"], Repeated("3000", 9));
    EXPECT_GE(std::stoi(outcome.values["lastAttemptAfter"]) - std::stoi(outcome.values["firstAttemptAfter"]), 27000);
    EXPECT_EQ(outcome.values["bars"], Repeated("937/937", 10));
    EXPECT_EQ(outcome.values["box"], text::kNoResponse);
    EXPECT_EQ(outcome.values["uploadAfter"], "gone");
}

// Attempts that take longer than the spacing (a connect that times out)
// follow one another at once.
TEST(RequerySpacing, SlowAttemptsAreNotHeldBack) {
    FakeCompletion world;
    world.attemptMs = 4500;
    ChildOutcome outcome = FinishOnFakeClock(world, 1000);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["gaps"], Repeated("4500", 9));
    EXPECT_EQ(outcome.values["box"], text::kNoResponse);
}

// The 32-bit clock wraps between two attempts: the gap stays 3 s.
TEST(RequerySpacing, HoldsAcrossTheClockWrap) {
    FakeCompletion world;
    world.attemptMs = 20;
    world.pageAtAttempt = 4;
    ChildOutcome outcome = FinishOnFakeClock(world, 0u - 29984u - 7000u);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["gaps"], Repeated("3000", 4));
    EXPECT_EQ(outcome.values["success"], "1");
    EXPECT_EQ(outcome.values.count("box"), 0u) << outcome.values["box"];
}

// A device up 12 s after the wait: the fifth attempt gets its page, the
// success dialog follows and dialog 110 is gone before it.
TEST(RequerySpacing, DeviceUpTwelveSecondsLateGetsItsVerdict) {
    FakeCompletion world;
    world.attemptMs = 20;
    world.pageAtAttempt = 4;
    ChildOutcome outcome = FinishOnFakeClock(world, 5000);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["attempts"], "5");
    EXPECT_EQ(std::stoi(outcome.values["lastAttemptAfter"]) - std::stoi(outcome.values["firstAttemptAfter"]), 12000);
    EXPECT_EQ(outcome.values["success"], "1");
    EXPECT_EQ(outcome.values["uploadAfter"], "gone");
}

TEST(RequerySpacing, CancelBetweenAttemptsEndsTheRunWithUserAbort) {
    ChildOutcome outcome = RunInChild(false, 30, [](Report& report) {
        PrepareProgram(Target, false);
        AnswerWhatComes(report);
        FakeCompletion world;
        world.upload = ShowModelessDialog(IDD_UPLOAD, UploadDialogProc);
        world.cancelAtPause = 1;
        RequeryDevice(LoopbackSession(), world.upload, world.Ops());
        report.Set("requeryEnded", "yes");
    });
    EXPECT_TRUE(EndedByMessage(outcome, text::kUserAbort, "requeryEnded"));
}

// The real ops ten times quick: the attempts keep their 3 s on the ops' clock
// and come a tenth of that apart in real time.
TEST(RequerySpacing, RealOpsTenTimesQuickKeepTheSpacingOnTheirClock) {
    ChildOutcome outcome = RunInChild(false, 60, [](Report& report) {
        PrepareProgram(Target, false);
        AnswerWhatComes(report);
        SetCompletionRate(10);
        static DWORD lastRead = 0;  // the attempt's start, as the re-query read it
        static std::vector<DWORD> attempts;
        CompletionOps ops = RealCompletionOps();
        ops.now = [](void*) { return lastRead = RealCompletionOps().now(nullptr); };
        ops.requestPage = [](void*, const TftpSession&) {
            attempts.push_back(lastRead);
            return 0;
        };
        HWND upload = ShowModelessDialog(IDD_UPLOAD, UploadDialogProc);
        double realStart = SecondsNow();
        report.Set("answered", RequeryDevice(LoopbackSession(), upload, ops) ? "yes" : "no");
        report.Set("realMs", static_cast<long long>((SecondsNow() - realStart) * 1000));
        report.Set("attempts", static_cast<long long>(attempts.size()));
        DWORD shortest = 0xFFFFFFFFu;
        for (size_t i = 1; i < attempts.size(); ++i) {
            shortest = std::min(shortest, DWORD(attempts[i] - attempts[i - 1]));
        }
        report.Set("shortestGap", static_cast<long long>(shortest));
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["answered"], "no");
    EXPECT_EQ(outcome.values["attempts"], "10");
    EXPECT_GE(std::stoll(outcome.values["shortestGap"]), 3000);
    EXPECT_LT(std::stoi(outcome.values["realMs"]), 15000) << "27 s of gaps in real time";
}

// The whole Target run against the simulated device, trigger to success, on
// an updating wait ten times quick; the device's restart keeps the same pace.
TEST(WholeRun, TargetAgainstTheSimulatedDevice) {
    ChildOutcome outcome = RunInChild(true, 90, [](Report& report) {
        PrepareProgram(Target, false);
        SetFileName("/qor4d2.bi0");
        SetCompletionRate(10);
        SimulatedDevice device(80, {"--restart-delay", "3", "--clock-rate", "10"});
        device.Ready(10000);
        AnswerWhatComes(report);
        uint16_t port = StartTftpListener(kLoopback);
        report.Set("port", port);
        report.Set("triggered", device.Trigger(port, "/qor4d2.bi0") ? "yes" : "no");
        HWND upload = nullptr;
        WaitForDialog(0, IDD_UPLOAD, 10000, &upload);
        std::string title;
        for (int i = 0; i < 400 && title.rfind("Updating", 0) != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            title = headless::Title(upload);
        }
        report.Set("updatingTitle", title);
        report.Set("imageSame", device.SavedImage("/qor4d2.bi0") ==
                                        std::string(upgradeState.targetImage.bytes,
                                                    upgradeState.targetImage.bytes + upgradeState.targetImage.size)
                                    ? "yes"
                                    : "no");
        // The listener ends the process after the success dialog's OK.
        std::this_thread::sleep_for(std::chrono::seconds(60));
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["port"], "69");
    EXPECT_EQ(outcome.values["triggered"], "yes");
    EXPECT_EQ(outcome.values["updatingTitle"], "Updating Target Firmware to QOR@127.0.0.1");
    EXPECT_EQ(outcome.values["imageSame"], "yes");
    EXPECT_EQ(outcome.values["successTitle"], "QOR@127.0.0.1 Upgrade Successful!");
    EXPECT_EQ(outcome.values["successText"], text::kSuccess);
    EXPECT_EQ(outcome.values["successVersion"], "2.0.13(SEg)");
    EXPECT_EQ(outcome.values.count("box"), 0u);
    EXPECT_EQ(outcome.values["exit"], "0");
}

}  // namespace
