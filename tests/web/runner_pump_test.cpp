// The request runner's pump on a fake clock with a scripted worker: the bar
// steps once per 10 ms and goes to the screen at most ten times a second,
// every message is taken when it comes, and the attempt ends with its worker.
#include "src/web/request_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr DWORD kStart = 5000;  // the clock when an attempt starts

struct Frame {
    DWORD at;
    int position;
};

// A clock that moves when the pump pauses: a pause ends at its time, at the
// next message, or at the worker's end, whichever comes first.
struct FakeAttempt {
    explicit FakeAttempt(DWORD runsFor, DWORD start = kStart) : now(start), workerEndsAt(start + runsFor) {}

    DWORD now;
    DWORD workerEndsAt;
    int result = 0;
    std::vector<DWORD> messagesAt;
    std::vector<Frame> frames;
    std::vector<DWORD> pumps;
    std::vector<DWORD> pauses;
    int starts = 0;
    int finishes = 0;

    DWORD NextWake(DWORD milliseconds) const {
        DWORD next = std::min(now + milliseconds, workerEndsAt);
        for (DWORD at : messagesAt) {
            if (at > now) {
                next = std::min(next, at);
            }
        }
        return next;
    }

    AttemptOps Ops() {
        AttemptOps ops;
        ops.context = this;
        ops.now = [](void* context) { return static_cast<FakeAttempt*>(context)->now; };
        ops.start = [](void* context, DeviceRequest*) {
            ++static_cast<FakeAttempt*>(context)->starts;
            return true;
        };
        ops.pump = [](void* context) {
            auto* world = static_cast<FakeAttempt*>(context);
            world->pumps.push_back(world->now);
        };
        ops.showBar = [](void* context, int position) {
            auto* world = static_cast<FakeAttempt*>(context);
            world->frames.push_back({world->now, position});
        };
        ops.pauseUntilWorkerEnds = [](void* context, DWORD milliseconds) {
            auto* world = static_cast<FakeAttempt*>(context);
            world->pauses.push_back(world->now);
            world->now = world->NextWake(milliseconds);
            return world->now >= world->workerEndsAt;
        };
        ops.finish = [](void* context) {
            auto* world = static_cast<FakeAttempt*>(context);
            ++world->finishes;
            return world->result;
        };
        return ops;
    }
};

int Attempt(FakeAttempt* world, ProgressTicker* ticker) {
    DeviceRequest request = {};
    return RunAttempt(&request, ticker, world->Ops());
}

TEST(RunnerPump, TheBarFollowsTheClockTenFramesASecond) {
    FakeAttempt world(1000);
    ProgressTicker ticker = {0, 0, 0};
    Attempt(&world, &ticker);
    ASSERT_GE(world.frames.size(), 9u);
    EXPECT_LE(world.frames.size(), 11u);
    for (size_t i = 0; i < world.frames.size(); ++i) {
        int steps = int(world.frames[i].at - kStart) / 10;
        EXPECT_EQ(world.frames[i].position, steps - 1) << "one step per 10 ms, frame " << i;
        if (i > 0) {
            EXPECT_GE(world.frames[i].at - world.frames[i - 1].at, 100u) << "at most one frame per 100 ms";
        }
    }
    EXPECT_EQ(ticker.position, world.frames.back().position + 1);
    EXPECT_LE(world.pauses.size(), 12u) << "asleep between the bar's moves";
}

TEST(RunnerPump, TheBarStartsAgainPastItsEnd) {
    FakeAttempt world(1500);
    ProgressTicker ticker = {0, 0, 0};
    Attempt(&world, &ticker);
    int highest = 0;
    for (const Frame& frame : world.frames) {
        EXPECT_GE(frame.position, 0);
        EXPECT_LE(frame.position, 100);
        highest = std::max(highest, frame.position);
    }
    EXPECT_GE(highest, 90);
    EXPECT_LT(world.frames.back().position, 60) << "wrapped: position 101 is 0 again";
    EXPECT_EQ(ticker.position, (int(world.frames.back().at - kStart) / 10) % 101);
}

TEST(RunnerPump, EveryMessageIsTakenWhenItComes) {
    FakeAttempt world(700);
    world.messagesAt = {kStart + 15, kStart + 150, kStart + 151, kStart + 420};
    ProgressTicker ticker = {0, 0, 0};
    Attempt(&world, &ticker);
    EXPECT_EQ(world.pumps.front(), kStart) << "messages are taken before the first pause";
    for (DWORD at : world.messagesAt) {
        EXPECT_NE(std::find(world.pumps.begin(), world.pumps.end(), at), world.pumps.end()) << "at " << at;
    }
}

TEST(RunnerPump, TheAttemptEndsWithItsWorkerAndGivesItsResult) {
    FakeAttempt world(333);
    world.result = 1234;
    ProgressTicker ticker = {0, 0, 0};
    EXPECT_EQ(Attempt(&world, &ticker), 1234);
    EXPECT_EQ(world.now, kStart + 333) << "no pause after the worker's end";
    EXPECT_EQ(world.starts, 1);
    EXPECT_EQ(world.finishes, 1);

    FakeAttempt done(0);  // a worker done before the first pause
    EXPECT_EQ(Attempt(&done, &ticker), 0);
    EXPECT_EQ(done.pumps.size(), 1u) << "its dialog's messages are still taken once";
    EXPECT_EQ(done.finishes, 1);
}

// The bar of a second attempt (after a password) goes on from where the
// first one stopped; the time between the attempts does not count.
TEST(RunnerPump, TheNextAttemptGoesOnFromWhereTheBarStopped) {
    FakeAttempt first(300);
    ProgressTicker ticker = {0, 0, 0};
    Attempt(&first, &ticker);
    FakeAttempt second(400, kStart + 60000);
    Attempt(&second, &ticker);
    ASSERT_FALSE(first.frames.empty());
    ASSERT_FALSE(second.frames.empty());
    EXPECT_EQ(second.frames.front().position, first.frames.back().position + 1);
    EXPECT_EQ(second.frames.front().at, kStart + 60000 + 10) << "shown at the first step of the new dialog";
}

}  // namespace
