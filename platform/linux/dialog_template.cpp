// Reader of the plain dialog template and its items.
#include "platform/linux/dialog_template.h"

#include "platform/linux/byte_reader.h"

namespace layer {

namespace {

constexpr uint32_t kSetFontStyle = 0x40;  // DS_SETFONT

// DLGTEMPLATEEX starts with dlgVer 1 and signature 0xFFFF where the plain
// form has its style.
bool IsExtendedTemplate(const uint8_t* bytes, size_t size) {
    return size >= 4 && bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF && bytes[3] == 0xFF;
}

std::string PredefinedClassName(uint16_t atom) {
    switch (atom) {
        case kButtonAtom:
            return "Button";
        case kEditAtom:
            return "Edit";
        case kStaticAtom:
            return "Static";
        case kListBoxAtom:
            return "ListBox";
        case kScrollBarAtom:
            return "ScrollBar";
        case kComboBoxAtom:
            return "ComboBox";
        default:
            return "";
    }
}

void ReadPlace(ByteReader* reader, int16_t* x, int16_t* y, int16_t* cx, int16_t* cy) {
    *x = static_cast<int16_t>(reader->Word());
    *y = static_cast<int16_t>(reader->Word());
    *cx = static_cast<int16_t>(reader->Word());
    *cy = static_cast<int16_t>(reader->Word());
}

DialogItem ReadItem(ByteReader* reader) {
    DialogItem item;
    reader->AlignToDword();
    item.style = reader->Dword();
    item.exStyle = reader->Dword();
    ReadPlace(reader, &item.x, &item.y, &item.cx, &item.cy);
    uint16_t id = reader->Word();
    item.id = id == 0xFFFF ? -1 : id;
    reader->NameOrOrdinal(&item.classAtom, &item.className);
    if (item.classAtom != 0) {
        item.className = PredefinedClassName(item.classAtom);
    }
    reader->NameOrOrdinal(&item.titleOrdinal, &item.title);
    uint16_t extraBytes = reader->Word();
    reader->Skip(extraBytes);
    return item;
}

}  // namespace

bool ParseDialogTemplate(const uint8_t* bytes, size_t size, DialogTemplate* out) {
    *out = DialogTemplate();
    if (IsExtendedTemplate(bytes, size)) {
        return false;
    }
    ByteReader reader(bytes, size);
    out->style = reader.Dword();
    out->exStyle = reader.Dword();
    uint16_t itemCount = reader.Word();
    ReadPlace(&reader, &out->x, &out->y, &out->cx, &out->cy);
    reader.NameOrOrdinal(&out->menuOrdinal, &out->menu);
    reader.NameOrOrdinal(&out->classOrdinal, &out->windowClass);
    out->title = reader.WideString();
    if (out->style & kSetFontStyle) {
        out->pointSize = reader.Word();
        out->faceName = reader.WideString();
    }
    for (uint16_t i = 0; i < itemCount && !reader.Failed(); ++i) {
        out->items.push_back(ReadItem(&reader));
    }
    return !reader.Failed();
}

}  // namespace layer
