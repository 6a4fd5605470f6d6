// The built-in controls of the headless dialog manager.
#include "platform/linux/controls.h"

#include "platform/linux/geometry.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace layer {

namespace {

WindowKind KindOfClass(const std::string& name) {
    struct Known {
        const char* name;
        WindowKind kind;
    };
    static const Known known[] = {
        {"Button", WindowKind::Button},
        {"Edit", WindowKind::Edit},
        {"Static", WindowKind::Static},
        {"ComboBox", WindowKind::ComboBox},
        {"msctls_progress32", WindowKind::Progress},
        {"SysIPAddress32", WindowKind::IpAddress},
    };
    for (const Known& entry : known) {
        if (strcasecmp(name.c_str(), entry.name) == 0) {
            return entry.kind;
        }
    }
    return WindowKind::Other;
}

// The four fields of an address control's text; a field that is not a
// number counts as blank. Returns the number of fields that are not blank.
int ReadAddressFields(const std::string& text, DWORD* packed) {
    unsigned fields[4] = {0, 0, 0, 0};
    int filled = 0;
    size_t start = 0;
    for (int field = 0; field < 4 && start <= text.size(); ++field) {
        size_t end = std::min(text.find('.', start), text.size());
        std::string part = text.substr(start, end - start);
        if (!part.empty() && part.size() <= 3 && part.find_first_not_of("0123456789") == std::string::npos) {
            fields[field] = std::min(static_cast<unsigned>(std::stoul(part)), 255u);
            ++filled;
        }
        start = end + 1;
    }
    *packed = fields[0] << 24 | fields[1] << 16 | fields[2] << 8 | fields[3];
    return filled;
}

std::string FormatAddress(DWORD packed) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", packed >> 24, (packed >> 16) & 0xFF, (packed >> 8) & 0xFF,
                  packed & 0xFF);
    return text;
}

const char* TextArgument(LPARAM lParam) {
    const char* text = reinterpret_cast<const char*>(lParam);
    return text == nullptr ? "" : text;
}

bool HandleTextMessage(Window* control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
        case WM_SETTEXT:
            if (control->kind == WindowKind::ComboBox) {
                *result = CB_ERR;  // a drop-down list has no edit field to take text
                return true;
            }
            control->text = TextArgument(lParam);
            *result = TRUE;
            return true;
        case WM_GETTEXT:
            *result = CopyText(TextOf(*control), reinterpret_cast<char*>(lParam), static_cast<int>(wParam));
            return true;
        case WM_GETTEXTLENGTH:
            *result = static_cast<LRESULT>(TextOf(*control).size());
            return true;
        default:
            return false;
    }
}

bool HandleListMessage(Window* combo, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    int count = static_cast<int>(combo->entries.size());
    int index = static_cast<int>(wParam);
    switch (message) {
        case CB_ADDSTRING:
            combo->entries.push_back(TextArgument(lParam));
            *result = count;
            return true;
        case CB_SETCURSEL:  // past the end: CB_ERR, the selection kept (as Windows does, not as documented)
            if (index < count) {
                combo->selection = index >= 0 ? index : CB_ERR;
            }
            *result = index >= 0 && index < count ? index : CB_ERR;
            return true;
        case CB_GETCURSEL:
            *result = combo->selection;
            return true;
        case CB_GETCOUNT:
            *result = count;
            return true;
        case CB_GETLBTEXT:
            if (index < 0 || index >= count || lParam == 0) {
                *result = CB_ERR;
                return true;
            }
            std::memcpy(reinterpret_cast<char*>(lParam), combo->entries[index].c_str(),
                        combo->entries[index].size() + 1);
            *result = static_cast<LRESULT>(combo->entries[index].size());
            return true;
        default:
            return false;
    }
}

bool HandleProgressMessage(Window* bar, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
        case PBM_SETRANGE:
            *result = MAKELONG(bar->minimum, bar->maximum);
            bar->minimum = LOWORD(lParam);
            bar->maximum = HIWORD(lParam);
            bar->position = std::clamp(bar->position, bar->minimum, std::max(bar->minimum, bar->maximum));
            return true;
        case PBM_SETPOS:
            *result = bar->position;
            bar->position = std::clamp(static_cast<int>(wParam), bar->minimum, std::max(bar->minimum, bar->maximum));
            return true;
        case PBM_GETPOS:
            *result = bar->position;
            return true;
        case PBM_GETRANGE:
            if (lParam != 0) {
                auto* range = reinterpret_cast<PBRANGE*>(lParam);
                range->iLow = bar->minimum;
                range->iHigh = bar->maximum;
            }
            *result = wParam != 0 ? bar->minimum : bar->maximum;
            return true;
        default:
            return false;
    }
}

bool HandleAddressMessage(Window* control, UINT message, LPARAM lParam, LRESULT* result) {
    switch (message) {
        case IPM_SETADDRESS:
            control->text = FormatAddress(static_cast<DWORD>(lParam));
            *result = TRUE;
            return true;
        case IPM_GETADDRESS: {
            DWORD packed = 0;
            *result = ReadAddressFields(control->text, &packed);
            if (lParam != 0) {
                *reinterpret_cast<DWORD*>(lParam) = packed;
            }
            return true;
        }
        case IPM_CLEARADDRESS:
            control->text.clear();
            *result = 0;
            return true;
        default:
            return false;
    }
}

}  // namespace

std::unique_ptr<Window> MakeControl(const DialogItem& item, HWND dialog, std::thread::id owner) {
    auto control = std::make_unique<Window>();
    control->kind = KindOfClass(item.className);
    control->owner = owner;
    control->parent = dialog;
    control->id = item.id;
    control->style = item.style;
    control->exStyle = item.exStyle;
    control->rect = DialogUnitsToPixels(item.x, item.y, item.cx, item.cy);
    control->visible = (item.style & WS_VISIBLE) != 0;
    // The address control starts blank whatever the template says, as on Windows.
    if (control->kind != WindowKind::IpAddress) {
        control->text = item.title;
    }
    return control;
}

bool IsPushButton(const Window& window) {
    DWORD type = window.style & BS_TYPEMASK;
    return window.kind == WindowKind::Button && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

std::string TextOf(const Window& window) {
    if (window.kind == WindowKind::IpAddress && window.text.empty()) {
        return "0.0.0.0";
    }
    if (window.kind == WindowKind::ComboBox) {
        bool selected = window.selection >= 0 && window.selection < static_cast<int>(window.entries.size());
        return selected ? window.entries[window.selection] : std::string();
    }
    return window.text;
}

int CopyText(const std::string& text, char* buffer, int maxCount) {
    if (buffer == nullptr || maxCount <= 0) {
        return 0;
    }
    size_t count = std::min(text.size(), static_cast<size_t>(maxCount - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

bool HandleControlMessage(Window* control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (HandleTextMessage(control, message, wParam, lParam, result)) {
        return true;
    }
    switch (control->kind) {
        case WindowKind::ComboBox:
            return HandleListMessage(control, message, wParam, lParam, result);
        case WindowKind::Progress:
            return HandleProgressMessage(control, message, wParam, lParam, result);
        case WindowKind::IpAddress:
            return HandleAddressMessage(control, message, lParam, result);
        default:
            return false;
    }
}

}  // namespace layer
