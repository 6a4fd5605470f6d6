// The Windows API tests of this folder build twice: natively against the
// Linux stand-in, and for Windows, where they run under Wine. The build says
// which side is under test (QOR_STAND_IN); the tests never ask the platform.
#pragma once

#include <gtest/gtest.h>

namespace platform_test {

constexpr bool kStandIn = QOR_STAND_IN != 0;

}  // namespace platform_test

// A difference the stand-in keeps on purpose, marked with why, as Wine's own
// tests mark theirs: `onWindows` must hold on Windows (and Wine), `inStandIn`
// on the stand-in.
#define EXPECT_STAND_IN_DIFFERS(onWindows, inStandIn, why)                                             \
    EXPECT_TRUE(platform_test::kStandIn ? static_cast<bool>(inStandIn) : static_cast<bool>(onWindows)) \
        << (platform_test::kStandIn ? #inStandIn : #onWindows) << ": " << (why)
