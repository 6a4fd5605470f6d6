// Reading scenario files: one step per line, see README.md.
#include "tools/scenario/scenario.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace scenario {

namespace {

constexpr int kDefaultTimeoutMs = 10000;

bool ParseNumber(const std::string& word, long* value) {
    if (word.empty()) {
        return false;
    }
    char* end = nullptr;
    long parsed = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || !(std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '-')) {
        return false;
    }
    *value = parsed;
    return true;
}

bool ParseInt(const std::string& word, int* value) {
    long parsed = 0;
    if (!ParseNumber(word, &parsed) || parsed < -2147483647L || parsed > 2147483647L) {
        return false;
    }
    *value = static_cast<int>(parsed);
    return true;
}

bool ParseBound(const std::string& word, Bound* bound) {
    if (word == "*") {
        bound->kind = Bound::Kind::Any;
        return true;
    }
    std::string number = word;
    bound->kind = Bound::Kind::Equal;
    if (word.compare(0, 2, ">=") == 0) {
        bound->kind = Bound::Kind::AtLeast;
        number = word.substr(2);
    } else if (word.compare(0, 2, "<=") == 0) {
        bound->kind = Bound::Kind::AtMost;
        number = word.substr(2);
    }
    return ParseNumber(number, &bound->value);
}

bool ParseAnswer(const std::string& word, int* result) {
    static const struct {
        const char* name;
        int result;
    } kAnswers[] = {{"ok", 1}, {"cancel", 2}, {"abort", 3}, {"retry", 4}, {"ignore", 5}, {"yes", 6}, {"no", 7}};
    for (const auto& answer : kAnswers) {
        if (word == answer.name) {
            *result = answer.result;
            return true;
        }
    }
    return ParseInt(word, result);
}

// Reads "[has] TEXT" from words[first...]: an exact or a partial text.
bool ParseExpectedText(const std::vector<std::string>& words, size_t first, Step* step) {
    if (words.size() == first + 2 && words[first] == "has") {
        step->partial = true;
        step->text = words[first + 1];
        step->hasText = true;
        return true;
    }
    if (words.size() == first + 1) {
        step->text = words[first];
        step->hasText = true;
        return true;
    }
    return false;
}

struct Parser {
    Scenario* scenario;
    int timeoutMs = kDefaultTimeoutMs;
    std::string error;

    bool Fail(int line, const std::string& why) {
        error = "line " + std::to_string(line) + ": " + why;
        return false;
    }

    bool ParseDirective(const std::vector<std::string>& w, int line, bool* handled) {
        *handled = true;
        if (w[0] == "scenario") {
            if (w.size() != 2) {
                return Fail(line, "scenario takes one name");
            }
            scenario->name = w[1];
            return true;
        }
        if (w[0] == "timeout") {
            if (w.size() != 2 || !ParseInt(w[1], &timeoutMs) || timeoutMs <= 0) {
                return Fail(line, "timeout takes a number of milliseconds above 0");
            }
            return true;
        }
        if (w[0] == "device-check") {
            if (w.size() < 3) {
                return Fail(line, "device-check takes a path and a test");
            }
            scenario->deviceChecks.emplace_back(w.begin() + 1, w.end());
            return true;
        }
        if (w[0] == "build") {
            scenario->handsetBuild = true;
            return (w.size() == 2 && w[1] == "handset") || Fail(line, "build takes the word handset");
        }
        if (w[0] == "world") {
            scenario->needsWorld = true;
            return w.size() == 1 || Fail(line, "world takes nothing");
        }
        if (w[0] == "pc-addresses") {
            scenario->needsWorld = true;
            return w.size() >= 2 || Fail(line, "pc-addresses takes the PC's addresses");
        }
        if (w[0] == "occupy-udp") {
            int port = 0;
            if (w.size() != 2 || !ParseInt(w[1], &port) || port <= 0 || port > 65535) {
                return Fail(line, "occupy-udp takes a port number");
            }
            scenario->needsWorld = true;
            scenario->occupiedUdpPorts.push_back(port);
            return true;
        }
        if (w[0] == "device") {
            scenario->needsWorld = true;
            scenario->needsDevice = true;
            scenario->deviceOptions.assign(w.begin() + 1, w.end());
            return true;
        }
        *handled = false;
        return true;
    }

    bool ParseStep(const std::vector<std::string>& w, int line, Step* s) {
        const std::string& verb = w[0];
        size_t n = w.size();
        if (verb == "dialog") {
            s->kind = StepKind::Dialog;
            if (n < 2 || n > 3 || (w[1] != "*" && !ParseInt(w[1], &s->id))) {
                return Fail(line, "dialog takes a template id (or *) and an optional title");
            }
            if (n == 3) {
                s->text = w[2];
                s->hasText = true;
            }
            if (s->id == 0 && !s->hasText) {
                return Fail(line, "dialog * needs a title");
            }
            return true;
        }
        if (verb == "messagebox") {
            s->kind = StepKind::MessageBox;
            if (n < 2 || n > 3) {
                return Fail(line, "messagebox takes a caption and an optional text");
            }
            s->text = w[1];
            s->hasText = true;
            if (n == 3) {
                s->secondText = w[2];
                s->hasSecondText = true;
            }
            return true;
        }
        if (verb == "title") {
            s->kind = StepKind::Title;
            return ParseExpectedText(w, 1, s) || Fail(line, "title takes a text, or has and a text");
        }
        if (verb == "text") {
            s->kind = StepKind::Text;
            return (n >= 3 && ParseControlId(w[1], &s->id) && ParseExpectedText(w, 2, s)) ||
                   Fail(line, "text takes a control id and a text, or has and a text");
        }
        if (verb == "progress") {
            s->kind = StepKind::Progress;
            bool ok = (n == 4 || n == 5) && ParseControlId(w[1], &s->id) && ParseBound(w[2], &s->minimum) &&
                      ParseBound(w[3], &s->maximum) && (n == 4 || ParseBound(w[4], &s->position));
            return ok || Fail(line, "progress takes a control id, minimum, maximum and an optional position");
        }
        if (verb == "list") {
            s->kind = StepKind::List;
            if (n < 2 || !ParseControlId(w[1], &s->id)) {
                return Fail(line, "list takes a control id and its entries");
            }
            s->words.assign(w.begin() + 2, w.end());
            return true;
        }
        if (verb == "selected" || verb == "pick") {
            s->kind = verb == "pick" ? StepKind::Pick : StepKind::Selected;
            if (n != 3 || !ParseControlId(w[1], &s->id)) {
                return Fail(line, verb + " takes a control id and an index or entry");
            }
            s->number = -1;
            if (!ParseInt(w[2], &s->number)) {
                s->text = w[2];
                s->hasText = true;
            }
            return true;
        }
        if (verb == "focus" || verb == "press") {
            s->kind = verb == "focus" ? StepKind::Focus : StepKind::Press;
            return (n == 2 && ParseControlId(w[1], &s->id)) || Fail(line, verb + " takes a control id");
        }
        if (verb == "type") {
            s->kind = StepKind::Type;
            if (n != 3 || !ParseControlId(w[1], &s->id)) {
                return Fail(line, "type takes a control id and a text");
            }
            s->text = w[2];
            s->hasText = true;
            return true;
        }
        if (verb == "key") {
            s->kind = StepKind::Key;
            if (n != 2 || (w[1] != "enter" && w[1] != "esc")) {
                return Fail(line, "key takes enter or esc");
            }
            s->text = w[1];
            return true;
        }
        if (verb == "close" || verb == "gone") {
            s->kind = verb == "close" ? StepKind::Close : StepKind::Gone;
            return n == 1 || Fail(line, verb + " takes nothing");
        }
        if (verb == "answer") {
            s->kind = StepKind::Answer;
            s->number = 1;
            return n == 1 || (n == 2 && ParseAnswer(w[1], &s->number)) ||
                   Fail(line, "answer takes ok, cancel, yes, no or a number");
        }
        if (verb == "stays" || verb == "wait") {
            s->kind = verb == "stays" ? StepKind::Stays : StepKind::Wait;
            return (n == 2 && ParseInt(w[1], &s->number) && s->number >= 0) ||
                   Fail(line, verb + " takes a number of milliseconds");
        }
        if (verb == "screenshot") {
            s->kind = StepKind::Screenshot;
            if (n > 2) {
                return Fail(line, "screenshot takes an optional name");
            }
            if (n == 2) {
                s->text = w[1];
                s->hasText = true;
            }
            return true;
        }
        if (verb == "shown-order") {
            s->kind = StepKind::ShownOrder;
            for (size_t i = 1; i < n; ++i) {
                int id = 0;
                if (!ParseInt(w[i], &id)) {
                    return Fail(line, "shown-order takes template ids");
                }
                s->ids.push_back(id);
            }
            return !s->ids.empty() || Fail(line, "shown-order takes template ids");
        }
        if (verb == "shown-count") {
            s->kind = StepKind::ShownCount;
            return (n == 3 && ParseInt(w[1], &s->id) && ParseInt(w[2], &s->number) && s->number >= 0) ||
                   Fail(line, "shown-count takes a template id and a count");
        }
        if (verb == "exit") {
            s->kind = StepKind::Exit;
            return (n == 2 && ParseInt(w[1], &s->number)) || Fail(line, "exit takes the expected exit status");
        }
        return Fail(line, "unknown step \"" + verb + "\"");
    }

    bool ParseLine(const std::string& text, int line) {
        std::vector<std::string> words;
        std::string why;
        if (!SplitWords(text, &words, &why)) {
            return Fail(line, why);
        }
        if (words.empty()) {
            return true;
        }
        bool handled = false;
        if (!ParseDirective(words, line, &handled)) {
            return false;
        }
        if (handled) {
            return true;
        }
        Step step;
        step.line = line;
        step.timeoutMs = timeoutMs;
        step.source = text;
        if (!ParseStep(words, line, &step)) {
            return false;
        }
        scenario->steps.push_back(step);
        return true;
    }
};

}  // namespace

bool Bound::Holds(long actual) const {
    switch (kind) {
        case Kind::Any:
            return true;
        case Kind::Equal:
            return actual == value;
        case Kind::AtLeast:
            return actual >= value;
        case Kind::AtMost:
            return actual <= value;
    }
    return false;
}

std::string Bound::Describe() const {
    switch (kind) {
        case Kind::Any:
            return "*";
        case Kind::Equal:
            return std::to_string(value);
        case Kind::AtLeast:
            return ">=" + std::to_string(value);
        case Kind::AtMost:
            return "<=" + std::to_string(value);
    }
    return "?";
}

bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
    words->clear();
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') {
            break;
        }
        std::string word;
        if (c != '"') {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
                word += line[i++];
            }
            words->push_back(word);
            continue;
        }
        ++i;
        bool closed = false;
        while (i < line.size()) {
            char q = line[i++];
            if (q == '"') {
                closed = true;
                break;
            }
            if (q != '\\') {
                word += q;
                continue;
            }
            if (i == line.size()) {
                break;
            }
            char e = line[i++];
            switch (e) {
                case 'r':
                    word += '\r';
                    break;
                case 'n':
                    word += '\n';
                    break;
                case 't':
                    word += '\t';
                    break;
                case '"':
                case '\\':
                    word += e;
                    break;
                default:
                    *error = std::string("unknown escape \\") + e;
                    return false;
            }
        }
        if (!closed) {
            *error = "unterminated quote";
            return false;
        }
        words->push_back(word);
    }
    return true;
}

std::string Quote(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        switch (c) {
            case '\r':
                quoted += "\\r";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\t':
                quoted += "\\t";
                break;
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            default:
                quoted += c;
        }
    }
    return quoted + "\"";
}

bool ParseControlId(const std::string& word, int* id) {
    if (word == "ok") {
        *id = 1;
        return true;
    }
    if (word == "cancel") {
        *id = 2;
        return true;
    }
    return ParseInt(word, id);
}

namespace {

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

}  // namespace

bool WriteDeviceChecks(const Scenario& scenario, const std::string& path, std::string* error) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    for (const auto& check : scenario.deviceChecks) {
        std::string line = "[";
        for (size_t i = 0; i < check.size(); ++i) {
            line += (i ? ", " : "") + JsonString(check[i]);
        }
        file << line << "]\n";
    }
    if (!file) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ParseScenario(const std::string& source, Scenario* scenario, std::string* error) {
    *scenario = Scenario();
    Parser parser{scenario};
    std::istringstream lines(source);
    std::string text;
    int line = 0;
    while (std::getline(lines, text)) {
        ++line;
        if (!parser.ParseLine(text, line)) {
            *error = parser.error;
            return false;
        }
    }
    if (scenario->steps.empty()) {
        *error = "the scenario has no steps";
        return false;
    }
    return true;
}

bool LoadScenario(const std::string& path, Scenario* scenario, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read " + path;
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    if (!ParseScenario(content.str(), scenario, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

}  // namespace scenario
