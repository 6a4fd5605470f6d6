// Start-up: the PC's own addresses as the resolver gives them for the host
// name, and a network stack that fails to start. The address tests run in a
// test world with ten PC addresses (QOR_PC_ADDRS) and are skipped elsewhere.
#include "platform/linux/headless.h"
#include "src/control/startup.h"
#include "src/shared/texts.h"
#include "src/shared/upgrade_state.h"
#include "tests/support/processes.h"
#include "tests/support/sockets.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<uint32_t> WorldPcAddresses() {
    std::vector<uint32_t> addresses;
    const char* list = std::getenv("QOR_PC_ADDRS");
    std::istringstream words(list != nullptr ? list : "");
    std::string word;
    while (words >> word) {
        addresses.push_back(HostAddress(word.c_str()));
    }
    return addresses;
}

std::vector<uint32_t> LocalAddresses() {
    return std::vector<uint32_t>(upgradeState.localAddresses, upgradeState.localAddresses + kLocalAddressCount);
}

TEST(LocalAddresses, MoreThanEightGiveTheFirstEightInResolverOrder) {
    std::vector<uint32_t> world = WorldPcAddresses();
    if (world.size() <= static_cast<size_t>(kLocalAddressCount)) {
        GTEST_SKIP() << "needs the test world with more than eight PC addresses";
    }
    upgradeState.instance = GetModuleHandleA(nullptr);
    InitializeProgram();
    EXPECT_EQ(LocalAddresses(), std::vector<uint32_t>(world.begin(), world.begin() + kLocalAddressCount));
    EXPECT_EQ(upgradeState.localAddress, world[0]);
}

TEST(LocalAddresses, HostNameThatDoesNotResolveGivesNone) {
    if (WorldPcAddresses().empty()) {
        GTEST_SKIP() << "needs the test world: it renames the host";
    }
    ChildOutcome outcome = RunInChild(false, 30, [](Report& report) {
        const char name[] = "no-such-qor-pc";
        report.Set("renamed", sethostname(name, sizeof name - 1) == 0 ? "yes" : "no");
        upgradeState.instance = GetModuleHandleA(nullptr);
        upgradeState.localAddresses[0] = kLoopback;
        InitializeProgram();
        std::string found;
        for (uint32_t address : LocalAddresses()) {
            found += std::to_string(address) + " ";
        }
        report.Set("addresses", found);
        report.Set("local", upgradeState.localAddress);
    });
    ASSERT_TRUE(outcome.exited);
    ASSERT_EQ(outcome.values["renamed"], "yes");
    EXPECT_EQ(outcome.values["addresses"], "0 0 0 0 0 0 0 0 ");
    EXPECT_EQ(outcome.values["local"], "0");
}

// The message comes before any dialog, and the process still ends with 0.
TEST(Startup, FailingWinsockIsReportedBeforeAnyDialog) {
    ChildOutcome outcome = RunInChild(false, 30, [](Report& report) {
        std::thread([&report] {
            headless::Event box;
            if (!headless::WaitForEvent(
                    0, 10000, [](const headless::Event& e) { return e.kind == headless::EventKind::MessageBoxShown; },
                    &box)) {
                return;
            }
            int dialogsBefore = 0;
            for (const headless::Event& event : headless::Events()) {
                dialogsBefore += event.sequence < box.sequence && event.kind == headless::EventKind::DialogShown;
            }
            report.Set("box", box.text);
            report.Set("caption", box.title);
            report.Set("dialogsBefore", dialogsBefore);
            headless::AnswerMessageBox(box.window, IDOK);
        }).detach();
        headless::FailNextWsaStartup();
        report.Set("returned", ProgramEntry(GetModuleHandleA(nullptr)));
    });
    EXPECT_TRUE(EndedByMessage(outcome, text::kWinsockInit, "returned"));
    EXPECT_EQ(outcome.values["caption"], text::kDefaultErrorCaption);
    EXPECT_EQ(outcome.values["dialogsBefore"], "0");
}

}  // namespace
