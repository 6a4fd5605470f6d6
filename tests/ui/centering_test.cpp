// Centring arithmetic: an arithmetic shift, so oversized windows round down.
#include "src/ui/dialogs.h"

#include <gtest/gtest.h>

TEST(CenterWindow, ShiftsArithmetically) {
    // A window 5 pixels wider than a 1024-pixel screen.
    EXPECT_EQ(CenteredOrigin(1024, 0, 1029), -3);
    // A window 6 pixels narrower.
    EXPECT_EQ(CenteredOrigin(1024, 0, 1018), 3);
    // Where the window stands now does not matter, only its size.
    EXPECT_EQ(CenteredOrigin(1024, 500, 700), 412);
    EXPECT_EQ(CenteredOrigin(768, -40, 60), 334);
}
