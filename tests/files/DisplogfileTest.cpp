#include "Displogfile.h"

#include "LogBytes.h"
#include "LogGenerator.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

// A two-sample reference log in format 2, byte for byte.
const std::vector<uint8_t> WorkedExample = {
    0x00, 0x00, 0x00, 0x20, 0xE8, 0x03, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, // header
    0x00, 0x00, 0x00, 0x00, 0x88, 0x13, 0x00, 0x00,                         // time stamp 5000
    0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0x58, 0x41,                         // 0x01000101 = 13.5
    0x00, 0x00, 0x00, 0x00, 0x82, 0x14, 0x00, 0x00,                         // time stamp 5250
    0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0x60, 0x41,                         // 0x01000101 = 14.0
};

// A channel's samples in file order, each through GetSample.
std::vector<LogSample> SamplesOf(const DispLogFile& log, uint32_t index)
{
    std::vector<LogSample> samples;
    for (size_t i = 0; i < log.GetSampleCount(index); ++i)
        samples.push_back(log.GetSample(index, i));
    return samples;
}

DispLogFile OpenBytes(const std::vector<uint8_t>& bytes)
{
    DispLogFile log;
    EXPECT_EQ(log.OpenFromBytes(bytes.data(), bytes.size()), 0u);
    return log;
}

// The reference log's answers, whichever way the file was opened.
void ExpectWorkedExample(const DispLogFile& log, uint32_t id)
{
    ASSERT_EQ(log.GetChannelCount(), 1u);
    uint32_t channelId = 0;
    ASSERT_TRUE(log.GetChannelId(0, channelId));
    EXPECT_EQ(channelId, id);
    const std::vector<LogSample> samples = SamplesOf(log, 0);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].Time, 0.0);
    EXPECT_EQ(samples[0].Value, 13.5f);
    EXPECT_EQ(samples[1].Time, 0.25);
    EXPECT_EQ(samples[1].Value, 14.0f);
    EXPECT_EQ(log.GetDuration(), 0.25);

    float value = 0;
    ASSERT_TRUE(log.GetValueAt(0, 0.1, value));
    EXPECT_EQ(value, 13.7f);
    ASSERT_TRUE(log.GetValueAt(0, 0.0, value));
    EXPECT_EQ(value, 13.5f);
    EXPECT_FALSE(log.GetValueAt(0, 0.25, value));
}

} // namespace

// Format 2 reference log: one channel, two samples, linear interpolation between them.
TEST(DispLogOpen, WorkedExampleFormat2)
{
    const DispLogFile log = OpenBytes(WorkedExample);
    ExpectWorkedExample(log, 0x01000101);
    EXPECT_EQ(log.GetHeader().FormatTag, 0x20000000u);
    EXPECT_EQ(log.GetHeader().TickRate, 1000u);
    EXPECT_EQ(log.GetHeader().DataOffset, 12u);
}

// The same data in format 1: 6-byte records, time stamps under identifier 0x00FF.
TEST(DispLogOpen, WorkedExampleFormat1)
{
    const LogBytes bytes =
        LogBytes(1, 1000).TimeStamp(5000).Sample(0x0101, 13.5f).TimeStamp(5250).Sample(0x0101, 14.0f);
    ASSERT_EQ(bytes.Bytes.size(), 12u + 4 * 6);
    EXPECT_EQ(bytes.Bytes[12], 0xFF);
    EXPECT_EQ(bytes.Bytes[13], 0x00);
    ExpectWorkedExample(OpenBytes(bytes.Bytes), 0x0101);
}

// Opening from a path reads the same as opening from the bytes, and keeps the path.
TEST(DispLogOpen, FromFileMatchesBytes)
{
    TempFolder folder;
    const std::string path = folder.File("RUN1.displog");
    ASSERT_TRUE(WriteBytes(path, WorkedExample));
    DispLogFile log;
    ASSERT_EQ(log.Open(path), 0u);
    EXPECT_EQ(log.GetPath(), path);
    ExpectWorkedExample(log, 0x01000101);
}

// A file of several read blocks decodes the same from disk as from memory (handed out in blocks
// too), with the records at the blocks' edges intact.
TEST(DispLogOpen, FileReadInBlocksMatchesBytes)
{
    LogSpec spec;
    spec.Format = 1;
    spec.DataOffset = 17; // records not aligned on the blocks' natural boundaries
    spec.DurationSeconds = 4000;
    spec.TrailingBytes = 5;
    const std::vector<uint8_t> bytes = GenerateDispLog(spec);
    ASSERT_GT(bytes.size(), size_t{5} << 20) << "more than two read blocks of 2 MiB";
    TempFolder folder;
    const std::string path = folder.File("big.displog");
    ASSERT_TRUE(WriteBytes(path, bytes));

    DispLogFile fromFile;
    ASSERT_EQ(fromFile.Open(path), 0u);
    const DispLogFile fromBytes = OpenBytes(bytes);
    ASSERT_EQ(fromFile.GetChannelCount(), fromBytes.GetChannelCount());
    for (uint32_t c = 0; c < fromFile.GetChannelCount(); ++c) {
        const std::vector<LogSample> a = SamplesOf(fromFile, c);
        const std::vector<LogSample> b = SamplesOf(fromBytes, c);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            ASSERT_EQ(a[i].Time, b[i].Time);
            ASSERT_EQ(std::bit_cast<uint32_t>(a[i].Value), std::bit_cast<uint32_t>(b[i].Value));
        }
    }
}

// Failures of open: each result code, and the reader left without channels.
TEST(DispLogOpen, FailuresLeaveReaderEmpty)
{
    TempFolder folder;
    DispLogFile log;
    EXPECT_EQ(log.Open(folder.File("missing.displog")), ERR_FILE_IHV);
    EXPECT_EQ(log.Open(folder.Folder().string()), ERR_FILE_IHV); // a folder is not a log

    const std::string empty = folder.File("empty.displog");
    ASSERT_TRUE(WriteBytes(empty, {}));
    EXPECT_EQ(log.Open(empty), ERR_FILE_READ);

    std::vector<uint8_t> shortFile(WorkedExample.begin(), WorkedExample.begin() + 11);
    EXPECT_EQ(log.OpenFromBytes(shortFile.data(), shortFile.size()), ERR_FILE_READ);
    EXPECT_EQ(log.OpenFromBytes(nullptr, 100), ERR_FILE_READ);

    std::vector<uint8_t> badTag = WorkedExample;
    badTag[3] = 0x30;
    EXPECT_EQ(log.OpenFromBytes(badTag.data(), badTag.size()), ERR_FILE_SIG);
    EXPECT_EQ(log.GetChannelCount(), 0u);
    EXPECT_EQ(log.GetDuration(), 0.0);
}

// A second open replaces everything the first one read, also when it fails.
TEST(DispLogOpen, ReopenReplacesContent)
{
    DispLogFile log;
    ASSERT_EQ(log.OpenFromBytes(WorkedExample.data(), WorkedExample.size()), 0u);
    ASSERT_EQ(log.GetChannelCount(), 1u);
    const LogBytes other = LogBytes(2, 10).TimeStamp(0).Sample(7, 1.0f).Sample(8, 2.0f);
    ASSERT_EQ(log.OpenFromBytes(other.Bytes.data(), other.Bytes.size()), 0u);
    EXPECT_EQ(log.GetChannelCount(), 2u);
    const uint8_t garbage[12] = {1, 2, 3};
    EXPECT_EQ(log.OpenFromBytes(garbage, sizeof garbage), ERR_FILE_SIG);
    EXPECT_EQ(log.GetChannelCount(), 0u);
}

// Exactly a header: opens with no channels and duration 0.
TEST(DispLogOpen, HeaderOnly)
{
    const std::vector<uint8_t> header(WorkedExample.begin(), WorkedExample.begin() + 12);
    const DispLogFile log = OpenBytes(header);
    EXPECT_EQ(log.GetChannelCount(), 0u);
    EXPECT_EQ(log.GetDuration(), 0.0);
    float value = 0;
    EXPECT_FALSE(log.GetValueAt(0, 0.0, value));
}

// Samples before the first time stamp belong to no moment and create no channel.
TEST(DispLogRecords, SamplesBeforeFirstTimeStampSkipped)
{
    const DispLogFile log = OpenBytes(
        LogBytes(2, 100).Sample(0x01000101, 1.0f).Sample(0x04001C00, 2.0f).TimeStamp(0).Sample(0x04001C00, 3.0f).Bytes);
    ASSERT_EQ(log.GetChannelCount(), 1u);
    uint32_t id = 0;
    ASSERT_TRUE(log.GetChannelId(0, id));
    EXPECT_EQ(id, 0x04001C00u);
    ASSERT_EQ(log.GetSampleCount(0), 1u);
    EXPECT_EQ(log.GetSample(0, 0).Value, 3.0f);

    // Without any time stamp there is no channel at all.
    EXPECT_EQ(OpenBytes(LogBytes(1, 100).Sample(1, 1.0f).Sample(2, 2.0f).Bytes).GetChannelCount(), 0u);
}

// The time-stamp identifier differs between the formats: 0 is a channel in format 1 and 0x00FF
// a channel in format 2.
TEST(DispLogRecords, TimeStampIdentifierDependsOnFormat)
{
    const DispLogFile format1 = OpenBytes(LogBytes(1, 10).TimeStamp(0).Word(0, 0).TimeStamp(10).Word(0, 0).Bytes);
    ASSERT_EQ(format1.GetChannelCount(), 1u);
    EXPECT_EQ(format1.GetSampleCount(0), 2u);
    EXPECT_EQ(format1.GetDuration(), 1.0);

    const DispLogFile format2 = OpenBytes(LogBytes(2, 10).TimeStamp(0).Sample(0xFF, 1.0f).TimeStamp(5).Sample(0xFF, 2.0f).Bytes);
    ASSERT_EQ(format2.GetChannelCount(), 1u);
    uint32_t id = 0;
    ASSERT_TRUE(format2.GetChannelId(0, id));
    EXPECT_EQ(id, 0xFFu);
    EXPECT_EQ(format2.GetDuration(), 0.5);
}

// Channels are numbered in the order their identifiers first appear.
TEST(DispLogRecords, ChannelsInOrderOfFirstAppearance)
{
    const DispLogFile log =
        OpenBytes(LogBytes(2, 10).TimeStamp(0).Sample(0xB, 1.0f).Sample(0xA, 2.0f).Sample(0xB, 3.0f).Sample(0xC, 4.0f).Bytes);
    ASSERT_EQ(log.GetChannelCount(), 3u);
    uint32_t id = 0;
    EXPECT_TRUE(log.GetChannelId(0, id));
    EXPECT_EQ(id, 0xBu);
    EXPECT_TRUE(log.GetChannelId(1, id));
    EXPECT_EQ(id, 0xAu);
    EXPECT_TRUE(log.GetChannelId(2, id));
    EXPECT_EQ(id, 0xCu);
    EXPECT_EQ(log.GetSampleCount(0), 2u);
    // An index beyond the channels answers false and leaves the output alone.
    id = 1234;
    EXPECT_FALSE(log.GetChannelId(3, id));
    EXPECT_EQ(id, 1234u);
    float value = 5.5f;
    EXPECT_FALSE(log.GetValueAt(3, 0.0, value));
    EXPECT_EQ(value, 5.5f);
}

// A counter that wraps through 2^32 after the first time stamp keeps the times increasing.
TEST(DispLogRecords, CounterWrapAbsorbed)
{
    const DispLogFile log = OpenBytes(LogBytes(2, 1000)
                                          .TimeStamp(0xFFFFFF00u)
                                          .Sample(1, 1.0f)
                                          .TimeStamp(0xFFFFFFFFu)
                                          .Sample(1, 2.0f)
                                          .TimeStamp(0x00000100u)
                                          .Sample(1, 3.0f)
                                          .Bytes);
    const std::vector<LogSample> samples = SamplesOf(log, 0);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[0].Time, 0.0);
    EXPECT_EQ(samples[1].Time, 0.255);
    EXPECT_EQ(samples[2].Time, 0.512);
}

// Tick rate 0 gives no time axis: every sample stays at the first time stamp (duration 0), the
// channels are still listed, and no time is infinite or not a number.
TEST(DispLogRecords, TickRateZeroPutsEverythingAtZero)
{
    const DispLogFile log =
        OpenBytes(LogBytes(2, 0).TimeStamp(100).Sample(1, 1.0f).TimeStamp(100).Sample(1, 2.0f).TimeStamp(900).Sample(2, 3.0f).Bytes);
    EXPECT_EQ(log.GetChannelCount(), 2u);
    EXPECT_EQ(log.GetDuration(), 0.0);
    for (uint32_t c = 0; c < log.GetChannelCount(); ++c)
        for (const LogSample& sample : SamplesOf(log, c))
            EXPECT_EQ(sample.Time, 0.0);
}

// The data offset: bytes before it are skipped, an offset beyond the end gives no records, and
// an offset inside the header is read as the end of the header (records never overlap it).
TEST(DispLogRecords, DataOffset)
{
    LogBytes padded(2, 1000, 20);
    padded.Raw({0, 0, 0, 0, 0x01, 0x01, 0x00, 0x01}); // would be a sample if it were read
    padded.Raw(std::vector<uint8_t>(WorkedExample.begin() + 12, WorkedExample.end()));
    ExpectWorkedExample(OpenBytes(padded.Bytes), 0x01000101);

    std::vector<uint8_t> beyond = WorkedExample;
    beyond[8] = 0x00;
    beyond[9] = 0x10; // offset 4096 in a 44-byte file
    const DispLogFile none = OpenBytes(beyond);
    EXPECT_EQ(none.GetChannelCount(), 0u);
    EXPECT_EQ(none.GetHeader().DataOffset, 4096u);

    for (uint8_t offset : {0, 4, 11}) {
        std::vector<uint8_t> inside = WorkedExample;
        inside[8] = offset;
        ExpectWorkedExample(OpenBytes(inside), 0x01000101);
    }
}

// A trailing fragment shorter than one record is ignored; every cut of a file opens and holds
// the samples of the whole records before the cut.
TEST(DispLogRecords, TruncationKeepsWholeRecords)
{
    for (size_t size = 0; size <= WorkedExample.size(); ++size) {
        DispLogFile log;
        const uint32_t result = log.OpenFromBytes(WorkedExample.data(), size);
        if (size < 12) {
            EXPECT_EQ(result, ERR_FILE_READ) << size;
            continue;
        }
        ASSERT_EQ(result, 0u) << size;
        const size_t records = (size - 12) / 8;
        const size_t samples = records >= 4 ? 2 : records >= 2 ? 1 : 0;
        EXPECT_EQ(log.GetSampleCount(0), samples) << size;
    }
}

// The value word 0xFFFFFFFF marks a sample without value: no answer at its time nor between it
// and a neighbour; other samples still interpolate.
TEST(DispLogValue, SampleWithoutValue)
{
    const DispLogFile log = OpenBytes(LogBytes(2, 10)
                                          .TimeStamp(0)
                                          .Sample(1, 1.0f)
                                          .TimeStamp(10)
                                          .NoValue(1)
                                          .TimeStamp(20)
                                          .Sample(1, 3.0f)
                                          .TimeStamp(30)
                                          .Sample(1, 5.0f)
                                          .TimeStamp(40)
                                          .Sample(1, 0.0f)
                                          .Bytes);
    EXPECT_EQ(log.GetSample(0, 1).Valid, 0);
    EXPECT_EQ(std::bit_cast<uint32_t>(log.GetSample(0, 1).Value), 0xFFFFFFFFu);
    float value = -1;
    EXPECT_FALSE(log.GetValueAt(0, 0.5, value));
    EXPECT_FALSE(log.GetValueAt(0, 1.0, value));
    EXPECT_FALSE(log.GetValueAt(0, 1.5, value));
    ASSERT_TRUE(log.GetValueAt(0, 2.0, value));
    EXPECT_EQ(value, 3.0f);
    ASSERT_TRUE(log.GetValueAt(0, 2.5, value));
    EXPECT_EQ(value, 4.0f);
}

// Outside the samples there is no value: before the first, and at or after the last, even at
// the last sample's exact time.
TEST(DispLogValue, OutsideSamples)
{
    const DispLogFile log = OpenBytes(LogBytes(2, 10).TimeStamp(0).Sample(2, 0.0f).TimeStamp(10).Sample(1, 1.0f).TimeStamp(20).Sample(1, 2.0f).Bytes);
    float value = 0;
    EXPECT_FALSE(log.GetValueAt(1, 0.5, value));
    EXPECT_TRUE(log.GetValueAt(1, 1.0, value));
    EXPECT_TRUE(log.GetValueAt(1, 1.9999, value));
    EXPECT_FALSE(log.GetValueAt(1, 2.0, value));
    EXPECT_FALSE(log.GetValueAt(1, 7.0, value));
    EXPECT_FALSE(log.GetValueAt(1, NAN, value));
    // A channel with one sample never has a value, not even at that sample.
    EXPECT_FALSE(log.GetValueAt(0, 0.0, value));
    EXPECT_EQ(log.GetDuration(), 2.0);
}

// Several samples at the same time: that time yields the last of them, and interpolation
// after it starts from the last one.
TEST(DispLogValue, SameTimeYieldsLastSample)
{
    const DispLogFile log = OpenBytes(
        LogBytes(2, 10).TimeStamp(0).Sample(1, 1.0f).Sample(1, 2.0f).Sample(1, 3.0f).TimeStamp(10).Sample(1, 5.0f).Bytes);
    float value = 0;
    ASSERT_TRUE(log.GetValueAt(0, 0.0, value));
    EXPECT_EQ(value, 3.0f);
    ASSERT_TRUE(log.GetValueAt(0, 0.5, value));
    EXPECT_EQ(value, 4.0f);
}

namespace {

// The look-up as a scan from the first sample: the pair that every search must find.
bool ScanValueAt(const std::vector<LogSample>& samples, double t, float& value)
{
    size_t next = 0;
    while (next < samples.size() && !(samples[next].Time > t))
        ++next;
    if (next == samples.size() || next == 0)
        return false;
    const LogSample& p = samples[next - 1];
    const LogSample& n = samples[next];
    if (p.Time == t) {
        if (!p.Valid)
            return false;
        value = p.Value;
        return true;
    }
    if (!p.Valid || !n.Valid)
        return false;
    value = static_cast<float>(p.Value + (static_cast<double>(n.Value) - p.Value) * ((t - p.Time) / (n.Time - p.Time)));
    return true;
}

// GetValuesAt walking through the times with a cursor per channel answers as a scan does, for
// every channel at once, and for chosen channels: every other channel from the last back, one
// twice (each entry has its own cursor) and one beyond the log, which never has a value.
void ExpectRowsSameAsScan(const DispLogFile& log, const std::vector<double>& times)
{
    const uint32_t count = log.GetChannelCount();
    std::vector<std::vector<LogSample>> samples;
    for (uint32_t c = 0; c < count; ++c)
        samples.push_back(SamplesOf(log, c));
    std::vector<size_t> cursors(count, 0);
    std::vector<float> values(count, -1.0f);
    std::vector<uint8_t> found(count, 2);
    std::vector<uint32_t> chosen;
    for (int64_t c = int64_t{count} - 1; c >= 0; c -= 2)
        chosen.push_back(static_cast<uint32_t>(c));
    if (count != 0)
        chosen.push_back(count - 1);
    chosen.push_back(count);
    std::vector<size_t> chosenCursors(chosen.size(), 0);
    std::vector<float> chosenValues(chosen.size(), -1.0f);
    std::vector<uint8_t> chosenFound(chosen.size(), 2);
    for (const double t : times) {
        log.GetValuesAt(t, cursors, values, found);
        log.GetValuesAt(t, chosen, chosenCursors, chosenValues, chosenFound);
        std::vector<uint8_t> scannedFound(count + 1, 0);
        std::vector<float> scannedValues(count + 1, -1.0f);
        for (uint32_t c = 0; c < count; ++c) {
            float expected = -1;
            const bool scanned = ScanValueAt(samples[c], t, expected);
            scannedFound[c] = scanned ? 1 : 0;
            scannedValues[c] = expected;
            ASSERT_EQ(found[c], scanned ? 1 : 0) << "channel " << c << " t " << t;
            if (scanned) {
                ASSERT_EQ(std::bit_cast<uint32_t>(values[c]), std::bit_cast<uint32_t>(expected))
                    << "channel " << c << " t " << t;
            }
        }
        for (size_t i = 0; i < chosen.size(); ++i) {
            const uint32_t c = chosen[i];
            ASSERT_EQ(chosenFound[i], scannedFound[c]) << "entry " << i << " channel " << c << " t " << t;
            if (scannedFound[c] != 0) {
                ASSERT_EQ(std::bit_cast<uint32_t>(chosenValues[i]), std::bit_cast<uint32_t>(scannedValues[c]))
                    << "entry " << i << " channel " << c << " t " << t;
            }
        }
    }
}

void ExpectSameAsScan(const DispLogFile& log, const std::vector<double>& times)
{
    ExpectRowsSameAsScan(log, times);
    for (uint32_t c = 0; c < log.GetChannelCount(); ++c) {
        const std::vector<LogSample> samples = SamplesOf(log, c);
        size_t cursor = 0;
        for (const double t : times) {
            float expected = -1, plain = -2, walked = -3;
            const bool found = ScanValueAt(samples, t, expected);
            ASSERT_EQ(log.GetValueAt(c, t, plain), found) << "channel " << c << " t " << t;
            ASSERT_EQ(log.GetValueAt(c, t, walked, cursor), found) << "channel " << c << " t " << t;
            if (found) {
                ASSERT_EQ(plain, expected);
                ASSERT_EQ(walked, expected);
            }
        }
    }
}

} // namespace

// The search and the cursor walk find the same pair of samples as a scan, for times walked
// forwards, backwards and at random, also when the time stamps go back in the file.
TEST(DispLogValue, SearchFindsSamePairAsScan)
{
    std::mt19937 random(7);
    LogBytes bytes(2, 100);
    uint32_t counter = 1000;
    bytes.TimeStamp(counter);
    for (int i = 0; i < 600; ++i) {
        // Mostly forward, sometimes repeated, sometimes back before earlier stamps.
        const int roll = static_cast<int>(random() % 10);
        counter = roll == 0 ? counter - random() % 300 : roll == 1 ? counter : counter + random() % 40;
        bytes.TimeStamp(counter);
        for (uint32_t id = 1; id <= 3; ++id)
            if (random() % 3 != 0) {
                if (random() % 15 == 0)
                    bytes.NoValue(id);
                else
                    bytes.Sample(id, static_cast<float>(random() % 1000) / 10.0f);
            }
    }
    const DispLogFile log = OpenBytes(bytes.Bytes);
    ASSERT_EQ(log.GetChannelCount(), 3u);

    std::vector<double> forward;
    for (double t = -1.0; t < log.GetDuration() + 2.0; t += 0.037)
        forward.push_back(t);
    for (const LogSample& sample : SamplesOf(log, 0))
        forward.push_back(sample.Time); // exact sample times
    std::vector<double> sorted = forward;
    std::sort(sorted.begin(), sorted.end());
    ExpectSameAsScan(log, sorted);
    std::vector<double> backward(sorted.rbegin(), sorted.rend());
    ExpectSameAsScan(log, backward);
    std::shuffle(forward.begin(), forward.end(), random);
    ExpectSameAsScan(log, forward);
}

// A generated log with many channels, irregular cycles, dropped samples, samples without value,
// a wrapping counter, samples before the first stamp and a trailing fragment reads back as
// exactly the samples written, in file order per channel.
TEST(DispLogValue, GeneratedLogReadsBackExactly)
{
    for (int format : {1, 2}) {
        LogSpec spec;
        spec.Format = format;
        spec.TickRate = 1024;
        spec.FirstCounter = 0xFFFFFFFFu - 20000; // wraps after about 20 s
        spec.DurationSeconds = 60;
        spec.DropProbability = 0.1;
        spec.NoValueProbability = 0.05;
        spec.LeadingSamples = 5;
        spec.TrailingBytes = 3;
        spec.Channels = RealisticChannels(format, 30);
        const GeneratedLog generated = GenerateDispLogWithSamples(spec);
        const DispLogFile log = OpenBytes(generated.Bytes);

        std::vector<uint32_t> order;
        std::vector<std::vector<GeneratedSample>> perChannel;
        for (const GeneratedSample& sample : generated.Samples) {
            const auto at = std::find(order.begin(), order.end(), sample.Id);
            if (at == order.end()) {
                order.push_back(sample.Id);
                perChannel.emplace_back();
            }
            perChannel[static_cast<size_t>(std::find(order.begin(), order.end(), sample.Id) - order.begin())].push_back(sample);
        }
        ASSERT_EQ(log.GetChannelCount(), order.size()) << "format " << format;
        double last = 0;
        for (uint32_t c = 0; c < log.GetChannelCount(); ++c) {
            const std::vector<LogSample> samples = SamplesOf(log, c);
            ASSERT_EQ(samples.size(), perChannel[c].size());
            for (size_t i = 0; i < samples.size(); ++i) {
                const GeneratedSample& expected = perChannel[c][i];
                ASSERT_EQ(samples[i].Identifier, expected.Id);
                ASSERT_EQ(samples[i].Time, expected.Time);
                ASSERT_EQ(samples[i].Valid != 0, expected.Valid);
                ASSERT_EQ(std::bit_cast<uint32_t>(samples[i].Value), std::bit_cast<uint32_t>(expected.Value));
            }
            last = std::max(last, samples.back().Time);
        }
        EXPECT_EQ(log.GetDuration(), last);
        EXPECT_GT(last, 50.0); // the wrap did not turn times back
    }
}

// Garbage after a valid tag: every byte pattern opens to a defined result without reading past
// the end (the sanitizer builds check the reads).
TEST(DispLogOpen, GarbageRecordsOpen)
{
    std::mt19937 random(3);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> bytes(WorkedExample.begin(), WorkedExample.begin() + 12);
        bytes[3] = round % 2 ? 0x10 : 0x20;
        bytes[4] = static_cast<uint8_t>(random());
        const size_t size = random() % 400;
        for (size_t i = 0; i < size; ++i)
            bytes.push_back(static_cast<uint8_t>(random() % 4 == 0 ? 0 : random()));
        DispLogFile log;
        ASSERT_EQ(log.OpenFromBytes(bytes.data(), bytes.size()), 0u);
        size_t total = 0;
        for (uint32_t c = 0; c < log.GetChannelCount(); ++c) {
            total += log.GetSampleCount(c);
            float value;
            (void)log.GetValueAt(c, log.GetDuration() / 2, value);
        }
        EXPECT_LE(total, size / 6);
        EXPECT_TRUE(std::isfinite(log.GetDuration()));
    }
}

namespace {

#ifndef _WIN32
// Runs in a death-test child: limits the address space to a little more than in use now and
// opens a log whose samples need far more; exits with 0 when that was refused as ERR_ALLOC_FAIL.
[[noreturn]] void OpenUnderMemoryLimit(const std::vector<uint8_t>& bytes)
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * 4096 + (16u << 20);
    const rlimit cap{limit, limit};
    setrlimit(RLIMIT_AS, &cap);
    DispLogFile log;
    const uint32_t result = log.OpenFromBytes(bytes.data(), bytes.size());
    std::exit(result == ERR_ALLOC_FAIL && log.GetChannelCount() == 0 ? 0 : 1);
}
#endif

} // namespace

// A log whose samples do not fit in memory is refused with ERR_ALLOC_FAIL instead of ending the
// program: 4 million format-1 records need 32 MB of samples, 16 MB are left.
TEST(DispLogOpen, OutOfMemoryRefused)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr bool UnderSanitizer = true;
#else
    constexpr bool UnderSanitizer = false;
#endif
    if (UnderSanitizer)
        GTEST_SKIP() << "sanitizers reserve more address space than the limit leaves";
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no address space limit for a process to provoke the failure with";
#else
    LogBytes chunk(1, 1000);
    chunk.Bytes.clear();
    for (int i = 0; i < 1000; ++i)
        chunk.Sample(0x0001, 1.0f);
    LogBytes bytes(1, 1000);
    bytes.TimeStamp(0);
    bytes.Bytes.reserve(bytes.Bytes.size() + 4000 * chunk.Bytes.size());
    for (int i = 0; i < 4000; ++i)
        bytes.Bytes.insert(bytes.Bytes.end(), chunk.Bytes.begin(), chunk.Bytes.end());
    EXPECT_EXIT(OpenUnderMemoryLimit(bytes.Bytes), testing::ExitedWithCode(0), "");
#endif
}

// Interpolating between the extremes of the float range stays within it: never infinite.
TEST(DispLogValue, ExtremeValuesStayFinite)
{
    const DispLogFile log = OpenBytes(
        LogBytes(2, 1000000).TimeStamp(0).Sample(1, -FLT_MAX).TimeStamp(1000000).Sample(1, FLT_MAX).Bytes);
    for (int micro = 1; micro < 1000000; micro += 997) {
        float value = 0;
        ASSERT_TRUE(log.GetValueAt(0, micro / 1e6, value));
        ASSERT_TRUE(std::isfinite(value)) << micro;
    }
    float value = 0;
    ASSERT_TRUE(log.GetValueAt(0, 0.999999999, value));
    EXPECT_EQ(value, FLT_MAX);
}

// The look-up of a whole row walks forward through a generated log (channels at their own rates,
// dropped samples, samples without value) as single look-ups do, bit for bit, also after a jump
// back in time; shorter spans ask only the first channels, and leave the others alone.
TEST(DispLogValue, RowLookUpMatchesSingleLookUps)
{
    LogSpec spec;
    spec.Channels = RealisticChannels(2, 24);
    spec.DurationSeconds = 40;
    spec.DropProbability = 0.1;
    spec.NoValueProbability = 0.05;
    const DispLogFile log = OpenBytes(GenerateDispLog(spec));
    ASSERT_EQ(log.GetChannelCount(), 24u);
    std::vector<double> times;
    for (double t = -0.5; t < log.GetDuration() + 0.5; t += 0.013)
        times.push_back(t);
    for (double t = 3.0; t < 9.0; t += 0.007) // back in time, then forward again
        times.push_back(t);
    ExpectRowsSameAsScan(log, times);

    std::vector<size_t> cursors(24, 0);
    std::vector<float> values(24, -7.0f);
    std::vector<uint8_t> found(3, 9);
    log.GetValuesAt(10.0, cursors, values, found);
    for (size_t c = 0; c < 3; ++c) {
        float single = 0;
        EXPECT_EQ(found[c], log.GetValueAt(static_cast<uint32_t>(c), 10.0, single) ? 1 : 0);
    }
    for (size_t c = 3; c < 24; ++c) {
        EXPECT_EQ(cursors[c], 0u);
        EXPECT_EQ(values[c], -7.0f);
    }
    // A time that is not a number has no value anywhere.
    log.GetValuesAt(NAN, cursors, values, found);
    EXPECT_EQ(found, std::vector<uint8_t>(3, 0));
    const std::vector<uint32_t> chosen{5, 1};
    std::vector<uint8_t> chosenFound(2, 9);
    log.GetValuesAt(NAN, chosen, cursors, values, chosenFound);
    EXPECT_EQ(chosenFound, std::vector<uint8_t>(2, 0));
}

// Format 1: every one of the 65535 identifiers that name channels (0 and 0xFFFF included) finds
// its own channel, in two rounds of different random orders.
TEST(DispLogRecords, Format1EveryIdentifierFindsItsChannel)
{
    std::vector<uint32_t> ids;
    for (uint32_t id = 0; id <= 0xFFFF; ++id)
        if (id != 0x00FF)
            ids.push_back(id);
    std::mt19937 random(5);
    std::shuffle(ids.begin(), ids.end(), random);
    std::vector<uint32_t> second = ids;
    std::shuffle(second.begin(), second.end(), random);
    LogBytes bytes(1, 10);
    bytes.TimeStamp(0);
    for (const uint32_t id : ids)
        bytes.Sample(id, static_cast<float>(id));
    bytes.TimeStamp(10);
    for (const uint32_t id : second)
        bytes.Sample(id, static_cast<float>(id) + 0.5f);

    const DispLogFile log = OpenBytes(bytes.Bytes);
    ASSERT_EQ(log.GetChannelCount(), ids.size());
    for (uint32_t c = 0; c < log.GetChannelCount(); ++c) {
        uint32_t id = 0;
        ASSERT_TRUE(log.GetChannelId(c, id));
        ASSERT_EQ(id, ids[c]);
        ASSERT_EQ(log.GetSampleCount(c), 2u);
        const LogSample first = log.GetSample(c, 0);
        const LogSample last = log.GetSample(c, 1);
        ASSERT_EQ(first.Identifier, id);
        ASSERT_EQ(first.Value, static_cast<float>(id));
        ASSERT_EQ(first.Time, 0.0);
        ASSERT_EQ(last.Value, static_cast<float>(id) + 0.5f);
        ASSERT_EQ(last.Time, 1.0);
    }
}

// Format 2: thousands of identifiers, alike in their low or their high bits, first appearing at
// different time stamps and then logged in a random order, each find their own channel; every
// channel holds exactly its samples, in file order, with the time of their time stamp.
TEST(DispLogRecords, Format2ManyIdentifiersFindTheirChannels)
{
    std::vector<uint32_t> ids;
    for (uint32_t k = 1; k <= 2000; ++k) {
        ids.push_back(k);                 // low bits differ
        ids.push_back(k << 20);           // high bits differ
        ids.push_back(0x04000000u | (k << 8));
    }
    std::mt19937 random(6);
    for (int k = 0; k < 2000; ++k) {
        const uint32_t id = static_cast<uint32_t>(random()) | 1u; // never 0, the time stamp
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    }
    std::shuffle(ids.begin(), ids.end(), random);

    struct Expected {
        std::vector<double> Times;
        std::vector<float> Values;
    };
    std::map<uint32_t, Expected> expected;
    std::vector<uint32_t> order;
    LogBytes bytes(2, 100);
    constexpr int Stamps = 40;
    for (int stamp = 0; stamp < Stamps; ++stamp) {
        bytes.TimeStamp(static_cast<uint32_t>(1000 + 25 * stamp));
        // Channel i starts at stamp i % Stamps; after that it is logged at random.
        std::vector<uint32_t> now;
        for (size_t i = 0; i < ids.size(); ++i)
            if (static_cast<int>(i % Stamps) == stamp || (static_cast<int>(i % Stamps) < stamp && random() % 4 == 0))
                now.push_back(ids[i]);
        std::shuffle(now.begin(), now.end(), random);
        for (const uint32_t id : now) {
            if (!expected.contains(id))
                order.push_back(id);
            const float value = static_cast<float>(random() % 100000) / 8.0f;
            expected[id].Times.push_back(0.25 * stamp);
            expected[id].Values.push_back(value);
            bytes.Sample(id, value);
        }
    }

    const DispLogFile log = OpenBytes(bytes.Bytes);
    ASSERT_EQ(log.GetChannelCount(), ids.size());
    for (uint32_t c = 0; c < log.GetChannelCount(); ++c) {
        uint32_t id = 0;
        ASSERT_TRUE(log.GetChannelId(c, id));
        ASSERT_EQ(id, order[c]) << "channels in order of first appearance";
        const Expected& samples = expected[id];
        ASSERT_EQ(log.GetSampleCount(c), samples.Times.size()) << std::hex << id;
        for (size_t i = 0; i < samples.Times.size(); ++i) {
            const LogSample sample = log.GetSample(c, i);
            ASSERT_EQ(sample.Identifier, id);
            ASSERT_EQ(sample.Time, samples.Times[i]);
            ASSERT_EQ(sample.Value, samples.Values[i]);
            ASSERT_EQ(sample.Valid, 1);
        }
    }
}

// Moving a reader moves its channels and samples; the reader moved from has none.
TEST(DispLogOpen, MoveKeepsSamples)
{
    DispLogFile first = OpenBytes(WorkedExample);
    DispLogFile second(std::move(first));
    ExpectWorkedExample(second, 0x01000101);
    EXPECT_EQ(first.GetChannelCount(), 0u); // NOLINT(bugprone-use-after-move): the state after a move
    EXPECT_EQ(first.GetDuration(), 0.0);
    DispLogFile third = OpenBytes(LogBytes(2, 10).TimeStamp(0).Sample(7, 1.0f).Bytes);
    third = std::move(second);
    ExpectWorkedExample(third, 0x01000101);
    EXPECT_EQ(second.GetChannelCount(), 0u); // NOLINT(bugprone-use-after-move)
}

namespace {

// Identifiers that a fixed multiplicative hash (id * 0x9E3779B9 mod 2^32) sends to the
// consecutive slots 1..count: one cluster in a table keyed that way.
std::vector<uint32_t> FixedHashCollisions(uint32_t count)
{
    constexpr uint32_t InverseOfGolden = 0x144CBC89u;
    static_assert(0x9E3779B9u * InverseOfGolden == 1u);
    std::vector<uint32_t> ids;
    for (uint32_t k = 1; k <= count; ++k)
        ids.push_back(k * InverseOfGolden);
    return ids;
}

// A log of the identifiers at two time stamps: first in their order, then in the reverse order,
// so that the second round cannot take the next channel for granted and searches each one.
std::vector<uint8_t> TwoRoundLog(const std::vector<uint32_t>& ids)
{
    LogBytes bytes(2, 10);
    bytes.Bytes.reserve(12 + 16 + ids.size() * 16);
    bytes.TimeStamp(0);
    for (const uint32_t id : ids)
        bytes.Sample(id, static_cast<float>(id & 0xFFFFFF));
    bytes.TimeStamp(10);
    for (auto it = ids.rbegin(); it != ids.rend(); ++it)
        bytes.Sample(*it, 0.5f);
    return bytes.Bytes;
}

void ExpectTwoRounds(const DispLogFile& log, const std::vector<uint32_t>& ids)
{
    ASSERT_EQ(log.GetChannelCount(), ids.size());
    for (uint32_t c = 0; c < log.GetChannelCount(); ++c) {
        uint32_t id = 0;
        ASSERT_TRUE(log.GetChannelId(c, id));
        ASSERT_EQ(id, ids[c]);
        ASSERT_EQ(log.GetSampleCount(c), 2u);
        ASSERT_EQ(log.GetSample(c, 0).Value, static_cast<float>(id & 0xFFFFFF));
        ASSERT_EQ(log.GetSample(c, 1).Value, 0.5f);
        ASSERT_EQ(log.GetSample(c, 1).Time, 1.0);
    }
}

} // namespace

// Regression: identifiers crafted so that a fixed multiplicative hash puts them all in one
// cluster made reading quadratic (160k channels took 23 s). The look-up is keyed per process
// with a bounded probe; here every such channel, and as many ordinary consecutive ones, must
// still be found, numbered in order of first appearance, with its own samples.
TEST(DispLogRecords, CollidingIdentifiersFindTheirChannels)
{
    const std::vector<uint32_t> colliding = FixedHashCollisions(40000);
    ExpectTwoRounds(OpenBytes(TwoRoundLog(colliding)), colliding);

    std::vector<uint32_t> ordinary;
    for (uint32_t k = 1; k <= 40000; ++k)
        ordinary.push_back(0x04000000u + (k << 8));
    ExpectTwoRounds(OpenBytes(TwoRoundLog(ordinary)), ordinary);

    // Both kinds in one log, read from a file.
    std::vector<uint32_t> mixed = colliding;
    mixed.insert(mixed.end(), ordinary.begin(), ordinary.end());
    TempFolder folder;
    const std::string path = folder.File("many.displog");
    ASSERT_TRUE(WriteBytes(path, TwoRoundLog(mixed)));
    DispLogFile log;
    ASSERT_EQ(log.Open(path), 0u);
    ExpectTwoRounds(log, mixed);
}

// A stop request ends the read with ERR_CANCELLED and leaves the reader empty, from a file and
// from memory; one raised while a long file is being read ends it too.
TEST(DispLogOpen, StopRequestEndsTheRead)
{
    std::atomic<bool> stop{true};
    DispLogFile log;
    EXPECT_EQ(log.OpenFromBytes(WorkedExample.data(), WorkedExample.size(), &stop), ERR_CANCELLED);
    EXPECT_EQ(log.GetChannelCount(), 0u);
    TempFolder folder;
    const std::string path = folder.File("RUN1.displog");
    ASSERT_TRUE(WriteBytes(path, WorkedExample));
    EXPECT_EQ(log.Open(path, &stop), ERR_CANCELLED);
    EXPECT_EQ(log.GetChannelCount(), 0u);
    stop = false;
    EXPECT_EQ(log.Open(path, &stop), 0u);
    ExpectWorkedExample(log, 0x01000101);

    // 1 GiB of time stamps (a sparse file: no disk space) takes far longer to read than the
    // moment before the request.
    const std::string huge = folder.File("huge.displog");
    ASSERT_TRUE(WriteBytes(huge, LogBytes(2, 1000).Bytes));
    std::filesystem::resize_file(huge, 12 + (uint64_t{1} << 30));
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop = true;
    });
    EXPECT_EQ(log.Open(huge, &stop), ERR_CANCELLED);
    stopper.join();
    EXPECT_EQ(log.GetChannelCount(), 0u);
}

namespace {

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Runs in a death-test child: limits the address space to a little more than in use now and
// opens the log; exits with 0 when it opened with one channel of two samples.
[[noreturn]] void OpenFileUnderMemoryLimit(const std::string& path)
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * 4096 + (16u << 20);
    const rlimit cap{limit, limit};
    setrlimit(RLIMIT_AS, &cap);
    DispLogFile log;
    const uint32_t result = log.Open(path);
    std::exit(result == 0 && log.GetChannelCount() == 1 && log.GetSampleCount(0) == 2 ? 0 : 1);
}
#endif

} // namespace

// Regression: a sparse or zero-padded log took memory for every time stamp (a 1 GiB sparse log
// took 1.05 GB). A time stamp takes memory only once a sample follows it: 8 million time
// stamps of zero padding (64 MB as times) open within 16 MB, and are still counted.
TEST(DispLogRecords, TimeStampsWithoutSamplesTakeNoMemory)
{
    TempFolder folder;
    const std::string path = folder.File("padded.displog");
    constexpr uint64_t Padding = 8u << 20;
    ASSERT_TRUE(WriteBytes(path, LogBytes(2, 1000).Bytes));
    std::filesystem::resize_file(path, 12 + Padding * 8);
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        const std::vector<uint8_t> tail =
            LogBytes(2, 1000).TimeStamp(1000).Sample(0x01000101, 1.0f).TimeStamp(3000).Sample(0x01000101, 2.0f).Bytes;
        out.write(reinterpret_cast<const char*>(tail.data() + 12), static_cast<std::streamsize>(tail.size() - 12));
    }
    DispLogFile log;
    ASSERT_EQ(log.Open(path), 0u);
    EXPECT_EQ(log.GetRecordCounts().TimeStamps, Padding + 2);
    ASSERT_EQ(log.GetChannelCount(), 1u);
    EXPECT_EQ(log.GetSample(0, 0).Time, 1.0);
    EXPECT_EQ(log.GetDuration(), 3.0);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(_WIN32)
    GTEST_SKIP() << "no address space limit to measure the memory with here";
#else
    EXPECT_EXIT(OpenFileUnderMemoryLimit(path), testing::ExitedWithCode(0), "");
#endif
}

// A log whose samples have no time axis says why; a log that spans some time, or holds no
// sample at all, has no problem.
TEST(DispLogRecords, TimeAxisProblemSaysWhy)
{
    auto problem = [](const LogBytes& bytes) { return OpenBytes(bytes.Bytes).TimeAxisProblem(); };
    auto says = [](const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos ? testing::AssertionSuccess()
                                                    : testing::AssertionFailure() << "\"" << text << "\"";
    };
    EXPECT_EQ(problem(LogBytes(2, 1000).TimeStamp(0).Sample(1, 1.0f).TimeStamp(1).Sample(1, 2.0f)), "");
    EXPECT_EQ(problem(LogBytes(2, 1000)), "");
    EXPECT_EQ(problem(LogBytes(2, 1000).TimeStamp(0).TimeStamp(5)), "");

    EXPECT_TRUE(says(problem(LogBytes(2, 0).TimeStamp(100).Sample(1, 1.0f).TimeStamp(900).Sample(1, 2.0f)),
                     "its tick rate is 0, so its 2 time stamps cannot be read as seconds"));
    EXPECT_TRUE(says(problem(LogBytes(1, 1000).TimeStamp(7).Sample(1, 1.0f).Sample(2, 2.0f).Sample(1, 3.0f)),
                     "it has a single time stamp, so its 3 samples all lie at one instant"));
    EXPECT_TRUE(says(problem(LogBytes(2, 1000).TimeStamp(7).Sample(1, 1.0f).TimeStamp(7).Sample(1, 2.0f)),
                     "its 2 samples all lie at one instant"));
    EXPECT_TRUE(says(problem(LogBytes(2, 1000).Sample(1, 1.0f).Sample(2, 2.0f)),
                     "it holds 2 sample records but no time stamp"));
    EXPECT_TRUE(says(problem(LogBytes(2, 1000).Sample(1, 1.0f).TimeStamp(3)),
                     "its only sample record comes before its first time stamp"));
    EXPECT_TRUE(says(problem(LogBytes(2, 1000).Sample(1, 1.0f).Sample(1, 1.0f).TimeStamp(3)),
                     "all 2 of its sample records come before its first time stamp"));
    EXPECT_TRUE(
        says(problem(LogBytes(2, 1000).TimeStamp(3).Sample(1, 1.0f)), "so its only sample lies at one instant"));
    for (const std::string& text : {problem(LogBytes(2, 0).TimeStamp(1).Sample(1, 1.0f).TimeStamp(2).Sample(1, 1.0f)),
                                   problem(LogBytes(2, 9).Sample(1, 1.0f))})
        EXPECT_EQ(text.rfind("The log has no time axis: ", 0), 0u) << text;
}
