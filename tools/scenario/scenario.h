// The scenario format: one run of the wizard as the user meets it, read from
// a text file. Shared by the native runner and the Wine UI driver, so both
// back ends play exactly the same steps. The format is in README.md.
#pragma once

#include <string>
#include <vector>

namespace scenario {

enum class StepKind {
    Dialog,      // wait for a new dialog (template id and/or title); it becomes the current window
    MessageBox,  // wait for a message box (caption and text); it becomes the current window
    Title,       // the current window's title equals / contains a text
    Text,        // a control's text equals / contains a text
    Progress,    // a progress bar's range and position
    List,        // a list's entries, in order
    Selected,    // a list's selected index
    Focus,       // the control that has the focus
    Type,        // replace a control's text
    Pick,        // select a list entry, by index or by text
    Press,       // click a button
    Key,         // Enter or Esc to the focused control
    Close,       // the close box of the caption
    Answer,      // answer the current message box
    Gone,        // the current window goes away
    Stays,       // the current window stays up, and nothing new appears, for a while
    Wait,        // just let time pass
    Screenshot,  // save a picture of the current window (Wine back end)
    ShownOrder,  // the first showing of each dialog, in this order, and no other dialog
    ShownCount,  // how often a dialog has been shown so far
    Exit,        // the program ends with this exit status
};

// A bound on a number: any value, exactly n, at least n or at most n.
struct Bound {
    enum class Kind { Any, Equal, AtLeast, AtMost } kind = Kind::Any;
    long value = 0;
    bool Holds(long actual) const;
    std::string Describe() const;
};

struct Step {
    StepKind kind = StepKind::Wait;
    int line = 0;            // line in the scenario file, for messages
    int timeoutMs = 0;       // how long this step may wait
    int id = 0;              // template id (0: any) or control id
    bool partial = false;    // "has": contains rather than equals
    std::string text;        // title, control text, caption, entry, key or screenshot name
    std::string secondText;  // message box text
    bool hasText = false;    // the optional text was given
    bool hasSecondText = false;
    int number = 0;  // exit status, list index, milliseconds, answer
    Bound minimum, maximum, position;
    std::vector<std::string> words;  // list entries; device check words
    std::vector<int> ids;            // shown-order template ids
    std::string source;              // the line as written
};

struct Scenario {
    std::string name;
    bool needsWorld = false;                 // runs inside the test world (its addresses and hosts file)
    bool needsDevice = false;                // and with the simulated device there
    bool handsetBuild = false;               // plays the build whose Target image is the handset's
    std::vector<std::string> deviceOptions;  // passed to the simulated device as they stand
    std::vector<int> occupiedUdpPorts;       // held on the PC's address before the program starts
    std::vector<Step> steps;
    // What the simulated device must have seen, checked against its state
    // file once the run is over (tools/scenario/device_checks.py).
    std::vector<std::vector<std::string>> deviceChecks;
};

// Parses a whole scenario. On failure returns false and says which line and why.
bool ParseScenario(const std::string& source, Scenario* scenario, std::string* error);
bool LoadScenario(const std::string& path, Scenario* scenario, std::string* error);

// Splits one line into words: blanks separate, double quotes group, and inside
// quotes \r \n \t \" \\ are escapes. '#' outside quotes starts a comment.
bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error);

// The text shown in messages: quoted, with control characters escaped again.
std::string Quote(const std::string& text);

// Writes the device checks, one JSON array of words per line, for device_checks.py.
bool WriteDeviceChecks(const Scenario& scenario, const std::string& path, std::string* error);

// Button names in the format: "ok" is 1, "cancel" is 2, digits are themselves.
bool ParseControlId(const std::string& word, int* id);

}  // namespace scenario
