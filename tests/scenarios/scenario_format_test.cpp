// The scenario format and the player, without any program: the parser's
// quoting and errors, and the player's verdicts on a scripted screen.
#include "tools/scenario/player.h"
#include "tools/scenario/scenario.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using scenario::Bound;
using scenario::ParseScenario;
using scenario::Scenario;
using scenario::StepKind;

Scenario Parse(const std::string& text) {
    Scenario parsed;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, &parsed, &error)) << error;
    return parsed;
}

std::string ParseError(const std::string& text) {
    Scenario parsed;
    std::string error;
    EXPECT_FALSE(ParseScenario(text, &parsed, &error));
    return error;
}

TEST(ScenarioFormat, QuotedTextsKeepTheirEscapesAndBlanks) {
    Scenario s = Parse("text 1021 \"WARNING: a\\r\\nb  c \\\"d\\\" \\\\ # not a comment\"  # a comment\n");
    ASSERT_EQ(s.steps.size(), 1u);
    EXPECT_EQ(s.steps[0].kind, StepKind::Text);
    EXPECT_EQ(s.steps[0].id, 1021);
    EXPECT_EQ(s.steps[0].text, "WARNING: a\r\nb  c \"d\" \\ # not a comment");
    EXPECT_FALSE(s.steps[0].partial);
}

TEST(ScenarioFormat, StepsKeepLineNumbersAndTheTimeoutInForce) {
    Scenario s = Parse("# head\n\ndialog 139 \"T\"\ntimeout 500\npress cancel\nkey enter\n");
    ASSERT_EQ(s.steps.size(), 3u);
    EXPECT_EQ(s.steps[0].line, 3);
    EXPECT_EQ(s.steps[0].timeoutMs, 10000);
    EXPECT_EQ(s.steps[1].line, 5);
    EXPECT_EQ(s.steps[1].id, 2);
    EXPECT_EQ(s.steps[1].timeoutMs, 500);
    EXPECT_EQ(s.steps[2].text, "enter");
}

TEST(ScenarioFormat, DeviceLinesAndChecksAreNotSteps) {
    Scenario s = Parse(
        "device --password secret --drop-ack 3\n"
        "build handset\n"
        "dialog 139\n"
        "device-check transfers.1.name ends .bi0\n"
        "device-check transfers.1.saved_as image target\n");
    EXPECT_TRUE(s.needsDevice);
    EXPECT_TRUE(s.needsWorld);
    EXPECT_TRUE(s.handsetBuild);
    EXPECT_FALSE(Parse("dialog 139\n").handsetBuild);
    EXPECT_EQ(s.deviceOptions, (std::vector<std::string>{"--password", "secret", "--drop-ack", "3"}));
    ASSERT_EQ(s.deviceChecks.size(), 2u);
    EXPECT_EQ(s.deviceChecks[1], (std::vector<std::string>{"transfers.1.saved_as", "image", "target"}));
    EXPECT_EQ(s.steps.size(), 1u);
    Scenario addresses = Parse("pc-addresses 169.254.7.7 192.0.2.10\ndialog 101\n");
    EXPECT_TRUE(addresses.needsWorld);
    EXPECT_FALSE(addresses.needsDevice);
    EXPECT_EQ(addresses.steps.size(), 1u);
}

TEST(ScenarioFormat, ProgressBoundsAndPicks) {
    Scenario s = Parse("progress 1010 0 >=1 <=1441\npick 1017 1\npick 1017 \"192.0.2.10\"\nselected 1017 0\n");
    ASSERT_EQ(s.steps.size(), 4u);
    EXPECT_TRUE(s.steps[0].minimum.Holds(0));
    EXPECT_FALSE(s.steps[0].minimum.Holds(1));
    EXPECT_TRUE(s.steps[0].maximum.Holds(1441));
    EXPECT_FALSE(s.steps[0].maximum.Holds(0));
    EXPECT_TRUE(s.steps[0].position.Holds(1441));
    EXPECT_FALSE(s.steps[0].position.Holds(1442));
    EXPECT_EQ(s.steps[1].number, 1);
    EXPECT_FALSE(s.steps[1].hasText);
    EXPECT_TRUE(s.steps[2].hasText);
    EXPECT_EQ(s.steps[2].text, "192.0.2.10");
}

TEST(ScenarioFormat, ErrorsNameTheLine) {
    EXPECT_EQ(ParseError("dialog 139\nfrobnicate 3\n"), "line 2: unknown step \"frobnicate\"");
    EXPECT_EQ(ParseError("text 1021 \"open\n"), "line 1: unterminated quote");
    EXPECT_EQ(ParseError("text 1021 \"\\q\"\n"), "line 1: unknown escape \\q");
    EXPECT_NE(ParseError("dialog *\n").find("line 1"), std::string::npos);
    EXPECT_NE(ParseError("progress 1010 0 x\n").find("line 1"), std::string::npos);
    EXPECT_NE(ParseError("timeout 0\ndialog 139\n").find("line 1"), std::string::npos);
    EXPECT_NE(ParseError("key space\n").find("line 1"), std::string::npos);
    EXPECT_EQ(ParseError("build adapter\ndialog 139\n"), "line 1: build takes the word handset");
    EXPECT_EQ(ParseError("# nothing\n"), "the scenario has no steps");
}

TEST(ScenarioFormat, ScreenshotNamesAreShortAndPlain) {
    EXPECT_EQ(scenario::Player::ScreenshotName(139, "QOR-7101 Firmware Upgrade"), "139-qor-7101-firmware-upgrade");
    EXPECT_EQ(scenario::Player::ScreenshotName(0, "Invalid IP Address"), "msgbox-invalid-ip-address");
    EXPECT_EQ(scenario::Player::ScreenshotName(111, "QOR@192.0.2.20 Upgrade Successful!"),
              "111-qor-192-0-2-20-upgrade-successful");
}

// A screen whose windows the test sets up, and which records what was done.
class ScriptedScreen : public scenario::Screen {
public:
    struct Win {
        int templateId = 0;  // 0: a message box
        std::string title;
        std::string text;
        std::map<int, std::string> items;
        bool shown = true;
    };
    std::map<scenario::Window, Win> windows;
    std::vector<std::string> actions;
    bool ended = false;
    int exitCode = 0;
    // Called on each Sleep and on each look at the exit: let the test change
    // the screen over time.
    std::function<void(ScriptedScreen&)> onTick;
    std::function<void(ScriptedScreen&)> onEndCheck;

    std::vector<scenario::Window> ShownDialogs() override { return Shown(false); }
    std::vector<scenario::Window> ShownMessageBoxes() override { return Shown(true); }
    std::vector<int> DialogsSeen() override {
        std::vector<int> ids;
        for (auto& [handle, w] : windows) {
            if (w.templateId > 0) {
                ids.push_back(w.templateId);
            }
        }
        return ids;
    }
    bool IsShown(scenario::Window window) override { return windows.count(window) && windows[window].shown; }
    int TemplateId(scenario::Window dialog) override { return windows[dialog].templateId; }
    std::string Title(scenario::Window window) override { return windows[window].title; }
    std::string MessageBoxText(scenario::Window box) override { return windows[box].text; }
    bool HasItem(scenario::Window dialog, int id) override { return windows[dialog].items.count(id) > 0; }
    std::string ItemText(scenario::Window dialog, int id) override { return windows[dialog].items[id]; }
    scenario::ProgressState ProgressOf(scenario::Window, int) override { return {}; }
    std::vector<std::string> ListEntries(scenario::Window, int) override { return {}; }
    int ListSelection(scenario::Window, int) override { return -1; }
    int FocusedItem(scenario::Window) override { return 2; }
    void TypeText(scenario::Window, int id, const std::string& text) override {
        actions.push_back("type " + std::to_string(id) + " " + text);
    }
    void PickEntry(scenario::Window, int, int) override {}
    void PressButton(scenario::Window window, int id) override {
        actions.push_back("press " + std::to_string(windows[window].templateId) + " " + std::to_string(id));
    }
    void PressKey(scenario::Window, bool enter) override { actions.push_back(enter ? "enter" : "esc"); }
    void PressCloseBox(scenario::Window) override { actions.push_back("close"); }
    void AnswerMessageBox(scenario::Window box, int result) override {
        windows[box].shown = false;
        actions.push_back("answer " + std::to_string(result));
    }
    bool Screenshot(scenario::Window, const std::string& name, std::string*) override {
        actions.push_back("shot " + name);
        return true;
    }
    bool ProgramEnded(int* code) override {
        if (onEndCheck) {
            onEndCheck(*this);
        }
        *code = exitCode;
        return ended;
    }
    void Sleep(int) override {
        if (onTick) {
            onTick(*this);
        }
    }

private:
    std::vector<scenario::Window> Shown(bool boxes) {
        std::vector<scenario::Window> shown;
        for (auto& [handle, w] : windows) {
            if (w.shown && (w.templateId == 0) == boxes) {
                shown.push_back(handle);
            }
        }
        return shown;
    }
};

bool Play(ScriptedScreen* screen, const std::string& text, std::string* failure) {
    return scenario::Player(screen).Play(Parse(text), failure);
}

TEST(ScenarioPlayer, PressingCancelOnTheWarningEndsTheRun) {
    ScriptedScreen screen;
    screen.windows[1] = {139, "QOR-7101 Firmware Upgrade", "", {{1, "Continue"}, {2, "Cancel"}, {1021, "W"}}};
    screen.onTick = [](ScriptedScreen& s) {
        if (!s.actions.empty()) {
            s.windows[1].shown = false;
            s.ended = true;
        }
    };
    std::string failure;
    EXPECT_TRUE(Play(&screen,
                     "dialog 139 \"QOR-7101 Firmware Upgrade\"\ntext 1021 W\nfocus cancel\nscreenshot\n"
                     "press cancel\ngone\nexit 0\n",
                     &failure))
        << failure;
    EXPECT_EQ(screen.actions, (std::vector<std::string>{"shot 139-qor-7101-firmware-upgrade", "press 139 2"}));
}

TEST(ScenarioPlayer, AnUnexpectedMessageBoxFailsTheWaitAndSaysWhatItSaid) {
    ScriptedScreen screen;
    screen.windows[7] = {0, "QOR Firwmare Upgrade Error", "Upgrade Failed: No Response From QOR", {}};
    std::string failure;
    EXPECT_FALSE(Play(&screen, "timeout 200\ndialog 103\n", &failure));
    EXPECT_EQ(failure,
              "line 2 (dialog 103): unexpected message box \"QOR Firwmare Upgrade Error\": "
              "\"Upgrade Failed: No Response From QOR\"");
}

TEST(ScenarioPlayer, AnExpectedMessageBoxIsAnsweredAndTheExitStatusChecked) {
    ScriptedScreen screen;
    screen.windows[7] = {0, "Error", "Invalid IP Address", {}};
    screen.exitCode = 1;
    screen.onTick = [](ScriptedScreen& s) { s.ended = !s.actions.empty(); };
    std::string failure;
    EXPECT_FALSE(Play(&screen, "messagebox Error \"Invalid IP Address\"\nanswer ok\nexit 0\n", &failure));
    EXPECT_EQ(failure, "line 3 (exit 0): exit status 1");
    EXPECT_EQ(screen.actions, (std::vector<std::string>{"answer 1"}));
}

TEST(ScenarioPlayer, WrongTextsAndTimeoutsSayWhatWasSeen) {
    ScriptedScreen screen;
    screen.windows[1] = {101, "QOR-7101 Firmware Upgrade", "", {{1015, "Version 2.0.12"}}};
    std::string failure;
    EXPECT_FALSE(Play(&screen, "timeout 50\ndialog 101\ntext 1015 \"Version 2.0.13(SEg)\"\n", &failure));
    EXPECT_NE(failure.find("line 3"), std::string::npos) << failure;
    EXPECT_NE(failure.find("saw \"Version 2.0.12\""), std::string::npos) << failure;

    EXPECT_FALSE(Play(&screen, "timeout 50\ndialog 104\n", &failure));
    EXPECT_NE(failure.find("saw dialog 101 \"QOR-7101 Firmware Upgrade\""), std::string::npos) << failure;
}

TEST(ScenarioPlayer, ADialogIsMetOnceSoTheSecondWaitNeedsANewOne) {
    ScriptedScreen screen;
    screen.windows[1] = {104, "Enter Password Information", "", {}};
    std::string failure;
    EXPECT_FALSE(Play(&screen, "timeout 50\ndialog 104\ndialog 104\n", &failure));
    EXPECT_NE(failure.find("line 3"), std::string::npos) << failure;
    screen.onTick = [](ScriptedScreen& s) {
        s.windows[1].shown = false;
        s.windows[2] = {104, "Enter Password Information", "", {}};
    };
    EXPECT_TRUE(Play(&screen, "timeout 50\ndialog 104\ndialog 104\n", &failure)) << failure;
}

TEST(ScenarioPlayer, StaysFailsWhenTheDialogGoesOrTheProgramEnds) {
    ScriptedScreen screen;
    screen.windows[1] = {114, "Waiting For Firmware Download Request From QOR", "", {}};
    int ticks = 0;
    screen.onTick = [&ticks](ScriptedScreen& s) {
        if (++ticks == 3) {
            s.windows[1].shown = false;
        }
    };
    std::string failure;
    EXPECT_FALSE(Play(&screen, "dialog 114\nstays 5000\n", &failure));
    EXPECT_NE(failure.find("went away"), std::string::npos) << failure;
}

TEST(ScenarioPlayer, ShownOrderComparesFirstShowings) {
    ScriptedScreen screen;
    screen.windows[1] = {139, "a", "", {}};
    screen.windows[2] = {101, "b", "", {}};
    screen.windows[3] = {139, "c", "", {}};
    std::string failure;
    EXPECT_TRUE(Play(&screen, "shown-order 139 101\n", &failure)) << failure;
    EXPECT_FALSE(Play(&screen, "shown-order 101 139\n", &failure));
    EXPECT_EQ(failure, "line 1 (shown-order 101 139): dialogs were first shown in the order 139 101");
}

TEST(ScenarioPlayer, ADialogClosedJustBeforeTheExitIsGone) {
    ScriptedScreen screen;
    screen.windows[1] = {101, "QOR-7101 Firmware Upgrade", "", {{2, "Cancel"}}};
    // The dialog closes and the program ends between two looks of the player.
    screen.onEndCheck = [](ScriptedScreen& s) {
        if (!s.actions.empty()) {
            s.windows[1].shown = false;
            s.ended = true;
        }
    };
    std::string failure;
    EXPECT_TRUE(Play(&screen, "dialog 101\npress cancel\ngone\nexit 0\n", &failure)) << failure;
}

TEST(ScenarioPlayer, TheProgramEndingEarlyFailsAWait) {
    ScriptedScreen screen;
    screen.ended = true;
    std::string failure;
    EXPECT_FALSE(Play(&screen, "dialog 139\n", &failure));
    EXPECT_EQ(failure, "line 1 (dialog 139): the program ended with exit status 0");
}

}  // namespace
