#include "LogStats.h"

#include <algorithm>
#include <cmath>

#include "Displogfile.h"
#include "LogCsv.h"

std::string StatsChannelName(const DispLogFile& log, uint32_t index)
{
    std::string text = CsvChannelName(log, index);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

ChannelStats StatsOfChannel(const DispLogFile& log, uint32_t index, const StatsRange& range)
{
    ChannelStats stats;
    stats.Name = StatsChannelName(log, index);
    stats.Decimals = CsvChannelDecimals(log, index);
    // The mean as a running sum in long double: a day of samples keeps its digits.
    long double sum = 0;
    const size_t samples = log.GetSampleCount(index);
    for (size_t i = 0; i < samples; ++i) {
        const LogSample sample = log.GetSample(index, i);
        if (!(sample.Time >= range.From && sample.Time <= range.To))
            continue;
        ++stats.Count;
        if (!sample.Valid || !std::isfinite(sample.Value))
            continue;
        const double value = sample.Value;
        if (stats.Finite == 0 || value < stats.Min)
            stats.Min = value;
        if (stats.Finite == 0 || value > stats.Max)
            stats.Max = value;
        sum += value;
        ++stats.Finite;
    }
    if (stats.Finite != 0)
        stats.Mean = static_cast<double>(sum / static_cast<long double>(stats.Finite));
    return stats;
}

std::vector<ChannelStats> LogChannelStats(const DispLogFile& log, const StatsRange& range)
{
    std::vector<ChannelStats> all;
    const uint32_t channels = log.GetChannelCount();
    all.reserve(channels);
    for (uint32_t index = 0; index < channels; ++index)
        all.push_back(StatsOfChannel(log, index, range));
    return all;
}

double TimeAbove(const DispLogFile& log, uint32_t index, const StatsRange& range, double threshold)
{
    double total = 0;
    const size_t samples = log.GetSampleCount(index);
    for (size_t i = 0; i + 1 < samples; ++i) {
        const LogSample sample = log.GetSample(index, i);
        if (!sample.Valid || !std::isfinite(sample.Value) || !(sample.Value > threshold))
            continue;
        const double from = std::max(sample.Time, range.From);
        const double to = std::min(log.GetSample(index, i + 1).Time, range.To);
        if (to > from)
            total += to - from;
    }
    return total;
}
