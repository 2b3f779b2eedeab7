#pragma once
// Reader of the display unit's ".displog" files: the whole file is read at open and held as
// per-channel sample arrays; values between two samples are interpolated linearly. A sample takes
// 8 bytes: its time is shared with the other samples of its time stamp, and a time stamp that no
// sample follows takes no memory.
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "LargeBuffer.h"

// One sample record after the first time stamp, as held in memory.
struct LogSample {
    uint32_t Identifier; // channel identifier (format-1 identifiers widened to 32 bits)
    double Time;         // seconds since the first time stamp
    uint8_t Valid;       // 0 when the value word was 0xFFFFFFFF
    float Value;         // the value word exactly as stored
};

// The 12-byte header, its fields exactly as read.
struct DispLogHeader {
    uint32_t FormatTag = 0;
    uint32_t TickRate = 0;
    uint32_t DataOffset = 0;
};

// What a log's records held besides its samples, counted while it was read.
struct DispLogRecordCounts {
    uint64_t TimeStamps = 0;   // time-stamp records from the first on
    uint64_t EarlySamples = 0; // sample records before the first time stamp (they belong to no moment)
};

// Why Open gave `code` for the log at `path`, as the front ends show it: "no such file
// (ERR_FILE_IHV)", "not a display log: bad signature (ERR_FILE_SIG)", ...
std::string DispLogOpenFailure(const std::string& path, uint32_t code);

class DispLogFile {
public:
    static constexpr uint32_t Format1Tag = 0x10000000;
    static constexpr uint32_t Format2Tag = 0x20000000;
    static constexpr size_t HeaderSize = 12;

    DispLogFile() = default;
    DispLogFile(const DispLogFile&) = delete;
    DispLogFile& operator=(const DispLogFile&) = delete;
    DispLogFile(DispLogFile&& other) noexcept;
    DispLogFile& operator=(DispLogFile&& other) noexcept;

    // Reads the file at path completely. Returns 0, ERR_FILE_IHV (cannot be opened), ERR_FILE_READ
    // (shorter than the header), ERR_FILE_SIG (unknown format tag), ERR_ALLOC_FAIL (the samples
    // do not fit in memory) or ERR_CANCELLED (stop held true); on failure the reader has no
    // channels. Every few milliseconds of reading, between blocks of records, `between` is called
    // (a window keeps itself live there) and then stop is looked at; a signal handler may set it.
    [[nodiscard]] uint32_t Open(const std::string& path, const std::atomic<bool>* stop = nullptr,
                                const std::function<void()>& between = {});
    // The same from bytes already in memory (the path is left empty); the bytes are not kept.
    [[nodiscard]] uint32_t OpenFromBytes(const uint8_t* data, size_t size, const std::atomic<bool>* stop = nullptr,
                                         const std::function<void()>& between = {});

    // Why the samples of the log have no time axis, as a sentence: they all lie at one instant
    // (tick rate 0, a single time stamp, time stamps that all give the same time) or before any
    // time stamp. Empty when the log spans some time, or holds no sample records at all.
    [[nodiscard]] std::string TimeAxisProblem() const;
    [[nodiscard]] const DispLogRecordCounts& GetRecordCounts() const { return Counts; }

    // Greatest time of any channel's last sample; 0.0 when there are no channels.
    [[nodiscard]] double GetDuration() const;
    [[nodiscard]] uint32_t GetChannelCount() const;
    // Identifier of the channel's first sample; false (id untouched) for an index out of range.
    [[nodiscard]] bool GetChannelId(uint32_t index, uint32_t& id) const;
    // Value of the channel at time t (seconds): exact at a sample, interpolated between two valid
    // samples; false before the first sample, at or after the last, or next to a sample without value.
    [[nodiscard]] bool GetValueAt(uint32_t index, double t, float& value) const;
    // The same answer, for callers that ask at non-decreasing times: cursor remembers where the last
    // look-up ended so that a walk through the log costs O(1) per look-up. Start cursor at 0; any
    // value is safe (a stale or foreign cursor only costs a search).
    [[nodiscard]] bool GetValueAt(uint32_t index, double t, float& value, size_t& cursor) const;
    // GetValueAt with a cursor for the first channels at once (as many as the shortest span has
    // entries, at most GetChannelCount()): found[i] is 1 with values[i] set where channel i has
    // a value at t, else 0 (values[i] untouched). The answers are GetValueAt's, bit for bit.
    void GetValuesAt(double t, std::span<size_t> cursors, std::span<float> values, std::span<uint8_t> found) const;
    // The same for chosen channels in a chosen order: entry i answers for channel channels[i]
    // with cursors[i] (as many entries as the shortest span has); a channel out of range has no
    // value.
    void GetValuesAt(double t, std::span<const uint32_t> channels, std::span<size_t> cursors, std::span<float> values,
                     std::span<uint8_t> found) const;

    // Column name of a channel identifier in this file's format, written into buffer (always
    // terminated when size > 0). False only for a format-1 identifier without a name of its own.
    bool NameForId(uint32_t id, char* buffer, size_t size) const;
    // Number pattern ("0", "0.0", "0.00" or "0.000") of a channel identifier; false as NameForId.
    bool FormatForId(uint32_t id, char* buffer, size_t size) const;
    // FormatForId of the channel's identifier; false (buffer untouched) for an index out of range.
    bool GetChannelFormat(uint32_t index, char* buffer, size_t size) const;

    [[nodiscard]] const DispLogHeader& GetHeader() const { return Header; }
    [[nodiscard]] const std::string& GetPath() const { return Path; }
    // Number of samples of a channel; 0 for an index out of range.
    [[nodiscard]] size_t GetSampleCount(uint32_t index) const
    {
        return index < Channels.size() ? Channels[index].Count : 0;
    }
    // Sample i of a channel in file order; index and i must be in range.
    [[nodiscard]] LogSample GetSample(uint32_t index, size_t i) const
    {
        const Channel& channel = Channels[index];
        const StoredSample sample = channel.Samples[i];
        return LogSample{channel.Id, Times[sample.Stamp], static_cast<uint8_t>(sample.Word != NoValueWord ? 1 : 0),
                         std::bit_cast<float>(sample.Word)};
    }

private:
    static constexpr uint32_t NoValueWord = 0xFFFFFFFF;

    // A sample as held: the index of its time stamp in the table of times, and its value word.
    // Every sample of one time stamp shares that time, and the identifier is the channel's.
    struct StoredSample {
        uint32_t Stamp;
        uint32_t Word;
    };
    struct Channel {
        uint32_t Id = 0;
        size_t Count = 0;    // samples held
        size_t Counted = 0;  // samples found by the counting pass: room in Samples
        StoredSample* Samples = nullptr; // in Store
        // Running maximum of the sample times (in RunningMaxima), kept only when the times ever
        // decrease (time stamps that go back); the first sample later than t is then the first
        // whose running maximum is later than t, so a binary search still finds the pair a scan
        // would. A plain pointer keeps the record small: logs of many channels read it often.
        const double* RunningMax = nullptr;
    };
    class ChannelLookUp;
    template <bool Format2, bool Filling>
    class RecordParser;

    void Clear();
    [[nodiscard]] uint32_t ReadHeader(const uint8_t* bytes, size_t size);
    template <typename Source>
    [[nodiscard]] uint32_t ReadRecords(Source& source, const std::atomic<bool>* stop,
                                       const std::function<void()>& between);
    template <bool Format2, typename Source>
    [[nodiscard]] uint32_t ReadRecordsOfFormat(Source& source, const std::atomic<bool>* stop,
                                               const std::function<void()>& between);
    // False when stop asked to end first.
    [[nodiscard]] bool FinishChannels(bool timesInOrder, const std::atomic<bool>* stop);
    [[nodiscard]] double SampleTime(const Channel& channel, size_t i) const { return Times[channel.Samples[i].Stamp]; }
    [[nodiscard]] inline size_t FirstLaterThan(const Channel& channel, double t, size_t cursor) const;
    [[nodiscard]] inline bool ValueFrom(const Channel& channel, size_t next, double t, float& value) const;
    // GetValueAt of one channel (t a number) with a cursor, quickest for a walk forward in time.
    [[nodiscard]] inline bool WalkTo(const Channel& channel, double t, size_t& cursor, float& value) const;

    DispLogHeader Header;
    std::string Path;
    DispLogRecordCounts Counts;
    std::vector<Channel> Channels;
    std::vector<double> RunningMaxima; // of the channels whose times go back, one after another
    // The table of times (one per time stamp from the first on) followed by every channel's
    // samples, each channel's in one piece: sized exactly by the counting pass.
    LargeBuffer Store;
    const double* Times = nullptr;
};
