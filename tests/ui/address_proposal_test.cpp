// Which PC address the address dialog proposes for a device: the one the
// routes reach it from, else one on its subnet, never a loopback or
// link-local one while another is there.
#include "src/ui/address_dialog.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr uint32_t kLinkLocal = 0xA9FE0707u;  // 169.254.7.7, an adapter without DHCP
constexpr uint32_t kVpn = 0x0A63000Au;        // 10.99.0.10
constexpr uint32_t kLan = 0xC000020Au;        // 192.0.2.10
constexpr uint32_t kOtherLan = 0xC0A8380Au;   // 192.168.56.10, a virtual machine's network
constexpr uint32_t kLoopback = 0x7F000001u;
constexpr uint32_t kDevice = 0xC0000214u;  // 192.0.2.20

TEST(AddressProposal, TheRoutedAddressWinsWhenItIsOurs) {
    const uint32_t addresses[] = {kLinkLocal, kVpn, kLan};
    EXPECT_EQ(ProposedLocalAddress(addresses, 3, kDevice, kLan), 2);
    // A VPN that routes everything: its address is where the device is reached from.
    EXPECT_EQ(ProposedLocalAddress(addresses, 3, kDevice, kVpn), 1);
}

// The world's routes to a local device address name the device itself, and
// a PC without a route names nothing: the subnet decides.
TEST(AddressProposal, WithoutAUsableRouteTheAddressOnTheDevicesSubnet) {
    const uint32_t addresses[] = {kLinkLocal, kVpn, kOtherLan, kLan};
    EXPECT_EQ(ProposedLocalAddress(addresses, 4, kDevice, 0), 3);
    EXPECT_EQ(ProposedLocalAddress(addresses, 4, kDevice, kDevice), 3);
    EXPECT_EQ(ProposedLocalAddress(addresses, 4, 0x0A630101u, 0), 1) << "10.99.1.1";
}

TEST(AddressProposal, LoopbackAndLinkLocalOnlyWhenNothingElseIsThere) {
    const uint32_t addresses[] = {kLoopback, kLinkLocal, kOtherLan};
    EXPECT_EQ(ProposedLocalAddress(addresses, 3, 0, 0), 2) << "no device yet";
    EXPECT_EQ(ProposedLocalAddress(addresses, 3, 0x7F000002u, 0), 2) << "a device typed as 127.0.0.2";
    EXPECT_EQ(ProposedLocalAddress(addresses, 2, kDevice, 0), 1) << "link-local before loopback";
    EXPECT_EQ(ProposedLocalAddress(addresses, 1, kDevice, 0), 0);
    EXPECT_EQ(ProposedLocalAddress(addresses, 0, kDevice, 0), -1);
}

TEST(AddressProposal, ALinkLocalDeviceGetsTheLinkLocalAddress) {
    const uint32_t addresses[] = {kLan, kLinkLocal};
    EXPECT_EQ(ProposedLocalAddress(addresses, 2, 0xA9FE3001u, 0), 1);
}

TEST(AddressProposal, TheFirstOfEquallyCloseAddressesAndOnlyThoseCounted) {
    const uint32_t addresses[] = {kVpn, 0x0A630114u, kLan};
    EXPECT_EQ(ProposedLocalAddress(addresses, 3, 0x0A63FFFFu, 0), 0);
    EXPECT_EQ(ProposedLocalAddress(addresses, 2, kDevice, 0), 0) << "the third entry is not counted";
}

}  // namespace
