// Plays a scenario against a screen: the same steps, waits and verdicts for
// both back ends. A back end only says what is on the screen and acts on it.
#pragma once

#include "tools/scenario/scenario.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace scenario {

using Window = std::uintptr_t;  // a dialog or message box of the program; 0 is none

struct ProgressState {
    long minimum = 0;
    long maximum = 0;
    long position = 0;
};

// What a person sees and does, as a back end offers it. Reads of a window
// that is gone give empty values.
class Screen {
public:
    virtual ~Screen() = default;

    virtual std::vector<Window> ShownDialogs() = 0;       // visible dialogs, message boxes excluded
    virtual std::vector<Window> ShownMessageBoxes() = 0;  // message boxes waiting for an answer
    virtual std::vector<int> DialogsSeen() = 0;           // template id of every dialog shown so far, in order
    virtual bool IsShown(Window window) = 0;
    virtual int TemplateId(Window dialog) = 0;
    virtual std::string Title(Window window) = 0;
    virtual std::string MessageBoxText(Window box) = 0;
    virtual bool HasItem(Window dialog, int id) = 0;
    virtual std::string ItemText(Window dialog, int id) = 0;
    virtual ProgressState ProgressOf(Window dialog, int id) = 0;
    virtual std::vector<std::string> ListEntries(Window dialog, int id) = 0;
    virtual int ListSelection(Window dialog, int id) = 0;  // -1 when nothing is selected
    virtual int FocusedItem(Window dialog) = 0;            // 0 when no control of the dialog has it

    virtual void TypeText(Window dialog, int id, const std::string& text) = 0;
    virtual void PickEntry(Window dialog, int id, int index) = 0;
    virtual void PressButton(Window dialog, int id) = 0;
    virtual void PressKey(Window dialog, bool enter) = 0;  // Enter, or else Esc
    virtual void PressCloseBox(Window dialog) = 0;
    virtual void AnswerMessageBox(Window box, int result) = 0;
    // Saves a picture of the window under `name` (no extension); false with a reason on failure.
    virtual bool Screenshot(Window window, const std::string& name, std::string* error) = 0;

    virtual bool ProgramEnded(int* exitCode) = 0;
    virtual void Sleep(int milliseconds) = 0;
};

class Player {
public:
    explicit Player(Screen* screen) : screen_(screen) {}

    // Plays every step. Returns false with the first failing step in `failure`.
    bool Play(const Scenario& scenario, std::string* failure);

    // A short file name for a window: "139-qor-7101-firmware-upgrade".
    static std::string ScreenshotName(int templateId, const std::string& title);

private:
    bool RunStep(const Step& step, std::string* why);
    bool WaitForDialog(const Step& step, std::string* why);
    bool WaitForMessageBox(const Step& step, std::string* why);
    bool WaitForExit(const Step& step, std::string* why);
    bool CheckStays(const Step& step, std::string* why);
    bool CheckShownOrder(const Step& step, std::string* why);
    bool Act(const Step& step, std::string* why);
    bool AnswerMessageBox(const Step& step, std::string* why);
    // Polls `holds` until it is true or the step's time runs out; `why` then
    // says what was seen last. Fails at once when the program ends or an
    // unexpected message box appears.
    bool Eventually(const Step& step, const std::function<bool(std::string* seen)>& holds, std::string* why);
    bool NeedCurrent(bool messageBox, std::string* why) const;
    bool ProgramEndedEarly(std::string* why);
    bool UnexpectedMessageBox(std::string* why);
    bool IsNew(Window window) const;

    Screen* screen_;
    Window current_ = 0;
    bool currentIsMessageBox_ = false;
    Window dialogUnderBox_ = 0;  // the current dialog when a message box came
    std::vector<Window> consumed_;
};

}  // namespace scenario
