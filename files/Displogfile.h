#pragma once
// Reader of the display unit's ".displog" files: the whole file is read at open and held as
// per-channel sample arrays; values between two samples are interpolated linearly.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

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

class DispLogFile {
public:
    static constexpr uint32_t Format1Tag = 0x10000000;
    static constexpr uint32_t Format2Tag = 0x20000000;
    static constexpr size_t HeaderSize = 12;

    DispLogFile() = default;
    DispLogFile(const DispLogFile&) = delete;
    DispLogFile& operator=(const DispLogFile&) = delete;
    DispLogFile(DispLogFile&&) noexcept = default;
    DispLogFile& operator=(DispLogFile&&) noexcept = default;

    // Reads the file at path completely. Returns 0, ERR_FILE_IHV (cannot be opened), ERR_FILE_READ
    // (shorter than the header), ERR_FILE_SIG (unknown format tag) or ERR_ALLOC_FAIL (the samples
    // do not fit in memory); on failure the reader has no channels.
    [[nodiscard]] uint32_t Open(const std::string& path);
    // The same from bytes already in memory (the path is left empty); the bytes are not kept.
    [[nodiscard]] uint32_t OpenFromBytes(const uint8_t* data, size_t size);

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

    // Column name of a channel identifier in this file's format, written into buffer (always
    // terminated when size > 0). False only for a format-1 identifier without a name of its own.
    bool NameForId(uint32_t id, char* buffer, size_t size) const;
    // Number pattern ("0", "0.0", "0.00" or "0.000") of a channel identifier; false as NameForId.
    bool FormatForId(uint32_t id, char* buffer, size_t size) const;
    // FormatForId of the channel's identifier; false (buffer untouched) for an index out of range.
    bool GetChannelFormat(uint32_t index, char* buffer, size_t size) const;

    [[nodiscard]] const DispLogHeader& GetHeader() const { return Header; }
    [[nodiscard]] const std::string& GetPath() const { return Path; }
    // Samples of a channel in file order; empty for an index out of range.
    [[nodiscard]] const std::vector<LogSample>& GetSamples(uint32_t index) const;
    // Number of samples of a channel; 0 for an index out of range.
    [[nodiscard]] size_t GetSampleCount(uint32_t index) const
    {
        return index < Channels.size() ? Channels[index].Samples.size() : 0;
    }
    // Sample i of a channel in file order; index and i must be in range.
    [[nodiscard]] LogSample GetSample(uint32_t index, size_t i) const { return Channels[index].Samples[i]; }

private:
    struct Channel {
        uint32_t Id = 0;
        size_t Counted = 0;  // samples found by the counting pass of Open
        bool InOrder = true; // no sample is earlier than the one before it
        std::vector<LogSample> Samples;
        // Running maximum of the sample times, kept only when the times ever decrease (time
        // stamps that go back); the first sample later than t is then the first whose running
        // maximum is later than t, so a binary search still finds the pair a scan would.
        std::vector<double> RunningMax;
    };
    class RecordParser;

    void Clear();
    [[nodiscard]] uint32_t ReadHeader(const uint8_t* bytes, size_t size);
    template <typename FeedAll>
    [[nodiscard]] uint32_t ReadRecords(FeedAll feedAll);
    // Called for every record while reading, defined with the reader alone.
    inline uint32_t FindOrAddChannel(uint32_t id);
    uint32_t LookUpChannel(uint32_t id);
    inline void CountSample(uint32_t id);
    inline void AddSample(uint32_t id, double time, bool valid, uint32_t valueWord);
    void FinishChannels();
    [[nodiscard]] inline size_t FirstLaterThan(const Channel& channel, double t, size_t cursor) const;
    [[nodiscard]] inline bool ValueFrom(const Channel& channel, size_t next, double t, float& value) const;

    DispLogHeader Header;
    std::string Path;
    std::vector<Channel> Channels;
    std::unordered_map<uint32_t, uint32_t> ChannelById;
    uint32_t LastChannel = 0;
};
