#include "ConvertCommand.h"

#include "LogBytes.h"
#include "LogGenerator.h"
#include "StopRequest.h"

#include <gtest/gtest.h>

#include <signal.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <utility>

namespace {

const LogBytes Example =
    LogBytes(2, 1000).TimeStamp(5000).Sample(0x01000101, 13.5f).TimeStamp(5250).Sample(0x01000101, 14.0f);

struct CommandRun {
    int ExitCode;
    std::string Errors;
    std::string Output;
};

CommandRun Convert(const std::vector<std::string>& args)
{
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const int code = RunConvertCommand(args);
    std::string output = testing::internal::GetCapturedStdout();
    return {code, testing::internal::GetCapturedStderr(), std::move(output)};
}

} // namespace

// Each log gets FILE.csv beside it, at the interval given and with the point as separator.
TEST(ConvertCommand, WritesCsvBesideEachLog)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("A.displog"), Example.Bytes));
    ASSERT_TRUE(WriteBytes(folder.File("B.DISPLOG"), Example.Bytes));
    const CommandRun run = Convert({folder.File("A.displog"), "--interval", "0.1", folder.File("B.DISPLOG")});
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    EXPECT_EQ(run.Errors, "");
    const std::string expected = "Time,\"LQR Lambda 1\"\r\n0.000,13.500\r\n0.100,13.700\r\n0.200,13.900\r\n";
    EXPECT_EQ(ReadText(folder.File("A.csv")), expected);
    EXPECT_EQ(ReadText(folder.File("B.csv")), expected);
}

// Without --interval the window's default of 1 second applies; --decimal-separator sets the
// separator.
TEST(ConvertCommand, DefaultsAndSeparator)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("A.displog"), Example.Bytes));
    EXPECT_EQ(Convert({folder.File("A.displog")}).ExitCode, 0);
    EXPECT_EQ(ReadText(folder.File("A.csv")), "Time,\"LQR Lambda 1\"\r\n0.000,13.500\r\n");
    EXPECT_EQ(Convert({"--decimal-separator", ";", folder.File("A.displog")}).ExitCode, 0);
    EXPECT_EQ(ReadText(folder.File("A.csv")), "Time,\"LQR Lambda 1\"\r\n0;000,13;500\r\n");
}

// A log that cannot be read is reported with its result code and the others are still
// converted; the exit code is 1.
TEST(ConvertCommand, UnreadableLogReported)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("good.displog"), Example.Bytes));
    ASSERT_TRUE(WriteBytes(folder.File("bad.displog"), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    std::filesystem::create_directory(folder.Folder() / "dir.displog");
    const CommandRun run = Convert({folder.File("missing.displog"), folder.File("dir.displog"), folder.File("bad.displog"),
                                    folder.File("good.displog")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Errors.find("missing.displog: no such file (ERR_FILE_IHV)"), std::string::npos) << run.Errors;
    EXPECT_NE(run.Errors.find("dir.displog: a folder, not a file (ERR_FILE_IHV)"), std::string::npos) << run.Errors;
    EXPECT_NE(run.Errors.find("bad.displog: not a display log: bad signature (ERR_FILE_SIG)"), std::string::npos) << run.Errors;
    EXPECT_EQ(FolderEntries(folder.Folder()),
              (std::vector<std::string>{"bad.displog", "dir.displog", "good.csv", "good.displog"}));
}

// A CSV that cannot be created is reported with the conversion's own message.
TEST(ConvertCommand, WriteErrorReported)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("A.displog"), Example.Bytes));
    std::filesystem::create_directory(folder.File("A.csv"));
    const CommandRun run = Convert({folder.File("A.displog")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Errors.find("Cannot create file \"" + folder.File("A.csv") + "\". "), std::string::npos) << run.Errors;
}

// Usage errors convert nothing and exit with 2: no file, a bad or missing interval, an
// unusable separator, an unknown option.
TEST(ConvertCommand, UsageErrors)
{
    TempFolder folder;
    const std::string log = folder.File("A.displog");
    ASSERT_TRUE(WriteBytes(log, Example.Bytes));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {log, "--interval"},
        {log, "--interval", "0"},
        {log, "--interval", "-0.5"},
        {log, "--interval", "abc"},
        {log, "--interval", "0.1s"},
        {log, "--interval", "inf"},
        {log, "--interval", "nan"},
        {log, "--interval", "1e300"},
        {log, "--interval", "1e-50"},
        {log, "--decimal-separator", ""},
        {log, "--decimal-separator", "::"},
        {log, "--decimal-separator", "5"},
        {log, "--frobnicate"},
    };
    for (const auto& args : cases) {
        const CommandRun run = Convert(args);
        EXPECT_EQ(run.ExitCode, 2) << testing::PrintToString(args);
        EXPECT_NE(run.Errors.find("usage: tessaly-cli convert"), std::string::npos);
    }
    EXPECT_EQ(FolderEntries(folder.Folder()), std::vector<std::string>{"A.displog"});
}

// Regression: --decimal-separator E wrote 1.5 as "1E500". A letter, a digit, a sign or the
// field separator is refused with a sentence that names it, and nothing is converted.
TEST(ConvertCommand, UnusableDecimalSeparatorRefused)
{
    TempFolder folder;
    const std::string log = folder.File("A.displog");
    ASSERT_TRUE(WriteBytes(log, Example.Bytes));
    const std::pair<const char*, const char*> cases[] = {
        {"E", "The decimal separator 'E' is a letter"},
        {"7", "The decimal separator '7' is a digit"},
        {"+", "The decimal separator '+' is a sign"},
        {"-", "The decimal separator '-' is a sign"},
        {",", "The decimal separator ',' is the field separator"},
    };
    for (const auto& [separator, sentence] : cases) {
        const CommandRun run = Convert({log, "--decimal-separator", separator});
        EXPECT_EQ(run.ExitCode, 2) << separator;
        EXPECT_NE(run.Errors.find(sentence), std::string::npos) << run.Errors;
    }
    EXPECT_EQ(FolderEntries(folder.Folder()), std::vector<std::string>{"A.displog"});
}

// Regression: a log with samples but no time axis converted to a header-only CSV with exit 0.
// It is reported with the reason, exit 1, and no CSV; the other logs are still converted.
TEST(ConvertCommand, LogWithoutTimeAxisReported)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("still.displog"),
                           LogBytes(2, 0).TimeStamp(1).Sample(0x01000101, 1.0f).TimeStamp(2).Sample(0x01000101, 2.0f).Bytes));
    ASSERT_TRUE(WriteBytes(folder.File("good.displog"), Example.Bytes));
    const CommandRun run = Convert({folder.File("still.displog"), folder.File("good.displog")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Errors.find(folder.File("still.displog") + ": The log has no time axis: its tick rate is 0"),
              std::string::npos) << run.Errors;
    EXPECT_EQ(FolderEntries(folder.Folder()),
              (std::vector<std::string>{"good.csv", "good.displog", "still.displog"}));
}

// A log without any sample (here only time stamps, as zero padding reads in format 2) gives the
// header line alone, and the command says so instead of passing it off as converted data.
TEST(ConvertCommand, LogWithoutSamplesSaysSo)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("empty.displog"), LogBytes(2, 1000).TimeStamp(0).TimeStamp(0).TimeStamp(0).Bytes));
    const CommandRun run = Convert({folder.File("empty.displog")});
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    EXPECT_NE(run.Output.find("(the log holds no samples, so the CSV has its header line only)"), std::string::npos)
        << run.Output;
    EXPECT_EQ(ReadText(folder.File("empty.csv")), "Time\r\n");
    ASSERT_TRUE(WriteBytes(folder.File("good.displog"), Example.Bytes));
    EXPECT_EQ(Convert({folder.File("good.displog")}).Output.find("no samples"), std::string::npos);
}

// An interval too small for one log's duration fails that log only.
TEST(ConvertCommand, IntervalTooSmallForLog)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("long.displog"),
                           LogBytes(2, 1).TimeStamp(0).Sample(1, 0.0f).TimeStamp(4000000000u).Sample(1, 1.0f).Bytes));
    ASSERT_TRUE(WriteBytes(folder.File("short.displog"), Example.Bytes));
    const CommandRun run = Convert({"--interval", "0.001", folder.File("long.displog"), folder.File("short.displog")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Errors.find("too small"), std::string::npos) << run.Errors;
    EXPECT_EQ(FolderEntries(folder.Folder()),
              (std::vector<std::string>{"long.displog", "short.csv", "short.displog"}));
}

// A log whose name already ends in .csv is not replaced by its own conversion.
TEST(ConvertCommand, RefusesToReplaceTheLog)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("odd.csv"), Example.Bytes));
    const CommandRun run = Convert({folder.File("odd.csv")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Errors.find("would replace the log itself"), std::string::npos) << run.Errors;
    EXPECT_EQ(ReadText(folder.File("odd.csv")), std::string(Example.Bytes.begin(), Example.Bytes.end()));
}

// SIGINT or SIGTERM during a conversion stops it: the command ends with 128 + the signal's
// number, says so, and leaves only the log behind (no CSV, no temporary file). On Windows the
// console's Ctrl+C and Ctrl+Break events stand for them, handed in as the system's event thread
// does.
TEST(ConvertCommand, SignalStopsAndRemovesTemporaryFile)
{
    for (const int signal : {SIGINT, SIGTERM}) {
#ifdef _WIN32
        const unsigned long event = signal == SIGINT ? 0 : 1; // CTRL_C_EVENT, CTRL_BREAK_EVENT
#endif
        TempFolder folder;
        // 10^7 s at one tick per second, converted at 1 s: long enough to be interrupted.
        const std::string log = folder.File("long.displog");
        const LogBytes bytes = LogBytes(2, 1).TimeStamp(0).Sample(1, 0.0f).TimeStamp(10000000).Sample(1, 1.0f);
        ASSERT_TRUE(WriteBytes(log, bytes.Bytes));
#ifndef _WIN32
        // Should the conversion end before the signal is sent, the signal must not end the tests.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction previous {};
        ASSERT_EQ(sigaction(signal, &ignore, &previous), 0);
#endif

        std::atomic<bool> ended{false};
        std::thread interrupter([&] {
            // The temporary file is there once the conversion writes.
            while (!ended) {
                std::error_code error;
                for (std::filesystem::directory_iterator it(folder.Folder(), error), end; !error && it != end;
                     it.increment(error)) {
                    if (it->path().extension() == ".tmp") {
#ifdef _WIN32
                        ConsoleStopScope::HandleEvent(event);
#else
                        ::kill(::getpid(), signal);
#endif
                        return;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        const CommandRun run = Convert({log});
        ended = true;
        interrupter.join();
#ifndef _WIN32
        sigaction(signal, &previous, nullptr);
#endif

        EXPECT_EQ(run.ExitCode, 128 + signal) << run.Errors;
        EXPECT_NE(run.Errors.find("stopped"), std::string::npos) << run.Errors;
        EXPECT_EQ(FolderEntries(folder.Folder()), std::vector<std::string>{"long.displog"});
    }
}
