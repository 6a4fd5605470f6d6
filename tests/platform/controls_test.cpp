// What the stand-in's driver reads and does with the built-in controls (the
// controls' own messages are in controls_api_test.cpp): list entries and
// picks, the bar, typed addresses, texts and titles, ids, the screen size.
#include "one_dialog.h"
#include "test_resource_ids.h"

#include "platform/linux/headless.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Controls : public platform_test::OneDialog {};

TEST_F(Controls, TheDriverReadsAndPicksListEntries) {
    Open(IDD_TEST_CONTROLS);
    Send(IDC_TEST_LIST, CB_ADDSTRING, 0, Str("192.0.2.9"));
    Send(IDC_TEST_LIST, CB_ADDSTRING, 0, Str("10.0.0.1"));
    Send(IDC_TEST_LIST, CB_ADDSTRING, 0, Str("127.0.0.1"));
    EXPECT_EQ(headless::ListEntries(dialog_, IDC_TEST_LIST),
              (std::vector<std::string>{"192.0.2.9", "10.0.0.1", "127.0.0.1"}));
    EXPECT_EQ(headless::ListSelection(dialog_, IDC_TEST_LIST), CB_ERR);
    headless::PickEntry(dialog_, IDC_TEST_LIST, 2);
    EXPECT_EQ(Send(IDC_TEST_LIST, CB_GETCURSEL), 2);
    EXPECT_EQ(headless::ListSelection(dialog_, IDC_TEST_LIST), 2);
    EXPECT_EQ(headless::FocusedItem(dialog_), IDC_TEST_LIST) << "picking focuses the list";
}

TEST_F(Controls, TheDriverReadsTheBarAsSet) {
    Open(IDD_TEST_MODELESS);
    headless::Progress fresh = headless::ProgressOf(dialog_, IDC_TEST_PROGRESS);
    EXPECT_EQ(fresh.minimum, 0);
    EXPECT_EQ(fresh.maximum, 100);
    EXPECT_EQ(fresh.position, 0);
    Send(IDC_TEST_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 65535));
    Send(IDC_TEST_PROGRESS, PBM_SETPOS, 40000);
    headless::Progress set = headless::ProgressOf(dialog_, IDC_TEST_PROGRESS);
    EXPECT_EQ(set.maximum, 65535);
    EXPECT_EQ(set.position, 40000);
}

TEST_F(Controls, TypedAddressStaysAsTyped) {
    Open(IDD_TEST_CONTROLS);
    DWORD address = 0;
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

TEST_F(Controls, TheDriverReadsTextsTitlesAndIds) {
    Open(IDD_TEST_ENTRY);
    SetDlgItemTextA(dialog_, IDC_TEST_USER, "admin");
    EXPECT_EQ(headless::ItemText(dialog_, IDC_TEST_USER), "admin");
    ASSERT_TRUE(SetWindowTextA(dialog_, "New Title"));
    EXPECT_EQ(headless::Title(dialog_), "New Title");
    EXPECT_EQ(GetDlgItem(dialog_, -1), GetDlgItem(dialog_, 0xFFFF)) << "0xFFFF in the template is id -1";
    EXPECT_EQ(headless::TemplateId(dialog_), IDD_TEST_ENTRY);
    EXPECT_TRUE(headless::HasItem(dialog_, IDC_TEST_GO));
    EXPECT_EQ(SetFocus(reinterpret_cast<HWND>(0x7777)), nullptr);

    ASSERT_TRUE(DestroyWindow(dialog_));
    EXPECT_FALSE(headless::HasItem(dialog_, IDC_TEST_GO));
    EXPECT_EQ(headless::ItemText(dialog_, IDC_TEST_USER), "");
    EXPECT_EQ(headless::Title(dialog_), "");
}

TEST(SystemCalls, ScreenSizeIsTheDriversToSet) {
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    headless::SetScreenSize(800, 600);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    headless::SetScreenSize(1024, 768);
}

}  // namespace
