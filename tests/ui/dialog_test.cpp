// The warning, confirm and address dialogs from their real procedures and
// templates, driven through the headless dialog manager as a user would.
#include "platform/linux/headless.h"
#include "resources/resource_ids.h"
#include "src/control/image_store.h"
#include "src/shared/texts.h"
#include "src/shared/upgrade_state.h"
#include "src/ui/address_dialog.h"
#include "src/ui/dialogs.h"
#include "tests/support/headless_waits.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <string>

namespace {

constexpr int kWaitMs = 5000;

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        upgradeState.instance = GetModuleHandleA(nullptr);
        LoadFirmwareImages();
        IdentifyProduct();
        upgradeState.stage.store(Transition);
        startSequence_ = LastEventSequence();
    }

    // Runs a modal dialog on a thread of its own, as the program's main thread would.
    void Start(int templateId, DLGPROC procedure) {
        result_ = std::async(std::launch::async, [=] { return RunModalDialog(templateId, procedure); });
    }

    HWND WaitForDialog(int templateId) {
        HWND dialog = nullptr;
        EXPECT_TRUE(::WaitForDialog(startSequence_, templateId, kWaitMs, &dialog))
            << "dialog " << templateId << " never appeared";
        return dialog;
    }

    headless::Event WaitForMessageBox() {
        headless::Event event;
        EXPECT_TRUE(::WaitForMessageBox(startSequence_, kWaitMs, &event)) << "no message box appeared";
        startSequence_ = event.sequence;
        return event;
    }

    INT_PTR Result() {
        EXPECT_EQ(result_.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
        return result_.get();
    }

    uint64_t startSequence_ = 0;
    std::future<INT_PTR> result_;
};

void SetDeviceInfo() {
    DeviceInfo& info = upgradeState.deviceInfo;
    snprintf(info.serialNumber, sizeof info.serialNumber, "SN0042");
    snprintf(info.macAddress, sizeof info.macAddress, "00:0E:08:12:34:56");
    snprintf(info.softwareVersion, sizeof info.softwareVersion, "2.0.11");
    snprintf(info.hardwareVersion, sizeof info.hardwareVersion, "1.0.0");
    snprintf(info.productName, sizeof info.productName, "QOR-7101");
}

}  // namespace

TEST_F(DialogTest, WarningShowsTheProductAndTheWarningText) {
    Start(IDD_WARNING, WarningDialogProc);
    HWND dialog = WaitForDialog(IDD_WARNING);
    EXPECT_EQ(headless::Title(dialog), "QOR-7101 Firmware Upgrade");
    EXPECT_EQ(headless::ItemText(dialog, IDC_WARNING_TEXT), text::kWarning);
    EXPECT_EQ(headless::FocusedItem(dialog), IDCANCEL);
    headless::PressButton(dialog, IDOK);
    EXPECT_EQ(Result(), 1);
}

TEST_F(DialogTest, WarningEnterOnTheFreshDialogCancels) {
    Start(IDD_WARNING, WarningDialogProc);
    headless::PressKey(WaitForDialog(IDD_WARNING), VK_RETURN);
    EXPECT_EQ(Result(), 0);
}

TEST_F(DialogTest, WarningEscapeAndCloseBoxCancel) {
    Start(IDD_WARNING, WarningDialogProc);
    headless::PressKey(WaitForDialog(IDD_WARNING), VK_ESCAPE);
    EXPECT_EQ(Result(), 0);
    startSequence_ = LastEventSequence();
    Start(IDD_WARNING, WarningDialogProc);
    headless::PressCloseBox(WaitForDialog(IDD_WARNING));
    EXPECT_EQ(Result(), 0);
}

TEST_F(DialogTest, ConfirmForTargetShowsTheDeviceWithoutANote) {
    SetDeviceInfo();
    upgradeState.stage.store(Target);
    Start(IDD_CONFIRM_TARGET, ConfirmDialogProc);
    HWND dialog = WaitForDialog(IDD_CONFIRM_TARGET);
    EXPECT_EQ(headless::Title(dialog), "Confirm Upgrade to Ver. 2.0.13(SEg)");
    EXPECT_EQ(headless::ItemText(dialog, IDC_TOP_TEXT), text::kConfirm);
    EXPECT_EQ(headless::ItemText(dialog, IDC_SERIAL_NUMBER), "SN0042");
    EXPECT_EQ(headless::ItemText(dialog, IDC_MAC_ADDRESS), "00:0E:08:12:34:56");
    EXPECT_EQ(headless::ItemText(dialog, IDC_SOFTWARE_VERSION), "2.0.11");
    EXPECT_EQ(headless::ItemText(dialog, IDC_HARDWARE_VERSION), "1.0.0");
    EXPECT_EQ(headless::ItemText(dialog, IDC_PRODUCT_NAME), "QOR-7101");
    EXPECT_EQ(headless::FocusedItem(dialog), IDOK);
    headless::PressKey(dialog, VK_RETURN);  // "Upgrade" is focus and default
    EXPECT_EQ(Result(), 1);
}

TEST_F(DialogTest, ConfirmForTransitionNamesTheTransitionVersion) {
    SetDeviceInfo();
    Start(IDD_CONFIRM_TRANSITION, ConfirmDialogProc);
    HWND dialog = WaitForDialog(IDD_CONFIRM_TRANSITION);
    EXPECT_EQ(headless::Title(dialog), "Confirm Upgrade to Ver. 2.0.13(SEg)");
    std::string expected = std::string(text::kConfirm) +
                           "\r\n\r\nNote: Since your current firmware version\r\nis older than 2.0.12, this upgrade "
                           "procedure\r\nrequires additional steps and will be\r\nslightly longer.\r\n";
    EXPECT_EQ(headless::ItemText(dialog, IDC_TOP_TEXT), expected);
    headless::PressButton(dialog, IDCANCEL);
    EXPECT_EQ(Result(), 0);
}

TEST_F(DialogTest, ReportErrorUsesTheDefaultCaptionUnlessGivenOne) {
    auto box = std::async(std::launch::async, [] { return ReportError("Upgrade Failed: test", nullptr); });
    headless::Event event = WaitForMessageBox();
    EXPECT_EQ(event.title, "QOR Firwmare Upgrade Error");
    EXPECT_EQ(event.text, "Upgrade Failed: test");
    EXPECT_EQ(event.type, static_cast<unsigned>(MB_TASKMODAL));
    headless::AnswerMessageBox(event.window, IDOK);
    EXPECT_EQ(box.get(), IDOK);

    box = std::async(std::launch::async, [] { return ReportError("text", "Caption"); });
    event = WaitForMessageBox();
    EXPECT_EQ(event.title, "Caption");
    headless::AnswerMessageBox(event.window, IDOK);
    box.get();
}

TEST_F(DialogTest, AddressDialogListsOwnAddressesAndTakesThePickedOne) {
    const uint32_t own[kLocalAddressCount] = {0xc000020a, 0xc000020b, 0x0a000001, 0, 0x0a000002};
    memcpy(upgradeState.localAddresses, own, sizeof own);
    Start(IDD_ADDRESS, AddressDialogProc);
    HWND dialog = WaitForDialog(IDD_ADDRESS);
    EXPECT_EQ(headless::Title(dialog), "QOR-7101 Firmware Upgrade");
    EXPECT_EQ(headless::ItemText(dialog, IDC_TOP_TEXT), text::kAddressHeading);
    EXPECT_EQ(headless::ItemText(dialog, IDC_ADDRESS_HELP), text::kAdapterAddressHelp);
    EXPECT_EQ(headless::ItemText(dialog, IDC_TARGET_VERSION), "Version 2.0.13(SEg)");
    EXPECT_EQ(headless::FocusedItem(dialog), IDC_DEVICE_ADDRESS);
    // A zero entry hides everything after it.
    EXPECT_EQ(headless::ListEntries(dialog, IDC_LOCAL_ADDRESSES),
              (std::vector<std::string>{"192.0.2.10", "192.0.2.11", "10.0.0.1"}));
    EXPECT_EQ(headless::ListSelection(dialog, IDC_LOCAL_ADDRESSES), 0);
    headless::PickEntry(dialog, IDC_LOCAL_ADDRESSES, 1);
    headless::TypeText(dialog, IDC_DEVICE_ADDRESS, "192.0.2.20");
    headless::PressButton(dialog, IDOK);
    EXPECT_EQ(Result(), 1);
    EXPECT_EQ(upgradeState.deviceAddress, 0xc0000214u);
    EXPECT_STREQ(upgradeState.deviceAddressText, "192.0.2.20");
    EXPECT_EQ(upgradeState.localAddress, 0xc000020bu);
    char name[128];
    CopyFileName(name, sizeof name);
    EXPECT_EQ(strncmp(name, "/qor", 4), 0);
    EXPECT_STREQ(name + strlen(name) - 4, ".bi0");
}

// A PC with an adapter without DHCP first, a VPN and the LAN: the list
// proposes the LAN address once the device's address is typed, and after a
// pick of the user's a new address proposes nothing.
TEST_F(DialogTest, AddressDialogProposesTheAddressOnTheDevicesSubnetUntilTheUserPicks) {
    const uint32_t own[kLocalAddressCount] = {0xa9fe0707, 0x0a63000a, 0xc000020a};
    memcpy(upgradeState.localAddresses, own, sizeof own);
    Start(IDD_ADDRESS, AddressDialogProc);
    HWND dialog = WaitForDialog(IDD_ADDRESS);
    EXPECT_EQ(headless::ListSelection(dialog, IDC_LOCAL_ADDRESSES), 1) << "not the link-local one";
    headless::TypeText(dialog, IDC_DEVICE_ADDRESS, "192.0.2.20");
    EXPECT_TRUE(WaitUntil(2000, [dialog] { return headless::ListSelection(dialog, IDC_LOCAL_ADDRESSES) == 2; }));
    headless::TypeText(dialog, IDC_DEVICE_ADDRESS, "10.99.7.1");
    EXPECT_TRUE(WaitUntil(2000, [dialog] { return headless::ListSelection(dialog, IDC_LOCAL_ADDRESSES) == 1; }));
    headless::PickEntry(dialog, IDC_LOCAL_ADDRESSES, 0);
    headless::TypeText(dialog, IDC_DEVICE_ADDRESS, "192.0.2.21");
    headless::PressButton(dialog, IDOK);
    EXPECT_EQ(Result(), 1);
    EXPECT_EQ(upgradeState.localAddress, 0xa9fe0707u) << "the user's pick";
}

TEST_F(DialogTest, AddressDialogRefusesInvalidAddressesAndStaysOpen) {
    const uint32_t own[kLocalAddressCount] = {0xc000020a};
    memcpy(upgradeState.localAddresses, own, sizeof own);
    Start(IDD_ADDRESS, AddressDialogProc);
    HWND dialog = WaitForDialog(IDD_ADDRESS);
    for (const char* typed : {"1.2.3", "0.0.0.0", "1.2.999.4"}) {
        headless::TypeText(dialog, IDC_DEVICE_ADDRESS, typed);
        headless::PressButton(dialog, IDOK);
        headless::Event box = WaitForMessageBox();
        EXPECT_EQ(box.title, "Error");
        EXPECT_EQ(box.text, "Invalid IP Address");
        EXPECT_EQ(box.type, static_cast<unsigned>(MB_OK));
        headless::AnswerMessageBox(box.window, IDOK);
        EXPECT_TRUE(headless::IsShown(dialog)) << typed;
        EXPECT_EQ(upgradeState.deviceAddress, 0u);
    }
    headless::PressButton(dialog, IDCANCEL);
    EXPECT_EQ(Result(), 0);
    EXPECT_STREQ(upgradeState.deviceAddressText, "1.2.999.4");
}

TEST_F(DialogTest, AddressDialogWithoutOwnAddressRefusesToStart) {
    memset(upgradeState.localAddresses, 0, sizeof upgradeState.localAddresses);
    Start(IDD_ADDRESS, AddressDialogProc);
    HWND dialog = WaitForDialog(IDD_ADDRESS);
    EXPECT_TRUE(headless::ListEntries(dialog, IDC_LOCAL_ADDRESSES).empty());
    headless::TypeText(dialog, IDC_DEVICE_ADDRESS, "192.0.2.20");
    headless::PressButton(dialog, IDOK);
    headless::Event box = WaitForMessageBox();
    EXPECT_EQ(box.text, text::kNoLocalAddress);
    headless::AnswerMessageBox(box.window, IDOK);
    EXPECT_TRUE(headless::IsShown(dialog));
    headless::PressKey(dialog, VK_ESCAPE);
    EXPECT_EQ(Result(), 0);
}

TEST_F(DialogTest, HandsetAddressDialogShowsTheHandsetHelp) {
    upgradeState.handsetVariant = 1;
    Start(IDD_ADDRESS_HANDSET, AddressDialogProc);
    HWND dialog = WaitForDialog(IDD_ADDRESS_HANDSET);
    EXPECT_EQ(headless::ItemText(dialog, IDC_ADDRESS_HELP), text::kHandsetAddressHelp);
    headless::PressButton(dialog, IDCANCEL);
    EXPECT_EQ(Result(), 0);
    upgradeState.handsetVariant = 0;
}

namespace {

std::vector<std::pair<int, LPARAM>> commandsSeen;

INT_PTR CALLBACK RecordCommandsProc(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        commandsSeen.emplace_back(LOWORD(wParam), lParam);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

}  // namespace

// The waiting, upload and connecting dialogs are modeless: their pumps, not a
// modal loop, must make Esc the Cancel button, one message per call or all.
TEST_F(DialogTest, EscapeInTheModelessDialogsIsCancelThroughBothPumps) {
    for (int templateId : {IDD_WAITING, IDD_UPLOAD, IDD_CONNECTING}) {
        for (bool oneAtATime : {true, false}) {
            commandsSeen.clear();
            HWND dialog = ShowModelessDialog(templateId, RecordCommandsProc);
            ASSERT_NE(dialog, nullptr);
            headless::PressKey(dialog, VK_RETURN);
            headless::PressKey(dialog, VK_ESCAPE);
            if (oneAtATime) {
                EXPECT_TRUE(PumpOneMessage(dialog));
                EXPECT_TRUE(commandsSeen.empty()) << templateId << ": Enter is no command";
                while (PumpOneMessage(dialog)) {
                }
            } else {
                PumpPendingMessages(dialog);
            }
            ASSERT_EQ(commandsSeen.size(), 1u) << templateId;
            EXPECT_EQ(commandsSeen[0].first, IDCANCEL);
            EXPECT_EQ(commandsSeen[0].second, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
            DestroyWindow(dialog);
        }
    }
}

TEST_F(DialogTest, ConfirmEscapeAndCloseBoxDecline) {
    SetDeviceInfo();
    upgradeState.stage.store(Target);
    Start(IDD_CONFIRM_TARGET, ConfirmDialogProc);
    headless::PressKey(WaitForDialog(IDD_CONFIRM_TARGET), VK_ESCAPE);
    EXPECT_EQ(Result(), 0);
    startSequence_ = LastEventSequence();
    Start(IDD_CONFIRM_TARGET, ConfirmDialogProc);
    headless::PressCloseBox(WaitForDialog(IDD_CONFIRM_TARGET));
    EXPECT_EQ(Result(), 0);
}

// Every dialog centres itself on the screen as GetSystemMetrics gives it,
// also on a screen smaller than the dialog.
TEST_F(DialogTest, DialogsAreCentredOnRealScreenSizes) {
    const int screens[][2] = {{1024, 768}, {1920, 1080}, {1366, 768}, {320, 200}};
    for (const auto& screen : screens) {
        headless::SetScreenSize(screen[0], screen[1]);
        for (int templateId : {IDD_WAITING, IDD_UPLOAD, IDD_CONNECTING}) {
            HWND dialog = ShowModelessDialog(templateId, UploadDialogProc);
            RECT rect;
            ASSERT_TRUE(GetWindowRect(dialog, &rect));
            int width = rect.right - rect.left;
            int height = rect.bottom - rect.top;
            EXPECT_GT(width, 100) << templateId;
            EXPECT_EQ(rect.left, (screen[0] - width) >> 1) << templateId << " on " << screen[0];
            EXPECT_EQ(rect.top, (screen[1] - height) >> 1) << templateId << " on " << screen[1];
            DestroyWindow(dialog);
        }
    }
    headless::SetScreenSize(1024, 768);
}
