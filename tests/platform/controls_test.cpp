// The built-in controls and the single-window calls: list, progress bar,
// address control, edit texts with their limits, ids and handles, places.
#include "test_resource_ids.h"

#include "platform/linux/headless.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

class Controls : public ::testing::Test {
protected:
    void Open(int templateId) {
        dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr, QuietProc, 0);
        ASSERT_NE(dialog_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(dialog_)) {
            DestroyWindow(dialog_);
        }
    }
    LRESULT Send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendDlgItemMessageA(dialog_, id, message, wParam, lParam);
    }
    std::string Text(int id, int maxCount = 128) {
        char buffer[128];
        GetDlgItemTextA(dialog_, id, buffer, maxCount);
        return buffer;
    }

    HWND dialog_ = nullptr;
};

LPARAM Str(const char* text) {
    return reinterpret_cast<LPARAM>(text);
}

TEST_F(Controls, ComboListKeepsEntriesInTheOrderAdded) {
    Open(IDD_TEST_CONTROLS);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCURSEL), CB_ERR);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_ADDSTRING, 0, Str("192.0.2.9")), 0);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_ADDSTRING, 0, Str("10.0.0.1")), 1);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_ADDSTRING, 0, Str("127.0.0.1")), 2);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCOUNT), 3);
    EXPECT_EQ(headless::ListEntries(dialog_, IDC_TEST_LIST),
              (std::vector<std::string>{"192.0.2.9", "10.0.0.1", "127.0.0.1"}))
        << "not sorted";

    EXPECT_EQ(Send(IDC_TEST_LIST, CB_SETCURSEL, 1), 1);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCURSEL), 1);
    EXPECT_EQ(Text(IDC_TEST_LIST), "10.0.0.1") << "a list's text is its selected entry";
    char entry[32];
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(entry)), 9);
    EXPECT_STREQ(entry, "127.0.0.1");
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETLBTEXT, 3, reinterpret_cast<LPARAM>(entry)), CB_ERR);

    headless::PickEntry(dialog_, IDC_TEST_LIST, 2);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCURSEL), 2);
    EXPECT_EQ(headless::ListSelection(dialog_, IDC_TEST_LIST), 2);
    EXPECT_EQ(headless::FocusedItem(dialog_), IDC_TEST_LIST) << "picking focuses the list";

    EXPECT_EQ(Send(IDC_TEST_LIST, CB_SETCURSEL, 5), CB_ERR);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCURSEL), CB_ERR) << "an index past the end clears the selection";
}

TEST_F(Controls, ProgressBarRangePositionAndClamping) {
    Open(IDD_TEST_MODELESS);
    headless::Progress fresh = headless::ProgressOf(dialog_, IDC_TEST_PROGRESS);
    EXPECT_EQ(fresh.minimum, 0);
    EXPECT_EQ(fresh.maximum, 100);
    EXPECT_EQ(fresh.position, 0);

    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 1000)), MAKELONG(0, 100)) << "the previous range";
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_SETPOS, 250), 0) << "the previous position";
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_SETPOS, 300), 250);
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_GETPOS), 300);
    PBRANGE range = {-1, -1};
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range)), 0);
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_GETRANGE, FALSE), 1000);
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 1000);

    Send(IDC_TEST_PROGRESS, PBM_SETPOS, 5000);
    EXPECT_EQ(headless::ProgressOf(dialog_, IDC_TEST_PROGRESS).position, 1000) << "held inside the range";
    Send(IDC_TEST_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 65535));
    EXPECT_EQ(headless::ProgressOf(dialog_, IDC_TEST_PROGRESS).maximum, 65535) << "the maximum is unsigned";
    Send(IDC_TEST_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 937));
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_GETPOS), 937) << "a narrower range pulls the position in";
}

TEST_F(Controls, AddressControlReadsLikeWindowsAndKeepsTypedText) {
    Open(IDD_TEST_CONTROLS);
    EXPECT_EQ(Text(IDC_TEST_ADDRESS), "0.0.0.0") << "blank, whatever the template's text";
    DWORD address = 0xFFFFFFFF;
    EXPECT_EQ(Send(IDC_TEST_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)), 0);
    EXPECT_EQ(address, 0u);

    Send(IDC_TEST_ADDRESS, IPM_SETADDRESS, 0, static_cast<LPARAM>(0xC0000207));
    EXPECT_EQ(Text(IDC_TEST_ADDRESS), "192.0.2.7");
    EXPECT_EQ(Send(IDC_TEST_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)), 4);
    EXPECT_EQ(address, 0xC0000207u);
    Send(IDC_TEST_ADDRESS, IPM_CLEARADDRESS);
    EXPECT_EQ(Text(IDC_TEST_ADDRESS), "0.0.0.0");

    headless::TypeText(dialog_, IDC_TEST_ADDRESS, "10.1.2");
    EXPECT_EQ(Text(IDC_TEST_ADDRESS), "10.1.2") << "typed text stays as typed";
    EXPECT_EQ(headless::ItemText(dialog_, IDC_TEST_ADDRESS), "10.1.2");
    EXPECT_EQ(headless::FocusedItem(dialog_), IDC_TEST_ADDRESS);
    EXPECT_EQ(Send(IDC_TEST_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)), 3);
    EXPECT_EQ(address, 0x0A010200u);
    headless::TypeText(dialog_, IDC_TEST_ADDRESS, "300.x.1.1");
    EXPECT_EQ(Text(IDC_TEST_ADDRESS), "300.x.1.1");
    EXPECT_EQ(Send(IDC_TEST_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)), 3);
    EXPECT_EQ(address, 0xFF000101u) << "a field over 255 reads as 255, a letter as blank";
}

TEST_F(Controls, TextsAreCutToTheGivenMaximum) {
    Open(IDD_TEST_ENTRY);
    ASSERT_TRUE(SetDlgItemTextA(dialog_, IDC_TEST_PASSWORD, "secret"));
    EXPECT_EQ(Text(IDC_TEST_PASSWORD), "secret") << "a password box holds the real characters";
    EXPECT_EQ(Send(IDC_TEST_PASSWORD, WM_GETTEXTLENGTH), 6);

    char buffer[8];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(GetDlgItemTextA(dialog_, IDC_TEST_PASSWORD, buffer, 5), 4u);
    EXPECT_STREQ(buffer, "secr");
    EXPECT_EQ(buffer[5], 'Z') << "nothing written past the maximum";
    EXPECT_EQ(GetDlgItemTextA(dialog_, IDC_TEST_PASSWORD, buffer, 1), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetDlgItemTextA(dialog_, IDC_TEST_PASSWORD, buffer, 7), 6u);
    EXPECT_STREQ(buffer, "secret");

    EXPECT_EQ(SendMessageA(GetDlgItem(dialog_, IDC_TEST_USER), WM_SETTEXT, 0, Str("admin")), TRUE);
    EXPECT_EQ(headless::ItemText(dialog_, IDC_TEST_USER), "admin");
    char viaMessage[4];
    EXPECT_EQ(Send(IDC_TEST_USER, WM_GETTEXT, sizeof viaMessage, reinterpret_cast<LPARAM>(viaMessage)), 3);
    EXPECT_STREQ(viaMessage, "adm");

    ASSERT_TRUE(SetWindowTextA(dialog_, "New Title"));
    EXPECT_EQ(headless::Title(dialog_), "New Title");
}

TEST_F(Controls, IdsFocusAndDestroyedHandles) {
    Open(IDD_TEST_ENTRY);
    HWND label = GetDlgItem(dialog_, -1);
    ASSERT_NE(label, nullptr) << "0xFFFF in the template is id -1";
    EXPECT_EQ(Text(-1), "User");
    EXPECT_EQ(GetDlgItem(dialog_, 0xFFFF), label);
    HWND go = GetDlgItem(dialog_, IDC_TEST_GO);
    EXPECT_EQ(GetDlgItem(dialog_, 4242), nullptr);
    EXPECT_EQ(headless::TemplateId(dialog_), IDD_TEST_ENTRY);
    EXPECT_TRUE(headless::HasItem(dialog_, IDC_TEST_GO));

    EXPECT_EQ(SetFocus(go), GetDlgItem(dialog_, IDC_TEST_USER)) << "the first tab stop had it";
    EXPECT_EQ(GetFocus(), go);
    EXPECT_EQ(SetFocus(reinterpret_cast<HWND>(0x7777)), nullptr);
    EXPECT_EQ(GetFocus(), go) << "a bad handle leaves the focus";

    ASSERT_TRUE(DestroyWindow(dialog_));
    EXPECT_FALSE(IsWindow(dialog_));
    EXPECT_FALSE(IsWindow(go));
    EXPECT_EQ(GetFocus(), nullptr) << "the focus went with its window";
    EXPECT_EQ(GetDlgItem(dialog_, IDC_TEST_GO), nullptr);
    EXPECT_FALSE(SetWindowTextA(go, "x"));
    EXPECT_FALSE(SetDlgItemTextA(dialog_, IDC_TEST_GO, "x"));
    char buffer[8] = "junk";
    EXPECT_EQ(GetDlgItemTextA(dialog_, IDC_TEST_GO, buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(SendMessageA(go, WM_GETTEXTLENGTH, 0, 0), 0);
    EXPECT_FALSE(headless::HasItem(dialog_, IDC_TEST_GO));
    EXPECT_EQ(headless::ItemText(dialog_, IDC_TEST_GO), "");
    EXPECT_EQ(headless::Title(dialog_), "");
    RECT rect;
    EXPECT_FALSE(GetWindowRect(dialog_, &rect));
}

TEST_F(Controls, PlacesInPixelsMoveWithSetWindowPos) {
    Open(IDD_TEST_MODELESS);  // 270 x 141 dialog units
    RECT outer;
    ASSERT_TRUE(GetWindowRect(dialog_, &outer));
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    EXPECT_GT(width, 270 * 6 / 4) << "client area plus frame";
    EXPECT_GT(height, 141 * 13 / 8) << "client area plus frame and caption";
    EXPECT_LT(width, 270 * 6 / 4 + 20);
    EXPECT_LT(height, 141 * 13 / 8 + 40);

    ASSERT_TRUE(SetWindowPos(dialog_, HWND_TOP, -3, 50, 0, 0, SWP_NOSIZE));
    RECT moved;
    GetWindowRect(dialog_, &moved);
    EXPECT_EQ(moved.left, -3);
    EXPECT_EQ(moved.top, 50);
    EXPECT_EQ(moved.right - moved.left, width) << "SWP_NOSIZE keeps the size";
    EXPECT_EQ(moved.bottom - moved.top, height);

    RECT bar;
    GetWindowRect(GetDlgItem(dialog_, IDC_TEST_PROGRESS), &bar);  // 38, 95, 191 x 14 dialog units
    EXPECT_EQ(bar.right - bar.left, (191 * 6 + 2) / 4);
    EXPECT_EQ(bar.bottom - bar.top, (14 * 13 + 4) / 8);
    EXPECT_GT(bar.left, moved.left + 38 * 6 / 4 - 1) << "controls sit in the dialog's client area";
    EXPECT_LT(bar.right, moved.right);
    EXPECT_LT(bar.bottom, moved.bottom);

    SetWindowPos(dialog_, HWND_TOP, 10, 20, 300, 200, 0);
    GetWindowRect(dialog_, &moved);
    EXPECT_EQ(moved.right, 310);
    EXPECT_EQ(moved.bottom, 220);
}

TEST(SystemCalls, ScreenSizeClassesAndCommonControls) {
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    headless::SetScreenSize(800, 600);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    headless::SetScreenSize(1024, 768);

    struct Idle {
        static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM) { return 0; }
    };
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Idle::Proc;
    windowClass.lpszClassName = "PlatformTestClass";
    EXPECT_NE(RegisterClassA(&windowClass), 0);
    EXPECT_EQ(RegisterClassA(&windowClass), 0) << "a class is registered once";
    windowClass.lpszClassName = nullptr;
    EXPECT_EQ(RegisterClassA(&windowClass), 0);

    INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES};
    EXPECT_TRUE(InitCommonControlsEx(&controls));
    controls.dwSize = 4;
    EXPECT_FALSE(InitCommonControlsEx(&controls));
    MSG msg = {};
    EXPECT_TRUE(TranslateMessage(&msg));
}

}  // namespace
