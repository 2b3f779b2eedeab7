#pragma once
// Statistics of a display log's raw samples over a time range, per channel: how many samples
// lie in the range, and the least, greatest and mean of their finite values.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

class DispLogFile;

struct ChannelStats {
    std::string Name;   // the CSV header's name without its trailing blanks
    int Decimals = 3;   // the decimals of the channel's CSV column
    uint64_t Count = 0; // samples whose time lies in the range, with or without a value
    uint64_t Finite = 0; // those of them with a finite value
    double Min = 0;     // over the finite values; meaningless when Finite is 0
    double Max = 0;
    double Mean = 0;
};

struct StatsRange {
    double From = -std::numeric_limits<double>::infinity();
    double To = std::numeric_limits<double>::infinity();
};

// The statistics of one channel over the samples whose time t (seconds since the first time
// stamp) lies in [From, To].
ChannelStats StatsOfChannel(const DispLogFile& log, uint32_t index, const StatsRange& range);

// StatsOfChannel of every channel, in the log's order.
std::vector<ChannelStats> LogChannelStats(const DispLogFile& log, const StatsRange& range);

// Seconds within the range during which the channel's value lay above `threshold`: each sample
// with a finite value above it counts until the channel's next sample (its value holds until
// then); the last sample counts nothing.
double TimeAbove(const DispLogFile& log, uint32_t index, const StatsRange& range, double threshold);

// The channel name a log's column header gives, without its trailing blanks.
std::string StatsChannelName(const DispLogFile& log, uint32_t index);
