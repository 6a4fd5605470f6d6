// A build whose Target image carries the handset tag: the handset product,
// its address dialog 305 and its help text.
#include "platform/linux/headless.h"
#include "resources/resource_ids.h"
#include "src/control/image_store.h"
#include "src/control/upgrade_sequence.h"
#include "src/shared/texts.h"
#include "src/shared/upgrade_state.h"
#include "tests/support/headless_waits.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace {

HWND WaitForDialog(int templateId) {
    HWND dialog = nullptr;
    EXPECT_TRUE(::WaitForDialog(0, templateId, 5000, &dialog)) << "dialog " << templateId << " never appeared";
    return dialog;
}

}  // namespace

TEST(HandsetBuild, TargetTagSelectsTheHandsetProduct) {
    upgradeState.instance = GetModuleHandleA(nullptr);
    LoadFirmwareImages();
    IdentifyProduct();
    EXPECT_STREQ(upgradeState.displayName, "QOR-540");
    EXPECT_EQ(upgradeState.handsetVariant, 1);
    EXPECT_STREQ(HeaderVersion(upgradeState.targetImage), "2.0.13(SEg)");
}

TEST(HandsetBuild, UpgradeAsksForTheAddressInTheHandsetDialog) {
    upgradeState.instance = GetModuleHandleA(nullptr);
    LoadFirmwareImages();
    IdentifyProduct();
    auto upgrade = std::async(std::launch::async, RunUpgrade);

    HWND warning = WaitForDialog(IDD_WARNING);
    EXPECT_EQ(headless::Title(warning), "QOR-540 Firmware Upgrade");
    headless::PressButton(warning, IDOK);

    HWND address = WaitForDialog(IDD_ADDRESS_HANDSET);
    EXPECT_EQ(headless::Title(address), "QOR-540 Firmware Upgrade");
    EXPECT_EQ(headless::ItemText(address, IDC_ADDRESS_HELP), text::kHandsetAddressHelp);
    EXPECT_EQ(headless::ItemText(address, IDC_TARGET_VERSION), "Version 2.0.13(SEg)");
    headless::PressButton(address, IDCANCEL);

    // Declining the address dialog ends the run with no message.
    ASSERT_EQ(upgrade.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(upgrade.get(), 0);
    for (const headless::Event& event : headless::Events()) {
        EXPECT_NE(event.kind, headless::EventKind::MessageBoxShown) << event.text;
        EXPECT_NE(event.templateId, IDD_ADDRESS) << "the adapter dialog appeared";
    }
}
