#include "Displogfile.h"

#include "LocalFiles.h"

#include "ByteReader.h"
#include "ChannelTable.h"
#include "PathText.h"
#include "ResultCodes.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <utility>

namespace {

constexpr uint32_t Format1TimeStampId = 0x00FF;
constexpr uint32_t Format2TimeStampId = 0;

// A file is read in blocks of this size, twice (counting, then filling): large enough that the
// read calls cost nothing next to the decoding, small enough that the file is never held whole
// in memory.
constexpr size_t ReadBlockBytes = size_t{2} << 20;

// Sample records point at their time stamp by a 32-bit index: a file with more time stamps (at
// least 24 GB) does not fit in memory anyway.
constexpr uint64_t MaxTimeStamps = uint64_t{1} << 32;

// The records' bytes from a file, a block at a time.
class FileSource {
public:
    FileSource(std::ifstream& in, std::streamoff offset, size_t blockBytes) : In(in), Offset(offset), Block(blockBytes) {}

    void Rewind()
    {
        In.clear();
        In.seekg(Offset, std::ios::beg);
    }

    // The next piece, at most `limit` bytes and at most the block; 0 at the end. `limit` and the
    // block are whole records, so only the last piece can end in a fragment.
    size_t Next(const uint8_t*& data, uint64_t limit, size_t recordSize)
    {
        const size_t usable = Block.Size() / recordSize * recordSize;
        const auto want = static_cast<size_t>(std::min<uint64_t>(usable, limit));
        if (!In || want == 0)
            return 0;
        auto* block = static_cast<uint8_t*>(Block.Data());
        In.read(reinterpret_cast<char*>(block), static_cast<std::streamsize>(want));
        data = block;
        return static_cast<size_t>(In.gcount());
    }

private:
    std::ifstream& In;
    std::streamoff Offset;
    LargeBuffer Block;
};

// The records' bytes already in memory, handed out a block at a time so that a stop request is
// seen between blocks as it is with a file.
class MemorySource {
public:
    MemorySource(const uint8_t* data, size_t size) : Data(data), Size(size) {}

    void Rewind() { Given = 0; }

    size_t Next(const uint8_t*& data, uint64_t limit, size_t recordSize)
    {
        const size_t usable = std::max<size_t>(ReadBlockBytes / recordSize, 1) * recordSize;
        const auto size = static_cast<size_t>(std::min<uint64_t>({Size - Given, limit, usable}));
        data = Data + Given;
        Given += size;
        return size;
    }

private:
    const uint8_t* Data;
    size_t Size;
    size_t Given = 0;
};

} // namespace

// Finds a channel by identifier: a direct table of all 65536 identifiers in format 1, a table
// with a keyed hash and a bounded probe in format 2 (ChannelTable.h), so that no choice of
// identifiers makes a look-up cost more than a few cache lines.
class DispLogFile::ChannelLookUp {
public:
    static constexpr uint32_t None = ChannelTable::None;

    explicit ChannelLookUp(bool format2) : Format2(format2)
    {
        if (!Format2)
            Direct.assign(size_t{1} << 16, NoShortIndex);
    }

    [[nodiscard]] uint32_t Find(uint32_t id) const
    {
        if (!Format2) {
            const uint16_t index = Direct[id & 0xFFFFu];
            return index == NoShortIndex ? None : index;
        }
        return Table.Find(id);
    }

    void Add(uint32_t id, uint32_t index)
    {
        if (!Format2) {
            // At most 65535 format-1 identifiers name channels (one is the time stamp), so every
            // index fits below NoShortIndex.
            Direct[id & 0xFFFFu] = static_cast<uint16_t>(index);
            return;
        }
        Table.Add(id, index);
    }

private:
    static constexpr uint16_t NoShortIndex = 0xFFFF;

    bool Format2;
    std::vector<uint16_t> Direct;
    ChannelTable Table;
};

// Decodes records back to back. The counting pass finds the channels and counts their samples
// and the time stamps that samples follow; the filling pass stores those times and the samples
// into the room counted. A time stamp takes memory only once a sample follows it, so a file of
// time stamps alone (a sparse or zero-padded file in format 2) takes none. Fed in pieces, a
// parser keeps the time base between them.
template <bool Format2, bool Filling>
class DispLogFile::RecordParser {
public:
    static constexpr size_t RecordSize = Format2 ? 8 : 6;
    static constexpr uint32_t TimeStampId = Format2 ? Format2TimeStampId : Format1TimeStampId;

    RecordParser(DispLogFile& file, ChannelLookUp& lookUp, double* times, size_t timeRoom)
        : File(file), LookUp(lookUp), TickRate(file.Header.TickRate), Times(times), TimeRoom(timeRoom)
    {
    }

    // Decodes the whole records of the bytes and gives the bytes they take. It stops early (and
    // gives fewer) at a record it cannot take: in the counting pass one beyond the limits on time
    // stamps and channels (Overflowed), in the filling pass one that the counting pass did not
    // see (the file changed in between): the log is then what both passes read alike.
    size_t Feed(const uint8_t* data, size_t size)
    {
        ByteReader reader(data, size);
        while (reader.Remaining() >= RecordSize) {
            const size_t at = reader.Position();
            uint32_t id = 0;
            uint32_t word = 0;
            if constexpr (Format2) {
                if (!reader.Read32(id))
                    break;
            } else {
                uint16_t shortId = 0;
                if (!reader.Read16(shortId))
                    break;
                id = shortId;
            }
            if (!reader.Read32(word))
                break;
            if (id == TimeStampId) {
                TimeStamp(word);
            } else if (!HaveBase) {
                ++Early;
            } else if (!Sample(id, word)) {
                return at;
            }
        }
        return reader.Position();
    }

    // Time stamps that samples follow: the times stored.
    [[nodiscard]] uint64_t StampCount() const { return Stamps; }
    [[nodiscard]] DispLogRecordCounts Counts() const { return {StampRecords, Early}; }
    [[nodiscard]] bool Overflowed() const { return Overflow; }
    [[nodiscard]] bool TimesInOrder() const { return InOrder; }

private:
    void TimeStamp(uint32_t counter)
    {
        ++StampRecords;
        Pending = true;
        if (!HaveBase) {
            Base = counter;
            HaveBase = true;
            Now = 0.0;
        } else if (Filling && TickRate != 0) {
            // A tick rate of 0 gives no time axis: every sample then stays at the first time
            // stamp, so the log has duration 0 instead of infinite or undefined times.
            Now = static_cast<double>(static_cast<uint32_t>(counter - Base)) / static_cast<double>(TickRate);
        }
    }

    bool Sample(uint32_t id, uint32_t word)
    {
        uint32_t index = Find(id);
        if constexpr (!Filling) {
            // Sample records point at their time by a 32-bit index.
            if (Pending && Stamps == MaxTimeStamps) {
                Overflow = true;
                return false;
            }
            if (index == ChannelLookUp::None) {
                // Channel indexes are 32-bit: a file with more distinct identifiers than that
                // does not fit in memory.
                if (File.Channels.size() >= ChannelLookUp::None) {
                    Overflow = true;
                    return false;
                }
                index = static_cast<uint32_t>(File.Channels.size());
                File.Channels.emplace_back().Id = id;
                LookUp.Add(id, index);
                Last = index;
            }
            if (Pending) {
                Pending = false;
                ++Stamps;
            }
            ++File.Channels[index].Counted;
            return true;
        } else {
            if (index == ChannelLookUp::None)
                return false;
            Channel& channel = File.Channels[index];
            if (channel.Count == channel.Counted)
                return false;
            if (Pending) {
                if (Stamps == TimeRoom)
                    return false;
                if (Stamps != 0 && Now < Times[Stamps - 1])
                    InOrder = false;
                Times[Stamps++] = Now;
                Pending = false;
            }
            channel.Samples[channel.Count++] = StoredSample{static_cast<uint32_t>(Stamps - 1), word};
            return true;
        }
    }

    uint32_t Find(uint32_t id)
    {
        // Logs write their channels in the same order after every time stamp, so the channel
        // after the last one (or the last one again) is nearly always the answer.
        const auto count = static_cast<uint32_t>(File.Channels.size());
        if (count != 0) {
            const uint32_t next = Last + 1 < count ? Last + 1 : 0;
            if (File.Channels[next].Id == id)
                return Last = next;
            if (File.Channels[Last].Id == id)
                return Last;
        }
        const uint32_t found = LookUp.Find(id);
        if (found != ChannelLookUp::None)
            Last = found;
        return found;
    }

    DispLogFile& File;
    ChannelLookUp& LookUp;
    const uint32_t TickRate;
    double* const Times;
    const size_t TimeRoom;
    bool HaveBase = false;
    bool Pending = false; // a time stamp that no sample has followed yet
    uint32_t Base = 0;
    double Now = 0.0;           // time of the last time stamp (filling pass)
    uint64_t Stamps = 0;        // time stamps that samples follow
    uint64_t StampRecords = 0;  // time stamps from the first on
    uint64_t Early = 0;         // samples before the first time stamp
    uint32_t Last = 0;          // channel of the last sample
    bool Overflow = false;
    bool InOrder = true;
};

DispLogFile::DispLogFile(DispLogFile&& other) noexcept
    : Header(std::exchange(other.Header, DispLogHeader{})), Path(std::move(other.Path)),
      Counts(std::exchange(other.Counts, DispLogRecordCounts{})), Channels(std::move(other.Channels)),
      RunningMaxima(std::move(other.RunningMaxima)), Store(std::move(other.Store)),
      Times(std::exchange(other.Times, nullptr))
{
    other.Channels.clear();
}

DispLogFile& DispLogFile::operator=(DispLogFile&& other) noexcept
{
    if (this != &other) {
        Header = std::exchange(other.Header, DispLogHeader{});
        Path = std::move(other.Path);
        Counts = std::exchange(other.Counts, DispLogRecordCounts{});
        Channels = std::move(other.Channels);
        other.Channels.clear();
        RunningMaxima = std::move(other.RunningMaxima);
        other.RunningMaxima.clear();
        Store = std::move(other.Store);
        Times = std::exchange(other.Times, nullptr);
    }
    return *this;
}

void DispLogFile::Clear()
{
    Header = DispLogHeader{};
    Counts = DispLogRecordCounts{};
    Channels.clear();
    RunningMaxima.clear();
    Store = LargeBuffer();
    Times = nullptr;
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

uint32_t DispLogFile::Open(const std::string& path, const std::atomic<bool>* stop,
                           const std::function<void()>& between)
{
    Clear();
    Path = path;

    // Only a regular file is a log; a directory or a device would otherwise open and read as
    // an error, or never end.
    std::error_code error;
    if (!std::filesystem::is_regular_file(PathFromUtf8(path), error))
        return ERR_FILE_IHV;
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in)
        return ERR_FILE_IHV;

    uint8_t headerBytes[HeaderSize] = {};
    in.read(reinterpret_cast<char*>(headerBytes), HeaderSize);
    const uint32_t result = ReadHeader(headerBytes, static_cast<size_t>(in.gcount()));
    if (result != 0)
        return result;

    const size_t offset = FirstRecordOffset(Header);
    // A small file gets a block of its own size (a file that grows meanwhile takes more reads).
    const uintmax_t fileSize = std::filesystem::file_size(path, error);
    size_t blockBytes = ReadBlockBytes;
    if (!error && fileSize < blockBytes)
        blockBytes = std::max<size_t>(static_cast<size_t>(fileSize) > offset ? static_cast<size_t>(fileSize) - offset : 0, 8);
    try {
        FileSource source(in, static_cast<std::streamoff>(offset), blockBytes);
        return ReadRecords(source, stop, between);
    } catch (const std::bad_alloc&) {
        Clear();
        return ERR_ALLOC_FAIL;
    }
}

uint32_t DispLogFile::OpenFromBytes(const uint8_t* data, size_t size, const std::atomic<bool>* stop,
                                    const std::function<void()>& between)
{
    Clear();
    Path.clear();
    if (data == nullptr)
        size = 0;
    const uint32_t result = ReadHeader(data, size);
    if (result != 0)
        return result;
    const size_t offset = FirstRecordOffset(Header);
    MemorySource source(offset < size ? data + offset : nullptr, offset < size ? size - offset : 0);
    return ReadRecords(source, stop, between);
}

template <typename Source>
uint32_t DispLogFile::ReadRecords(Source& source, const std::atomic<bool>* stop,
                                  const std::function<void()>& between)
{
    // A file too large for the memory is refused instead of ending the program.
    try {
        const uint32_t result = Header.FormatTag == Format2Tag ? ReadRecordsOfFormat<true>(source, stop, between)
                                                               : ReadRecordsOfFormat<false>(source, stop, between);
        if (result != 0)
            Clear();
        return result;
    } catch (const std::bad_alloc&) {
        Clear();
        return ERR_ALLOC_FAIL;
    }
}

// Two passes over the records: the first counts the time stamps and the samples of each channel,
// the second stores them into one block of memory of exactly that size. Growing arrays while
// reading would copy every sample again at each step, leave up to half of each array unused and
// touch fresh memory again and again. Between blocks (a block takes a few milliseconds to
// decode) the caller gets its turn and the stop request is looked at.
template <bool Format2, typename Source>
uint32_t DispLogFile::ReadRecordsOfFormat(Source& source, const std::atomic<bool>* stop,
                                          const std::function<void()>& between)
{
    constexpr size_t RecordSize = RecordParser<Format2, false>::RecordSize;
    // The caller's turn comes first, so that a stop it decides on there is seen at once.
    auto stopRequested = [stop, &between] {
        if (between)
            between();
        return stop != nullptr && stop->load(std::memory_order_relaxed);
    };
    ChannelLookUp lookUp(Format2);

    uint64_t countedBytes = 0;
    uint64_t stamps = 0;
    {
        RecordParser<Format2, false> counter(*this, lookUp, nullptr, 0);
        source.Rewind();
        const uint8_t* data = nullptr;
        while (const size_t size = source.Next(data, UINT64_MAX, RecordSize)) {
            if (stopRequested())
                return ERR_CANCELLED;
            const size_t used = counter.Feed(data, size);
            countedBytes += used;
            if (used < size)
                break;
        }
        if (counter.Overflowed())
            return ERR_ALLOC_FAIL;
        stamps = counter.StampCount();
        Counts = counter.Counts();
    }
    // Nothing to store: a file without samples is not read a second time.
    if (Channels.empty())
        return 0;

    uint64_t samples = 0;
    for (const Channel& channel : Channels)
        samples += channel.Counted;
    static_assert(sizeof(StoredSample) == sizeof(double));
    if (stamps + samples > SIZE_MAX / sizeof(double))
        return ERR_ALLOC_FAIL;
    Store = LargeBuffer(static_cast<size_t>(stamps + samples) * sizeof(double));
    auto* times = static_cast<double*>(Store.Data());
    auto* next = reinterpret_cast<StoredSample*>(times + stamps);
    for (Channel& channel : Channels) {
        channel.Samples = next;
        next += channel.Counted;
    }

    RecordParser<Format2, true> filler(*this, lookUp, times, static_cast<size_t>(stamps));
    source.Rewind();
    uint64_t left = countedBytes;
    const uint8_t* data = nullptr;
    while (const size_t size = source.Next(data, left, RecordSize)) {
        if (stopRequested())
            return ERR_CANCELLED;
        const size_t used = filler.Feed(data, size);
        left -= used;
        if (used < size)
            break;
    }
    Times = times;
    return FinishChannels(filler.TimesInOrder(), stop) ? 0 : ERR_CANCELLED;
}

bool DispLogFile::FinishChannels(bool timesInOrder, const std::atomic<bool>* stop)
{
    // Only a file that changed between the two passes leaves a channel without samples.
    std::erase_if(Channels, [](const Channel& channel) { return channel.Count == 0; });
    if (timesInOrder)
        return true;
    auto stopRequested = [stop] { return stop != nullptr && stop->load(std::memory_order_relaxed); };
    auto inOrder = [this](const Channel& channel) {
        for (size_t i = 1; i < channel.Count; ++i)
            if (SampleTime(channel, i) < SampleTime(channel, i - 1))
                return false;
        return true;
    };
    std::vector<uint32_t> backwards;
    size_t room = 0;
    for (uint32_t index = 0; index < Channels.size(); ++index) {
        if (stopRequested())
            return false;
        if (!inOrder(Channels[index])) {
            backwards.push_back(index);
            room += Channels[index].Count;
        }
    }
    RunningMaxima.resize(room);
    double* next = RunningMaxima.data();
    for (const uint32_t index : backwards) {
        if (stopRequested())
            return false;
        Channel& channel = Channels[index];
        double highest = -std::numeric_limits<double>::infinity();
        for (size_t i = 0; i < channel.Count; ++i) {
            highest = std::max(highest, SampleTime(channel, i));
            next[i] = highest;
        }
        channel.RunningMax = next;
        next += channel.Count;
    }
    return true;
}

std::string DispLogFile::TimeAxisProblem() const
{
    const std::string lead = "The log has no time axis: ";
    if (Channels.empty()) {
        const uint64_t early = Counts.EarlySamples;
        if (early == 0)
            return {};
        if (Counts.TimeStamps == 0)
            return lead + "it holds " + std::to_string(early) + (early == 1 ? " sample record" : " sample records") +
                   " but no time stamp, so no sample belongs to a moment.";
        return lead +
               (early == 1 ? "its only sample record comes" : "all " + std::to_string(early) + " of its sample records come") +
               " before its first time stamp, where its time begins.";
    }
    if (GetDuration() > 0.0)
        return {};
    uint64_t samples = 0;
    for (const Channel& channel : Channels)
        samples += channel.Count;
    const std::string lie =
        samples == 1 ? "its only sample lies" : "its " + std::to_string(samples) + " samples all lie";
    if (Header.TickRate == 0 && Counts.TimeStamps > 1)
        return lead + "its tick rate is 0, so its " + std::to_string(Counts.TimeStamps) +
               " time stamps cannot be read as seconds.";
    if (Counts.TimeStamps == 1)
        return lead + "it has a single time stamp, so " + lie + " at one instant.";
    return lead + lie + " at one instant (no sample follows a time stamp later than the first).";
}

double DispLogFile::GetDuration() const
{
    double duration = 0.0;
    for (const Channel& channel : Channels)
        if (channel.Count != 0)
            duration = std::max(duration, SampleTime(channel, channel.Count - 1));
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
    const size_t count = channel.Count;
    if (channel.RunningMax == nullptr) {
        const StoredSample* samples = channel.Samples;
        const double* times = Times;
        return FirstLater([samples, times](size_t i) { return times[samples[i].Stamp]; }, count, t, cursor);
    }
    const double* highest = channel.RunningMax;
    return FirstLater([highest](size_t i) { return highest[i]; }, count, t, cursor);
}

bool DispLogFile::ValueFrom(const Channel& channel, size_t next, double t, float& value) const
{
    // next is the first sample later than t: none, or the first sample, means t is outside.
    if (next == 0 || next >= channel.Count)
        return false;
    const StoredSample before = channel.Samples[next - 1];
    const double beforeTime = Times[before.Stamp];
    if (beforeTime == t) {
        if (before.Word == NoValueWord)
            return false;
        value = std::bit_cast<float>(before.Word);
        return true;
    }
    const StoredSample after = channel.Samples[next];
    if (before.Word == NoValueWord || after.Word == NoValueWord)
        return false;
    const double afterTime = Times[after.Stamp];
    const double fraction = (t - beforeTime) / (afterTime - beforeTime);
    const double p = std::bit_cast<float>(before.Word);
    double result = p + (static_cast<double>(std::bit_cast<float>(after.Word)) - p) * fraction;
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

bool DispLogFile::WalkTo(const Channel& channel, double t, size_t& cursor, float& value) const
{
    size_t next = cursor;
    // Walking forward by less than the samples' spacing, t nearly always lies in the pair of the
    // last look-up or in the one after it; the search starts where these end.
    if (channel.RunningMax == nullptr && next > 0 && next < channel.Count && !(SampleTime(channel, next - 1) > t)) {
        if (!(SampleTime(channel, next) > t)) {
            ++next;
            if (next == channel.Count || !(SampleTime(channel, next) > t))
                next = FirstLaterThan(channel, t, next);
        }
    } else {
        next = FirstLaterThan(channel, t, next);
    }
    cursor = next;
    return ValueFrom(channel, next, t, value);
}

void DispLogFile::GetValuesAt(double t, std::span<size_t> cursors, std::span<float> values, std::span<uint8_t> found) const
{
    const size_t count = std::min({Channels.size(), cursors.size(), values.size(), found.size()});
    if (std::isnan(t)) {
        std::fill_n(found.begin(), count, uint8_t{0});
        return;
    }
    for (size_t i = 0; i < count; ++i)
        found[i] = WalkTo(Channels[i], t, cursors[i], values[i]) ? 1 : 0;
}

void DispLogFile::GetValuesAt(double t, std::span<const uint32_t> channels, std::span<size_t> cursors,
                              std::span<float> values, std::span<uint8_t> found) const
{
    const size_t count = std::min({channels.size(), cursors.size(), values.size(), found.size()});
    for (size_t i = 0; i < count; ++i) {
        const uint32_t index = channels[i];
        found[i] = index < Channels.size() && !std::isnan(t) && WalkTo(Channels[index], t, cursors[i], values[i]) ? 1 : 0;
    }
}

std::string DispLogOpenFailure(const std::string& path, uint32_t code)
{
    const std::string name = " (" + ResultCodeName(code) + ")";
    switch (code) {
    case ERR_FILE_SIG: return "not a display log: bad signature" + name;
    case ERR_FILE_IHV: {
        const std::string problem = LocalFileProblem(PathFromUtf8(path));
        return (problem.empty() ? std::string("cannot be opened") : problem) + name;
    }
    case ERR_FILE_READ: return "cannot be read: the log is cut short or damaged" + name;
    case ERR_ALLOC_FAIL: return "too large for the memory of this PC" + name;
    case ERR_CANCELLED: return "cancelled" + name;
    default: return "cannot read the log" + name;
    }
}
