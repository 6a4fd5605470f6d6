// kernel32 as the program uses it, on the stand-in and under Wine alike:
// thread exit codes and handles, Sleep, the module, and resources of the
// tests' own resource script.
#include "stand_in.h"
#include "test_resource_ids.h"

#include "platform/win.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace {

std::atomic<bool> released{false};
std::atomic<bool> finished{false};

DWORD WINAPI WaitForRelease(LPVOID parameter) {
    while (!released) {
        Sleep(1);
    }
    finished = true;
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

TEST(Threads, ExitCodeIsStillActiveUntilTheThreadEnds) {
    released = false;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitForRelease, reinterpret_cast<LPVOID>(77), 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &thread, FALSE, 20, QS_ALLINPUT), DWORD(WAIT_TIMEOUT));
    released = true;
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT), DWORD(WAIT_OBJECT_0));
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 77u);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &thread, FALSE, 0, QS_ALLINPUT), DWORD(WAIT_OBJECT_0))
        << "an ended thread stays signalled";
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(CloseHandle(thread)) << "a closed handle is gone";
    EXPECT_FALSE(GetExitCodeThread(thread, &code));
}

TEST(Threads, ClosingTheHandleLeavesTheThreadRunning) {
    released = false;
    finished = false;
    HANDLE thread = CreateThread(nullptr, 0, WaitForRelease, nullptr, 0, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    released = true;
    for (int waited = 0; !finished && waited < 5000; ++waited) {
        Sleep(1);
    }
    EXPECT_TRUE(finished);
}

TEST(Clock, SleepWaitsAtLeastTheTimeGiven) {
    auto start = std::chrono::steady_clock::now();
    Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(Module, TheExecutableIsAModule) {
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), GetModuleHandleA(nullptr));
    EXPECT_STAND_IN_DIFFERS(GetModuleHandleA("user32.dll") != nullptr, GetModuleHandleA("user32.dll") == nullptr,
                            "the stand-in loads no DLLs; the program asks only for its own module");
}

TEST(Resources, CustomTypeByNameAndDialogByOrdinal) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC data = FindResourceA(module, MAKEINTRESOURCEA(IDR_TEST_DATA), "TestData");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(SizeofResource(module, data), 10u);
    auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, data)));
    EXPECT_STREQ(bytes, "test data");

    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(IDD_TEST_ENTRY), RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(IDD_TEST_ENTRY), "TestData"), nullptr);
    EXPECT_EQ(FindResourceA(module, "IDR_TEST_DATA", "TestData"), nullptr) << "numbered, not named";
}

}  // namespace
