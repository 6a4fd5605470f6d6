// The scenario player: waits, checks and acts step by step, and says which
// step failed and what it saw instead.
#include "tools/scenario/player.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace scenario {

namespace {

constexpr int kPollMs = 5;

long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count());
}

bool TextMatches(const Step& step, const std::string& actual) {
    return step.partial ? actual.find(step.text) != std::string::npos : actual == step.text;
}

std::string JoinQuoted(const std::vector<std::string>& words) {
    std::string joined;
    for (const auto& word : words) {
        joined += (joined.empty() ? "" : " ") + Quote(word);
    }
    return joined;
}

}  // namespace

std::string Player::ScreenshotName(int templateId, const std::string& title) {
    std::string name = templateId > 0 ? std::to_string(templateId) : "msgbox";
    std::string slug;
    for (char c : title) {
        bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum) {
            slug += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        } else if (!slug.empty() && slug.back() != '-') {
            slug += '-';
        }
    }
    while (!slug.empty() && slug.back() == '-') {
        slug.pop_back();
    }
    return slug.empty() ? name : name + "-" + slug.substr(0, 48);
}

bool Player::Play(const Scenario& scenario, std::string* failure) {
    for (const Step& step : scenario.steps) {
        std::string why;
        if (!RunStep(step, &why)) {
            *failure = "line " + std::to_string(step.line) + " (" + step.source + "): " + why;
            return false;
        }
        std::printf("  ok  line %d: %s\n", step.line, step.source.c_str());
        std::fflush(stdout);
    }
    return true;
}

bool Player::IsNew(Window window) const {
    return std::find(consumed_.begin(), consumed_.end(), window) == consumed_.end();
}

bool Player::ProgramEndedEarly(std::string* why) {
    int code = 0;
    if (!screen_->ProgramEnded(&code)) {
        return false;
    }
    *why = "the program ended with exit status " + std::to_string(code);
    return true;
}

bool Player::UnexpectedMessageBox(std::string* why) {
    for (Window box : screen_->ShownMessageBoxes()) {
        if (IsNew(box)) {
            *why = "unexpected message box " + Quote(screen_->Title(box)) + ": " + Quote(screen_->MessageBoxText(box));
            return true;
        }
    }
    return false;
}

bool Player::Eventually(const Step& step, const std::function<bool(std::string* seen)>& holds, std::string* why) {
    auto start = std::chrono::steady_clock::now();
    std::string seen;
    for (;;) {
        if (holds(&seen)) {
            return true;
        }
        if (UnexpectedMessageBox(why)) {
            if (!seen.empty()) {
                *why += " (last seen: " + seen + ")";
            }
            return false;
        }
        if (ProgramEndedEarly(why)) {
            // The program may reach the awaited state just before it ends (a
            // dialog closes, then the exit): look once more before failing.
            if (holds(&seen)) {
                return true;
            }
            if (!seen.empty()) {
                *why += " (last seen: " + seen + ")";
            }
            return false;
        }
        if (ElapsedMs(start) > step.timeoutMs) {
            *why = "not within " + std::to_string(step.timeoutMs) + " ms" + (seen.empty() ? "" : "; saw " + seen);
            return false;
        }
        screen_->Sleep(kPollMs);
    }
}

bool Player::NeedCurrent(bool messageBox, std::string* why) const {
    if (current_ == 0) {
        *why = "no dialog or message box has been waited for yet";
        return false;
    }
    if (messageBox != currentIsMessageBox_) {
        *why = messageBox ? "the current window is a dialog, not a message box" : "the current window is a message box";
        return false;
    }
    return true;
}

bool Player::WaitForDialog(const Step& step, std::string* why) {
    auto found = [&](std::string* seen) {
        seen->clear();
        for (Window dialog : screen_->ShownDialogs()) {
            if (!IsNew(dialog)) {
                continue;
            }
            int id = screen_->TemplateId(dialog);
            std::string title = screen_->Title(dialog);
            *seen += (seen->empty() ? "" : ", ") + std::string("dialog ") + std::to_string(id) + " " + Quote(title);
            if ((step.id == 0 || step.id == id) && (!step.hasText || title == step.text)) {
                current_ = dialog;
                currentIsMessageBox_ = false;
                consumed_.push_back(dialog);
                return true;
            }
        }
        return false;
    };
    return Eventually(step, found, why);
}

bool Player::WaitForMessageBox(const Step& step, std::string* why) {
    auto start = std::chrono::steady_clock::now();
    std::string seen;
    for (;;) {
        for (Window box : screen_->ShownMessageBoxes()) {
            if (!IsNew(box)) {
                continue;
            }
            std::string caption = screen_->Title(box);
            std::string text = screen_->MessageBoxText(box);
            if (caption == step.text && (!step.hasSecondText || text == step.secondText)) {
                if (!currentIsMessageBox_) {
                    dialogUnderBox_ = current_;
                }
                current_ = box;
                currentIsMessageBox_ = true;
                consumed_.push_back(box);
                return true;
            }
            seen = "message box " + Quote(caption) + ": " + Quote(text);
        }
        if (ProgramEndedEarly(why)) {
            return false;
        }
        if (ElapsedMs(start) > step.timeoutMs) {
            *why = "no such message box within " + std::to_string(step.timeoutMs) + " ms" +
                   (seen.empty() ? "" : "; saw " + seen);
            return false;
        }
        screen_->Sleep(kPollMs);
    }
}

bool Player::WaitForExit(const Step& step, std::string* why) {
    auto start = std::chrono::steady_clock::now();
    std::vector<Window> before = screen_->ShownDialogs();
    for (;;) {
        int code = 0;
        if (screen_->ProgramEnded(&code)) {
            if (code != step.number) {
                *why = "exit status " + std::to_string(code);
                return false;
            }
            return true;
        }
        if (UnexpectedMessageBox(why)) {
            return false;
        }
        for (Window dialog : screen_->ShownDialogs()) {
            if (IsNew(dialog) && std::find(before.begin(), before.end(), dialog) == before.end()) {
                *why = "dialog " + std::to_string(screen_->TemplateId(dialog)) + " " + Quote(screen_->Title(dialog)) +
                       " appeared instead";
                return false;
            }
        }
        if (ElapsedMs(start) > step.timeoutMs) {
            *why = "the program still runs after " + std::to_string(step.timeoutMs) + " ms";
            return false;
        }
        screen_->Sleep(kPollMs);
    }
}

bool Player::CheckStays(const Step& step, std::string* why) {
    if (current_ == 0) {
        *why = "no dialog or message box has been waited for yet";
        return false;
    }
    std::vector<Window> before = screen_->ShownDialogs();
    auto start = std::chrono::steady_clock::now();
    while (ElapsedMs(start) < step.number) {
        if (!screen_->IsShown(current_)) {
            *why = "it went away after " + std::to_string(ElapsedMs(start)) + " ms";
            return false;
        }
        if (UnexpectedMessageBox(why) || ProgramEndedEarly(why)) {
            return false;
        }
        for (Window dialog : screen_->ShownDialogs()) {
            if (std::find(before.begin(), before.end(), dialog) == before.end()) {
                *why = "dialog " + std::to_string(screen_->TemplateId(dialog)) + " " + Quote(screen_->Title(dialog)) +
                       " appeared";
                return false;
            }
        }
        screen_->Sleep(kPollMs);
    }
    return true;
}

bool Player::CheckShownOrder(const Step& step, std::string* why) {
    std::vector<int> firsts;
    for (int id : screen_->DialogsSeen()) {
        if (std::find(firsts.begin(), firsts.end(), id) == firsts.end()) {
            firsts.push_back(id);
        }
    }
    if (firsts == step.ids) {
        return true;
    }
    *why = "dialogs were first shown in the order";
    for (int id : firsts) {
        *why += " " + std::to_string(id);
    }
    return false;
}

bool Player::Act(const Step& step, std::string* why) {
    if (!NeedCurrent(false, why)) {
        return false;
    }
    if (!screen_->IsShown(current_)) {
        *why = "the dialog is no longer shown";
        return false;
    }
    bool needsItem = step.kind == StepKind::Type || step.kind == StepKind::Pick || step.kind == StepKind::Press;
    if (needsItem && !screen_->HasItem(current_, step.id)) {
        *why = "the dialog has no control " + std::to_string(step.id);
        return false;
    }
    switch (step.kind) {
        case StepKind::Type:
            screen_->TypeText(current_, step.id, step.text);
            return true;
        case StepKind::Pick: {
            int index = step.number;
            if (step.hasText) {
                auto entries = screen_->ListEntries(current_, step.id);
                auto at = std::find(entries.begin(), entries.end(), step.text);
                if (at == entries.end()) {
                    *why = "no entry " + Quote(step.text) + "; entries: " + JoinQuoted(entries);
                    return false;
                }
                index = static_cast<int>(at - entries.begin());
            }
            screen_->PickEntry(current_, step.id, index);
            return true;
        }
        case StepKind::Press:
            screen_->PressButton(current_, step.id);
            return true;
        case StepKind::Key:
            screen_->PressKey(current_, step.text == "enter");
            return true;
        case StepKind::Close:
            screen_->PressCloseBox(current_);
            return true;
        default:
            *why = "not an action";
            return false;
    }
}

// The box must go; the dialog it came over is the current window again.
bool Player::AnswerMessageBox(const Step& step, std::string* why) {
    Window box = current_;
    screen_->AnswerMessageBox(box, step.number);
    auto start = std::chrono::steady_clock::now();
    while (screen_->IsShown(box)) {
        if (ElapsedMs(start) > step.timeoutMs) {
            *why = "the message box is still shown after " + std::to_string(step.timeoutMs) + " ms";
            return false;
        }
        screen_->Sleep(kPollMs);
    }
    current_ = dialogUnderBox_;
    currentIsMessageBox_ = false;
    return true;
}

bool Player::RunStep(const Step& step, std::string* why) {
    switch (step.kind) {
        case StepKind::Dialog:
            return WaitForDialog(step, why);
        case StepKind::MessageBox:
            return WaitForMessageBox(step, why);
        case StepKind::Title:
            return NeedCurrent(currentIsMessageBox_, why) && Eventually(
                                                                 step,
                                                                 [&](std::string* seen) {
                                                                     *seen = "title " + Quote(screen_->Title(current_));
                                                                     return TextMatches(step, screen_->Title(current_));
                                                                 },
                                                                 why);
        case StepKind::Text:
            return NeedCurrent(false, why) &&
                   Eventually(
                       step,
                       [&](std::string* seen) {
                           std::string text = screen_->ItemText(current_, step.id);
                           *seen = screen_->HasItem(current_, step.id) ? Quote(text)
                                                                       : "no control " + std::to_string(step.id);
                           return screen_->HasItem(current_, step.id) && TextMatches(step, text);
                       },
                       why);
        case StepKind::Progress:
            return NeedCurrent(false, why) &&
                   Eventually(
                       step,
                       [&](std::string* seen) {
                           ProgressState p = screen_->ProgressOf(current_, step.id);
                           *seen = "range " + std::to_string(p.minimum) + ".." + std::to_string(p.maximum) +
                                   " position " + std::to_string(p.position);
                           return step.minimum.Holds(p.minimum) && step.maximum.Holds(p.maximum) &&
                                  step.position.Holds(p.position);
                       },
                       why);
        case StepKind::List:
            return NeedCurrent(false, why) && Eventually(
                                                  step,
                                                  [&](std::string* seen) {
                                                      auto entries = screen_->ListEntries(current_, step.id);
                                                      *seen = "entries " + JoinQuoted(entries);
                                                      return entries == step.words;
                                                  },
                                                  why);
        case StepKind::Selected:
            return NeedCurrent(false, why) &&
                   Eventually(
                       step,
                       [&](std::string* seen) {
                           int index = screen_->ListSelection(current_, step.id);
                           auto entries = screen_->ListEntries(current_, step.id);
                           bool valid = index >= 0 && index < int(entries.size());
                           *seen = "selection " + std::to_string(index) + (valid ? " " + Quote(entries[index]) : "");
                           return step.hasText ? valid && entries[index] == step.text : index == step.number;
                       },
                       why);
        case StepKind::Focus:
            return NeedCurrent(false, why) && Eventually(
                                                  step,
                                                  [&](std::string* seen) {
                                                      int focused = screen_->FocusedItem(current_);
                                                      *seen = "focus on " + std::to_string(focused);
                                                      return focused == step.id;
                                                  },
                                                  why);
        case StepKind::Type:
        case StepKind::Pick:
        case StepKind::Press:
        case StepKind::Key:
        case StepKind::Close:
            return Act(step, why);
        case StepKind::Answer:
            if (!NeedCurrent(true, why)) {
                return false;
            }
            return AnswerMessageBox(step, why);
        case StepKind::Gone:
            return NeedCurrent(currentIsMessageBox_, why) && Eventually(
                                                                 step,
                                                                 [&](std::string* seen) {
                                                                     *seen = "still shown";
                                                                     return !screen_->IsShown(current_);
                                                                 },
                                                                 why);
        case StepKind::Stays:
            return CheckStays(step, why);
        case StepKind::Wait:
            screen_->Sleep(step.number);
            return true;
        case StepKind::Screenshot: {
            if (current_ == 0 || !screen_->IsShown(current_)) {
                *why = "nothing is shown to take a picture of";
                return false;
            }
            int id = currentIsMessageBox_ ? 0 : screen_->TemplateId(current_);
            // Message boxes share a caption; their text tells them apart.
            std::string label = currentIsMessageBox_ ? screen_->MessageBoxText(current_) : screen_->Title(current_);
            std::string name = step.hasText ? step.text : ScreenshotName(id, label);
            return screen_->Screenshot(current_, name, why);
        }
        case StepKind::ShownOrder:
            return CheckShownOrder(step, why);
        case StepKind::ShownCount: {
            auto seen = screen_->DialogsSeen();
            long count = std::count(seen.begin(), seen.end(), step.id);
            if (count != step.number) {
                *why = "dialog " + std::to_string(step.id) + " was shown " + std::to_string(count) + " times";
                return false;
            }
            return true;
        }
        case StepKind::Exit:
            return WaitForExit(step, why);
    }
    *why = "unknown step";
    return false;
}

}  // namespace scenario
