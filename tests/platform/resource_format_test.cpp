// The resource formats on the product's own compiled resources: lookup of
// the images, icons and dialogs, the dialog catalogue as the templates carry
// it, and the readers' refusal of damaged bytes.
#include "platform/linux/dialog_template.h"
#include "platform/linux/res_file.h"
#include "platform/linux/resource_blob.h"
#include "platform/win.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const int kAllDialogs[] = {IDD_ADDRESS, IDD_CONFIRM_TARGET, IDD_PASSWORD, IDD_CONNECTING,         IDD_UPLOAD,
                           IDD_SUCCESS, IDD_WAITING,        IDD_WARNING,  IDD_CONFIRM_TRANSITION, IDD_ADDRESS_HANDSET};

struct Bytes {
    const uint8_t* data = nullptr;
    DWORD size = 0;
};

Bytes Resource(int id, LPCSTR type) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (resource == nullptr) {
        return Bytes();
    }
    return Bytes{static_cast<const uint8_t*>(LockResource(LoadResource(module, resource))),
                 SizeofResource(module, resource)};
}

layer::DialogTemplate Template(int id) {
    Bytes bytes = Resource(id, RT_DIALOG);
    layer::DialogTemplate parsed;
    EXPECT_TRUE(layer::ParseDialogTemplate(bytes.data, bytes.size, &parsed)) << "dialog " << id;
    return parsed;
}

// A predefined class is stored as an atom or, by windres for CONTROL
// statements, by its name; both create the same control.
bool ClassIs(const layer::DialogItem& item, uint16_t atom, const char* name) {
    return item.classAtom == atom || (item.classAtom == 0 && strcasecmp(item.className.c_str(), name) == 0);
}

bool InsideBlob(const uint8_t* data, size_t size) {
    return data >= qor_resource_blob && data + size <= qor_resource_blob_end;
}

TEST(ResourceLookup, FirmwareImagesByStringTypeInPlace) {
    Bytes target = Resource(IDR_TARGET_IMAGE, "QOR_FIRMWARE");
    ASSERT_NE(target.data, nullptr);
    EXPECT_EQ(target.size, 737532u);
    EXPECT_EQ(std::memcmp(target.data, "qor7101", 8), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(target.data) + 92, "2.0.13(SEg)");
    EXPECT_TRUE(InsideBlob(target.data, target.size)) << "the bytes are handed out in place";

    Bytes transition = Resource(IDR_TRANSITION_IMAGE, "QOR_FIRMWARE");
    ASSERT_NE(transition.data, nullptr);
    EXPECT_EQ(transition.size, 728976u);
    EXPECT_EQ(std::memcmp(transition.data, "qor7200", 8), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(transition.data) + 92, "2.0.12");

    HMODULE module = GetModuleHandleA(nullptr);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(IDR_TARGET_IMAGE), "qor_firmware"),
              FindResourceA(module, MAKEINTRESOURCEA(IDR_TARGET_IMAGE), "QOR_FIRMWARE"))
        << "type names compare without regard to case";
}

TEST(ResourceLookup, TypeAndNameBothDecide) {
    HMODULE module = GetModuleHandleA(nullptr);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(IDR_TARGET_IMAGE), RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(IDD_WARNING), "QOR_FIRMWARE"), nullptr);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(999), RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(IDR_TARGET_IMAGE), "QOR_FIRMWAR"), nullptr);
    for (int id : kAllDialogs) {
        EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(id), RT_DIALOG), nullptr) << "dialog " << id;
    }
    int notAResource = 0;
    EXPECT_EQ(SizeofResource(module, reinterpret_cast<HRSRC>(&notAResource)), 0u);
    EXPECT_EQ(LoadResource(module, nullptr), nullptr);
}

// GRPICONDIR: reserved, type 1, count; then per image a 14-byte entry whose
// last word is the RT_ICON id and whose DWORD at offset 8 is its size.
TEST(ResourceLookup, IconGroupsNameTheirImages) {
    for (int group : {IDI_ADAPTER, IDI_HANDSET}) {
        Bytes directory = Resource(group, RT_GROUP_ICON);
        ASSERT_GE(directory.size, 6u + 14u) << "icon group " << group;
        EXPECT_EQ(directory.data[2] | directory.data[3] << 8, 1) << "an icon, not a cursor";
        ASSERT_EQ(directory.data[4] | directory.data[5] << 8, 1) << "one image per group";
        const uint8_t* entry = directory.data + 6;
        EXPECT_EQ(entry[0], 32);
        EXPECT_EQ(entry[1], 32);
        uint32_t imageSize;
        std::memcpy(&imageSize, entry + 8, 4);
        int imageId = entry[12] | entry[13] << 8;
        Bytes image = Resource(imageId, RT_ICON);
        ASSERT_NE(image.data, nullptr) << "icon image " << imageId;
        EXPECT_EQ(image.size, imageSize);
    }
}

TEST(DialogCatalogue, EveryTemplateHasTheCommonForm) {
    const DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    for (int id : kAllDialogs) {
        layer::DialogTemplate dialog = Template(id);
        EXPECT_EQ(dialog.style, kStyle) << "dialog " << id;
        EXPECT_EQ(dialog.exStyle, 0u) << "dialog " << id;
        EXPECT_TRUE(dialog.menu.empty() && dialog.menuOrdinal == 0) << "dialog " << id;
        EXPECT_TRUE(dialog.windowClass.empty() && dialog.classOrdinal == 0) << "dialog " << id;
        EXPECT_EQ(dialog.pointSize, 8) << "dialog " << id;
        EXPECT_EQ(dialog.faceName, "MS Sans Serif") << "dialog " << id;
        EXPECT_FALSE(dialog.items.empty()) << "dialog " << id;
        for (const layer::DialogItem& item : dialog.items) {
            EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE), DWORD(WS_CHILD | WS_VISIBLE))
                << "dialog " << id << " item " << item.id;
            EXPECT_EQ(item.exStyle, 0u) << "dialog " << id << " item " << item.id;
        }
    }
}

TEST(DialogCatalogue, AddressDialogItemsInTabOrder) {
    layer::DialogTemplate dialog = Template(IDD_ADDRESS);
    EXPECT_EQ(dialog.title, "Enter QOR IP Address");
    EXPECT_EQ(dialog.x, 200);
    EXPECT_EQ(dialog.y, 200);
    EXPECT_EQ(dialog.cx, 165);
    EXPECT_EQ(dialog.cy, 181);
    std::vector<int> ids;
    for (const layer::DialogItem& item : dialog.items) {
        ids.push_back(item.id);
    }
    EXPECT_EQ(ids, (std::vector<int>{IDOK, IDCANCEL, 1007, 1008, 1015, 1017, -1, -1, 1000}));
    ASSERT_EQ(dialog.items.size(), 9u);

    const layer::DialogItem& ok = dialog.items[0];
    EXPECT_TRUE(ClassIs(ok, layer::kButtonAtom, "Button"));
    EXPECT_EQ(ok.title, "OK");
    EXPECT_EQ(ok.style & BS_TYPEMASK, DWORD(BS_DEFPUSHBUTTON));
    EXPECT_TRUE(ClassIs(dialog.items[2], layer::kEditAtom, "Edit"));
    EXPECT_TRUE(ClassIs(dialog.items[5], layer::kComboBoxAtom, "ComboBox"));
    EXPECT_EQ(dialog.items[5].style & CBS_DROPDOWNLIST, DWORD(CBS_DROPDOWNLIST));
    EXPECT_EQ(dialog.items[6].title, "Your IP Address");

    const layer::DialogItem& icon = dialog.items[7];
    EXPECT_TRUE(ClassIs(icon, layer::kStaticAtom, "Static"));
    EXPECT_EQ(icon.style & 0xF, DWORD(SS_ICON));
    EXPECT_EQ(icon.titleOrdinal, IDI_ADAPTER);

    const layer::DialogItem& address = dialog.items[8];
    EXPECT_TRUE(ClassIs(address, 0, "SysIPAddress32")) << address.className;
    EXPECT_EQ(address.x, 26);
    EXPECT_EQ(address.y, 103);
    EXPECT_EQ(address.cx, 109);
    EXPECT_EQ(address.cy, 15);
    EXPECT_TRUE(address.style & WS_TABSTOP);

    EXPECT_EQ(Template(IDD_ADDRESS_HANDSET).items[7].titleOrdinal, IDI_HANDSET);
}

TEST(DialogCatalogue, ButtonsAndBarsWhereTheDialogsNeedThem) {
    layer::DialogTemplate warning = Template(IDD_WARNING);
    ASSERT_EQ(warning.items.size(), 3u);
    EXPECT_EQ(warning.items[0].style & BS_TYPEMASK, DWORD(BS_PUSHBUTTON)) << "Continue is not the default";
    EXPECT_EQ(warning.items[1].style & BS_TYPEMASK, DWORD(BS_DEFPUSHBUTTON)) << "Cancel is";
    EXPECT_FALSE(warning.items[2].style & WS_TABSTOP);

    layer::DialogTemplate upload = Template(IDD_UPLOAD);
    ASSERT_EQ(upload.items.size(), 3u);
    EXPECT_TRUE(ClassIs(upload.items[1], 0, "msctls_progress32"));
    EXPECT_EQ(upload.items[1].id, IDC_PROGRESS);
    EXPECT_EQ(upload.items[2].title,
              "Please do not unplug the power of your QOR until the Status Light stops blinking");
    EXPECT_EQ(upload.items[2].id, -1);

    layer::DialogTemplate password = Template(IDD_PASSWORD);
    ASSERT_EQ(password.items.size(), 7u);
    EXPECT_TRUE(password.items[3].style & ES_PASSWORD);
}

// The catalogue of every template, written down once from the dialogs'
// description: each control's kind, id, place, size and text.
enum class Kind {
    DefaultButton,
    Button,
    TextBlock,
    TextBlockNoTab,
    ValueLine,
    ValueBox,
    CentredValueBox,
    EntryBox,
    PasswordBox,
    List,
    Label,
    LabelRight,
    LabelCentred,
    Icon,
    ProgressBar,
    AddressControl,
};

struct KindForm {
    uint16_t atom;
    const char* className;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
};

KindForm FormOf(Kind kind) {
    const DWORD textBlock = ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY;
    switch (kind) {
        case Kind::DefaultButton:
            return {layer::kButtonAtom, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP};
        case Kind::Button:
            return {layer::kButtonAtom, "Button", BS_PUSHBUTTON | WS_TABSTOP};
        case Kind::TextBlock:
            return {layer::kEditAtom, "Edit", textBlock | WS_TABSTOP};
        case Kind::TextBlockNoTab:
            return {layer::kEditAtom, "Edit", textBlock};
        case Kind::ValueLine:
            return {layer::kEditAtom, "Edit", ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP};
        case Kind::ValueBox:
            return {layer::kEditAtom, "Edit", ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_TABSTOP};
        case Kind::CentredValueBox:
            return {layer::kEditAtom, "Edit", ES_CENTER | ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_TABSTOP};
        case Kind::EntryBox:
            return {layer::kEditAtom, "Edit", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
        case Kind::PasswordBox:
            return {layer::kEditAtom, "Edit", ES_AUTOHSCROLL | ES_PASSWORD | WS_BORDER | WS_TABSTOP};
        case Kind::List:
            return {layer::kComboBoxAtom, "ComboBox", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP};
        case Kind::Label:
            return {layer::kStaticAtom, "Static", SS_LEFT | WS_GROUP};
        case Kind::LabelRight:
            return {layer::kStaticAtom, "Static", SS_RIGHT | WS_GROUP};
        case Kind::LabelCentred:
            return {layer::kStaticAtom, "Static", SS_CENTER | WS_GROUP};
        case Kind::Icon:
            return {layer::kStaticAtom, "Static", SS_ICON};
        case Kind::ProgressBar:
            return {0, "msctls_progress32", WS_BORDER};
        case Kind::AddressControl:
            return {0, "SysIPAddress32", WS_TABSTOP};
    }
    return {};
}

struct CatalogueDialog {
    int id;
    const char* title;
    int x, y, cx, cy;
};

struct CatalogueControl {
    int dialog;
    int id;
    Kind kind;
    int x, y, cx, cy;
    const char* text;  // or the icon's id for an icon
    int icon;
};

const CatalogueDialog kCatalogueDialogs[] = {
    {IDD_WARNING, "QOR-7200 Firmware Upgrade", 0, 0, 204, 143},
    {IDD_ADDRESS, "Enter QOR IP Address", 200, 200, 165, 181},
    {IDD_ADDRESS_HANDSET, "Dialog", 0, 0, 164, 178},
    {IDD_PASSWORD, "Enter Password Information", 200, 200, 191, 236},
    {IDD_CONNECTING, "Connecting with QOR", 200, 200, 186, 55},
    {IDD_CONFIRM_TARGET, "Confirm Upgrade", 200, 200, 172, 166},
    {IDD_CONFIRM_TRANSITION, "Confirm Upgrade", 0, 0, 186, 198},
    {IDD_WAITING, "Waiting For Firmware Download Request From QOR", 0, 0, 270, 141},
    {IDD_UPLOAD, "Uploading Firmware To QOR", 0, 0, 303, 77},
    {IDD_SUCCESS, "QOR Upgrade Successful!", 0, 0, 171, 126},
};

std::vector<CatalogueControl> AddressControls(int dialog, int icon) {
    return {
        {dialog, 1, Kind::DefaultButton, 26, 126, 50, 14, "OK", 0},
        {dialog, 2, Kind::Button, 86, 126, 50, 14, "Cancel", 0},
        {dialog, 1007, Kind::TextBlock, 13, 6, 139, 16, "", 0},
        {dialog, 1008, Kind::TextBlock, 13, 42, 148, 56, "", 0},
        {dialog, 1015, Kind::ValueLine, 37, 28, 89, 14, "", 0},
        {dialog, 1017, Kind::List, 63, 153, 79, 80, "", 0},
        {dialog, -1, Kind::Label, 9, 156, 52, 8, "Your IP Address", 0},
        {dialog, -1, Kind::Icon, 119, 18, 20, 20, "", icon},
        {dialog, 1000, Kind::AddressControl, 26, 103, 109, 15, "IPAddress1", 0},
    };
}

// 103 and 304 share their controls at other places: x and y for each.
std::vector<CatalogueControl> ConfirmControls(int dialog, const int (&places)[13][2]) {
    const int ids[13] = {1, 2, 1002, 1003, 1004, 1005, 1006, -1, -1, -1, -1, -1, 1007};
    const Kind kinds[13] = {Kind::DefaultButton, Kind::Button,     Kind::ValueBox,   Kind::ValueBox,   Kind::ValueBox,
                            Kind::ValueBox,      Kind::ValueBox,   Kind::LabelRight, Kind::LabelRight, Kind::LabelRight,
                            Kind::LabelRight,    Kind::LabelRight, Kind::TextBlock};
    const int sizes[13][2] = {{50, 14},
                              {50, 14},
                              {67, 14},
                              {67, 14},
                              {67, 14},
                              {67, 14},
                              {67, 14},
                              {72, 8},
                              {72, 8},
                              {72, 8},
                              {72, 8},
                              {72, 8},
                              {142, dialog == 103 ? 37 : 77}};
    const char* texts[13] = {
        "Upgrade",          "Cancel",       "", "", "", "", "", "Serial Number", "MAC Address", "Software Version",
        "Hardware Version", "Product Name", ""};
    std::vector<CatalogueControl> controls;
    for (int i = 0; i < 13; ++i) {
        controls.push_back(
            {dialog, ids[i], kinds[i], places[i][0], places[i][1], sizes[i][0], sizes[i][1], texts[i], 0});
    }
    return controls;
}

std::vector<CatalogueControl> Catalogue() {
    std::vector<CatalogueControl> all = {
        {139, 1, Kind::Button, 41, 116, 50, 14, "Continue", 0},
        {139, 2, Kind::DefaultButton, 109, 116, 50, 14, "Cancel", 0},
        {139, 1021, Kind::TextBlockNoTab, 12, 13, 189, 95, "", 0},
        {104, 1, Kind::DefaultButton, 32, 210, 50, 14, "OK", 0},
        {104, 2, Kind::Button, 104, 210, 50, 14, "Cancel", 0},
        {104, 1003, Kind::EntryBox, 68, 168, 85, 14, "", 0},
        {104, 1005, Kind::PasswordBox, 68, 186, 85, 14, "", 0},
        {104, -1, Kind::LabelRight, 18, 170, 44, 8, "User", 0},
        {104, -1, Kind::LabelRight, 18, 191, 44, 8, "Password", 0},
        {104, 1007, Kind::TextBlock, 15, 9, 165, 152, "", 0},
        {105, 2, Kind::Button, 65, 34, 50, 14, "Cancel", 0},
        {105, 1010, Kind::ProgressBar, 22, 10, 141, 14, "Progress1", 0},
        {114, 2, Kind::Button, 108, 115, 50, 14, "Cancel", 0},
        {114, 1010, Kind::ProgressBar, 38, 95, 191, 14, "Progress1", 0},
        {114, 1022, Kind::Label, 15, 9, 244, 79, "", 0},
        {114, 1023, Kind::Label, 15, 135, 244, 18, "", 0},
        {110, 2, Kind::Button, 126, 52, 50, 14, "Cancel", 0},
        {110, 1010, Kind::ProgressBar, 31, 36, 242, 8, "Progress1", 0},
        {110, -1, Kind::LabelCentred, 86, 12, 137, 22,
         "Please do not unplug the power of your QOR until the Status Light stops blinking", 0},
        {111, 1, Kind::DefaultButton, 59, 94, 50, 14, "OK", 0},
        {111, 1004, Kind::CentredValueBox, 15, 69, 136, 14, "", 0},
        {111, 1007, Kind::TextBlock, 29, 9, 111, 33, "", 0},
        {111, -1, Kind::Label, 82, 50, 53, 8, "qor.example", 0},
    };
    for (const std::vector<CatalogueControl>& more :
         {AddressControls(IDD_ADDRESS, IDI_ADAPTER), AddressControls(IDD_ADDRESS_HANDSET, IDI_HANDSET),
          ConfirmControls(103, {{33, 143},
                                {87, 143},
                                {82, 49},
                                {82, 66},
                                {82, 84},
                                {82, 100},
                                {82, 118},
                                {4, 52},
                                {4, 70},
                                {4, 87},
                                {4, 103},
                                {4, 121},
                                {12, 6}}),
          ConfirmControls(304, {{42, 179},
                                {96, 179},
                                {92, 86},
                                {92, 103},
                                {92, 121},
                                {92, 137},
                                {92, 154},
                                {14, 89},
                                {14, 106},
                                {14, 124},
                                {14, 140},
                                {14, 158},
                                {23, 7}})}) {
        all.insert(all.end(), more.begin(), more.end());
    }
    return all;
}

TEST(DialogCatalogue, EveryControlOfEveryTemplateIsAsTheCatalogueHasIt) {
    std::vector<CatalogueControl> catalogue = Catalogue();
    for (const CatalogueDialog& expected : kCatalogueDialogs) {
        layer::DialogTemplate dialog = Template(expected.id);
        EXPECT_EQ(dialog.title, expected.title) << "dialog " << expected.id;
        EXPECT_EQ((std::vector<int>{dialog.x, dialog.y, dialog.cx, dialog.cy}),
                  (std::vector<int>{expected.x, expected.y, expected.cx, expected.cy}))
            << "dialog " << expected.id;
        std::vector<CatalogueControl> controls;
        for (const CatalogueControl& control : catalogue) {
            if (control.dialog == expected.id) {
                controls.push_back(control);
            }
        }
        ASSERT_EQ(dialog.items.size(), controls.size()) << "dialog " << expected.id;
        for (size_t i = 0; i < controls.size(); ++i) {
            const CatalogueControl& want = controls[i];
            const layer::DialogItem& item = dialog.items[i];
            KindForm form = FormOf(want.kind);
            std::string where = "dialog " + std::to_string(expected.id) + " item " + std::to_string(i);
            EXPECT_EQ(item.id, want.id) << where;
            EXPECT_TRUE(ClassIs(item, form.atom, form.className)) << where << ": " << item.className;
            EXPECT_EQ(item.style, form.style | WS_CHILD | WS_VISIBLE) << where;
            EXPECT_EQ((std::vector<int>{item.x, item.y, item.cx, item.cy}),
                      (std::vector<int>{want.x, want.y, want.cx, want.cy}))
                << where;
            EXPECT_EQ(item.title, want.text) << where;
            EXPECT_EQ(item.titleOrdinal, want.icon) << where;
        }
    }
}

TEST(ResourceReaders, RefuseEveryCutOfTheRealBytes) {
    size_t size = static_cast<size_t>(qor_resource_blob_end - qor_resource_blob);
    std::vector<layer::ResourceEntry> entries;
    ASSERT_TRUE(layer::ParseResFile(qor_resource_blob, size, &entries));
    EXPECT_GE(entries.size(), 10u + 2u + 2u + 2u);

    // A cut inside the first real entry's header or data.
    for (size_t cut : {size_t(33), size_t(40), size_t(60)}) {
        std::vector<uint8_t> prefix(qor_resource_blob, qor_resource_blob + cut);
        EXPECT_FALSE(layer::ParseResFile(prefix.data(), prefix.size(), &entries)) << "cut at " << cut;
    }

    Bytes warning = Resource(IDD_WARNING, RT_DIALOG);
    layer::DialogTemplate parsed;
    for (DWORD cut = 0; cut < warning.size; ++cut) {
        std::vector<uint8_t> prefix(warning.data, warning.data + cut);  // a copy, so ASan sees the end
        EXPECT_FALSE(layer::ParseDialogTemplate(prefix.data(), prefix.size(), &parsed)) << "cut at " << cut;
    }
}

TEST(ResourceReaders, ExtendedTemplateIsRefused) {
    const uint8_t extended[] = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    layer::DialogTemplate parsed;
    EXPECT_FALSE(layer::ParseDialogTemplate(extended, sizeof extended, &parsed));
}

void PutWord(std::vector<uint8_t>* out, uint16_t value) {
    out->push_back(value & 0xFF);
    out->push_back(value >> 8);
}

void PutDword(std::vector<uint8_t>* out, uint32_t value) {
    PutWord(out, value & 0xFFFF);
    PutWord(out, value >> 16);
}

// One entry as the format lays it out: the header, the data, DWORD padding.
void PutEntry(std::vector<uint8_t>* out, const char* type, uint16_t name, const std::string& data) {
    std::vector<uint8_t> names;
    for (const char* c = type; *c; ++c) {
        PutWord(&names, static_cast<uint8_t>(*c));
    }
    PutWord(&names, 0);
    PutWord(&names, 0xFFFF);
    PutWord(&names, name);
    while ((8 + names.size()) % 4 != 0) {
        names.push_back(0);
    }
    PutDword(out, static_cast<uint32_t>(data.size()));
    PutDword(out, static_cast<uint32_t>(8 + names.size() + 16));
    out->insert(out->end(), names.begin(), names.end());
    PutDword(out, 0);      // DataVersion
    PutWord(out, 0x1030);  // MemoryFlags
    PutWord(out, 0x0409);  // LanguageId
    PutDword(out, 0);      // Version
    PutDword(out, 0);      // Characteristics
    out->insert(out->end(), data.begin(), data.end());
    while (out->size() % 4 != 0) {
        out->push_back(0);
    }
}

TEST(ResourceReaders, HandMadeFileWithStringTypesAndPadding) {
    std::vector<uint8_t> file;
    PutDword(&file, 0);
    PutDword(&file, 32);
    PutWord(&file, 0xFFFF);
    PutWord(&file, 0);
    PutWord(&file, 0xFFFF);
    PutWord(&file, 0);
    file.resize(32, 0);
    PutEntry(&file, "ABC", 7, "xyz");  // a three-letter type: the name needs padding
    PutEntry(&file, "DATA", 9, "12345");
    std::vector<layer::ResourceEntry> entries;
    ASSERT_TRUE(layer::ParseResFile(file.data(), file.size(), &entries));
    ASSERT_EQ(entries.size(), 2u) << "the empty first entry is not a resource";
    EXPECT_EQ(entries[0].type.text, "ABC");
    EXPECT_EQ(entries[0].name.ordinal, 7);
    EXPECT_EQ(entries[0].language, 0x0409);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entries[0].data), entries[0].size), "xyz");
    EXPECT_EQ(entries[1].type.text, "DATA");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entries[1].data), entries[1].size), "12345");
    EXPECT_TRUE(layer::NameMatches(entries[1].type, "data"));
    EXPECT_TRUE(layer::NameMatches(entries[1].name, MAKEINTRESOURCEA(9)));
    EXPECT_FALSE(layer::NameMatches(entries[1].name, MAKEINTRESOURCEA(7)));
    EXPECT_FALSE(layer::NameMatches(entries[1].type, MAKEINTRESOURCEA(9)));

    file.resize(file.size() - 4);  // the last entry's data now runs past the end
    EXPECT_FALSE(layer::ParseResFile(file.data(), file.size(), &entries));
}

}  // namespace
