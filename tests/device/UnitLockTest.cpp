#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "UnitLock.h"

#ifdef _WIN32
#include <process.h>

#include "ShellRun.h"
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// A key of its own per test process, so parallel test runs never meet.
std::string Key(const char* name) { return std::string("test:") + name + ":" + std::to_string(getpid()); }

} // namespace

// While one holder has the unit, another waits its time and gets nothing;
// once the first lets go, the unit can be had at once.
TEST(UnitLock, SecondHolderWaitsThenGivesUp)
{
    const std::string key = Key("second");
    UnitLockAttempt first = LockUnitFile(key, 0);
    ASSERT_TRUE(first.Lock);
    EXPECT_FALSE(first.PreviousUnfinished);
    const auto start = std::chrono::steady_clock::now();
    UnitLockAttempt second = LockUnitFile(key, 150);
    EXPECT_FALSE(second.Lock);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    first.Lock.reset();
    UnitLockAttempt third = LockUnitFile(key, 0);
    ASSERT_TRUE(third.Lock);
    // The first holder ended normally.
    EXPECT_FALSE(third.PreviousUnfinished);
}

// A command may end on another thread than the one it began on: the lock goes with the object,
// not with a thread.
TEST(UnitLock, ReleasedFromAnotherThread)
{
    const std::string key = Key("thread");
    UnitLockAttempt first = LockUnitFile(key, 0);
    ASSERT_TRUE(first.Lock);
    std::thread([&] { first.Lock.reset(); }).join();
    UnitLockAttempt second = LockUnitFile(key, 0);
    ASSERT_TRUE(second.Lock);
    EXPECT_FALSE(second.PreviousUnfinished);
    // The same thread asking again while it holds the unit is refused too.
    EXPECT_FALSE(LockUnitFile(key, 0).Lock);
}

#ifdef _WIN32
// A program that dies in the middle of a command leaves replies on their way:
// the next holder learns that its predecessor did not finish.
TEST(UnitLock, HolderThatDiedIsReported)
{
    const std::string key = Key("died");
    const testsupport::ShellRun holder = testsupport::RunProgram(TESSALY_LOCK_HOLDER, {key});
    ASSERT_EQ(holder.Exit, 0) << holder.Output;
    UnitLockAttempt next = LockUnitFile(key, 1000);
    ASSERT_TRUE(next.Lock);
    EXPECT_TRUE(next.PreviousUnfinished);
    next.Lock.reset();
    // It finished normally: the one after it is told nothing.
    EXPECT_FALSE(LockUnitFile(key, 1000).PreviousUnfinished);
}
#else
// A program that dies in the middle of a command leaves replies on their way:
// the next holder learns that its predecessor did not finish.
TEST(UnitLock, HolderThatDiedIsReported)
{
    const std::string key = Key("died");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        UnitLockAttempt held = LockUnitFile(key, 1000);
        _exit(held.Lock ? 0 : 1); // ends without letting go, as a killed program does
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    UnitLockAttempt next = LockUnitFile(key, 1000);
    ASSERT_TRUE(next.Lock);
    EXPECT_TRUE(next.PreviousUnfinished);
}
#endif
