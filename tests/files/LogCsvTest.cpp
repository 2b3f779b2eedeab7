#include "LogCsv.h"

#include "LogBytes.h"
#include "LogGenerator.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <utility>
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

std::string Number(double value, int decimals, char separator = '.')
{
    char text[CsvNumberMaxLength];
    return std::string(text, FormatCsvNumber(value, decimals, separator, text));
}

const LogBytes WorkedExample =
    LogBytes(2, 1000).TimeStamp(5000).Sample(0x01000101, 13.5f).TimeStamp(5250).Sample(0x01000101, 14.0f);

// Converts the bytes as a log file in a fresh folder and returns the CSV text.
std::string Convert(const std::vector<uint8_t>& bytes, float interval, char separator = '.')
{
    TempFolder folder;
    const std::string log = folder.File("LOG001.displog");
    EXPECT_TRUE(WriteBytes(log, bytes));
    CsvOptions options;
    options.DecimalSeparator = separator;
    EXPECT_EQ(ConvertLogFileToCsv(log, CsvPathForLog(log), interval, options), 0u);
    return ReadText(folder.File("LOG001.csv"));
}

// The number of decimals rounded half away from zero on the exact decimal expansion, done on
// the digits of printf's exact output: an independent way to the same text.
std::string ReferenceFixed(double value, int decimals)
{
    std::vector<char> exact(1200);
    std::snprintf(exact.data(), exact.size(), "%.1100f", std::fabs(value));
    std::string digits(exact.data());
    const size_t point = digits.find('.');
    std::string kept = digits.substr(0, point) + digits.substr(point + 1, static_cast<size_t>(decimals));
    if (digits[point + 1 + static_cast<size_t>(decimals)] >= '5') {
        int i = static_cast<int>(kept.size()) - 1;
        while (i >= 0 && kept[static_cast<size_t>(i)] == '9')
            kept[static_cast<size_t>(i--)] = '0';
        if (i < 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[static_cast<size_t>(i)];
    }
    std::string text = kept.substr(0, kept.size() - static_cast<size_t>(decimals));
    if (decimals > 0)
        text += "." + kept.substr(kept.size() - static_cast<size_t>(decimals));
    const bool zero = kept.find_first_not_of('0') == std::string::npos;
    return (std::signbit(value) && !zero ? "-" : "") + text;
}

#ifndef _WIN32
// Runs in a death-test child: converts with a file size limit far below the CSV's size and exits
// with 0 when the failure was reported as "Stream write error" with the file and the reason.
[[noreturn]] void ConvertUnderSizeLimit(const std::string& log, const std::string& csv)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100000, 100000};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
        (void)ConvertLogFileToCsv(log, csv, 0.001f);
    } catch (const CsvWriteError& error) {
        std::exit(std::string(error.what()) == "Stream write error: " + csv + ": File too large" ? 0 : 3);
    }
    std::exit(4);
}
#endif

} // namespace

// The reference log: interval 0.1 gives the header and three rows, the instant 0.300 lies
// beyond the duration 0.25.
TEST(ConvertLogFileToCsv, WorkedExample)
{
    EXPECT_EQ(Convert(WorkedExample.Bytes, 0.1f),
              "Time,\"LQR Lambda 1\"\r\n0.000,13.500\r\n0.100,13.700\r\n0.200,13.900\r\n");
    EXPECT_EQ(Convert(WorkedExample.Bytes, 1.0f), "Time,\"LQR Lambda 1\"\r\n0.000,13.500\r\n");
}

// With a decimal comma every number with decimals is quoted.
TEST(ConvertLogFileToCsv, DecimalComma)
{
    EXPECT_EQ(Convert(WorkedExample.Bytes, 0.1f, ','),
              "Time,\"LQR Lambda 1\"\r\n\"0,000\",\"13,500\"\r\n\"0,100\",\"13,700\"\r\n\"0,200\",\"13,900\"\r\n");
}

// Format 1: PRESSURE VOLTS is quoted and has two decimals, TP has none; a channel that starts
// late or ends early is NAN outside its samples, and from its last sample's time on.
TEST(ConvertLogFileToCsv, ColumnsPatternsAndGaps)
{
    const LogBytes bytes = LogBytes(1, 10)
                               .TimeStamp(0)
                               .Sample(0x0008, 1.0f)
                               .Sample(0x0001, 10.0f)
                               .TimeStamp(10)
                               .Sample(0x0008, 2.0f)
                               .Sample(0x0001, 20.0f)
                               .Sample(0x0005, 7.0f)
                               .TimeStamp(20)
                               .Sample(0x0008, 3.0f)
                               .Sample(0x0005, 8.0f)
                               .TimeStamp(30)
                               .Sample(0x0008, 4.0f);
    EXPECT_EQ(Convert(bytes.Bytes, 0.5f), "Time,\"PRESSURE VOLTS\",TP,\"ID (0x0005)\"\r\n"
                                          "0.000,1.00,10,NAN\r\n"
                                          "0.500,1.50,15,NAN\r\n"
                                          "1.000,2.00,NAN,7.000\r\n"
                                          "1.500,2.50,NAN,7.500\r\n"
                                          "2.000,3.00,NAN,NAN\r\n"
                                          "2.500,3.50,NAN,NAN\r\n");
}

// Values that are not finite numbers are written INF, -INF and NAN whatever the pattern; values
// from 10^18 on take the exponent form.
TEST(ConvertLogFileToCsv, SpecialValues)
{
    const LogBytes bytes = LogBytes(1, 10)
                               .TimeStamp(0)
                               .Sample(0x0001, INFINITY)
                               .Sample(0x0002, -INFINITY)
                               .Sample(0x0003, -NAN)
                               .Sample(0x0004, 0x1p61f)
                               .TimeStamp(10)
                               .Sample(0x0001, INFINITY)
                               .Sample(0x0002, -INFINITY)
                               .Sample(0x0003, -NAN)
                               .Sample(0x0004, 0x1p61f);
    EXPECT_EQ(Convert(bytes.Bytes, 1.0f), "Time,TP,RPM,FUEL,DUTY\r\n0.000,INF,-INF,NAN,2.30584300921369E+18\r\n");
}

// Regression: a log holding samples without a time axis (tick rate 0, a single time stamp, no
// time stamp before the samples) gave a header-only CSV as if converted. It is refused with the
// reason, and nothing is written (an existing CSV stays as it was). A log without any sample
// still gives the header line alone.
TEST(ConvertLogFileToCsv, NoTimeAxisRefused)
{
    const std::vector<LogBytes> odd = {
        LogBytes(2, 0).TimeStamp(3).Sample(0x02000001, 1.0f).TimeStamp(99).Sample(0x02000001, 2.0f),
        LogBytes(2, 1000).TimeStamp(3).Sample(0x02000001, 1.0f),
        LogBytes(2, 1000).Sample(1, 1.0f),
    };
    for (const LogBytes& bytes : odd) {
        TempFolder folder;
        const std::string log = folder.File("ODD.displog");
        const std::string csv = folder.File("ODD.csv");
        ASSERT_TRUE(WriteBytes(log, bytes.Bytes));
        ASSERT_TRUE(WriteBytes(csv, {'o', 'l', 'd'}));
        try {
            (void)ConvertLogFileToCsv(log, csv, 0.1f);
            ADD_FAILURE() << "converted";
        } catch (const CsvNoTimeAxisError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("The log has no time axis: ", 0), 0u) << error.what();
        }
        EXPECT_EQ(ReadText(csv), "old");
        EXPECT_EQ(FolderEntries(folder.Folder()), (std::vector<std::string>{"ODD.csv", "ODD.displog"}));
    }
    EXPECT_EQ(Convert(LogBytes(2, 1000).Bytes, 0.1f), "Time\r\n");
    EXPECT_EQ(Convert(LogBytes(2, 1000).TimeStamp(0).TimeStamp(5000).Bytes, 0.1f), "Time\r\n");
}

// A stop request raised before the conversion ends it while the log is read: nothing is
// written.
TEST(ConvertLogFileToCsv, StopDuringReadWritesNothing)
{
    TempFolder folder;
    const std::string log = folder.File("LOG.displog");
    ASSERT_TRUE(WriteBytes(log, WorkedExample.Bytes));
    const std::atomic<bool> stop{true};
    CsvOptions options;
    options.Stop = &stop;
    EXPECT_THROW((void)ConvertLogFileToCsv(log, CsvPathForLog(log), 0.1f, options), CsvStoppedError);
    EXPECT_EQ(FolderEntries(folder.Folder()), std::vector<std::string>{"LOG.displog"});
}

// Regression: 'E' as decimal separator wrote 1.5 as "1E500", a number in exponent form. A
// separator is refused, with a sentence naming it and what it is, when it is a digit, a letter,
// a sign, the field separator, the quote, a space, a control character or not ASCII; the point
// and other punctuation are taken.
TEST(CsvDecimalSeparatorProblem, RefusesWhatMakesNumbersUnreadable)
{
    for (const char c : {'.', ';', ':', '_', '\'', '/', '|', '#', '*'})
        EXPECT_EQ(CsvDecimalSeparatorProblem(c), "") << c;
    const std::pair<char, const char*> refused[] = {
        {'E', "'E' is a letter"},  {'e', "'e' is a letter"}, {'0', "'0' is a digit"},
        {'9', "'9' is a digit"},   {'+', "'+' is a sign"},    {'-', "'-' is a sign"},
        {',', "',' is the field separator"},                  {'"', "'\"' is the quote"},
        {' ', "' ' is a space"},   {'\n', "0x0A is a control character"},
        {'\x7F', "0x7F is a control character"},              {'\xC3', "0xC3 is not an ASCII character"},
    };
    for (const auto& [c, part] : refused) {
        const std::string problem = CsvDecimalSeparatorProblem(c);
        EXPECT_EQ(problem.rfind("The decimal separator ", 0), 0u) << problem;
        EXPECT_NE(problem.find(part), std::string::npos) << problem;
        EXPECT_EQ(problem.back(), '.') << problem;
    }
}

// It is the single-precision interval that is added up: 3 x 0.1f passes a log of
// 0.300000002 s (which 3 x 0.1 in double would not), so the row for 0.300 is not written.
TEST(ConvertLogFileToCsv, SinglePrecisionIntervalAccumulated)
{
    const LogBytes bytes =
        LogBytes(2, 1000000000).TimeStamp(0).Sample(0x03000000, 0.0f).TimeStamp(300000002).Sample(0x03000000, 3.0f);
    const std::string csv = Convert(bytes.Bytes, 0.1f);
    EXPECT_EQ(csv, "Time,\"Ign \"\r\n0.000,0.000\r\n0.100,1.000\r\n0.200,2.000\r\n");
}

// A source that cannot be read writes nothing, reports its result code and leaves an existing
// CSV as it was.
TEST(ConvertLogFileToCsv, UnreadableSourceWritesNothing)
{
    TempFolder folder;
    const std::string csv = folder.File("LOG.csv");
    EXPECT_EQ(ConvertLogFileToCsv(folder.File("LOG.displog"), csv, 0.1f), ERR_FILE_IHV);
    EXPECT_TRUE(FolderEntries(folder.Folder()).empty());

    ASSERT_TRUE(WriteBytes(csv, {'o', 'l', 'd'}));
    ASSERT_TRUE(WriteBytes(folder.File("LOG.displog"), {1, 2, 3}));
    EXPECT_EQ(ConvertLogFileToCsv(folder.File("LOG.displog"), csv, 0.1f), ERR_FILE_READ);
    EXPECT_EQ(ReadText(csv), "old");
}

// An interval of 0 or below, or not finite, is refused before anything is read or written; so
// is one that would give more rows than any use.
TEST(ConvertLogFileToCsv, UnusableIntervalRefused)
{
    TempFolder folder;
    const std::string log = folder.File("LOG.displog");
    ASSERT_TRUE(WriteBytes(log, WorkedExample.Bytes));
    const std::string csv = folder.File("LOG.csv");
    for (float interval : {0.0f, -0.0f, -1.0f, INFINITY, -INFINITY, NAN})
        EXPECT_THROW((void)ConvertLogFileToCsv(log, csv, interval), CsvIntervalError) << interval;
    EXPECT_THROW((void)ConvertLogFileToCsv(folder.File("missing.displog"), csv, 0.0f), CsvIntervalError);

    // A log of about 49 days at one tick per millisecond, cut at 1e-9 s.
    const LogBytes longLog = LogBytes(2, 1000).TimeStamp(0).Sample(1, 0.0f).TimeStamp(0xFFFFFFFFu).Sample(1, 1.0f);
    ASSERT_TRUE(WriteBytes(log, longLog.Bytes));
    EXPECT_THROW((void)ConvertLogFileToCsv(log, csv, 1e-9f), CsvIntervalError);
    EXPECT_THROW((void)ConvertLogFileToCsv(log, csv, FLT_MIN), CsvIntervalError);
    EXPECT_EQ(FolderEntries(folder.Folder()), std::vector<std::string>{"LOG.displog"});
    try {
        (void)ConvertLogFileToCsv(log, csv, -2.0f);
    } catch (const CsvIntervalError& error) {
        EXPECT_STREQ(error.what(), "The export interval must be a positive number of seconds, not -2.");
    }
}

// A destination that cannot be created raises "Cannot create file "<path>". <reason>" and
// leaves nothing behind.
TEST(ConvertLogFileToCsv, CannotCreateDestination)
{
    TempFolder folder;
    const std::string log = folder.File("LOG.displog");
    ASSERT_TRUE(WriteBytes(log, WorkedExample.Bytes));
    const std::string csv = folder.File("no such folder/LOG.csv");
    try {
        (void)ConvertLogFileToCsv(log, csv, 0.1f);
        ADD_FAILURE() << "no error raised";
    } catch (const CsvWriteError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + csv + "\". No such file or directory");
    }

    // A folder in the destination's place cannot be replaced by a file.
    const std::string taken = folder.File("taken.csv");
    std::filesystem::create_directory(taken);
    try {
        (void)ConvertLogFileToCsv(log, taken, 0.1f);
        ADD_FAILURE() << "no error raised";
    } catch (const CsvWriteError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Cannot create file \"" + taken + "\". ", 0), 0u) << error.what();
    }
    EXPECT_EQ(FolderEntries(folder.Folder()), (std::vector<std::string>{"LOG.displog", "taken.csv"}));
}

// A write that fails part way raises "Stream write error: <path>: <reason>"; the earlier CSV
// stays in place and no temporary file is left. The file size limit makes the writes fail (in a child process, so
// that the limit does not reach the other tests).
TEST(ConvertLogFileToCsv, WriteFailureKeepsEarlierFile)
{
    TempFolder folder;
    const std::string log = folder.File("LOG.displog");
    LogSpec spec;
    spec.DurationSeconds = 120;
    ASSERT_TRUE(WriteDispLog(log, spec));
    const std::string csv = folder.File("LOG.csv");
    ASSERT_TRUE(WriteBytes(csv, {'g', 'o', 'o', 'd'}));

#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file size limit for a process to make the writes fail with";
#else
    EXPECT_EXIT(ConvertUnderSizeLimit(log, csv), testing::ExitedWithCode(0), "");
#endif
    EXPECT_EQ(ReadText(csv), "good");
    EXPECT_EQ(FolderEntries(folder.Folder()), (std::vector<std::string>{"LOG.csv", "LOG.displog"}));
}

// A complete conversion replaces an existing CSV.
TEST(ConvertLogFileToCsv, ReplacesExistingFile)
{
    TempFolder folder;
    const std::string log = folder.File("LOG001.displog");
    ASSERT_TRUE(WriteBytes(log, WorkedExample.Bytes));
    const std::string csv = CsvPathForLog(log);
    ASSERT_TRUE(WriteBytes(csv, std::vector<uint8_t>(5000, 'x')));
    uint64_t reportedRows = 0;
    CsvOptions options;
    options.Progress = [&](uint64_t done, uint64_t total) {
        EXPECT_LE(done, total);
        reportedRows = done;
    };
    EXPECT_EQ(ConvertLogFileToCsv(log, csv, 0.1f, options), 0u);
    EXPECT_EQ(ReadText(csv), "Time,\"LQR Lambda 1\"\r\n0.000,13.500\r\n0.100,13.700\r\n0.200,13.900\r\n");
    EXPECT_EQ(reportedRows, 3u);
    EXPECT_EQ(FolderEntries(folder.Folder()), (std::vector<std::string>{"LOG001.csv", "LOG001.displog"}));
}

// A generated log with many channels converts to one line per instant, each with one field per
// channel, every line ended by CR LF.
TEST(ConvertLogFileToCsv, GeneratedLogShape)
{
    LogSpec spec;
    spec.Channels = RealisticChannels(2, 24);
    spec.DurationSeconds = 30;
    spec.NoValueProbability = 0.02;
    spec.FirstCounter = 0xFFFFF000u;
    const std::string csv = Convert(GenerateDispLog(spec), 0.25f);
    size_t lines = 0;
    size_t start = 0;
    while (start < csv.size()) {
        const size_t end = csv.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = csv.substr(start, end - start);
        ASSERT_EQ(line.find('\n'), std::string::npos);
        if (lines > 0) {
            ASSERT_EQ(std::count(line.begin(), line.end(), ','), 24) << line;
            char expectedTime[32];
            std::snprintf(expectedTime, sizeof expectedTime, "%.3f,", 0.25 * static_cast<double>(lines - 1));
            ASSERT_EQ(line.rfind(expectedTime, 0), 0u) << line;
        }
        ++lines;
        start = end + 2;
    }
    EXPECT_GE(lines, 1 + 115u); // about 29.9 s of cycles at 0.25 s
}

// Halves are rounded away from zero on the exact value: 0.0625 -> 0.063, 2.5 -> 3; a value just
// below a half (as stored) rounds down; a value that rounds to zero has no minus sign.
TEST(FormatCsvNumber, RoundsHalvesAwayFromZero)
{
    EXPECT_EQ(Number(0.0625, 3), "0.063");
    EXPECT_EQ(Number(-0.0625, 3), "-0.063");
    EXPECT_EQ(Number(2.5, 0), "3");
    EXPECT_EQ(Number(-2.5, 0), "-3");
    EXPECT_EQ(Number(0.5, 0), "1");
    EXPECT_EQ(Number(1.5, 0), "2");
    EXPECT_EQ(Number(0.25, 1), "0.3");
    EXPECT_EQ(Number(0.125, 2), "0.13");
    EXPECT_EQ(Number(1.005, 2), "1.00");     // 1.00499999999999989...
    EXPECT_EQ(Number(0.0005, 3), "0.001");   // 0.000500000000000000010...
    EXPECT_EQ(Number(0.0005f, 3), "0.001");  // 0.000500000023...
    EXPECT_EQ(Number(1.0005f, 3), "1.000");  // 1.000499963...
    EXPECT_EQ(Number(13.7f, 3), "13.700");
    EXPECT_EQ(Number(-0.0004, 3), "0.000");
    EXPECT_EQ(Number(-0.4, 0), "0");
    EXPECT_EQ(Number(-0.0, 2), "0.00");
    EXPECT_EQ(Number(-0.5, 0), "-1");
    EXPECT_EQ(Number(9.9996, 3), "10.000");
    EXPECT_EQ(Number(DBL_TRUE_MIN, 3), "0.000");
    EXPECT_EQ(Number(123456789.0f, 3), "123456792.000");
    EXPECT_EQ(Number(9.99999984e17f, 0), "999999984306749440");
    EXPECT_EQ(Number(-999999999999999872.0, 3), "-999999999999999872.000");
    EXPECT_EQ(Number(13.5, 3, ','), "13,500");
    EXPECT_EQ(Number(-7.0, 0, ','), "-7");
}

// Against an independent rounding of the exact decimal expansion, for values of every
// magnitude, including ties at every number of decimals.
TEST(FormatCsvNumber, MatchesExactDecimalRounding)
{
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> exponent(-30.0, 18.0);
    for (int i = 0; i < 20000; ++i) {
        const int decimals = static_cast<int>(random() % 4);
        double value = std::pow(10.0, exponent(random)) * (random() % 2 ? -1 : 1);
        if (i % 4 == 0)
            value = static_cast<float>(value);
        if (i % 4 == 1) // an exact tie: odd / 2^(decimals+1) is k + 1/2 units of the last decimal
            value = static_cast<double>(2 * (random() % 1000000) + 1) / std::ldexp(1.0, decimals + 1);
        if (i % 4 == 2) // near a tie, as the decimal text of one
            value = (static_cast<double>(random() % 2000000) + 0.5) / std::pow(10.0, decimals);
        if (std::fabs(value) >= 1e18)
            continue;
        ASSERT_EQ(Number(value, decimals), ReferenceFixed(value, decimals)) << std::hexfloat << value << " " << decimals;
    }
}

// From 10^18 on: at most 15 significant digits, the 15th rounded half away from zero, trailing
// zeros dropped, "E+" and at least two exponent digits.
TEST(FormatCsvNumber, ExponentForm)
{
    EXPECT_EQ(Number(1e18, 3), "1E+18");
    EXPECT_EQ(Number(-1.5e18, 0), "-1.5E+18");
    EXPECT_EQ(Number(1.5e18, 0, ','), "1,5E+18");
    EXPECT_EQ(Number(FLT_MAX, 3), "3.40282346638529E+38");
    EXPECT_EQ(Number(DBL_MAX, 3), "1.79769313486232E+308");
    EXPECT_EQ(Number(1152921504606846976.0, 3), "1.15292150460685E+18"); // 2^60
    EXPECT_EQ(Number(9999999999999999e10, 3), "1E+26");                  // carries into the exponent
    EXPECT_EQ(Number(-DBL_MAX, 0).size(), 22u);
    EXPECT_LE(Number(-DBL_MAX, 0).size(), CsvNumberMaxLength);
}

// Quoting: a comma, a double quote, a space or a control character 1-31 puts the field between
// quotes, inner quotes doubled; other fields stay as they are.
TEST(AppendCsvField, QuotingRule)
{
    auto field = [](std::string_view text) {
        std::string line;
        AppendCsvField(line, text);
        return line;
    };
    EXPECT_EQ(field("TP"), "TP");
    EXPECT_EQ(field("LQR Lambda 1"), "\"LQR Lambda 1\"");
    EXPECT_EQ(field("a,b"), "\"a,b\"");
    EXPECT_EQ(field("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(field("\""), "\"\"\"\"");
    EXPECT_EQ(field("tab\there"), "\"tab\there\"");
    EXPECT_EQ(field("\x01"), "\"\x01\"");
    EXPECT_EQ(field("\x1F"), "\"\x1F\"");
    EXPECT_EQ(field("\x7F\xE9;"), "\x7F\xE9;");
    EXPECT_EQ(field(""), "");
}

TEST(CsvPathForLog, ReplacesExtension)
{
    EXPECT_EQ(CsvPathForLog("LOG001.displog"), "LOG001.csv");
    EXPECT_EQ(CsvPathForLog("/data/run.1/LOG.DISPLOG"), "/data/run.1/LOG.csv");
    EXPECT_EQ(CsvPathForLog("/data/LOG"), "/data/LOG.csv");
}

// A row longer than the conversion's write block (80000 quoted values with a decimal comma) is
// written whole.
TEST(ConvertLogFileToCsv, RowLongerThanWriteBlock)
{
    constexpr uint32_t Count = 80000;
    LogBytes bytes(2, 10);
    bytes.TimeStamp(0);
    for (uint32_t i = 0; i < Count; ++i)
        bytes.Sample(0x02000000u + i + 1, static_cast<float>(1000000 + i));
    bytes.TimeStamp(10);
    for (uint32_t i = 0; i < Count; ++i)
        bytes.Sample(0x02000000u + i + 1, 0.0f);
    const std::string csv = Convert(bytes.Bytes, 1.0f, ',');

    std::string expected = "\"0,000\"";
    for (uint32_t i = 0; i < Count; ++i)
        expected += ",\"" + std::to_string(1000000 + i) + ",000\"";
    expected += "\r\n";
    ASSERT_GT(expected.size(), size_t{1} << 20);
    const size_t headerEnd = csv.find("\r\n");
    ASSERT_NE(headerEnd, std::string::npos);
    EXPECT_EQ(std::count(csv.begin(), csv.begin() + static_cast<std::ptrdiff_t>(headerEnd), ','), Count);
    EXPECT_TRUE(csv.substr(headerEnd + 2) == expected);
}

// A log whose time counter spans 2^32 ticks at one tick per second (44 bytes) would give at
// least 60 GB of CSV at 1 s: refused before anything is written, as a file that cannot be
// created (the window reports that text), naming the file; an earlier CSV stays.
TEST(ConvertLogFileToCsv, OversizedCsvRefusedBeforeWriting)
{
    TempFolder folder;
    const std::string log = folder.File("LOG.displog");
    const LogBytes bytes = LogBytes(2, 1).TimeStamp(0).Sample(1, 0.0f).TimeStamp(0xFFFFFFFFu).Sample(1, 1.0f);
    ASSERT_EQ(bytes.Bytes.size(), 44u);
    ASSERT_TRUE(WriteBytes(log, bytes.Bytes));
    const std::string csv = folder.File("LOG.csv");
    ASSERT_TRUE(WriteBytes(csv, {'o', 'l', 'd'}));
    try {
        (void)ConvertLogFileToCsv(log, csv, 1.0f);
        ADD_FAILURE() << "no error raised";
    } catch (const CsvWriteError& error) {
        EXPECT_NE(dynamic_cast<const CsvTooLargeError*>(&error), nullptr);
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("Cannot create file \"" + csv + "\". The CSV would take at least ", 0), 0u) << text;
        EXPECT_NE(text.find("4.0 GiB"), std::string::npos) << text;
    }
    EXPECT_EQ(ReadText(csv), "old");
    EXPECT_EQ(FolderEntries(folder.Folder()), (std::vector<std::string>{"LOG.csv", "LOG.displog"}));
}

// A stop request seen during the conversion ends it with CsvStoppedError and removes its
// temporary file: only the files that were there before remain, the earlier CSV unchanged. A
// request made before the start creates nothing at all.
TEST(ConvertLogFileToCsv, StopLeavesOnlyTheOriginalFiles)
{
    TempFolder folder;
    const std::string log = folder.File("LOG.displog");
    LogSpec spec;
    spec.DurationSeconds = 120;
    ASSERT_TRUE(WriteDispLog(log, spec));
    const std::string csv = folder.File("LOG.csv");
    ASSERT_TRUE(WriteBytes(csv, {'o', 'l', 'd'}));

    std::atomic<bool> stop{false};
    uint64_t rowsAtStop = 0;
    uint64_t rowsTotal = 0;
    CsvOptions options;
    options.Stop = &stop;
    options.Progress = [&](uint64_t done, uint64_t total) {
        rowsTotal = total;
        if (!stop) {
            // The temporary file is there while the conversion runs.
            EXPECT_EQ(FolderEntries(folder.Folder()).size(), 3u);
            rowsAtStop = done;
            stop = true;
        }
    };
    EXPECT_THROW((void)ConvertLogFileToCsv(log, csv, 0.001f, options), CsvStoppedError);
    EXPECT_GT(rowsAtStop, 0u);
    EXPECT_LT(rowsAtStop, rowsTotal);
    EXPECT_EQ(ReadText(csv), "old");
    EXPECT_EQ(FolderEntries(folder.Folder()), (std::vector<std::string>{"LOG.csv", "LOG.displog"}));

    std::filesystem::remove(csv);
    options.Progress = nullptr;
    EXPECT_THROW((void)ConvertLogFileToCsv(log, csv, 0.001f, options), CsvStoppedError);
    EXPECT_EQ(FolderEntries(folder.Folder()), std::vector<std::string>{"LOG.displog"});
}

// The least size is a floor of the real one: a refusal on it never turns away a CSV that would
// have fitted. With every value at its shortest ("0") it is within a thousandth of the real
// size, the time column's growing digits included.
TEST(LeastCsvSize, FloorOfTheWrittenSize)
{
    TempFolder folder;
    const std::string log = folder.File("LOG.displog");
    // TP (format 1, id 1) has no decimals; its value stays 0 over 100000 s.
    ASSERT_TRUE(
        WriteBytes(log, LogBytes(1, 1).TimeStamp(0).Sample(0x0001, 0.0f).TimeStamp(100000).Sample(0x0001, 0.0f).Bytes));
    const std::string csv = folder.File("LOG.csv");
    ASSERT_EQ(ConvertLogFileToCsv(log, csv, 1.0f), 0u);
    const uint64_t written = std::filesystem::file_size(csv);
    const std::vector<int> noDecimals{0};
    const uint64_t least = LeastCsvSize(100000.0, 1.0f, noDecimals, std::string("Time,TP\r\n").size());
    EXPECT_LE(least, written);
    EXPECT_LE(written - least, written / 1000) << written << " " << least;

    // Real values with three decimals, quoted for the decimal comma: far above the floor.
    const std::string text = Convert(WorkedExample.Bytes, 0.1f, ',');
    const std::vector<int> threeDecimals{3};
    EXPECT_LE(LeastCsvSize(0.25, 0.1f, threeDecimals, text.find('\n') + 1), text.size());
}

// While the log is read the Reading callback gets its turn between blocks of records, before any
// row; a stop raised there (here in the second pass) ends the conversion before anything is
// written.
TEST(ConvertLogFileToCsv, StopRaisedWhileReading)
{
    TempFolder folder;
    LogSpec spec;
    spec.Channels = RealisticChannels(2, 24);
    spec.DurationSeconds = 60;
    const std::string log = folder.File("LOG.displog");
    ASSERT_TRUE(WriteDispLog(log, spec));
    std::atomic<bool> stop{false};
    int turns = 0;
    bool progressed = false;
    CsvOptions options;
    options.Stop = &stop;
    options.Progress = [&](uint64_t, uint64_t) { progressed = true; };
    options.Reading = [&] {
        if (++turns == 2)
            stop = true;
    };
    EXPECT_THROW((void)ConvertLogFileToCsv(log, CsvPathForLog(log), 0.01f, options), CsvStoppedError);
    EXPECT_EQ(turns, 2);
    EXPECT_FALSE(progressed);
    EXPECT_EQ(FolderEntries(folder.Folder()), std::vector<std::string>{"LOG.displog"});

    stop = false;
    turns = 0;
    options.Reading = [&] { ++turns; };
    EXPECT_EQ(ConvertLogFileToCsv(log, CsvPathForLog(log), 0.01f, options), 0u);
    EXPECT_GE(turns, 2) << "a turn in each of the two passes over the records";
    EXPECT_TRUE(progressed);
}
