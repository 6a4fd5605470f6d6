// A test on one modeless dialog of the tests' own resources, as both the
// stand-in's and the Windows API's control tests open it.
#pragma once

#include "platform/win.h"

#include <gtest/gtest.h>

#include <string>

namespace platform_test {

class OneDialog : public ::testing::Test {
protected:
    // Windows builds the common controls of a template only once asked to.
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES};
        ASSERT_TRUE(InitCommonControlsEx(&controls));
    }
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
    static LPARAM Str(const char* text) { return reinterpret_cast<LPARAM>(text); }

    HWND dialog_ = nullptr;

private:
    static INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }
};

}  // namespace platform_test
