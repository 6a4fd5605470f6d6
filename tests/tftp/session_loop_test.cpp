// The transfer loop on a fake clock with scripted datagrams: the timing of
// retransmissions and the give-up under silence and under every kind of
// datagram stream, in milliseconds of real time.
#include "platform/linux/headless.h"
#include "resources/resource_ids.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/session.h"
#include "src/ui/beside_work.h"
#include "src/ui/dialogs.h"
#include "tests/tftp/tftp_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr uint32_t kPeer = 0xC0000214;  // 192.0.2.20
constexpr uint16_t kPeerPort = 2070;
constexpr uint64_t kMs = 1000;
constexpr uint64_t kSecond = 1000 * kMs;

struct Datagram {
    uint64_t at;
    std::vector<uint8_t> bytes;
    sockaddr_in from;
};

// Datagrams every `period` from `start` until `end`.
struct Stream {
    uint64_t next;
    uint64_t period;
    uint64_t end;
    std::vector<uint8_t> bytes;
    sockaddr_in from;
};

// A network and a clock that move when the loop pauses: a pause ends
// at its time or at the next datagram's arrival, whichever comes first.
struct FakeWorld {
    uint64_t now = 0;
    std::vector<Datagram> inbox;
    std::vector<Stream> streams;
    std::vector<Datagram> sent;
    std::vector<uint64_t> pauses;
    // The counts the loop handed to the dialog, with their times.
    std::vector<std::pair<uint64_t, uint64_t>> handed;
    // Called for every packet sent, to answer it.
    std::function<void(FakeWorld&, const std::vector<uint8_t>&)> peer;
    // A peer on the loop's processor answers only once the loop lets go of
    // it, at a pause of any length.
    bool peerSharesTheProcessor = false;
    std::vector<std::vector<uint8_t>> unanswered;

    void Answer(const std::vector<uint8_t>& bytes) {
        if (peer) {
            peer(*this, bytes);
        }
    }

    void Deliver(uint64_t delay, std::vector<uint8_t> bytes, sockaddr_in from = From(kPeer, kPeerPort)) {
        inbox.push_back({now + delay, std::move(bytes), from});
    }
    uint64_t NextArrival() const {
        uint64_t next = UINT64_MAX;
        for (const Datagram& datagram : inbox) {
            next = std::min(next, datagram.at);
        }
        for (const Stream& stream : streams) {
            if (stream.next < stream.end) {
                next = std::min(next, stream.next);
            }
        }
        return next;
    }
    // Each receive costs a microsecond, so that a loop that looks for a
    // datagram without pausing still sees time pass.
    int Receive(uint8_t* packet, sockaddr_in* sender) {
        now += 1;
        for (Stream& stream : streams) {
            if (stream.next <= now && stream.next < stream.end) {
                stream.next += stream.period;
                return Copy(stream.bytes, stream.from, packet, sender);
            }
        }
        auto due = std::min_element(inbox.begin(), inbox.end(),
                                    [](const Datagram& a, const Datagram& b) { return a.at < b.at; });
        if (due == inbox.end() || due->at > now) {
            return -1;
        }
        Datagram datagram = *due;
        inbox.erase(due);
        return Copy(datagram.bytes, datagram.from, packet, sender);
    }
    static int Copy(const std::vector<uint8_t>& bytes, const sockaddr_in& from, uint8_t* packet, sockaddr_in* sender) {
        std::copy(bytes.begin(), bytes.end(), packet);
        *sender = from;
        return static_cast<int>(bytes.size());
    }

    TransferOps Ops() {
        TransferOps ops;
        ops.context = this;
        ops.now = [](void* context) { return static_cast<FakeWorld*>(context)->now; };
        ops.receive = [](void* context, uint8_t* packet, sockaddr_in* sender) {
            return static_cast<FakeWorld*>(context)->Receive(packet, sender);
        };
        ops.send = [](void* context, const uint8_t* packet, size_t length, const sockaddr_in&) {
            auto* world = static_cast<FakeWorld*>(context);
            std::vector<uint8_t> bytes(packet, packet + length);
            world->sent.push_back({world->now, bytes, {}});
            if (world->peerSharesTheProcessor) {
                world->unanswered.push_back(bytes);
            } else {
                world->Answer(bytes);
            }
        };
        ops.pause = [](void* context, uint64_t microseconds) {
            auto* world = static_cast<FakeWorld*>(context);
            world->pauses.push_back(microseconds);
            for (const std::vector<uint8_t>& bytes : world->unanswered) {
                world->Answer(bytes);
            }
            world->unanswered.clear();
            uint64_t arrival = world->NextArrival();
            world->now = std::max(world->now, std::min(world->now + microseconds, arrival));
            return arrival <= world->now;
        };
        ops.showProgress = [](void* context, const TftpSession& session) {
            auto* world = static_cast<FakeWorld*>(context);
            world->handed.push_back({world->now, PackCounts(session)});
        };
        return ops;
    }
};

struct LoopRun {
    bool complete = false;
    TftpSession session;
    std::vector<uint8_t> image;
};

LoopRun RunLoop(FakeWorld* world, size_t imageSize) {
    LoopRun run;
    run.image.resize(imageSize);
    for (size_t i = 0; i < imageSize; ++i) {
        run.image[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    }
    std::memset(&run.session, 0, sizeof run.session);
    run.session.peerAddress = kPeer;
    run.session.peerPort = kPeerPort;
    PrepareTransfer(&run.session, static_cast<uint32_t>(imageSize));
    run.complete = RunTransfer(&run.session, run.image.data(), world->Ops());
    return run;
}

// Times at which the packet of `opcode` and `block` went out.
std::vector<uint64_t> SendTimes(const FakeWorld& world, uint16_t opcode, uint32_t block = 0) {
    std::vector<uint64_t> times;
    for (const Datagram& datagram : world.sent) {
        uint16_t sentOpcode = GetU16BE(datagram.bytes.data());
        if (sentOpcode == opcode && (opcode == kTftpOack || GetU16BE(datagram.bytes.data() + 2) == block)) {
            times.push_back(datagram.at);
        }
    }
    return times;
}

// A well-behaved client: ACK n 30 µs after DATA n (ACK 0 after the OACK).
void Acknowledge(FakeWorld& world, const std::vector<uint8_t>& packet) {
    uint16_t opcode = GetU16BE(packet.data());
    world.Deliver(30, AckPacket(opcode == kTftpOack ? 0 : GetU16BE(packet.data() + 2)));
}

// Retransmissions of one packet: 29 copies after the first, each after a
// silent cycle of 100 polls of at least 1 ms, and the give-up at the 30th
// cycle; a stream of datagrams may cut pauses short but never the cycle.
void ExpectCyclesOfAtLeast100Ms(const std::vector<uint64_t>& times, uint64_t givenUpAt) {
    ASSERT_EQ(times.size(), 30u);
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 100 * kMs) << "gap before copy " << i;
        EXPECT_LE(times[i] - times[i - 1], 102 * kMs) << "gap before copy " << i;
    }
    EXPECT_GE(givenUpAt - times.front(), 3 * kSecond);
    EXPECT_LE(givenUpAt - times.front(), 5 * kSecond);
}

TEST(TransferLoop, WholeImageWithoutAPauseBetweenBlocks) {
    FakeWorld world;
    world.peer = Acknowledge;
    LoopRun run = RunLoop(&world, 737532);

    EXPECT_TRUE(run.complete);
    EXPECT_EQ(run.session.bytesAcked, 737532u);
    ASSERT_EQ(world.sent.size(), 1442u);  // the OACK and 1441 blocks, each once
    std::vector<uint8_t> received;
    for (size_t i = 1; i < world.sent.size(); ++i) {
        EXPECT_EQ(GetU16BE(world.sent[i].bytes.data() + 2), i % 65536);
        received.insert(received.end(), world.sent[i].bytes.begin() + 4, world.sent[i].bytes.end());
    }
    EXPECT_TRUE(received == run.image);
    // One round trip of 30 µs a block, plus a microsecond a receive: no poll
    // pause ever came between them.
    EXPECT_LE(world.now, 1442 * 32u);
}

// Client and loop on one processor: while the loop looks for the ACK it
// must let the client run, or each block waits out the look.
TEST(TransferLoop, ClientOnTheSameProcessorGetsToAnswerAtOnce) {
    FakeWorld world;
    world.peer = Acknowledge;
    world.peerSharesTheProcessor = true;
    LoopRun run = RunLoop(&world, 737532);

    EXPECT_TRUE(run.complete);
    EXPECT_EQ(world.sent.size(), 1442u);
    EXPECT_LE(world.now, 1442 * 40u);
}

// Each trace line ends its line, the stranger's too, and the block lines
// keep their place among the others.
TEST(TransferLoop, TraceHoldsEachEventOnALineOfItsOwnInOrder) {
    FakeWorld world;
    world.peer = Acknowledge;
    world.Deliver(10, AckPacket(0), From(kPeer + 1, kPeerPort));
    headless::TakeDebugOutput();
    LoopRun run = RunLoop(&world, 600);

    EXPECT_TRUE(run.complete);
    EXPECT_EQ(headless::TakeDebugOutput(),
              "++++size 600, 88, 2\n"
              "Unknown source request in session: c0000215:2070\n"
              "Send block 1 (512)\nSend block 2 (88)\nAll blocks ack'd\n");
}

TEST(TransferLoop, SilentClientGetsTheOackEvery100MsAndTheGiveUpAt3s) {
    FakeWorld world;
    LoopRun run = RunLoop(&world, 5000);

    EXPECT_FALSE(run.complete);
    std::vector<uint64_t> oacks = SendTimes(world, kTftpOack);
    ExpectCyclesOfAtLeast100Ms(oacks, world.now);
    EXPECT_LE(world.now, 3001 * kMs);  // counted polls of 1 ms
}

// The client acknowledged the OACK, then repeats that ACK faster than one a
// millisecond: block 1 must still go out again every 100 ms.
TEST(TransferLoop, StreamOfStaleAcksHoldsOffNeitherRetransmissionNorGiveUp) {
    FakeWorld world;
    world.Deliver(50, AckPacket(0));
    world.streams.push_back({200, 83, 20 * kSecond, AckPacket(0), From(kPeer, kPeerPort)});
    LoopRun run = RunLoop(&world, 5000);

    EXPECT_FALSE(run.complete);
    EXPECT_EQ(run.session.nextBlock, 1u);
    ExpectCyclesOfAtLeast100Ms(SendTimes(world, kTftpData, 1), world.now);
}

// Datagrams of a stranger, empty ones included, cut pauses short but are no
// polls of their own: the cycles keep their length whatever their pace.
TEST(TransferLoop, StrangersStreamsCountNeitherTooFastNorNever) {
    struct Case {
        const char* name;
        uint64_t period;
        std::vector<uint8_t> bytes;
        sockaddr_in from;
    };
    const Case cases[] = {
        {"empty datagrams from the client's own port", 500, {}, From(kPeer, kPeerPort)},
        {"empty datagrams from another port", 97, {}, From(kPeer, kPeerPort + 1)},
        {"ACKs from another address, slower than a poll", 1700, AckPacket(1), From(kPeer + 1, kPeerPort)},
        {"ACKs from another address, faster than a poll", 700, AckPacket(1), From(kPeer + 1, kPeerPort)},
        {"ERRORs from the client", 400, {0, 5, 0, 0, 0}, From(kPeer, kPeerPort)},
    };
    for (const Case& streamCase : cases) {
        FakeWorld world;
        world.Deliver(50, AckPacket(0));
        world.streams.push_back({100, streamCase.period, 20 * kSecond, streamCase.bytes, streamCase.from});
        LoopRun run = RunLoop(&world, 5000);

        EXPECT_FALSE(run.complete) << streamCase.name;
        SCOPED_TRACE(streamCase.name);
        ExpectCyclesOfAtLeast100Ms(SendTimes(world, kTftpData, 1), world.now);
    }
}

// The loop sleeps until a datagram comes or the cycle ends, never in slices:
// a silent client costs one wake a cycle, not one a millisecond.
TEST(TransferLoop, SilentClientCostsOneWakeACycle) {
    FakeWorld world;
    LoopRun run = RunLoop(&world, 5000);

    EXPECT_FALSE(run.complete);
    ASSERT_EQ(world.pauses.size(), 30u);
    for (uint64_t pause : world.pauses) {
        EXPECT_GE(pause, 99 * kMs);
        EXPECT_LE(pause, 100 * kMs);
    }
}

// An ACK at the end of a cycle's last poll starts both counts again: the
// block after it gets its own full 30 cycles.
TEST(TransferLoop, AcceptedAckStartsTheCyclesAgain) {
    FakeWorld world;
    world.Deliver(2950 * kMs, AckPacket(0));
    LoopRun run = RunLoop(&world, 5000);

    EXPECT_FALSE(run.complete);
    std::vector<uint64_t> blocks = SendTimes(world, kTftpData, 1);
    ASSERT_FALSE(blocks.empty()) << "the ACK at 2.95 s came after the give-up";
    ExpectCyclesOfAtLeast100Ms(blocks, world.now);
    EXPECT_NEAR(static_cast<double>(blocks.front()), 2950.0 * kMs, 50.0);
    EXPECT_EQ(SendTimes(world, kTftpOack).size(), 30u);  // the 30th cycle was not reached
}

// Dialog 110's thread during an upload, on the loop's clock: the counts come
// as the loop handed them over; no message ever comes, so every wake is the
// side's own.
struct FakeDialogSide {
    const std::vector<std::pair<uint64_t, uint64_t>>* handed;
    uint64_t workEnd;
    UploadView* view;
    uint64_t now = 0;
    size_t next = 0;
    std::atomic<uint64_t> counts{0};
    std::vector<uint64_t> pumps;
    std::vector<uint64_t> frames;  // when the dialog's counts changed

    void MoveTo(uint64_t time) {
        now = time;
        while (next < handed->size() && (*handed)[next].first <= now) {
            counts.store((*handed)[next++].second);
        }
    }
    DialogSideOps Ops() {
        DialogSideOps ops;
        ops.context = this;
        ops.now = [](void* context) { return static_cast<DWORD>(static_cast<FakeDialogSide*>(context)->now / kMs); };
        ops.showFrame = [](void* context, DWORD milliseconds) {
            auto* side = static_cast<FakeDialogSide*>(context);
            uint64_t before = side->view->shown;
            DWORD untilNext = ShowUploadFrame(side->view, milliseconds);
            if (side->view->shown != before) {
                side->frames.push_back(side->now);
            }
            return untilNext;
        };
        ops.pumpPending = [](void* context) {
            auto* side = static_cast<FakeDialogSide*>(context);
            side->pumps.push_back(side->now);
        };
        ops.waitForWork = [](void* context, DWORD milliseconds) {
            auto* side = static_cast<FakeDialogSide*>(context);
            side->MoveTo(std::min(side->now + milliseconds * kMs, side->workEnd));
            return side->now >= side->workEnd;
        };
        return ops;
    }
};

// A device that answers every block within 200 us, the largest image the
// build accepts: the dialog still takes its messages and shows the counts
// every frame from the first ACK to the last.
TEST(UploadDialog, FastPeerStillGetsItsMessagesAndCountsEveryFrame) {
    FakeWorld world;
    world.peer = [](FakeWorld& w, const std::vector<uint8_t>& packet) {
        uint16_t opcode = GetU16BE(packet.data());
        w.Deliver(200, AckPacket(opcode == kTftpOack ? 0 : GetU16BE(packet.data() + 2)));
    };
    LoopRun run = RunLoop(&world, 65535u * 512 - 1);
    ASSERT_TRUE(run.complete);
    ASSERT_GT(world.now, 13 * kSecond);

    upgradeState.instance = GetModuleHandleA(nullptr);
    HWND dialog = ShowModelessDialog(IDD_UPLOAD, UploadDialogProc);
    FakeDialogSide side{&world.handed, world.now, nullptr};
    UploadView view = {dialog, &side.counts, run.session.imageSize, {kFrameMilliseconds, 0, false}, 0};
    side.view = &view;
    AnswerUntilWorkEnds(side.Ops());
    DestroyWindow(dialog);

    ASSERT_FALSE(side.pumps.empty());
    EXPECT_EQ(side.pumps.front(), 0u);
    uint64_t longestWithoutMessages = world.now - side.pumps.back();
    for (size_t i = 1; i < side.pumps.size(); ++i) {
        longestWithoutMessages = std::max(longestWithoutMessages, side.pumps[i] - side.pumps[i - 1]);
    }
    EXPECT_LE(longestWithoutMessages, kFrameMilliseconds * kMs);
    // About 30 frames a second, never more.
    ASSERT_GE(side.frames.size(), world.now / (34 * kMs));
    for (size_t i = 1; i < side.frames.size(); ++i) {
        EXPECT_GE(side.frames[i] - side.frames[i - 1], kFrameMilliseconds * kMs) << "frame " << i;
    }
}

}  // namespace
