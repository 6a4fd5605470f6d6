// What only the stand-in's kernel32 and winmm have (the rest is in
// kernel_api_test.cpp): the clock with its test offset, wrap and pace, the
// process exit with its hook, and resources read in place.
#include "test_resource_ids.h"

#include "platform/linux/headless.h"
#include "platform/linux/resource_blob.h"
#include "platform/win.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

TEST(Clock, OffsetMovesTheClockAndItWrapsAt32Bits) {
    DWORD before = timeGetTime();
    headless::SetClockOffset(1000000);
    DWORD shifted = timeGetTime();
    EXPECT_GE(shifted - before, 1000000u);
    EXPECT_LT(shifted - before, 1000000u + 1000u);

    headless::SetClockOffset(0);
    DWORD now = timeGetTime();
    headless::SetClockOffset(0u - now - 10u);  // 10 ms before the wrap
    DWORD nearWrap = timeGetTime();
    EXPECT_GE(nearWrap, 0xFFFFFFF0u - 50u);
    Sleep(40);
    DWORD wrapped = timeGetTime();
    headless::SetClockOffset(0);
    EXPECT_LT(wrapped, 1000u) << "past 2^32 the clock starts again at 0";
    EXPECT_GE(DWORD(wrapped - nearWrap), 40u) << "differences stay right across the wrap";
    EXPECT_LT(DWORD(wrapped - nearWrap), 1000u);
    EXPECT_EQ(timeBeginPeriod(1), 0u);
}

// The stand-in's resources are read in place from the embedded blob.
TEST(Resources, ReadInPlaceNotCopied) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC data = FindResourceA(module, MAKEINTRESOURCEA(IDR_TEST_DATA), "TestData");
    ASSERT_NE(data, nullptr);
    auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(module, data)));
    EXPECT_TRUE(bytes > qor_resource_blob && bytes < qor_resource_blob_end);
}

// ExitProcess ends the process with its code after the hook, with the
// buffered output written, as a test child shows.
TEST(ProcessExit, HookSeesTheEventThenOutputIsFlushedAndTheCodeKept) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        static char buffer[256];
        setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        headless::SetExitHook([](int code) {
            std::vector<headless::Event> events = headless::Events();
            bool recorded = !events.empty() && events.back().kind == headless::EventKind::ProcessExit &&
                            events.back().exitCode == code;
            std::printf("[hook %d %s]", code, recorded ? "after the event" : "without the event");
        });
        std::printf("pending output ");
        ExitProcess(3);
    }
    close(pipeEnds[1]);
    std::string output;
    char chunk[128];
    for (ssize_t got; (got = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) {
        output.append(chunk, static_cast<size_t>(got));
    }
    close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(output, "pending output [hook 3 after the event]");
}

}  // namespace
