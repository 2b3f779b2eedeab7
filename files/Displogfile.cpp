#include "Displogfile.h"

#include "ByteReader.h"
#include "ResultCodes.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>

namespace {

constexpr uint32_t NoValueWord = 0xFFFFFFFF;
constexpr uint32_t Format1TimeStampId = 0x00FF;
constexpr uint32_t Format2TimeStampId = 0;

// Records are read from a file in blocks of this many records: large enough that the read calls
// cost nothing next to the decoding, small enough that the file is never held whole in memory.
constexpr size_t RecordsPerBlock = 64 * 1024;

} // namespace

// Decodes records back to back and hands the samples to the reader. Fed in pieces, it keeps the
// time base between them.
class DispLogFile::RecordParser {
public:
    // A counting parser only counts the samples of each channel, so that the filling pass can
    // size every sample array once.
    RecordParser(DispLogFile& file, bool counting)
        : File(file), Counting(counting), Format2(file.Header.FormatTag == Format2Tag), TickRate(file.Header.TickRate)
    {
    }

    [[nodiscard]] size_t RecordSize() const { return Format2 ? 8 : 6; }

    // Decodes every whole record of the bytes; a trailing fragment is left alone.
    void Feed(const uint8_t* data, size_t size)
    {
        ByteReader reader(data, size);
        const size_t recordSize = RecordSize();
        while (reader.Remaining() >= recordSize) {
            uint32_t id = 0;
            uint32_t word = 0;
            if (Format2) {
                if (!reader.Read32(id))
                    return;
            } else {
                uint16_t shortId = 0;
                if (!reader.Read16(shortId))
                    return;
                id = shortId;
            }
            if (!reader.Read32(word))
                return;
            if (id == (Format2 ? Format2TimeStampId : Format1TimeStampId))
                TimeStamp(word);
            else if (!HaveBase)
                continue;
            else if (Counting)
                File.CountSample(id);
            else
                File.AddSample(id, Now, word != NoValueWord, word);
        }
    }

private:
    void TimeStamp(uint32_t counter)
    {
        if (!HaveBase) {
            Base = counter;
            Now = 0.0;
            HaveBase = true;
            return;
        }
        // A tick rate of 0 gives no time axis: every sample then stays at the first time stamp,
        // so the log has duration 0 instead of infinite or undefined times.
        Now = TickRate == 0 ? 0.0
                            : static_cast<double>(static_cast<uint32_t>(counter - Base)) /
                                  static_cast<double>(TickRate);
    }

    DispLogFile& File;
    const bool Counting;
    const bool Format2;
    const uint32_t TickRate;
    bool HaveBase = false;
    uint32_t Base = 0;
    double Now = 0.0;
};

void DispLogFile::Clear()
{
    Header = DispLogHeader{};
    Channels.clear();
    ChannelById.clear();
    LastChannel = 0;
}

uint32_t DispLogFile::ReadHeader(const uint8_t* bytes, size_t size)
{
    ByteReader reader(bytes, size);
    DispLogHeader header;
    if (!reader.Read32(header.FormatTag) || !reader.Read32(header.TickRate) ||
        !reader.Read32(header.DataOffset))
        return ERR_FILE_READ;
    if (header.FormatTag != Format1Tag && header.FormatTag != Format2Tag)
        return ERR_FILE_SIG;
    Header = header;
    return 0;
}

// Records never overlap the header: an offset inside it is read as the end of the header.
static size_t FirstRecordOffset(const DispLogHeader& header)
{
    return std::max<size_t>(header.DataOffset, DispLogFile::HeaderSize);
}

uint32_t DispLogFile::Open(const std::string& path)
{
    Clear();
    Path = path;

    // Only a regular file is a log; a directory or a device would otherwise open and read as
    // an error, or never end.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return ERR_FILE_IHV;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ERR_FILE_IHV;

    uint8_t headerBytes[HeaderSize] = {};
    in.read(reinterpret_cast<char*>(headerBytes), HeaderSize);
    const uint32_t result = ReadHeader(headerBytes, static_cast<size_t>(in.gcount()));
    if (result != 0)
        return result;

    const auto offset = static_cast<std::streamoff>(FirstRecordOffset(Header));
    // The block holds whole records, so only the last read can end in a fragment.
    std::vector<uint8_t> block(RecordsPerBlock * (Header.FormatTag == Format2Tag ? 8 : 6));
    return ReadRecords([&](RecordParser& parser) {
        in.clear();
        in.seekg(offset, std::ios::beg);
        while (in) {
            in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
            const auto got = static_cast<size_t>(in.gcount());
            if (got == 0)
                break;
            parser.Feed(block.data(), got);
        }
    });
}

uint32_t DispLogFile::OpenFromBytes(const uint8_t* data, size_t size)
{
    Clear();
    Path.clear();
    if (data == nullptr)
        size = 0;
    const uint32_t result = ReadHeader(data, size);
    if (result != 0)
        return result;
    const size_t offset = FirstRecordOffset(Header);
    return ReadRecords([&](RecordParser& parser) {
        if (offset < size)
            parser.Feed(data + offset, size - offset);
    });
}

// Two passes over the records: the first counts the samples of each channel, the second
// stores them into arrays of that size. Growing the arrays while reading would copy every
// sample again at each step, and leave up to half of each array unused.
template <typename FeedAll>
uint32_t DispLogFile::ReadRecords(FeedAll feedAll)
{
    // The samples take three to four times the size of the records (more with many channels);
    // a file too large for the memory is refused instead of ending the program.
    try {
        {
            RecordParser counter(*this, true);
            feedAll(counter);
        }
        for (Channel& channel : Channels)
            channel.Samples.reserve(channel.Counted);
        LastChannel = 0;
        {
            RecordParser filler(*this, false);
            feedAll(filler);
        }
        FinishChannels();
    } catch (const std::bad_alloc&) {
        Channels = {};
        ChannelById = {};
        return ERR_ALLOC_FAIL;
    }
    return 0;
}

inline void DispLogFile::CountSample(uint32_t id)
{
    if (Channels.size() >= std::numeric_limits<uint32_t>::max() && !ChannelById.contains(id))
        return;
    ++Channels[FindOrAddChannel(id)].Counted;
}

inline uint32_t DispLogFile::FindOrAddChannel(uint32_t id)
{
    // Logs write their channels in the same order after every time stamp, so the channel after
    // the last one (or the last one again) is nearly always the answer.
    const auto count = static_cast<uint32_t>(Channels.size());
    if (count != 0) {
        const uint32_t next = LastChannel + 1 < count ? LastChannel + 1 : 0;
        if (Channels[next].Id == id)
            return LastChannel = next;
        if (Channels[LastChannel].Id == id)
            return LastChannel;
    }
    return LastChannel = LookUpChannel(id);
}

uint32_t DispLogFile::LookUpChannel(uint32_t id)
{
    const auto [it, added] = ChannelById.try_emplace(id, static_cast<uint32_t>(Channels.size()));
    if (added) {
        Channels.emplace_back();
        Channels.back().Id = id;
    }
    return it->second;
}

inline void DispLogFile::AddSample(uint32_t id, double time, bool valid, uint32_t valueWord)
{
    // Channel indexes are 32-bit: a file with more distinct identifiers than that is not a log.
    if (Channels.size() >= std::numeric_limits<uint32_t>::max() && !ChannelById.contains(id))
        return;
    Channel& channel = Channels[FindOrAddChannel(id)];
    if (!channel.Samples.empty() && time < channel.Samples.back().Time)
        channel.InOrder = false;
    // Sized by the counting pass; should the file have grown since, the array grows
    // geometrically.
    channel.Samples.push_back(
        LogSample{id, time, static_cast<uint8_t>(valid ? 1 : 0), std::bit_cast<float>(valueWord)});
}

void DispLogFile::FinishChannels()
{
    ChannelById.clear();
    // Only a file that shrank between the two passes leaves a channel without samples.
    std::erase_if(Channels, [](const Channel& channel) { return channel.Samples.empty(); });
    for (Channel& channel : Channels) {
        if (channel.InOrder)
            continue;
        const std::vector<LogSample>& samples = channel.Samples;
        channel.RunningMax.resize(samples.size());
        double highest = -std::numeric_limits<double>::infinity();
        for (size_t i = 0; i < samples.size(); ++i) {
            highest = std::max(highest, samples[i].Time);
            channel.RunningMax[i] = highest;
        }
    }
}

double DispLogFile::GetDuration() const
{
    double duration = 0.0;
    for (const Channel& channel : Channels)
        if (!channel.Samples.empty())
            duration = std::max(duration, channel.Samples.back().Time);
    return duration;
}

uint32_t DispLogFile::GetChannelCount() const
{
    return static_cast<uint32_t>(Channels.size());
}

bool DispLogFile::GetChannelId(uint32_t index, uint32_t& id) const
{
    if (index >= Channels.size())
        return false;
    id = Channels[index].Id;
    return true;
}

const std::vector<LogSample>& DispLogFile::GetSamples(uint32_t index) const
{
    static const std::vector<LogSample> none;
    return index < Channels.size() ? Channels[index].Samples : none;
}

// First index in [0, count) whose key time is later than t, starting from a cursor; the keys
// never decrease. key(i) is the time of sample i, or the running maximum where times go back.
template <typename Key>
static size_t FirstLater(const Key& key, size_t count, double t, size_t cursor)
{
    auto search = [&](size_t low, size_t high) {
        while (low < high) {
            const size_t mid = low + (high - low) / 2;
            if (key(mid) > t)
                high = mid;
            else
                low = mid + 1;
        }
        return low;
    };
    cursor = std::min(cursor, count);
    if (cursor > 0 && key(cursor - 1) > t)
        return search(0, cursor);
    // Walking forward in time: the answer is usually at or just after the cursor.
    constexpr int ShortWalk = 8;
    for (int step = 0; step < ShortWalk && cursor < count; ++step, ++cursor)
        if (key(cursor) > t)
            return cursor;
    return search(cursor, count);
}

size_t DispLogFile::FirstLaterThan(const Channel& channel, double t, size_t cursor) const
{
    const size_t count = channel.Samples.size();
    if (channel.RunningMax.empty()) {
        const LogSample* samples = channel.Samples.data();
        return FirstLater([samples](size_t i) { return samples[i].Time; }, count, t, cursor);
    }
    const double* highest = channel.RunningMax.data();
    return FirstLater([highest](size_t i) { return highest[i]; }, count, t, cursor);
}

bool DispLogFile::ValueFrom(const Channel& channel, size_t next, double t, float& value) const
{
    // next is the first sample later than t: none, or the first sample, means t is outside.
    if (next == 0 || next >= channel.Samples.size())
        return false;
    const LogSample& before = channel.Samples[next - 1];
    const LogSample& after = channel.Samples[next];
    if (before.Time == t) {
        if (before.Valid == 0)
            return false;
        value = before.Value;
        return true;
    }
    if (before.Valid == 0 || after.Valid == 0)
        return false;
    const double fraction = (t - before.Time) / (after.Time - before.Time);
    const double p = before.Value;
    double result = p + (static_cast<double>(after.Value) - p) * fraction;
    // Rounding in double can step just past the float range between two extreme values.
    if (std::fabs(result) > FLT_MAX && std::isfinite(result))
        result = std::copysign(static_cast<double>(FLT_MAX), result);
    value = static_cast<float>(result);
    return true;
}

bool DispLogFile::GetValueAt(uint32_t index, double t, float& value) const
{
    size_t cursor = 0;
    return GetValueAt(index, t, value, cursor);
}

bool DispLogFile::GetValueAt(uint32_t index, double t, float& value, size_t& cursor) const
{
    // No sample is later than a time that is not a number.
    if (index >= Channels.size() || std::isnan(t))
        return false;
    const Channel& channel = Channels[index];
    cursor = FirstLaterThan(channel, t, cursor);
    return ValueFrom(channel, cursor, t, value);
}
