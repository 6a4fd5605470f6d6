// A build whose Target image carries the handset tag.
#include "src/control/image_store.h"
#include "src/control/upgrade_state.h"

#include <gtest/gtest.h>

TEST(HandsetBuild, TargetTagSelectsTheHandsetProduct) {
    upgradeState.instance = GetModuleHandleA(nullptr);
    LoadFirmwareImages();
    IdentifyProduct();
    EXPECT_STREQ(upgradeState.displayName, "QOR-540");
    EXPECT_EQ(upgradeState.handsetVariant, 1);
    EXPECT_STREQ(HeaderVersion(upgradeState.targetImage), "2.0.13(SEg)");
}
