// The built-in controls and the single-window calls as the program uses
// them, on the stand-in and under Wine alike: list, progress bar, edit texts
// with their limits, ids and handles, places, classes.
#include "stand_in.h"
#include "one_dialog.h"
#include "test_resource_ids.h"

#include "platform/win.h"

#include <cstring>
#include <string>

namespace {

class ControlMessages : public platform_test::OneDialog {};

TEST_F(ControlMessages, ComboListKeepsEntriesInTheOrderAdded) {
    Open(IDD_TEST_CONTROLS);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCURSEL), CB_ERR);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_ADDSTRING, 0, Str("192.0.2.9")), 0);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_ADDSTRING, 0, Str("10.0.0.1")), 1) << "not sorted";
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_ADDSTRING, 0, Str("127.0.0.1")), 2);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCOUNT), 3);

    EXPECT_EQ(Send(IDC_TEST_LIST, CB_SETCURSEL, 1), 1);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCURSEL), 1);
    EXPECT_EQ(Text(IDC_TEST_LIST), "10.0.0.1") << "a list's text is its selected entry";
    char entry[32];
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(entry)), 9);
    EXPECT_STREQ(entry, "127.0.0.1");
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETLBTEXT, 3, reinterpret_cast<LPARAM>(entry)), CB_ERR);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_SETCURSEL, 5), CB_ERR);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCURSEL), 1) << "an index past the end keeps the selection";
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_SETCURSEL, WPARAM(-1)), CB_ERR);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCURSEL), CB_ERR) << "-1 clears it";
}

TEST_F(ControlMessages, ProgressBarRangePositionAndClamping) {
    Open(IDD_TEST_MODELESS);
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_GETRANGE, TRUE), 0);
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_GETRANGE, FALSE), 100);
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_GETPOS), 0);

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
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_GETPOS), 1000) << "held inside the range";
    Send(IDC_TEST_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 65535));
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_GETRANGE, FALSE), 65535) << "the maximum is unsigned";
    Send(IDC_TEST_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 937));
    EXPECT_EQ(Send(IDC_TEST_PROGRESS, PBM_GETPOS), 937) << "a narrower range pulls the position in";
}

TEST_F(ControlMessages, AddressControlReadsBlankAndSetsWhatItIsGiven) {
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
}

TEST_F(ControlMessages, TextsAreCutToTheGivenMaximum) {
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
    EXPECT_EQ(Text(IDC_TEST_USER), "admin");
    char viaMessage[4];
    EXPECT_EQ(Send(IDC_TEST_USER, WM_GETTEXT, sizeof viaMessage, reinterpret_cast<LPARAM>(viaMessage)), 3);
    EXPECT_STREQ(viaMessage, "adm");
}

TEST_F(ControlMessages, IdsFocusAndDestroyedHandles) {
    Open(IDD_TEST_ENTRY);
    HWND label = GetDlgItem(dialog_, 0xFFFF);
    ASSERT_NE(label, nullptr) << "a label of the template without an id";
    EXPECT_EQ(Text(0xFFFF), "User");
    HWND go = GetDlgItem(dialog_, IDC_TEST_GO);
    EXPECT_EQ(GetDlgItem(dialog_, 4242), nullptr);

    SetFocus(GetDlgItem(dialog_, IDC_TEST_USER));
    EXPECT_EQ(SetFocus(go), GetDlgItem(dialog_, IDC_TEST_USER)) << "the previous focus";
    EXPECT_EQ(GetFocus(), go);

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
    RECT rect;
    EXPECT_FALSE(GetWindowRect(dialog_, &rect));
}

TEST_F(ControlMessages, PlacesInPixelsMoveWithSetWindowPos) {
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

TEST(SystemCalls, ClassesAndCommonControls) {
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
    EXPECT_STAND_IN_DIFFERS(!TranslateMessage(&msg), TranslateMessage(&msg),
                            "the stand-in makes no character messages and says TRUE; the program ignores it");
}

}  // namespace
