#include "LogPlotData.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "LogCsv.h"

namespace {

bool HasFiniteValue(const LogSample& sample)
{
    return sample.Valid != 0 && std::isfinite(sample.Value);
}

} // namespace

uint32_t LogPlotData::Open(const std::string& path)
{
    return Finish(File.Open(path));
}

uint32_t LogPlotData::OpenFromBytes(const uint8_t* data, size_t size)
{
    return Finish(File.OpenFromBytes(data, size));
}

uint32_t LogPlotData::Finish(uint32_t result)
{
    Decimals.clear();
    Indexes.clear();
    Earliest = 0.0;
    Latest = 0.0;
    if (result != 0)
        return result;
    const uint32_t count = File.GetChannelCount();
    Decimals.reserve(count);
    Earliest = std::numeric_limits<double>::infinity();
    Latest = -std::numeric_limits<double>::infinity();
    for (uint32_t index = 0; index < count; ++index) {
        Decimals.push_back(static_cast<uint8_t>(CsvChannelDecimals(File, index)));
        // The time axis spans every sample, so every time is visited once; the index waits.
        const size_t samples = File.GetSampleCount(index);
        for (size_t i = 0; i < samples; ++i) {
            const double t = File.GetSample(index, i).Time;
            Earliest = std::min(Earliest, t);
            Latest = std::max(Latest, t);
        }
    }
    if (count == 0 || !(Earliest <= Latest)) {
        Earliest = 0.0;
        Latest = 0.0;
    }
    return 0;
}

std::string LogPlotData::ChannelName(size_t channel) const
{
    return CsvChannelName(File, static_cast<uint32_t>(channel));
}

PlotChannel LogPlotData::Channel(size_t channel) const
{
    PlotChannel out;
    out.Index = static_cast<uint32_t>(channel);
    out.Name = ChannelName(channel);
    char pattern[16] = "0.000";
    (void)File.GetChannelFormat(static_cast<uint32_t>(channel), pattern, sizeof pattern);
    out.Pattern = pattern;
    out.Decimals = Decimals[channel];
    return out;
}

const LogPlotData::ChannelIndex& LogPlotData::IndexOf(size_t channel) const
{
    std::unique_ptr<ChannelIndex>& index = Indexes[channel];
    if (!index)
        index = BuildIndex(static_cast<uint32_t>(channel));
    return *index;
}

std::unique_ptr<LogPlotData::ChannelIndex> LogPlotData::BuildIndex(uint32_t channel) const
{
    auto built = std::make_unique<ChannelIndex>();
    ChannelIndex& index = *built;
    const size_t count = File.GetSampleCount(channel);
    index.Count = count;
    const size_t blocks = (count + Fanout - 1) / Fanout;
    index.BlockLatest.resize(blocks);
    std::vector<Node> level(blocks);
    double latest = -std::numeric_limits<double>::infinity();
    for (size_t block = 0; block < blocks; ++block) {
        Node node{0.0f, 0.0f, false};
        const size_t end = std::min(count, (block + 1) * Fanout);
        for (size_t i = block * Fanout; i < end; ++i) {
            const LogSample sample = File.GetSample(channel, i);
            latest = std::max(latest, sample.Time);
            if (!HasFiniteValue(sample))
                continue;
            if (!node.HasValue) {
                node = {sample.Value, sample.Value, true};
            } else {
                node.Min = std::min(node.Min, sample.Value);
                node.Max = std::max(node.Max, sample.Value);
            }
        }
        index.BlockLatest[block] = latest;
        level[block] = node;
    }
    index.Levels.push_back(std::move(level));
    while (index.Levels.back().size() > Fanout) {
        const std::vector<Node>& below = index.Levels.back();
        std::vector<Node> above((below.size() + Fanout - 1) / Fanout);
        for (size_t j = 0; j < above.size(); ++j) {
            Range range;
            const size_t end = std::min(below.size(), (j + 1) * Fanout);
            for (size_t k = j * Fanout; k < end; ++k) {
                if (below[k].HasValue)
                    range.Add(below[k].Min, below[k].Max);
            }
            above[j] = {range.Min, range.Max, range.HasValue};
        }
        index.Levels.push_back(std::move(above));
    }
    return built;
}

size_t LogPlotData::FirstAtOrAfter(const ChannelIndex& index, size_t channel, double t) const
{
    size_t hint = 0;
    return FirstAtOrAfter(index, channel, t, hint);
}

size_t LogPlotData::FirstAtOrAfter(const ChannelIndex& index, size_t channel, double t, size_t& hint, Range* passed,
                                   size_t* passedFrom) const
{
    const std::vector<double>& keys = index.BlockLatest;
    if (std::isnan(t))
        return 0;
    // The keys never decrease. Searching on from the block of the previous answer (galloping
    // forward) finds the next column's edge among a few nearby blocks.
    size_t lo = std::min(hint, keys.size());
    if (lo > 0 && keys[lo - 1] >= t)
        lo = 0;
    size_t hi = lo;
    for (size_t step = 1; hi < keys.size() && keys[hi] < t; step *= 2) {
        lo = hi + 1;
        hi += step;
    }
    hi = std::min(hi, keys.size());
    const size_t block = static_cast<size_t>(std::lower_bound(keys.begin() + static_cast<std::ptrdiff_t>(lo),
                                                              keys.begin() + static_cast<std::ptrdiff_t>(hi), t) -
                                             keys.begin());
    hint = block;
    if (passedFrom != nullptr)
        *passedFrom = std::min(index.Count, block * Fanout);
    if (block == keys.size())
        return index.Count;
    double latest = block > 0 ? keys[block - 1] : -std::numeric_limits<double>::infinity();
    const size_t end = std::min(index.Count, (block + 1) * Fanout);
    for (size_t i = block * Fanout; i < end; ++i) {
        const LogSample sample = File.GetSample(static_cast<uint32_t>(channel), i);
        latest = std::max(latest, sample.Time);
        if (latest >= t)
            return i;
        if (passed != nullptr && HasFiniteValue(sample))
            passed->Add(sample.Value, sample.Value);
    }
    return end;
}

void LogPlotData::Accumulate(const ChannelIndex& index, size_t channel, size_t lo, size_t hi, Range& range) const
{
    const auto ch = static_cast<uint32_t>(channel);
    auto addItem = [&](int level, size_t i) {
        if (level < 0) {
            const LogSample sample = File.GetSample(ch, i);
            if (HasFiniteValue(sample))
                range.Add(sample.Value, sample.Value);
            return;
        }
        const Node& node = index.Levels[static_cast<size_t>(level)][i];
        if (node.HasValue)
            range.Add(node.Min, node.Max);
    };
    // Partial blocks at both ends are taken item by item, whole blocks from the level above.
    int level = -1;
    while (lo < hi) {
        if (static_cast<size_t>(level + 1) >= index.Levels.size()) {
            for (size_t i = lo; i < hi; ++i)
                addItem(level, i);
            return;
        }
        while (lo < hi && lo % Fanout != 0)
            addItem(level, lo++);
        while (lo < hi && hi % Fanout != 0)
            addItem(level, --hi);
        lo /= Fanout;
        hi /= Fanout;
        ++level;
    }
}

void LogPlotData::Decimate(size_t channel, double from, double to, int count, PlotColumns& out) const
{
    out.Columns.assign(static_cast<size_t>(std::max(count, 0)), PlotColumn{});
    out.Before = {};
    out.After = {};
    if (channel >= ChannelCount() || count <= 0)
        return;
    const auto ch = static_cast<uint32_t>(channel);
    const ChannelIndex& index = IndexOf(channel);
    const size_t total = index.Count;
    const double span = to - from;
    size_t hint = 0;
    size_t start = FirstAtOrAfter(index, channel, from, hint);
    if (start > 0) {
        const LogSample sample = File.GetSample(ch, start - 1);
        out.Before = {true, HasFiniteValue(sample), sample.Time, sample.Value};
    }
    for (int c = 0; c < count; ++c) {
        // The search for the column's end steps over the samples of its last block: their
        // values are taken on the way instead of being read again.
        Range tail;
        size_t tailFrom = 0;
        const double edge = c + 1 == count ? to : from + span * (c + 1) / count;
        const size_t end = FirstAtOrAfter(index, channel, edge, hint, &tail, &tailFrom);
        if (end > start) {
            PlotColumn& column = out.Columns[static_cast<size_t>(c)];
            const LogSample first = File.GetSample(ch, start);
            const LogSample last = File.GetSample(ch, end - 1);
            column.HasSamples = true;
            column.FirstValid = HasFiniteValue(first);
            column.FirstTime = first.Time;
            column.First = first.Value;
            column.LastValid = HasFiniteValue(last);
            column.LastTime = last.Time;
            column.Last = last.Value;
            Range range;
            if (tailFrom >= start && tailFrom <= end) {
                Accumulate(index, channel, start, tailFrom, range);
                if (tail.HasValue)
                    range.Add(tail.Min, tail.Max);
            } else {
                Accumulate(index, channel, start, end, range);
            }
            column.HasValue = range.HasValue;
            column.Min = range.Min;
            column.Max = range.Max;
        }
        start = std::max(start, end);
    }
    if (start < total) {
        const LogSample sample = File.GetSample(ch, start);
        out.After = {true, HasFiniteValue(sample), sample.Time, sample.Value};
    }
}

bool LogPlotData::ValueRange(size_t channel, double from, double to, float& min, float& max) const
{
    if (channel >= ChannelCount())
        return false;
    const ChannelIndex& index = IndexOf(channel);
    Range range;
    Accumulate(index, channel, FirstAtOrAfter(index, channel, from), FirstAtOrAfter(index, channel, to), range);
    if (!range.HasValue)
        return false;
    min = range.Min;
    max = range.Max;
    return true;
}

std::string LogPlotData::ValueText(size_t channel, double t, char separator) const
{
    float value = 0.0f;
    if (channel >= ChannelCount() || !File.GetValueAt(static_cast<uint32_t>(channel), t, value))
        return "NAN";
    char text[CsvNumberMaxLength];
    const size_t length = FormatCsvNumber(value, Decimals[channel], separator, text);
    return std::string(text, length);
}

size_t LogPlotData::IndexBytes() const
{
    size_t bytes = Decimals.capacity() + Indexes.bucket_count() * sizeof(void*);
    for (const auto& [channel, index] : Indexes) {
        bytes += sizeof(ChannelIndex) + index->BlockLatest.capacity() * sizeof(double);
        for (const auto& level : index->Levels)
            bytes += level.capacity() * sizeof(Node);
    }
    return bytes;
}

size_t LogPlotData::IndexedChannels() const
{
    return Indexes.size();
}
