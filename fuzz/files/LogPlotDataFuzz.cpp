// The viewer's data model under arbitrary bytes: the first 9 bytes choose a view (column count,
// start and end as fractions of the log's span, raw floats so that NaN and infinities come up),
// the rest is opened as a log. Every decimation and value range is checked against a scan of
// the channel's samples.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "FuzzSupport.h"
#include "LogPlotData.h"
#include "ResultCodes.h"

namespace {

constexpr size_t ViewBytes = 9;
// Channels checked per input: the scans cost samples times columns.
constexpr uint32_t CheckedChannels = 32;

bool HasFiniteValue(const LogSample& sample)
{
    return sample.Valid != 0 && std::isfinite(sample.Value);
}

struct Scan {
    bool HasSamples = false;
    bool HasValue = false;
    float Min = std::numeric_limits<float>::infinity();
    float Max = -std::numeric_limits<float>::infinity();
    void Add(const LogSample& sample)
    {
        HasSamples = true;
        if (!HasFiniteValue(sample))
            return;
        HasValue = true;
        Min = std::min(Min, sample.Value);
        Max = std::max(Max, sample.Value);
    }
};

// The samples of [from, to), or all of them.
Scan ScanSamples(const DispLogFile& log, uint32_t channel, double from, double to, bool all = false)
{
    Scan scan;
    for (size_t i = 0; i < log.GetSampleCount(channel); ++i) {
        const LogSample sample = log.GetSample(channel, i);
        if (all || (sample.Time >= from && sample.Time < to))
            scan.Add(sample);
    }
    return scan;
}

bool TimesInOrder(const DispLogFile& log, uint32_t channel)
{
    for (size_t i = 1; i < log.GetSampleCount(channel); ++i) {
        if (log.GetSample(channel, i).Time < log.GetSample(channel, i - 1).Time)
            return false;
    }
    return true;
}

void CheckColumns(const PlotColumns& out, int count)
{
    Check(out.Columns.size() == static_cast<size_t>(std::max(count, 0)));
    for (const PlotColumn& column : out.Columns) {
        Check(column.HasSamples || (!column.HasValue && !column.FirstValid && !column.LastValid));
        if (column.HasValue)
            Check(std::isfinite(column.Min) && std::isfinite(column.Max) && column.Min <= column.Max);
        if (column.FirstValid)
            Check(column.HasValue && column.First >= column.Min && column.First <= column.Max);
        if (column.LastValid)
            Check(column.HasValue && column.Last >= column.Min && column.Last <= column.Max);
    }
    Check(!out.Before.Valid || out.Before.Present);
    Check(!out.After.Valid || out.After.Present);
}

Scan Union(const PlotColumns& out)
{
    Scan scan;
    for (const PlotColumn& column : out.Columns) {
        scan.HasSamples = scan.HasSamples || column.HasSamples;
        if (column.HasValue) {
            scan.HasValue = true;
            scan.Min = std::min(scan.Min, column.Min);
            scan.Max = std::max(scan.Max, column.Max);
        }
    }
    return scan;
}

bool SameExtremes(const Scan& a, const Scan& b)
{
    return a.HasValue == b.HasValue && (!a.HasValue || (a.Min == b.Min && a.Max == b.Max));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < ViewBytes)
        return 0;
    const int count = static_cast<int>(data[0]) - 8; // a few counts of 0 and below too
    float fromFraction = 0;
    float toFraction = 0;
    std::memcpy(&fromFraction, data + 1, sizeof fromFraction);
    std::memcpy(&toFraction, data + 5, sizeof toFraction);

    LogPlotData plot;
    const uint32_t result = plot.OpenFromBytes(data + ViewBytes, size - ViewBytes);
    Check(result == 0 || result == ERR_FILE_READ || result == ERR_FILE_SIG);
    const DispLogFile& log = plot.Log();
    Check(plot.ChannelCount() == log.GetChannelCount());
    Check(plot.IndexedChannels() == 0);
    if (result != 0)
        Check(plot.ChannelCount() == 0);
    Check(plot.FirstTime() <= plot.LastTime());

    const double first = plot.FirstTime();
    const double last = plot.LastTime();
    const double span = last - first;
    const double from = first + span * fromFraction;
    const double to = first + span * toFraction;
    const double end = std::nextafter(last, std::numeric_limits<double>::infinity());
    const bool finiteView = std::isfinite(from) && std::isfinite(to) && from < to;
    const uint32_t channels = std::min<uint32_t>(log.GetChannelCount(), CheckedChannels);
    PlotColumns out;
    for (uint32_t channel = 0; channel < channels; ++channel) {
        const PlotChannel named = plot.Channel(channel);
        Check(named.Name == plot.ChannelName(channel) && !named.Name.empty());
        Check(named.Decimals == plot.ChannelDecimals(channel) && named.Decimals >= 0 && named.Decimals <= 3);
        (void)plot.ValueText(channel, from, ',');

        // The whole log: every sample lands in one column, whatever the order of its times.
        const Scan all = ScanSamples(log, channel, 0, 0, true);
        for (const int columns : {1, std::max(count, 1)}) {
            plot.Decimate(channel, first, end, columns, out);
            CheckColumns(out, columns);
            const Scan drawn = Union(out);
            Check(drawn.HasSamples == all.HasSamples && SameExtremes(drawn, all));
            Check(!out.Before.Present && !out.After.Present);
        }

        // The chosen view: the columns together hold what the value range holds.
        plot.Decimate(channel, from, to, count, out);
        CheckColumns(out, count);
        float low = 0;
        float high = 0;
        Scan range;
        range.HasValue = plot.ValueRange(channel, from, to, low, high);
        range.Min = low;
        range.Max = high;
        if (range.HasValue)
            Check(std::isfinite(low) && std::isfinite(high) && low <= high);
        if (count > 0 && finiteView)
            Check(SameExtremes(Union(out), range));

        // With times in order, each column is exactly the samples of its time span.
        if (!TimesInOrder(log, channel) || !finiteView)
            continue;
        Check(SameExtremes(ScanSamples(log, channel, from, to), range));
        for (int c = 0; c < count; ++c) {
            // The columns' edges as Decimate computes them.
            const double left = c == 0 ? from : from + (to - from) * c / count;
            const double right = c + 1 == count ? to : from + (to - from) * (c + 1) / count;
            const Scan expected = ScanSamples(log, channel, left, right);
            const PlotColumn& column = out.Columns[static_cast<size_t>(c)];
            Check(column.HasSamples == expected.HasSamples);
            Check(SameExtremes(Scan{column.HasSamples, column.HasValue, column.Min, column.Max}, expected));
        }
    }
    Check(plot.IndexedChannels() == channels);
    // A channel out of range gives nothing and builds no index.
    const uint32_t beyond = log.GetChannelCount();
    Check(!plot.ValueRange(beyond, first, end, fromFraction, toFraction));
    plot.Decimate(beyond, first, end, 4, out);
    CheckColumns(out, 4);
    Check(!Union(out).HasSamples);
    Check(plot.ValueText(beyond, first) == "NAN");
    Check(plot.IndexedChannels() == channels);
    return 0;
}
