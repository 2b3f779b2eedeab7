#pragma once
// A display log opened for viewing: the reader, each channel's CSV column name and number
// pattern, and per channel an index that answers "smallest and largest value between two times"
// without visiting every sample, so a plot of millions of samples is drawn one pixel column at a
// time. A channel's index is built the first time the channel is plotted, so a log of a million
// channels opens at the cost of reading it. No Qt.
//
// Not safe for concurrent use, not even of the const functions: they build indexes on demand.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Displogfile.h"

// One channel as the CSV conversion heads and writes it.
struct PlotChannel {
    uint32_t Index = 0;
    std::string Name;              // NameForId, or "IDX_ERR" when the identifier cannot be had
    std::string Pattern = "0.000"; // GetChannelFormat, or "0.000" when there is none
    int Decimals = 3;
};

// What one pixel column (a time span) of a channel holds.
struct PlotColumn {
    bool HasSamples = false;
    bool HasValue = false; // at least one sample with a finite value
    bool FirstValid = false;
    bool LastValid = false;
    float Min = 0.0f;      // over the samples with a finite value
    float Max = 0.0f;
    double FirstTime = 0.0;
    float First = 0.0f;
    double LastTime = 0.0;
    float Last = 0.0f;
};

// A single sample just outside the columns, so that lines run on to the edges of the plot.
struct PlotEdge {
    bool Present = false;
    bool Valid = false;
    double Time = 0.0;
    float Value = 0.0f;
};

struct PlotColumns {
    std::vector<PlotColumn> Columns;
    PlotEdge Before; // the last sample before the first column
    PlotEdge After;  // the first sample after the last column
};

class LogPlotData {
public:
    // Opens the log and names its channels; the reader's result code (0 on success). On failure
    // the data has no channels.
    [[nodiscard]] uint32_t Open(const std::string& path);
    [[nodiscard]] uint32_t OpenFromBytes(const uint8_t* data, size_t size);

    [[nodiscard]] const DispLogFile& Log() const { return File; }
    [[nodiscard]] size_t ChannelCount() const { return Decimals.size(); }
    // channel must be in range (as for the three below).
    [[nodiscard]] PlotChannel Channel(size_t channel) const;
    // Made from the identifier on each call: held for every channel, names would take more
    // memory than the file with a million channels.
    [[nodiscard]] std::string ChannelName(size_t channel) const;
    [[nodiscard]] int ChannelDecimals(size_t channel) const { return Decimals[channel]; }
    [[nodiscard]] double Duration() const { return File.GetDuration(); }
    // Earliest and latest sample time of any channel (0 and 0 without channels). Time stamps that
    // go back can put a sample before the first time stamp's time or after GetDuration.
    [[nodiscard]] double FirstTime() const { return Earliest; }
    [[nodiscard]] double LastTime() const { return Latest; }

    // The channel's value at t as the CSV conversion writes it: GetValueAt written with the
    // channel's pattern, or "NAN" where GetValueAt gives no value. Unquoted.
    [[nodiscard]] std::string ValueText(size_t channel, double t, char separator = '.') const;

    // Splits [from, to) into `count` equal pixel columns and gives what each holds. A sample
    // belongs to the column of its time; where time stamps go back, a sample is placed by the
    // latest time seen up to it in its channel, so every sample lands in exactly one column and
    // the work stays bounded.
    void Decimate(size_t channel, double from, double to, int count, PlotColumns& out) const;
    // Smallest and largest finite value among the samples in [from, to); false when there is none.
    [[nodiscard]] bool ValueRange(size_t channel, double from, double to, float& min, float& max) const;

    // Bytes held by the indexes built so far and the per-channel data (beside the reader's samples).
    [[nodiscard]] size_t IndexBytes() const;
    // Number of channels whose index has been built.
    [[nodiscard]] size_t IndexedChannels() const;

    // Samples summarised by one node of the lowest index level, and nodes by one node above.
    static constexpr size_t Fanout = 16;

private:
    struct Node {
        float Min;
        float Max;
        bool HasValue;
    };
    struct ChannelIndex {
        size_t Count = 0;
        // Latest sample time up to the end of each lowest-level block: the search key.
        std::vector<double> BlockLatest;
        // Level 0 summarises Fanout samples per node, level k Fanout nodes of level k - 1.
        std::vector<std::vector<Node>> Levels;
    };
    struct Range {
        float Min = 0.0f;
        float Max = 0.0f;
        bool HasValue = false;
        void Add(float min, float max)
        {
            if (!HasValue) {
                Min = min;
                Max = max;
                HasValue = true;
                return;
            }
            Min = min < Min ? min : Min;
            Max = max > Max ? max : Max;
        }
    };

    uint32_t Finish(uint32_t result);
    // The channel's index, built on first use.
    const ChannelIndex& IndexOf(size_t channel) const;
    [[nodiscard]] std::unique_ptr<ChannelIndex> BuildIndex(uint32_t channel) const;
    // Index of the first sample whose latest-time key is at or after t. index is the channel's.
    [[nodiscard]] size_t FirstAtOrAfter(const ChannelIndex& index, size_t channel, double t) const;
    // The same, searching on from block `hint`, which is set to the block of the answer. When
    // passed is given, it receives the values of the samples the search stepped over in the
    // answer's block, from passedFrom up to the answer.
    [[nodiscard]] size_t FirstAtOrAfter(const ChannelIndex& index, size_t channel, double t, size_t& hint,
                                        Range* passed = nullptr, size_t* passedFrom = nullptr) const;
    void Accumulate(const ChannelIndex& index, size_t channel, size_t lo, size_t hi, Range& range) const;

    DispLogFile File;
    std::vector<uint8_t> Decimals;
    // The indexes built so far, by channel.
    mutable std::unordered_map<size_t, std::unique_ptr<ChannelIndex>> Indexes;
    double Earliest = 0.0;
    double Latest = 0.0;
};
