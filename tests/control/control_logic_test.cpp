// Start-up state, the product table, the version decision and the trigger path.
#include "platform/linux/headless.h"
#include "src/control/image_store.h"
#include "src/control/upgrade_sequence.h"
#include "src/control/version_decision.h"
#include "src/shared/random.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"
#include "src/shared/upgrade_state.h"
#include "tests/support/processes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

void SetTargetTag(const char* tag) {
    memset(upgradeState.targetImage.header, 0, kHeaderSize);
    memcpy(upgradeState.targetImage.header, tag, strlen(tag));
}

std::string IdentifiedName() {
    IdentifyProduct();
    return upgradeState.displayName;
}

void SetDeviceVersion(const char* version) {
    snprintf(upgradeState.deviceInfo.softwareVersion, kTextFieldSize, "%s", version);
}

Stage DecidedStage(const char* deviceVersion) {
    SetDeviceVersion(deviceVersion);
    upgradeState.stage.store(Transition);
    DecideStage();
    return static_cast<Stage>(upgradeState.stage.load());
}

}  // namespace

TEST(RandomGenerator, SeededWithOneYieldsTheClassicSequence) {
    SeedRandom(1);
    EXPECT_EQ(NextRandom(), 41);
    EXPECT_EQ(NextRandom(), 18467);
    EXPECT_EQ(NextRandom(), 6334);
}

TEST(RandomGenerator, RepeatsForTheSameSeedAndStaysInRange) {
    SeedRandom(0xdeadbeef);
    int first[64];
    for (int& value : first) {
        value = NextRandom();
        EXPECT_GE(value, 0);
        EXPECT_LE(value, 32767);
    }
    SeedRandom(0xdeadbeef);
    for (int value : first) {
        EXPECT_EQ(NextRandom(), value);
    }
}

TEST(ImageStore, EmbeddedImagesCarryTheShippedHeaders) {
    upgradeState.instance = GetModuleHandleA(nullptr);
    LoadFirmwareImages();
    EXPECT_EQ(upgradeState.targetImage.size, 737532u);
    EXPECT_EQ(upgradeState.transitionImage.size, 728976u);
    EXPECT_STREQ(HeaderVersion(upgradeState.targetImage), "2.0.13(SEg)");
    EXPECT_STREQ(HeaderVersion(upgradeState.transitionImage), "2.0.12");
    EXPECT_EQ(memcmp(upgradeState.targetImage.bytes, upgradeState.targetImage.header, kHeaderSize), 0);
    EXPECT_EQ(IdentifiedName(), "QOR-7101");
    EXPECT_EQ(upgradeState.handsetVariant, 0);
}

TEST(ProductTable, TagsCompareCaseInsensitivelyOverTheirOwnLength) {
    SetTargetTag("QOR7300");
    EXPECT_EQ(IdentifiedName(), "QOR-7300");
    EXPECT_EQ(upgradeState.handsetVariant, 0);

    SetTargetTag("oRvElA-whatever");
    EXPECT_EQ(IdentifiedName(), "QOR-540");
    EXPECT_EQ(upgradeState.handsetVariant, 1);

    // Only seven characters count, and row 2 differs in the sixth.
    SetTargetTag("qor72109999");
    EXPECT_EQ(IdentifiedName(), "QOR-7210");
    EXPECT_EQ(upgradeState.handsetVariant, 0);
}

TEST(ProductTable, APartialTagOrNoTagIsAnOdmProduct) {
    SetTargetTag("qor720");  // six of seven characters, then NUL
    EXPECT_EQ(IdentifiedName(), "ODM-Product");
    SetTargetTag("");
    EXPECT_EQ(IdentifiedName(), "ODM-Product");
    SetTargetTag("orvel");
    EXPECT_EQ(IdentifiedName(), "ODM-Product");
    EXPECT_EQ(upgradeState.handsetVariant, 0);
}

TEST(VersionNumber, FoldsUpToThreeComponents) {
    EXPECT_EQ(VersionNumber("2.0.13(SEg)"), 20013);
    EXPECT_EQ(VersionNumber("2.0.12"), 20012);
    EXPECT_EQ(VersionNumber("3.1"), 301);
    EXPECT_EQ(VersionNumber("2.0.100"), 20100);
    EXPECT_EQ(VersionNumber("2.1.0"), 20100);
    EXPECT_EQ(VersionNumber(""), 0);
    EXPECT_EQ(VersionNumber("abc"), 0);
    EXPECT_EQ(VersionNumber("2-0-13"), 20013);
    EXPECT_EQ(VersionNumber("1.2.3.4"), 10203);
}

TEST(VersionNumber, FollowsBaseZeroConversion) {
    EXPECT_EQ(VersionNumber("2.0.08"), 20000);  // octal stops at 8
    EXPECT_EQ(VersionNumber("2.0.010"), 20008);
    EXPECT_EQ(VersionNumber("2.0.0x1f"), 20031);
    EXPECT_EQ(VersionNumber(" +2.\t0.13"), 20013);
    EXPECT_EQ(VersionNumber("-1"), -1);  // the unsigned result wraps
    EXPECT_EQ(VersionNumber("2.-1"), 199);
}

TEST(VersionNumber, OverflowReadsAsAllOnesAndWraps) {
    EXPECT_EQ(static_cast<uint32_t>(VersionNumber("4294967296")), 4294967295u);
    EXPECT_EQ(static_cast<uint32_t>(VersionNumber("99999999999999999999999")), 4294967295u);
    EXPECT_EQ(static_cast<uint32_t>(VersionNumber("-4294967296")), 4294967295u);
    // (4294967295 * 100 + 5) modulo 2^32
    EXPECT_EQ(static_cast<uint32_t>(VersionNumber("4294967296.5")), 4294967295u * 100u + 5u);
}

TEST(VersionNumber, ComparesAsSigned32BitNumbers) {
    EXPECT_EQ(CompareVersions("2.0.13(SEg)", "2.0.12"), 1);
    EXPECT_EQ(CompareVersions("2.0.12(SE)", "2.0.12"), 0);
    EXPECT_EQ(CompareVersions("3.1", "2.0.12"), -1);
    EXPECT_EQ(CompareVersions("2.0.100", "2.1.0"), 0);
    EXPECT_EQ(CompareVersions("3000000000", "2.0.12"), -1) << "above 2^31 the number is negative";
    EXPECT_EQ(CompareVersions("-1", ""), -1);
}

TEST(ChooseStage, ComparesWithTheTransitionVersion) {
    const char* transition = "2.0.12";
    EXPECT_EQ(ChooseStage("2.0.13(SEg)", transition), Target);
    EXPECT_EQ(ChooseStage("2.0.12", transition), Target);
    EXPECT_EQ(ChooseStage("2.0.12(SE)", transition), Transition);
    EXPECT_EQ(ChooseStage("2.0.12 (SE) x", transition), Transition);
    EXPECT_EQ(ChooseStage("2.0.12(se)", transition), Target);
    EXPECT_EQ(ChooseStage("2.0.13(SE)", transition), Target) << "the marker counts only at equal numbers";
    EXPECT_EQ(ChooseStage("2.0.11", transition), Transition);
    EXPECT_EQ(ChooseStage("3.1", transition), Transition);
    EXPECT_EQ(ChooseStage("", transition), Transition);
    EXPECT_EQ(ChooseStage("9.9.99(NT", transition), Transition);
    EXPECT_EQ(ChooseStage("x(NTy 2.0.13", transition), Transition);
    EXPECT_EQ(ChooseStage("9.9.99(nt", transition), Target);
    EXPECT_EQ(ChooseStage("2.0.010", transition), Transition);
    EXPECT_EQ(ChooseStage("2-0-13", transition), Target);
    EXPECT_EQ(ChooseStage("3000000000", transition), Transition);
    EXPECT_EQ(ChooseStage("2.0.13", "2.0.13(SE)"), Target);
}

// The decision reads the device's version and the embedded Transition image,
// and only ever moves the stage to Target.
TEST(DecideStage, SetsTheSharedStageFromThePageAndTheImage) {
    upgradeState.instance = GetModuleHandleA(nullptr);
    LoadFirmwareImages();
    EXPECT_EQ(DecidedStage("2.0.12"), Target);
    EXPECT_EQ(DecidedStage("2.0.12(SE)"), Transition);
    SetDeviceVersion("2.0.11");
    upgradeState.stage.store(Target);
    DecideStage();
    EXPECT_EQ(upgradeState.stage.load(), Target);
}

TEST(TriggerPath, NamesTheListenerAndTheFile) {
    char path[128];
    FormatTriggerPath(path, sizeof path, 0x0a000002, 70, "/qor0.bi0");
    EXPECT_STREQ(path, "/admin/upgrade?tftp://10.0.0.2:70/qor0.bi0");
    FormatTriggerPath(path, sizeof path, 0xc0a8000a, 69, "/qor1a2b.bi0");
    EXPECT_STREQ(path, "/admin/upgrade?tftp://192.168.0.10:69/qor1a2b.bi0");
}

TEST(FileName, MatchesOnlyWithinTheBytesReceived) {
    SetFileName("/qor1a2b.bi0");
    const char exact[] = "/qor1a2b.bi0\0octet";
    EXPECT_TRUE(FileNameMatches(exact, sizeof exact));
    EXPECT_FALSE(FileNameMatches(exact, 12));  // the NUL lies past the datagram
    EXPECT_FALSE(FileNameMatches("/QOR1a2b.bi0", 13));
    EXPECT_FALSE(FileNameMatches("/qor1a2b.bi0x", 14));
    char noNul[1024];
    memset(noNul, 'a', sizeof noNul);
    memcpy(noNul, "/qor1a2b.bi0", 12);
    EXPECT_FALSE(FileNameMatches(noNul, sizeof noNul));
    char copy[128];
    CopyFileName(copy, sizeof copy);
    EXPECT_STREQ(copy, "/qor1a2b.bi0");
}

TEST(StageWords, FollowTheStage) {
    upgradeState.stage.store(Transition);
    EXPECT_STREQ(StageWord(), "Transition");
    EXPECT_EQ(&StageImage(), &upgradeState.transitionImage);
    upgradeState.stage.store(Target);
    EXPECT_STREQ(StageWord(), "Target");
    EXPECT_EQ(&StageImage(), &upgradeState.targetImage);
    upgradeState.stage.store(Transition);
}

TEST(Trace, FormatsOneLineToTheDebugOutputAndCutsItAtItsBuffer) {
    headless::TakeDebugOutput();
    Trace("Send block %d (%d)\n", 1441, 252);
    Trace("All blocks ack'd\n");
    EXPECT_EQ(headless::TakeDebugOutput(), "Send block 1441 (252)\nAll blocks ack'd\n");

    std::string longName(3000, 'n');
    Trace("%s", longName.c_str());
    EXPECT_EQ(headless::TakeDebugOutput(), std::string(1023, 'n'));
}

// "Send block 1441 (252)\n" is 22 characters: ten fill a piece of 240.
TEST(Trace, BatchedLinesGoOutInWholePiecesInTheirOrder) {
    headless::TakeDebugOutput();
    std::string ten;
    for (int block = 1432; block <= 1441; ++block) {
        TraceBatched("Send block %d (%d)\n", block, 252);
        ten += "Send block " + std::to_string(block) + " (252)\n";
    }
    EXPECT_EQ(headless::TakeDebugOutput(), "");
    TraceBatched("Send block %d (%d)\n", 1442, 252);
    EXPECT_EQ(headless::TakeDebugOutput(), ten);
    FlushTrace();
    EXPECT_EQ(headless::TakeDebugOutput(), "Send block 1442 (252)\n");
    FlushTrace();
    EXPECT_EQ(headless::TakeDebugOutput(), "");
}

TEST(Trace, AnyOtherTraceHandsTheBatchedLinesOverFirst) {
    headless::TakeDebugOutput();
    TraceBatched("Send block %d (%d)\n", 1, 512);
    Trace("ReSend block %d\n", 2);
    TraceBatched("Send block %d (%d)\n", 2, 512);
    TraceText("GET / HTTP/1.1\r\n");
    EXPECT_EQ(headless::TakeDebugOutput(),
              "Send block 1 (512)\nReSend block 2\nSend block 2 (512)\nGET / HTTP/1.1\r\n");
}

// A Cancel during the upload ends the process from its message box: the
// lines gathered so far are out before the box shows.
TEST(Trace, BatchedLinesAreOutBeforeTheFailureMessage) {
    ChildOutcome outcome = RunInChild(false, 30, [](Report& report) {
        std::thread([&report] {
            headless::Event box;
            if (headless::WaitForEvent(
                    0, 10000, [](const headless::Event& e) { return e.kind == headless::EventKind::MessageBoxShown; },
                    &box)) {
                report.Set("traceAtBox", headless::TakeDebugOutput());
                headless::AnswerMessageBox(box.window, IDOK);
            }
        }).detach();
        headless::TakeDebugOutput();
        TraceBatched("Send block %d (%d)\n", 7, 512);
        FailUpgrade(text::kUserAbort);
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values["traceAtBox"], "Send block 7 (512)\n");
}

TEST(Trace, LongTextGoesOutWholeAndEndsItsLine) {
    headless::TakeDebugOutput();
    std::string answer = "HTTP/1.1 200 OK\r\n\r\n<html>" + std::string(700, 'x') + "</html>";
    TraceText(answer.c_str());
    EXPECT_EQ(headless::TakeDebugOutput(), answer + "\n");

    TraceText("GET / HTTP/1.1\r\n\r\n");
    TraceText("");
    EXPECT_EQ(headless::TakeDebugOutput(), "GET / HTTP/1.1\r\n\r\n");
}
