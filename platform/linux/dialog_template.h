// Reader of the plain dialog template (DLGTEMPLATE and its DLGITEMTEMPLATE
// items) as the resource compiler stores it. Pure: bytes in, a record out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace layer {

// The predefined control classes, stored as 0xFFFF and an atom.
enum ClassAtom : uint16_t {
    kButtonAtom = 0x0080,
    kEditAtom = 0x0081,
    kStaticAtom = 0x0082,
    kListBoxAtom = 0x0083,
    kScrollBarAtom = 0x0084,
    kComboBoxAtom = 0x0085,
};

struct DialogItem {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0;
    int16_t y = 0;
    int16_t cx = 0;
    int16_t cy = 0;
    int id = 0;                 // 0xFFFF in the template reads as -1
    uint16_t classAtom = 0;     // 0 when the class is named
    std::string className;      // the name, or the predefined class's name
    uint16_t titleOrdinal = 0;  // a resource id (the icon of SS_ICON), 0 for a text
    std::string title;
};

struct DialogTemplate {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0;
    int16_t y = 0;
    int16_t cx = 0;
    int16_t cy = 0;
    uint16_t menuOrdinal = 0;
    std::string menu;
    uint16_t classOrdinal = 0;
    std::string windowClass;  // empty: the system dialog class
    std::string title;
    uint16_t pointSize = 0;  // with DS_SETFONT only
    std::string faceName;
    std::vector<DialogItem> items;  // in template order, which is the tab order
};

// False when the bytes are cut short or hold the extended form (DLGTEMPLATEEX).
bool ParseDialogTemplate(const uint8_t* bytes, size_t size, DialogTemplate* out);

}  // namespace layer
