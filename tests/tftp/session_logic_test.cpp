// The session's and listener's decisions, datagram by datagram and poll by
// poll, without sockets or sleeping.
#include "src/shared/upgrade_state.h"
#include "src/tftp/completion.h"
#include "src/tftp/listener.h"
#include "src/tftp/session.h"
#include "tests/tftp/tftp_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kPeer = 0x7F000001;  // 127.0.0.1
constexpr uint16_t kPeerPort = 40000;

TftpSession SessionFor(uint32_t imageSize) {
    TftpSession session;
    std::memset(&session, 0, sizeof session);
    session.peerAddress = kPeer;
    session.peerPort = kPeerPort;
    PrepareTransfer(&session, imageSize);
    return session;
}

DatagramVerdict Examine(const TftpSession& session, const std::vector<uint8_t>& packet,
                        sockaddr_in sender = From(kPeer, kPeerPort)) {
    return ExamineDatagram(session, packet.data(), static_cast<int>(packet.size()), sender);
}

TEST(TransferSizes, TargetImageIs1441BlocksEndingWith252) {
    TftpSession session = SessionFor(737532);
    EXPECT_EQ(session.blockCount, 1441u);
    EXPECT_EQ(session.lastBlockSize, 252u);
}

TEST(TransferSizes, MultipleOf512EndsWithAnEmptyBlock) {
    TftpSession session = SessionFor(1024);
    EXPECT_EQ(session.blockCount, 3u);
    EXPECT_EQ(session.lastBlockSize, 0u);
    TftpSession empty = SessionFor(0);
    EXPECT_EQ(empty.blockCount, 1u);
    EXPECT_EQ(empty.lastBlockSize, 0u);
}

TEST(ExamineDatagram, AcceptsOnlyTheExpectedAckFromThePeer) {
    TftpSession session = SessionFor(2000);
    session.nextBlock = 3;
    EXPECT_EQ(Examine(session, AckPacket(3)), DatagramVerdict::Accepted);
    EXPECT_EQ(Examine(session, AckPacket(2)), DatagramVerdict::Dropped);
    EXPECT_EQ(Examine(session, AckPacket(4)), DatagramVerdict::Dropped);
    EXPECT_EQ(Examine(session, AckPacket(3), From(kPeer, kPeerPort + 1)), DatagramVerdict::Ignored);
    EXPECT_EQ(Examine(session, AckPacket(3), From(kPeer + 1, kPeerPort)), DatagramVerdict::Ignored);
}

TEST(ExamineDatagram, IgnoresEverythingButAnAck) {
    TftpSession session = SessionFor(2000);
    for (uint16_t opcode : {kTftpRrq, kTftpWrq, kTftpData, kTftpError, kTftpOack, uint16_t(0), uint16_t(0x0400)}) {
        std::vector<uint8_t> packet = AckPacket(0);
        PutU16BE(packet.data(), opcode);
        EXPECT_EQ(Examine(session, packet), DatagramVerdict::Ignored) << "opcode " << opcode;
    }
}

TEST(ExamineDatagram, ShortDatagramIsNoAckWhateverTheBufferHolds) {
    TftpSession session = SessionFor(2000);
    // A full ACK 0 sits in the buffer from before; only the first bytes are new.
    uint8_t packet[kTftpPacketSize];
    std::vector<uint8_t> stale = AckPacket(0);
    std::memcpy(packet, stale.data(), stale.size());
    for (int length = 1; length < 4; ++length) {
        EXPECT_EQ(ExamineDatagram(session, packet, length, From(kPeer, kPeerPort)), DatagramVerdict::Ignored)
            << length << " bytes";
    }
    EXPECT_EQ(ExamineDatagram(session, packet, 4, From(kPeer, kPeerPort)), DatagramVerdict::Accepted);
}

TEST(ExamineDatagram, BlockNumberWrapsAt16BitsAgainstTheWholeCounter) {
    TftpSession session = SessionFor(40000000);  // past 65535 blocks only in this test
    session.nextBlock = 65536;
    EXPECT_EQ(Examine(session, AckPacket(0)), DatagramVerdict::Dropped);
}

// Walks a whole transfer with every ACK on time: sizes, offsets and sums.
TEST(AcceptAck, WholeTargetTransfer) {
    std::vector<uint8_t> image(737532);
    TftpSession session = SessionFor(static_cast<uint32_t>(image.size()));
    TransferProgress progress = {image.data(), 0, 0};
    uint32_t payloadTotal = 0;
    bool last = false;
    while (!last) {
        progress.polls = 42;
        progress.silentCycles = 7;
        last = AcceptAck(&session, &progress);
        EXPECT_EQ(progress.polls, 0);
        EXPECT_EQ(progress.silentCycles, 0);
        EXPECT_EQ(session.bytesAcked, payloadTotal);
        if (last) {
            break;
        }
        AdvanceToNextBlock(&session, &progress, image.data());
        ASSERT_EQ(progress.imageCursor, image.data() + (session.nextBlock - 1) * 512);
        ASSERT_LE(progress.imageCursor + session.sentSize, image.data() + image.size());
        payloadTotal += session.sentSize;
    }
    EXPECT_EQ(session.nextBlock, 1442u);
    EXPECT_EQ(session.sentSize, 252u);
    EXPECT_EQ(session.bytesAcked, 737532u);
}

TEST(AcceptAck, EmptyImageIsOneEmptyBlock) {
    TftpSession session = SessionFor(0);
    TransferProgress progress = {nullptr, 0, 0};
    EXPECT_FALSE(AcceptAck(&session, &progress));  // ACK of the OACK
    AdvanceToNextBlock(&session, &progress, nullptr);
    EXPECT_EQ(session.nextBlock, 1u);
    EXPECT_EQ(session.sentSize, 0u);
    EXPECT_TRUE(AcceptAck(&session, &progress));
    EXPECT_EQ(session.bytesAcked, 0u);
}

// 100 polls make a silent cycle; 29 of them retransmit, the 30th gives up.
TEST(CountPoll, RetransmitsEvery100PollsAndGivesUpAtThe30thCycle) {
    TransferProgress progress = {nullptr, 0, 0};
    int retransmissions = 0;
    int polls = 0;
    for (;;) {
        ++polls;
        PollVerdict verdict = CountPoll(&progress);
        if (verdict == PollVerdict::Retransmit) {
            ++retransmissions;
            EXPECT_EQ(polls % 100, 0) << "at poll " << polls;
        }
        if (verdict == PollVerdict::GiveUp) {
            break;
        }
        ASSERT_LT(polls, 10000);
    }
    EXPECT_EQ(polls, 3000);
    EXPECT_EQ(retransmissions, 29);
}

TEST(CountPoll, AnAcceptedAckStartsBothCountsAgain) {
    std::vector<uint8_t> image(2000);
    TftpSession session = SessionFor(2000);
    TransferProgress progress = {image.data(), 0, 0};
    for (int i = 0; i < 2999; ++i) {
        ASSERT_NE(CountPoll(&progress), PollVerdict::GiveUp);
    }
    AcceptAck(&session, &progress);
    for (int i = 0; i < 2999; ++i) {
        ASSERT_NE(CountPoll(&progress), PollVerdict::GiveUp) << "poll " << i;
    }
    EXPECT_EQ(CountPoll(&progress), PollVerdict::GiveUp);
}

std::vector<uint8_t> Request(uint16_t opcode, const std::string& body) {
    std::vector<uint8_t> packet(2);
    PutU16BE(packet.data(), opcode);
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

bool Expected(const std::vector<uint8_t>& packet) {
    return IsExpectedReadRequest(packet.data(), static_cast<int>(packet.size()));
}

TEST(ReadRequest, MatchesTheExpectedNameExactly) {
    SetFileName("/qor1a2b.bi0");
    EXPECT_TRUE(Expected(Request(kTftpRrq, std::string("/qor1a2b.bi0\0octet\0tsize\0"
                                                       "0\0",
                                                       25))));
    EXPECT_TRUE(Expected(Request(kTftpRrq, std::string("/qor1a2b.bi0\0", 13))));
    EXPECT_FALSE(Expected(Request(kTftpRrq, std::string("/QOR1a2b.bi0\0octet\0", 19))));
    EXPECT_FALSE(Expected(Request(kTftpRrq, std::string("/qor1a2b.bi1\0octet\0", 19))));
    EXPECT_FALSE(Expected(Request(kTftpRrq, std::string("/qor1a2b.bi0x\0octet\0", 20))));
    EXPECT_FALSE(Expected(Request(kTftpRrq, std::string("qor1a2b.bi0\0octet\0", 18))));
    EXPECT_FALSE(Expected(Request(kTftpWrq, std::string("/qor1a2b.bi0\0octet\0", 19))));
}

// The name without its NUL at the very end of the datagram, with the NUL
// only in stale buffer bytes behind it: no match, and nothing read past.
TEST(ReadRequest, NameWithoutNulInsideTheDatagramNeverMatches) {
    SetFileName("/qor1a2b.bi0");
    uint8_t packet[kTftpPacketSize];
    std::memset(packet, 0, sizeof packet);
    PutU16BE(packet, kTftpRrq);
    std::memcpy(packet + 2, "/qor1a2b.bi0", 12);
    EXPECT_FALSE(IsExpectedReadRequest(packet, 14));
    EXPECT_TRUE(IsExpectedReadRequest(packet, 15));

    // A full packet of name characters, no NUL anywhere: the heap copy of
    // exactly 1024 bytes lets a sanitizer catch any read past it.
    std::vector<uint8_t> full(kTftpPacketSize, 'q');
    PutU16BE(full.data(), kTftpRrq);
    EXPECT_FALSE(IsExpectedReadRequest(full.data(), static_cast<int>(full.size())));
    SetFileName(std::string(127, 'q').c_str());
    EXPECT_FALSE(IsExpectedReadRequest(full.data(), static_cast<int>(full.size())));
}

TEST(ReadRequest, TooShortForAnOpcode) {
    SetFileName("");
    uint8_t packet[kTftpPacketSize] = {0, 1, 0};
    EXPECT_FALSE(IsExpectedReadRequest(packet, 1));
    EXPECT_FALSE(IsExpectedReadRequest(packet, 2));
    EXPECT_TRUE(IsExpectedReadRequest(packet, 3));  // the empty name and its NUL
}

TEST(UpdatingTicks, CountAcrossTheWrapOfTheTickValue) {
    EXPECT_EQ(TicksSince(1000, 1937), 937u);
    EXPECT_EQ(TicksSince(0, 0), 0u);
    const DWORD lastTick = (1u << 27) - 1;
    EXPECT_EQ(TicksSince(lastTick - 10, lastTick), 10u);
    EXPECT_EQ(TicksSince(lastTick - 10, 0), 11u);
    EXPECT_EQ(TicksSince(lastTick - 10, 926), 937u);
}

}  // namespace
