// The listener's wait for the read request on scripted datagrams and a fake
// clock: what ends it, what it discards, and the waiting dialog's bar.
#include "platform/linux/headless.h"
#include "resources/resource_ids.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/listener.h"
#include "src/ui/beside_work.h"
#include "tests/tftp/tftp_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kName[] = "/qor1a2b.bi0";
constexpr uint32_t kDevice = 0xC0000214;  // 192.0.2.20

// Datagrams in order; an empty entry is a receive that finds nothing.
struct Script {
    std::vector<std::vector<uint8_t>> receives;
    size_t next = 0;
    int pauses = 0;
    uint16_t port = 2000;

    RequestOps Ops() {
        RequestOps ops;
        ops.context = this;
        ops.receive = [](void* context, uint8_t* packet, sockaddr_in* sender) {
            auto* script = static_cast<Script*>(context);
            EXPECT_LT(script->next, script->receives.size()) << "read past the expected request";
            if (script->next >= script->receives.size()) {
                std::abort();
            }
            const std::vector<uint8_t>& bytes = script->receives[script->next++];
            *sender = From(kDevice, static_cast<uint16_t>(script->port + script->next));
            std::copy(bytes.begin(), bytes.end(), packet);
            return bytes.empty() ? -1 : static_cast<int>(bytes.size());
        };
        ops.pause = [](void* context) { static_cast<Script*>(context)->pauses += 1; };
        return ops;
    }
};

TftpListener* NewListener() {
    SetFileName(kName);
    return static_cast<TftpListener*>(std::calloc(1, sizeof(TftpListener)));
}

// A burst of every kind of stray datagram, then the request: all read back
// to back, each traced, and the request's sender kept.
TEST(ReadRequestWait, BurstIsDiscardedWithoutAPauseAndTheRequestEndsIt) {
    TftpListener* listener = NewListener();
    Script script;
    script.receives = {
        RequestPacket(kTftpRrq, "/qor1a2b.bi1"),
        RequestPacket(kTftpWrq, kName),
        RequestPacket(kTftpData, kName),
        AckPacket(3),
        {0, 5, 0, 1, 0},
        {7},
        RequestPacket(kTftpRrq, kName),
        RequestPacket(kTftpRrq, kName),
    };
    headless::TakeDebugOutput();
    sockaddr_in sender;
    WaitForReadRequest(listener, script.Ops(), &sender);

    EXPECT_EQ(script.next, 7u);  // the second request is left in the socket
    EXPECT_EQ(script.pauses, 0);
    uint32_t address = 0;
    uint16_t port = 0;
    SplitSockAddr(sender, &address, &port);
    EXPECT_EQ(address, kDevice);
    EXPECT_EQ(port, script.port + 7);
    EXPECT_STREQ(reinterpret_cast<const char*>(listener->packet + 2), kName);
    EXPECT_EQ(headless::TakeDebugOutput(),
              "/qor1a2b.bi0 /qor1a2b.bi1\n"
              "+++ Bad TFTP RRQ filename /qor1a2b.bi1\n"
              "TFTP Rx WRQ?\nTFTP Rx Data?\nTFTP Rx ACK?\nTFTP Rx Error?\n"
              "/qor1a2b.bi0 /qor1a2b.bi0\n");
    std::free(listener);
}

// Nothing to read: one pause until a datagram, however long that takes.
TEST(ReadRequestWait, EmptySocketPausesOnceForEachLook) {
    TftpListener* listener = NewListener();
    Script script;
    script.receives = {{}, AckPacket(0), {}, {}, RequestPacket(kTftpRrq, kName)};
    sockaddr_in sender;
    WaitForReadRequest(listener, script.Ops(), &sender);

    EXPECT_EQ(script.next, 5u);
    EXPECT_EQ(script.pauses, 3);
    std::free(listener);
}

// Dialog 114's thread while the wait runs on its own: no message ever comes,
// so every wake is for the bar.
struct IdleSide {
    IdleBar* bar;
    HWND dialog;
    DWORD now = 0;
    DWORD end = 0;
    int wakes = 0;
    std::vector<std::pair<DWORD, int>> positions;  // when the bar moved, and to where

    DialogSideOps Ops() {
        DialogSideOps ops;
        ops.context = this;
        ops.now = [](void* context) { return static_cast<IdleSide*>(context)->now; };
        ops.showFrame = [](void* context, DWORD at) {
            auto* side = static_cast<IdleSide*>(context);
            DWORD untilMove = AdvanceIdleBar(side->bar, at);
            int position = headless::ProgressOf(side->dialog, IDC_PROGRESS).position;
            if (side->positions.empty() || side->positions.back().second != position) {
                side->positions.push_back({at, position});
            }
            return untilMove;
        };
        ops.pumpPending = [](void*) {};
        ops.waitForWork = [](void* context, DWORD milliseconds) {
            auto* side = static_cast<IdleSide*>(context);
            side->wakes += 1;
            side->now = std::min(side->now + milliseconds, side->end);
            return side->now >= side->end;
        };
        return ops;
    }
};

// Five seconds of waiting: the bar follows the milliseconds that passed,
// round and round, moves at most ten times a second and wakes the thread
// only to move it.
TEST(WaitingDialog, IdleBarFollowsTheClockAtTheActivityPace) {
    upgradeState.instance = GetModuleHandleA(nullptr);
    HWND dialog = ShowWaitingDialog();
    IdleBar bar = StartIdleBar(dialog, 0);
    IdleSide side{&bar, dialog};
    side.end = 5000;
    AnswerUntilWorkEnds(side.Ops());
    DestroyWindow(dialog);

    ASSERT_GE(side.positions.size(), 45u);
    for (size_t i = 1; i < side.positions.size(); ++i) {
        EXPECT_GE(side.positions[i].first - side.positions[i - 1].first, 100u) << "move " << i;
        EXPECT_EQ(side.positions[i].second, static_cast<int>(side.positions[i].first % 1000)) << "move " << i;
    }
    EXPECT_LE(side.wakes, 55);
}

}  // namespace
