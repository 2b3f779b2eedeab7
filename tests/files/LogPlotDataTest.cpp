// The viewer's data model: channel names and readouts are those of the CSV conversion, the
// per-column decimation keeps every column's extremes and its gaps, and a channel's index is
// built only when the channel is plotted.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CsvText.h"
#include "LogBytes.h"
#include "LogCsv.h"
#include "LogGenerator.h"
#include "LogPlotData.h"
#include "ResultCodes.h"

using namespace csvtext;

namespace {

// Brute force over the samples: what a column [from, to) of a channel in order holds.
struct Expected {
    bool HasSamples = false;
    bool HasValue = false;
    float Min = std::numeric_limits<float>::infinity();
    float Max = -std::numeric_limits<float>::infinity();
};

Expected BruteForce(const DispLogFile& log, uint32_t channel, double from, double to)
{
    Expected expected;
    for (size_t i = 0; i < log.GetSampleCount(channel); ++i) {
        const LogSample sample = log.GetSample(channel, i);
        if (sample.Time < from || sample.Time >= to)
            continue;
        expected.HasSamples = true;
        if (sample.Valid != 0 && std::isfinite(sample.Value)) {
            expected.HasValue = true;
            expected.Min = std::min(expected.Min, sample.Value);
            expected.Max = std::max(expected.Max, sample.Value);
        }
    }
    return expected;
}

} // namespace

// Every channel is headed as the CSV heads it, in both formats, including a format-1 identifier
// without a name of its own.
TEST(LogPlotChannels, NamesAreTheCsvHeader)
{
    TempFolder folder;
    for (const int format : {1, 2}) {
        LogSpec spec = GappyLog(format);
        if (format == 1)
            spec.Channels.push_back({0x7F3E, 10.0, 1.0, 1.0, 5.0, 0.0, -1.0});
        const std::string log = (folder.Folder() / ("names" + std::to_string(format) + ".displog")).string();
        ASSERT_TRUE(WriteDispLog(log, spec));
        const Converted csv = ConvertWithTheConverter(folder, log, 1.0f);
        LogPlotData data;
        ASSERT_EQ(data.Open(log), 0u);
        ASSERT_EQ(data.ChannelCount(), spec.Channels.size());
        const std::vector<std::string> header = SplitFields(csv.Lines.front());
        ASSERT_EQ(header.size(), data.ChannelCount() + 1);
        for (size_t c = 0; c < data.ChannelCount(); ++c) {
            EXPECT_EQ(data.ChannelName(c), header[c + 1]) << "format " << format << " channel " << c;
            const PlotChannel channel = data.Channel(c);
            EXPECT_EQ(channel.Index, c);
            EXPECT_EQ(channel.Name, header[c + 1]);
            // The channel's pattern, "0.000" for an identifier without one.
            char pattern[16] = "0.000";
            (void)data.Log().GetChannelFormat(static_cast<uint32_t>(c), pattern, sizeof pattern);
            EXPECT_EQ(channel.Pattern, pattern);
            EXPECT_EQ(channel.Decimals, DecimalsOfPattern(pattern));
            EXPECT_EQ(data.ChannelDecimals(c), channel.Decimals);
        }
    }
}

// The readout at an instant of the CSV is that row's field, character for character: the value
// with the channel's pattern, NAN where the reader has none.
TEST(LogPlotReadout, EqualsTheCsvAtItsInstants)
{
    TempFolder folder;
    for (const int format : {1, 2}) {
        const std::string log = (folder.Folder() / "readout.displog").string();
        ASSERT_TRUE(WriteDispLog(log, GappyLog(format)));
        const Converted csv = ConvertWithTheConverter(folder, log, 0.1f);
        LogPlotData data;
        ASSERT_EQ(data.Open(log), 0u);
        size_t nans = 0;
        size_t numbers = 0;
        for (size_t row = 0; row < csv.Times.size(); row += 7) {
            const std::vector<std::string> fields = SplitFields(csv.Lines[row + 1]);
            ASSERT_EQ(fields.size(), data.ChannelCount() + 1);
            for (size_t c = 0; c < data.ChannelCount(); ++c) {
                EXPECT_EQ(data.ValueText(c, csv.Times[row]), fields[c + 1]) << "row " << row << " channel " << c;
                (fields[c + 1] == "NAN" ? nans : numbers) += 1;
            }
        }
        // Both kinds of field were compared.
        EXPECT_GT(nans, 20u);
        EXPECT_GT(numbers, 200u);
    }
}

// With a comma as decimal separator the readout is the field's text without its quotes.
TEST(LogPlotReadout, UsesTheDecimalSeparator)
{
    TempFolder folder;
    const std::string log = (folder.Folder() / "comma.displog").string();
    ASSERT_TRUE(WriteDispLog(log, GappyLog(2)));
    const Converted csv = ConvertWithTheConverter(folder, log, 0.25f, ',');
    LogPlotData data;
    ASSERT_EQ(data.Open(log), 0u);
    for (size_t row = 3; row < csv.Times.size(); row += 11) {
        const std::vector<std::string> fields = SplitFields(csv.Lines[row + 1]);
        for (size_t c = 0; c < data.ChannelCount(); ++c)
            EXPECT_EQ(data.ValueText(c, csv.Times[row], ','), fields[c + 1]);
    }
}

// Each column holds the smallest and largest value among the samples of its time span (samples
// without value left out), whatever the view and the column count, checked against a scan of
// all samples.
TEST(LogPlotDecimation, KeepsMinAndMaxPerColumn)
{
    LogSpec spec = GappyLog(2);
    spec.DurationSeconds = 120;
    spec.CycleHz = 50;
    const std::vector<uint8_t> bytes = GenerateDispLog(spec);
    LogPlotData data;
    ASSERT_EQ(data.OpenFromBytes(bytes.data(), bytes.size()), 0u);
    std::mt19937 random(3);
    std::uniform_real_distribution<double> start(-5.0, 110.0);
    std::uniform_real_distribution<double> span(0.01, 130.0);
    std::uniform_int_distribution<int> width(1, 700);
    PlotColumns out;
    for (int view = 0; view < 40; ++view) {
        const double from = start(random);
        const double to = from + span(random);
        const int count = width(random);
        const auto channel = static_cast<uint32_t>(view % data.ChannelCount());
        data.Decimate(channel, from, to, count, out);
        ASSERT_EQ(out.Columns.size(), static_cast<size_t>(count));
        for (int c = 0; c < count; c += std::max(1, count / 37)) {
            // The columns' edges as Decimate computes them.
            const double left = from + (to - from) * c / count;
            const double right = c + 1 == count ? to : from + (to - from) * (c + 1) / count;
            const Expected expected = BruteForce(data.Log(), channel, left, right);
            const PlotColumn& column = out.Columns[static_cast<size_t>(c)];
            ASSERT_EQ(column.HasSamples, expected.HasSamples) << view << " column " << c;
            ASSERT_EQ(column.HasValue, expected.HasValue) << view << " column " << c;
            if (expected.HasValue) {
                EXPECT_EQ(column.Min, expected.Min);
                EXPECT_EQ(column.Max, expected.Max);
            }
        }
    }
}

// A sample without value is a gap: a column of only such samples has samples but no value, a
// column that starts or ends with one is not joined to its neighbour, and the samples around the
// view tell whether lines run on to the edges.
TEST(LogPlotDecimation, KeepsGaps)
{
    LogBytes bytes(2, 1000);
    const uint32_t id = 0x01000101;
    // One sample every 100 ms: 1, 2, none, none, 5, 6, none, 8.
    const float values[] = {1, 2, NAN, NAN, 5, 6, NAN, 8};
    for (uint32_t i = 0; i < 8; ++i) {
        bytes.TimeStamp(5000 + 100 * i);
        if (std::isnan(values[i]))
            bytes.NoValue(id);
        else
            bytes.Sample(id, values[i]);
    }
    LogPlotData data;
    ASSERT_EQ(data.OpenFromBytes(bytes.Bytes.data(), bytes.Bytes.size()), 0u);
    PlotColumns out;
    // One column per sample from 0.1 s on: the sample at 0.0 is before the view.
    data.Decimate(0, 0.05, 0.75, 7, out);
    EXPECT_TRUE(out.Before.Present);
    EXPECT_TRUE(out.Before.Valid);
    EXPECT_EQ(out.Before.Value, 1.0f);
    EXPECT_FALSE(out.After.Present);
    for (size_t c = 0; c < 7; ++c) {
        const float value = values[c + 1];
        const PlotColumn& column = out.Columns[c];
        EXPECT_TRUE(column.HasSamples);
        EXPECT_EQ(column.HasValue, !std::isnan(value)) << c;
        EXPECT_EQ(column.FirstValid, !std::isnan(value)) << c;
        EXPECT_EQ(column.LastValid, !std::isnan(value)) << c;
        if (!std::isnan(value)) {
            EXPECT_EQ(column.Min, value);
        }
    }
    // Two columns: the first holds none, none, 5 (not joined at its start), the second 6, none,
    // 8 (joined at both ends, values 6 to 8 around its gap).
    data.Decimate(0, 0.15, 0.75, 2, out);
    EXPECT_FALSE(out.Columns[0].FirstValid);
    EXPECT_TRUE(out.Columns[0].LastValid);
    EXPECT_EQ(out.Columns[0].Min, 5.0f);
    EXPECT_EQ(out.Columns[0].Max, 5.0f);
    EXPECT_TRUE(out.Columns[1].FirstValid);
    EXPECT_TRUE(out.Columns[1].LastValid);
    EXPECT_EQ(out.Columns[1].Min, 6.0f);
    EXPECT_EQ(out.Columns[1].Max, 8.0f);
    // One column of the two samples without value: samples, but nothing to draw.
    data.Decimate(0, 0.15, 0.35, 1, out);
    EXPECT_TRUE(out.Columns[0].HasSamples);
    EXPECT_FALSE(out.Columns[0].HasValue);
    EXPECT_FALSE(out.Columns[0].FirstValid);
    EXPECT_FALSE(out.Columns[0].LastValid);
    // A view beyond the last sample has no columns with samples, and the last sample before it.
    data.Decimate(0, 5.0, 6.0, 10, out);
    EXPECT_TRUE(std::none_of(out.Columns.begin(), out.Columns.end(), [](const PlotColumn& c) { return c.HasSamples; }));
    EXPECT_TRUE(out.Before.Present);
    EXPECT_EQ(out.Before.Value, 8.0f);
}

// Time stamps that go back: every sample still falls in one column, so the extremes over all
// columns are those of the whole channel, and the work stays bounded.
TEST(LogPlotDecimation, TimeStampsThatGoBack)
{
    LogBytes bytes(2, 1000);
    const uint32_t id = 0x01000101;
    std::vector<float> all;
    for (uint32_t i = 0; i < 600; ++i) {
        // Every 50th time stamp goes back by half a second.
        const uint32_t counter = 5000 + 20 * i - (i % 50 == 49 ? 500 : 0);
        bytes.TimeStamp(counter);
        const auto value = static_cast<float>(std::sin(i * 0.37) * 10 + i * 0.01);
        bytes.Sample(id, value);
        all.push_back(value);
    }
    LogPlotData data;
    ASSERT_EQ(data.OpenFromBytes(bytes.Bytes.data(), bytes.Bytes.size()), 0u);
    ASSERT_LT(data.Log().GetSample(0, 49).Time, data.Log().GetSample(0, 48).Time);
    PlotColumns out;
    for (const int count : {1, 7, 300, 5000}) {
        data.Decimate(0, data.FirstTime(), std::nextafter(data.LastTime(), 1e9), count, out);
        float low = INFINITY;
        float high = -INFINITY;
        for (const PlotColumn& column : out.Columns) {
            if (column.HasValue) {
                low = std::min(low, column.Min);
                high = std::max(high, column.Max);
            }
        }
        EXPECT_EQ(low, *std::min_element(all.begin(), all.end())) << count;
        EXPECT_EQ(high, *std::max_element(all.begin(), all.end())) << count;
    }
}

// A tick rate of 0 puts every sample at 0 s; a counter that jumps by years puts one sample far
// out. Both open, and their columns are found with bounded work.
TEST(LogPlotDecimation, DegenerateTimeAxes)
{
    LogBytes still(2, 0);
    still.TimeStamp(100).Sample(0x01000101, 1.0f).TimeStamp(200).Sample(0x01000101, 3.0f);
    LogPlotData data;
    ASSERT_EQ(data.OpenFromBytes(still.Bytes.data(), still.Bytes.size()), 0u);
    EXPECT_EQ(data.FirstTime(), 0.0);
    EXPECT_EQ(data.LastTime(), 0.0);
    PlotColumns out;
    data.Decimate(0, -0.5, 0.5, 1000, out);
    ASSERT_TRUE(out.Columns[500].HasValue);
    EXPECT_EQ(out.Columns[500].Min, 1.0f);
    EXPECT_EQ(out.Columns[500].Max, 3.0f);

    LogBytes jump(2, 10);
    jump.TimeStamp(0).Sample(0x01000101, 1.0f).TimeStamp(10).Sample(0x01000101, 2.0f);
    jump.TimeStamp(0xF0000000u).Sample(0x01000101, 9.0f); // about 12 years later
    ASSERT_EQ(data.OpenFromBytes(jump.Bytes.data(), jump.Bytes.size()), 0u);
    EXPECT_GT(data.LastTime(), 3e8);
    data.Decimate(0, 0.0, data.LastTime() + 1, 1600, out);
    EXPECT_EQ(out.Columns.front().Min, 1.0f);
    EXPECT_EQ(out.Columns.front().Max, 2.0f);
    EXPECT_EQ(out.Columns.back().Min, 9.0f);
}

// A file the reader refuses leaves the data empty, with the reader's code.
TEST(LogPlotData, BadInputGivesTheReadersCode)
{
    LogPlotData data;
    const uint8_t shortFile[] = {0, 0, 0, 0x20, 0xE8, 3};
    EXPECT_EQ(data.OpenFromBytes(shortFile, sizeof shortFile), ERR_FILE_READ);
    EXPECT_EQ(data.ChannelCount(), 0u);
    LogBytes unknown(2, 1000);
    unknown.Bytes[3] = 0x30;
    EXPECT_EQ(data.OpenFromBytes(unknown.Bytes.data(), unknown.Bytes.size()), ERR_FILE_SIG);
    EXPECT_EQ(data.Open("/nonexistent/folder/log.displog"), ERR_FILE_IHV);
}

// Opening a log visits its samples once and builds no channel's index: a log of many channels
// opens at the cost of reading it. A channel's index is built the first time it is plotted,
// and opening another log drops the indexes of the first.
TEST(LogPlotData, IndexesAreBuiltForPlottedChannelsOnly)
{
    LogSpec spec;
    spec.Format = 2;
    spec.CycleHz = 1;
    spec.CycleJitter = 0;
    spec.DurationSeconds = 1;
    spec.Channels.resize(20000);
    for (size_t c = 0; c < spec.Channels.size(); ++c) {
        spec.Channels[c].Id = 0x01000000u + static_cast<uint32_t>(c);
        spec.Channels[c].RateHz = 1;
    }
    const std::vector<uint8_t> bytes = GenerateDispLog(spec);
    LogPlotData data;
    ASSERT_EQ(data.OpenFromBytes(bytes.data(), bytes.size()), 0u);
    ASSERT_EQ(data.ChannelCount(), spec.Channels.size());
    EXPECT_EQ(data.IndexedChannels(), 0u);
    // A few bytes per channel at most, far below the file's 16 per channel.
    EXPECT_LE(data.IndexBytes(), spec.Channels.size() * 2 + 4096);
    EXPECT_EQ(data.FirstTime(), 0.0);
    EXPECT_EQ(data.LastTime(), 1.0);
    EXPECT_FALSE(data.ChannelName(19999).empty());
    EXPECT_EQ(data.IndexedChannels(), 0u);

    PlotColumns out;
    data.Decimate(17, 0.0, 2.0, 2, out);
    ASSERT_TRUE(out.Columns[0].HasValue);
    ASSERT_TRUE(out.Columns[1].HasValue);
    float low = 0.0f;
    float high = 0.0f;
    EXPECT_TRUE(data.ValueRange(19999, 0.0, 2.0, low, high));
    data.Decimate(17, 0.5, 1.5, 3, out);
    EXPECT_EQ(data.IndexedChannels(), 2u);

    // The answers are those of a scan of the channel's samples.
    const Expected expected = BruteForce(data.Log(), 19999, 0.0, 2.0);
    EXPECT_EQ(low, expected.Min);
    EXPECT_EQ(high, expected.Max);

    LogBytes other(2, 1000);
    other.TimeStamp(0).Sample(0x01000101, 4.0f).TimeStamp(500).Sample(0x01000101, 6.0f);
    ASSERT_EQ(data.OpenFromBytes(other.Bytes.data(), other.Bytes.size()), 0u);
    EXPECT_EQ(data.IndexedChannels(), 0u);
    ASSERT_TRUE(data.ValueRange(0, 0.0, 1.0, low, high));
    EXPECT_EQ(low, 4.0f);
    EXPECT_EQ(high, 6.0f);
    // Channels past the end give nothing rather than an index.
    EXPECT_FALSE(data.ValueRange(1, 0.0, 1.0, low, high));
    data.Decimate(1, 0.0, 1.0, 4, out);
    EXPECT_TRUE(std::none_of(out.Columns.begin(), out.Columns.end(), [](const PlotColumn& c) { return c.HasSamples; }));
    EXPECT_EQ(data.IndexedChannels(), 1u);
}
