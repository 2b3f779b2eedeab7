// The CSV conversion on several threads: the text is the same byte for byte whatever the number
// of threads and wherever the runs of rows end, a stop from any thread leaves no file, and
// progress is reported on the calling thread. Also run under ThreadSanitizer (label threaded).
#include "LogCsv.h"

#include "LogBytes.h"
#include "LogGenerator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

namespace {

// Converts the log at `log` to `csv` on `threads` threads and returns the text.
std::string ConvertOn(unsigned threads, const std::string& log, const std::string& csv, float interval,
                      char separator = '.')
{
    CsvOptions options;
    options.Threads = threads;
    options.DecimalSeparator = separator;
    EXPECT_EQ(ConvertLogFileToCsv(log, csv, interval, options), 0u);
    return ReadText(csv);
}

size_t LineCount(const std::string& text)
{
    size_t lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++lines;
    return lines;
}

// A log whose rows at interval 0.5 s are exactly `rows`: three channels sampled at every time
// stamp, one of them without value now and then, time stamps every 500 ms up to rows x 500 ms.
std::vector<uint8_t> LogOfRows(int format, size_t rows)
{
    LogBytes bytes(format, 1000);
    std::mt19937 random(static_cast<uint32_t>(rows));
    std::uniform_real_distribution<float> value(-500.0f, 500.0f);
    const uint32_t ids[] = {format == 2 ? 0x01000101u : 0x0001u, format == 2 ? 0x04001C00u : 0x0008u,
                            format == 2 ? 0x7F00A1B2u : 0x4321u};
    for (size_t stamp = 0; stamp <= rows; ++stamp) {
        bytes.TimeStamp(static_cast<uint32_t>(stamp * 500));
        for (const uint32_t id : ids) {
            if (random() % 50 == 0)
                bytes.NoValue(id);
            else
                bytes.Sample(id, value(random));
        }
    }
    return bytes.Bytes;
}

} // namespace

// Row counts at and one beyond whole runs of rows (and a single row), in both formats and with the
// decimal comma (quoted numbers): every thread count writes the single thread's text, with one
// line per row after the header.
TEST(CsvThreads, SameTextAtRunBoundaries)
{
    TempFolder folder;
    const size_t perRun = CsvRowsPerRun(3);
    ASSERT_GT(perRun, 2u);
    for (const int format : {1, 2}) {
        for (const size_t rows : {size_t{1}, perRun, perRun + 1, 2 * perRun + 1}) {
            const std::string log = folder.File("LOG.displog");
            ASSERT_TRUE(WriteBytes(log, LogOfRows(format, rows)));
            const std::string csv = folder.File("LOG.csv");
            for (const char separator : {'.', ','}) {
                if (separator == ',' && format == 1)
                    continue; // the quoting is the same in both formats
                const std::string single = ConvertOn(1, log, csv, 0.5f, separator);
                ASSERT_EQ(LineCount(single), rows + 1) << "format " << format << ", " << rows << " rows";
                // The last row is the instant just before the duration.
                std::string lastTime = std::to_string((rows - 1) / 2) + separator + ((rows - 1) % 2 ? "500" : "000");
                if (separator == ',')
                    lastTime = "\"" + lastTime + "\"";
                EXPECT_EQ(single.substr(single.rfind("\r\n", single.size() - 3) + 2, lastTime.size() + 1), lastTime + ",");
                for (const unsigned threads : {2u, 7u})
                    ASSERT_TRUE(ConvertOn(threads, log, csv, 0.5f, separator) == single)
                        << "format " << format << ", " << rows << " rows, " << threads << " threads";
            }
        }
    }
}

// Generated logs of both formats with many channels at their own rates, dropped samples,
// samples without value, a wrapping counter and jittered cycles: the same text on 1, 2, 5 and all
// cores.
TEST(CsvThreads, SameTextOnGeneratedLogs)
{
    TempFolder folder;
    for (const int format : {1, 2}) {
        LogSpec spec;
        spec.Format = format;
        spec.Channels = RealisticChannels(format, 30);
        spec.DurationSeconds = 40;
        spec.DropProbability = 0.05;
        spec.NoValueProbability = 0.02;
        spec.FirstCounter = 0xFFFFFFFFu - 30000;
        spec.Seed = static_cast<uint32_t>(format);
        const std::string log = folder.File("RUN.displog");
        ASSERT_TRUE(WriteDispLog(log, spec));
        const std::string csv = folder.File("RUN.csv");
        // Three runs and a part of one, at an interval that is no round number.
        const auto interval = static_cast<float>(38.3 / (3.4 * static_cast<double>(CsvRowsPerRun(30))));
        const std::string single = ConvertOn(1, log, csv, interval);
        ASSERT_GT(LineCount(single), 3 * CsvRowsPerRun(30)) << "more rows than a few runs";
        for (const unsigned threads : {2u, 5u, 0u})
            ASSERT_TRUE(ConvertOn(threads, log, csv, interval) == single) << "format " << format << ", " << threads;
    }
}

// Progress comes on the calling thread, with rows that only grow, and ends with every row.
TEST(CsvThreads, ProgressOnCallingThread)
{
    TempFolder folder;
    LogSpec spec;
    spec.Channels = RealisticChannels(2, 24);
    spec.DurationSeconds = 120;
    const std::string log = folder.File("LOG.displog");
    ASSERT_TRUE(WriteDispLog(log, spec));
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    CsvOptions options;
    options.Threads = 4;
    options.Progress = [&](uint64_t done, uint64_t total) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        reports.emplace_back(done, total);
    };
    ASSERT_EQ(ConvertLogFileToCsv(log, folder.File("LOG.csv"), 0.004f, options), 0u);
    ASSERT_GE(reports.size(), 3u);
    for (size_t i = 1; i < reports.size(); ++i) {
        EXPECT_GE(reports[i].first, reports[i - 1].first);
        EXPECT_LE(reports[i].first, reports[i].second);
    }
    const uint64_t rows = LineCount(ReadText(folder.File("LOG.csv"))) - 1;
    EXPECT_EQ(reports.back(), std::make_pair(rows, rows));
}

// A stop raised from the progress report, while workers are formatting ahead, ends the
// conversion with CsvStoppedError: the earlier CSV stays as it was and no temporary file is left.
TEST(CsvThreads, StopFromProgressLeavesNoFile)
{
    TempFolder folder;
    LogSpec spec;
    spec.Channels = RealisticChannels(2, 24);
    spec.DurationSeconds = 120;
    const std::string log = folder.File("LOG.displog");
    ASSERT_TRUE(WriteDispLog(log, spec));
    const std::string csv = folder.File("LOG.csv");
    ASSERT_TRUE(WriteBytes(csv, {'o', 'l', 'd'}));
    for (const unsigned threads : {2u, 4u}) {
        std::atomic<bool> stop{false};
        uint64_t rowsAtStop = 0;
        uint64_t rowsTotal = 0;
        CsvOptions options;
        options.Threads = threads;
        options.Stop = &stop;
        options.Progress = [&](uint64_t done, uint64_t total) {
            rowsAtStop = done;
            rowsTotal = total;
            stop = true;
        };
        EXPECT_THROW((void)ConvertLogFileToCsv(log, csv, 0.001f, options), CsvStoppedError);
        EXPECT_GT(rowsAtStop, 0u);
        EXPECT_LT(rowsAtStop, rowsTotal);
        EXPECT_EQ(ReadText(csv), "old");
        EXPECT_EQ(FolderEntries(folder.Folder()), (std::vector<std::string>{"LOG.csv", "LOG.displog"}));
    }
}

// A stop raised by another thread while the workers format (as a signal handler raises it) ends
// the conversion with CsvStoppedError, leaving no file. The progress report waits until the
// other thread has raised it, so the stop surely comes mid-way.
TEST(CsvThreads, StopFromAnotherThread)
{
    TempFolder folder;
    LogSpec spec;
    spec.Channels = RealisticChannels(1, 12);
    spec.DurationSeconds = 120;
    const std::string log = folder.File("LOG.displog");
    ASSERT_TRUE(WriteDispLog(log, spec));
    const std::string csv = folder.File("LOG.csv");

    std::atomic<bool> stop{false};
    std::atomic<bool> asked{false};
    std::thread stopper([&] {
        while (!asked)
            std::this_thread::yield();
        stop = true;
    });
    CsvOptions options;
    options.Threads = 3;
    options.Stop = &stop;
    options.Progress = [&](uint64_t, uint64_t) {
        asked = true;
        while (!stop)
            std::this_thread::yield();
    };
    EXPECT_THROW((void)ConvertLogFileToCsv(log, csv, 0.001f, options), CsvStoppedError);
    asked = true;
    stopper.join();
    EXPECT_EQ(FolderEntries(folder.Folder()), std::vector<std::string>{"LOG.displog"});
}

// A stop raised by another thread at an unknown moment either ends the conversion with
// CsvStoppedError and no file, or comes too late and the CSV is complete: never anything in
// between.
TEST(CsvThreads, StopAtAnyMomentIsAllOrNothing)
{
    TempFolder folder;
    LogSpec spec;
    spec.Channels = RealisticChannels(1, 12);
    spec.DurationSeconds = 60;
    const std::string log = folder.File("LOG.displog");
    ASSERT_TRUE(WriteDispLog(log, spec));
    const std::string csv = folder.File("LOG.csv");
    const std::string complete = ConvertOn(1, log, csv, 0.001f);
    std::filesystem::remove(csv);

    for (int delayMs : {0, 1, 3, 10, 30, 100}) {
        std::atomic<bool> stop{false};
        CsvOptions options;
        options.Threads = 3;
        options.Stop = &stop;
        std::thread stopper([&stop, delayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            stop = true;
        });
        bool stopped = false;
        try {
            (void)ConvertLogFileToCsv(log, csv, 0.001f, options);
        } catch (const CsvStoppedError&) {
            stopped = true;
        }
        stopper.join();
        if (stopped) {
            EXPECT_EQ(FolderEntries(folder.Folder()), std::vector<std::string>{"LOG.displog"}) << delayMs;
        } else {
            EXPECT_TRUE(ReadText(csv) == complete) << delayMs;
            std::filesystem::remove(csv);
        }
    }
}

// The threads asked for are the threads used; 0 means one per core, at least one.
TEST(CsvThreads, ThreadCount)
{
    CsvOptions options;
    EXPECT_GE(CsvThreads(options), 1u);
    EXPECT_EQ(CsvThreads(options), std::max(1u, std::thread::hardware_concurrency()));
    options.Threads = 3;
    EXPECT_EQ(CsvThreads(options), 3u);
    options.Threads = 100000;
    EXPECT_EQ(CsvThreads(options), 64u);
    // Wider rows, fewer of them to a run; never none.
    EXPECT_GE(CsvRowsPerRun(1), CsvRowsPerRun(24));
    EXPECT_GE(CsvRowsPerRun(1'000'000), 1u);
}
