// Console control events (Windows' Ctrl+C, Ctrl+Break, closing the console) stop a command as
// SIGINT and SIGTERM do elsewhere. The events are handed in as the system hands them.
#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "StopRequest.h"

namespace {

std::vector<int> stops;
void RecordStop(int signal) { stops.push_back(signal); }

constexpr unsigned long CtrlC = 0;     // CTRL_C_EVENT
constexpr unsigned long CtrlBreak = 1; // CTRL_BREAK_EVENT
constexpr unsigned long Close = 2;     // CTRL_CLOSE_EVENT

TEST(ConsoleStop, EventsStandForTheSignalsOfOtherSystems)
{
    EXPECT_EQ(ConsoleStopScope::SignalForEvent(CtrlC), SIGINT);
    EXPECT_EQ(ConsoleStopScope::SignalForEvent(CtrlBreak), SIGTERM);
    EXPECT_EQ(ConsoleStopScope::SignalForEvent(Close), SIGTERM);
}

// The first event asks the command to stop and keeps the process; with secondEndsProcess the
// next one is left to the system's default handling, which ends the process.
TEST(ConsoleStop, SecondEventEndsTheProcessWhenAskedTo)
{
    stops.clear();
    {
        const ConsoleStopScope scope(RecordStop, true);
        EXPECT_TRUE(ConsoleStopScope::HandleEvent(CtrlC));
        EXPECT_FALSE(ConsoleStopScope::HandleEvent(CtrlC));
    }
    EXPECT_EQ(stops, std::vector<int>{SIGINT});
}

TEST(ConsoleStop, EveryEventIsAStopRequestOtherwise)
{
    stops.clear();
    {
        const ConsoleStopScope scope(RecordStop, false);
        EXPECT_TRUE(ConsoleStopScope::HandleEvent(CtrlC));
        EXPECT_TRUE(ConsoleStopScope::HandleEvent(CtrlBreak));
    }
    EXPECT_EQ(stops, (std::vector<int>{SIGINT, SIGTERM}));
}

// Outside a scope nothing is taken: the process ends as it would without the command.
TEST(ConsoleStop, NothingIsTakenOutsideAScope)
{
    stops.clear();
    {
        const ConsoleStopScope scope(RecordStop, true);
        EXPECT_TRUE(ConsoleStopScope::HandleEvent(Close));
    }
    EXPECT_FALSE(ConsoleStopScope::HandleEvent(CtrlC));
    // A new scope starts with no event seen.
    {
        const ConsoleStopScope scope(RecordStop, true);
        EXPECT_TRUE(ConsoleStopScope::HandleEvent(CtrlC));
    }
    EXPECT_EQ(stops, (std::vector<int>{SIGTERM, SIGINT}));
}

} // namespace
