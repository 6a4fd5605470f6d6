// The native back end: the program's own WinMain runs on the main thread on
// the headless dialog manager, and a second thread plays the scenario on it
// through the test driver interface.
//
//   native_runner [--device-checks FILE] [--trace FILE] [--completion-rate N] SCENARIO
//
// --completion-rate: the updating wait and the re-query's spacing pass N
// times quick (the whole runs that need not wait 30 s).
// --trace: where the program's debug output (its trace points) goes at the end.
// Exit status 0: the scenario passed; 1: it failed (the reason is printed);
// 2: bad arguments or an unreadable scenario.
#include "platform/linux/headless.h"
#include "platform/win.h"
#include "src/tftp/completion.h"
#include "tools/scenario/player.h"
#include "tools/scenario/scenario.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

using scenario::ProgressState;
using scenario::Window;

constexpr int kVerdictWaitMs = 30000;

HWND AsHwnd(Window window) {
    return reinterpret_cast<HWND>(window);
}
Window AsWindow(HWND hwnd) {
    return reinterpret_cast<Window>(hwnd);
}

// How the run ends: the program's exit (ExitProcess or WinMain returning)
// and the player's verdict, whichever comes first waits for the other.
class RunOutcome {
public:
    void ProgramEnded(int code) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ended_) {
            ended_ = true;
            exitCode_ = code;
        }
        changed_.notify_all();
    }
    bool HasProgramEnded(int* code) {
        std::lock_guard<std::mutex> lock(mutex_);
        *code = exitCode_;
        return ended_;
    }
    void PlayerDone(bool passed, const std::string& failure) {
        std::lock_guard<std::mutex> lock(mutex_);
        played_ = true;
        passed_ = passed;
        failure_ = failure;
        changed_.notify_all();
    }
    void KeepTraceIn(const std::string& path) { tracePath_ = path; }

    // Waits for the player's verdict, prints it and ends the process with it.
    [[noreturn]] void Finish(const std::string& name) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::milliseconds(kVerdictWaitMs), [this] { return played_; })) {
            passed_ = false;
            failure_ =
                "the scenario did not finish within " + std::to_string(kVerdictWaitMs) + " ms of the program's end";
        }
        if (passed_) {
            std::printf("PASS %s\n", name.c_str());
        } else {
            std::printf("FAIL %s: %s\n", name.c_str(), failure_.c_str());
        }
        std::fflush(stdout);
        bool traced = tracePath_.empty() || WriteTrace();
        std::_Exit(passed_ && traced ? 0 : 1);
    }

private:
    bool WriteTrace() {
        std::string trace = headless::TakeDebugOutput();
        FILE* file = std::fopen(tracePath_.c_str(), "wb");
        bool written = file != nullptr && std::fwrite(trace.data(), 1, trace.size(), file) == trace.size();
        if (file == nullptr || std::fclose(file) != 0 || !written) {
            std::printf("cannot write the trace to %s\n", tracePath_.c_str());
            return false;
        }
        return true;
    }

    std::string tracePath_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
    int exitCode_ = 0;
    bool played_ = false;
    bool passed_ = false;
    std::string failure_;
};

class HeadlessScreen : public scenario::Screen {
public:
    explicit HeadlessScreen(RunOutcome* outcome) : outcome_(outcome) {}

    std::vector<Window> ShownDialogs() override {
        std::vector<Window> shown;
        for (HWND dialog : headless::ShownDialogs()) {
            if (headless::TemplateId(dialog) > 0) {
                shown.push_back(AsWindow(dialog));
            }
        }
        return shown;
    }
    std::vector<Window> ShownMessageBoxes() override {
        std::vector<Window> boxes;
        for (const headless::Event& event : headless::Events()) {
            if (event.kind == headless::EventKind::MessageBoxShown && headless::IsShown(event.window)) {
                boxes.push_back(AsWindow(event.window));
            }
        }
        return boxes;
    }
    std::vector<int> DialogsSeen() override {
        std::vector<int> ids;
        for (const headless::Event& event : headless::Events()) {
            if (event.kind == headless::EventKind::DialogShown && event.templateId > 0) {
                ids.push_back(event.templateId);
            }
        }
        return ids;
    }
    bool IsShown(Window window) override { return headless::IsShown(AsHwnd(window)); }
    int TemplateId(Window dialog) override { return headless::TemplateId(AsHwnd(dialog)); }
    std::string Title(Window window) override { return headless::Title(AsHwnd(window)); }
    std::string MessageBoxText(Window box) override {
        for (const headless::Event& event : headless::Events()) {
            if (event.kind == headless::EventKind::MessageBoxShown && event.window == AsHwnd(box)) {
                return event.text;
            }
        }
        return "";
    }
    bool HasItem(Window dialog, int id) override { return headless::HasItem(AsHwnd(dialog), id); }
    std::string ItemText(Window dialog, int id) override { return headless::ItemText(AsHwnd(dialog), id); }
    ProgressState ProgressOf(Window dialog, int id) override {
        headless::Progress p = headless::ProgressOf(AsHwnd(dialog), id);
        return ProgressState{p.minimum, p.maximum, p.position};
    }
    std::vector<std::string> ListEntries(Window dialog, int id) override {
        return headless::ListEntries(AsHwnd(dialog), id);
    }
    int ListSelection(Window dialog, int id) override {
        int index = headless::ListSelection(AsHwnd(dialog), id);
        return index == CB_ERR ? -1 : index;
    }
    int FocusedItem(Window dialog) override { return headless::FocusedItem(AsHwnd(dialog)); }

    void TypeText(Window dialog, int id, const std::string& text) override {
        headless::TypeText(AsHwnd(dialog), id, text);
    }
    void PickEntry(Window dialog, int id, int index) override { headless::PickEntry(AsHwnd(dialog), id, index); }
    void PressButton(Window dialog, int id) override { headless::PressButton(AsHwnd(dialog), id); }
    void PressKey(Window dialog, bool enter) override {
        headless::PressKey(AsHwnd(dialog), enter ? VK_RETURN : VK_ESCAPE);
    }
    void PressCloseBox(Window dialog) override { headless::PressCloseBox(AsHwnd(dialog)); }
    void AnswerMessageBox(Window box, int result) override { headless::AnswerMessageBox(AsHwnd(box), result); }
    // No screen here: the Wine back end takes the pictures.
    bool Screenshot(Window, const std::string&, std::string*) override { return true; }

    bool ProgramEnded(int* exitCode) override { return outcome_->HasProgramEnded(exitCode); }
    void Sleep(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

private:
    RunOutcome* outcome_;
};

RunOutcome g_outcome;

bool ParseOptions(int argc, char** argv, std::string* scenarioPath, std::string* checksPath, std::string* tracePath,
                  int* completionRate) {
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
        if (std::strcmp(argv[i], "--device-checks") == 0) {
            *checksPath = argv[i + 1];
        } else if (std::strcmp(argv[i], "--trace") == 0) {
            *tracePath = argv[i + 1];
        } else if (std::strcmp(argv[i], "--completion-rate") == 0) {
            *completionRate = std::atoi(argv[i + 1]);
        } else {
            return false;
        }
    }
    if (argc - i != 1) {
        return false;
    }
    *scenarioPath = argv[i];
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenarioPath;
    std::string checksPath;
    std::string tracePath;
    int completionRate = 1;
    if (!ParseOptions(argc, argv, &scenarioPath, &checksPath, &tracePath, &completionRate)) {
        std::fprintf(stderr,
                     "usage: native_runner [--device-checks FILE] [--trace FILE] [--completion-rate N] SCENARIO\n");
        return 2;
    }
    g_outcome.KeepTraceIn(tracePath);
    static scenario::Scenario played;
    std::string error;
    if (!scenario::LoadScenario(scenarioPath, &played, &error) ||
        (!checksPath.empty() && !scenario::WriteDeviceChecks(played, checksPath, &error))) {
        std::fprintf(stderr, "native_runner: %s\n", error.c_str());
        return 2;
    }
    std::printf("scenario %s: %s\n", played.name.c_str(), scenarioPath.c_str());
    std::fflush(stdout);

    headless::SetExitHook([](int code) {
        g_outcome.ProgramEnded(code);
        g_outcome.Finish(played.name);
    });
    std::thread player([] {
        HeadlessScreen screen(&g_outcome);
        std::string failure;
        bool passed = scenario::Player(&screen).Play(played, &failure);
        int code = 0;
        if (!g_outcome.HasProgramEnded(&code)) {
            std::printf("  the program still runs after the last step: stopped\n");
            g_outcome.PlayerDone(passed, failure);
            g_outcome.Finish(played.name);
        }
        g_outcome.PlayerDone(passed, failure);
    });
    player.detach();

    SetCompletionRate(static_cast<DWORD>(completionRate));
    char noCommandLine[] = "";
    int code = WinMain(GetModuleHandleA(nullptr), nullptr, noCommandLine, SW_SHOWNORMAL);
    g_outcome.ProgramEnded(code);
    g_outcome.Finish(played.name);
}
