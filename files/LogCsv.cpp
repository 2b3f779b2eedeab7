#include "LogCsv.h"

#include "Displogfile.h"
#include "LargeBuffer.h"
#include "LocalFiles.h"
#include "PathText.h"
#include "ResultCodes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int MaxDecimals = 3;
// 10^0 to 10^19, every power of ten that fits in 64 bits.
constexpr auto DecimalPowers = [] {
    std::array<uint64_t, 20> powers{};
    uint64_t power = 1;
    for (uint64_t& entry : powers) {
        entry = power;
        power *= 10;
    }
    return powers;
}();
constexpr double ExponentFormFrom = 1e18;
constexpr int ExponentFormDigits = 15;

bool NeedsQuotes(char c)
{
    const auto code = static_cast<unsigned char>(c);
    return c == ',' || c == '"' || c == ' ' || (code >= 1 && code <= 31);
}

// |value| * 10^decimals rounded to an integer, halves away from zero, computed on the exact
// binary value: value = m * 2^e, so the product m * 10^decimals is an exact integer and only the
// shift by e rounds. std::to_chars cannot do this: it rounds halves to even (2.5 gives "2").
// False for an integer of 2^52 or more (below 10^18): scaled is then the value itself, not
// multiplied, and all its decimals are zero.
template <int Decimals>
bool ScaleMagnitude(double magnitude, uint64_t& scaled)
{
    const auto bits = std::bit_cast<uint64_t>(magnitude);
    const auto biased = static_cast<int>(bits >> 52);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    const uint64_t mantissa = biased == 0 ? fraction : fraction | (uint64_t{1} << 52);
    const int exponent = (biased == 0 ? 1 : biased) - 1075;
    if (exponent >= 0) {
        scaled = mantissa << exponent;
        return false;
    }
    const int shift = -exponent;
    if (shift >= 64) {
        scaled = 0; // the product (< 2^63) is below half of 2^shift
        return true;
    }
    // mantissa < 2^53 and 10^3 < 2^10: the product fits in 63 bits.
    const uint64_t product = mantissa * DecimalPowers[Decimals];
    const uint64_t dropped = product & ((uint64_t{1} << shift) - 1);
    scaled = (product >> shift) + (dropped >= (uint64_t{1} << (shift - 1)) ? 1 : 0);
    return true;
}

// "00" to "99", so that digits are written two at a time.
constexpr auto DigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

int DigitCount(uint64_t n)
{
    // 1233 / 4096 is just below log10(2): from the bit width a guess that is the digit count or
    // one less.
    n |= 1;
    const int guess = (std::bit_width(n) * 1233) >> 12;
    return guess + (n >= DecimalPowers[guess] ? 1 : 0);
}

// Writes the decimal digits of n ending just before end.
void WriteDigitsBackwards(uint64_t n, char* end)
{
    while (n >= 100) {
        end -= 2;
        std::memcpy(end, &DigitPairs[static_cast<size_t>(n % 100) * 2], 2);
        n /= 100;
    }
    if (n >= 10) {
        end -= 2;
        std::memcpy(end, &DigitPairs[static_cast<size_t>(n) * 2], 2);
    } else {
        *--end = static_cast<char>('0' + n);
    }
}

template <int Decimals>
size_t WriteFixed(double value, char separator, char* out)
{
    uint64_t scaled = 0;
    const bool hasDecimals = ScaleMagnitude<Decimals>(std::fabs(value), scaled);
    char* p = out;
    if (std::signbit(value) && scaled != 0)
        *p++ = '-';
    if (!hasDecimals) {
        // An integer of 2^52 or more: scaled is the value itself, all its decimals are zero.
        p += DigitCount(scaled);
        WriteDigitsBackwards(scaled, p);
        if constexpr (Decimals > 0) {
            *p++ = separator;
            std::memset(p, '0', Decimals);
            p += Decimals;
        }
        return static_cast<size_t>(p - out);
    }
    constexpr uint64_t Unit = DecimalPowers[Decimals];
    const uint64_t whole = scaled / Unit;
    p += DigitCount(whole);
    WriteDigitsBackwards(whole, p);
    if constexpr (Decimals > 0) {
        const auto part = static_cast<size_t>(scaled % Unit);
        *p++ = separator;
        if constexpr (Decimals == 1) {
            *p = static_cast<char>('0' + part);
        } else if constexpr (Decimals == 2) {
            std::memcpy(p, &DigitPairs[part * 2], 2);
        } else {
            *p = static_cast<char>('0' + part / 100);
            std::memcpy(p + 1, &DigitPairs[(part % 100) * 2], 2);
        }
        p += Decimals;
    }
    return static_cast<size_t>(p - out);
}

// Exponent form from 10^18 on: the value is an integer there, so its exact decimal digits are
// at hand and the 15th significant digit is rounded half away from zero like the fixed form.
size_t WriteExponent(double value, char separator, char* out)
{
    char digits[400];
    const auto result = std::to_chars(digits, digits + sizeof digits, std::fabs(value), std::chars_format::fixed, 0);
    const auto count = static_cast<int>(result.ptr - digits);
    int exponent = count - 1;
    char kept[ExponentFormDigits];
    std::memcpy(kept, digits, ExponentFormDigits);
    if (digits[ExponentFormDigits] >= '5') {
        int i = ExponentFormDigits - 1;
        while (i >= 0 && kept[i] == '9')
            kept[i--] = '0';
        if (i >= 0) {
            ++kept[i];
        } else {
            kept[0] = '1';
            ++exponent;
        }
    }
    int significant = ExponentFormDigits;
    while (significant > 1 && kept[significant - 1] == '0')
        --significant;

    char* p = out;
    if (std::signbit(value))
        *p++ = '-';
    *p++ = kept[0];
    if (significant > 1) {
        *p++ = separator;
        std::memcpy(p, kept + 1, static_cast<size_t>(significant - 1));
        p += significant - 1;
    }
    *p++ = 'E';
    *p++ = '+';
    if (exponent < 100)
        *p++ = static_cast<char>('0' + exponent / 10);
    p = std::to_chars(p, out + CsvNumberMaxLength, exponent < 100 ? exponent % 10 : exponent).ptr;
    return static_cast<size_t>(p - out);
}

// Writes the CSV beside its destination and puts it in place only when it is
// complete, so a failed conversion never leaves a partial file where a good one
// was; failures travel as the conversion's error texts. Destroyed without a
// commit (an error or a stop unwinding), it removes the temporary file.
class ReplacingFileWriter {
public:
    explicit ReplacingFileWriter(const std::string& destination) : Destination(destination), File(PathFromUtf8(destination))
    {
        if (!File.Open())
            throw CannotCreate(File.ErrorText());
    }

    void Write(const char* data, size_t size)
    {
        if (!File.Write(data, size))
            throw WriteFailed();
    }

    void Commit()
    {
        if (!File.Flush())
            throw WriteFailed();
        if (!File.Commit())
            throw CannotCreate(File.ErrorText());
    }

private:
    CsvWriteError CannotCreate(const std::string& reason) const
    {
        return CsvWriteError("Cannot create file \"" + Destination + "\". " + reason);
    }
    // A full disk shows here: the path says which of several conversions it hit.
    CsvWriteError WriteFailed() const
    {
        return CsvWriteError("Stream write error: " + Destination + ": " + File.ErrorText());
    }

    std::string Destination;
    ReplacingFile File;
};

// A size for people: bytes, KiB, MiB or GiB with one decimal.
std::string SizeText(uint64_t bytes)
{
    static constexpr const char* Units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(Units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, Units[unit]);
    return text;
}

// Refuses a CSV whose least size is beyond the cap or beyond the free space of the folder it
// goes to; where the free space cannot be told (a missing folder too) the writing finds out.
void CheckCsvFits(const std::string& destination, uint64_t leastSize)
{
    auto refuse = [&](const std::string& reason) {
        throw CsvTooLargeError("Cannot create file \"" + destination + "\". The CSV would take at least " +
                               SizeText(leastSize) + ", " + reason);
    };
    if (leastSize > MaxCsvSize)
        refuse("more than the " + SizeText(MaxCsvSize) + " a conversion may write. Choose a larger export interval.");
    std::filesystem::path folder = PathFromUtf8(destination).parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(folder, error);
    // Some network and FUSE mounts report no size at all: their free space says nothing.
    if (!error && space.capacity != 0 && leastSize > space.available)
        refuse("more than the " + SizeText(space.available) + " free on its disk.");
}

std::string IntervalText(double interval)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", interval);
    return text;
}

// Refuses to step from 0 up to `until` seconds with more than MaxCsvFields fields of `columns`
// columns and the time: beyond any use, and below that bound every step moves the time on.
void CheckFieldCount(double until, double step, size_t columns)
{
    if (until > 0 && std::ceil(until / step) * (static_cast<double>(columns) + 1.0) > static_cast<double>(MaxCsvFields))
        throw CsvIntervalError("The export interval of " + IntervalText(step) + " s is too small for " +
                               IntervalText(until) + " s of log with " + std::to_string(columns) +
                               " channels: it would give more than " + std::to_string(MaxCsvFields) + " values.");
}

// Appends the channel's column name to text, as a field of the header when quoted.
void AppendChannelName(std::string& text, const DispLogFile& log, uint32_t index, bool quoted)
{
    uint32_t id = 0;
    char name[256] = "IDX_ERR";
    if (log.GetChannelId(index, id))
        (void)log.NameForId(id, name, sizeof name);
    if (quoted)
        AppendCsvField(text, name);
    else
        text += name;
}

// About this much text per run of rows: large enough that handing runs between threads (each
// time a thread is woken) costs nothing next to formatting them, small enough that the slots of
// all threads take a few megabytes.
constexpr size_t CsvRunBytes = size_t{512} << 10;

// The text of a run of rows, grown as needed and kept for the next run. It starts in memory
// lent to it (the slots of all threads share one large buffer) and moves to memory of its own
// only when a run does not fit there.
class RowText {
public:
    RowText() = default;
    RowText(char* lent, size_t capacity) : Data(lent), Capacity(capacity) {}
    RowText(const RowText&) = delete;
    RowText& operator=(const RowText&) = delete;

    // Room for `more` characters after the text; the caller writes there and calls Advance.
    char* Room(size_t more)
    {
        if (Capacity - Used < more)
            Grow(Used + more);
        return Data + Used;
    }
    void Advance(size_t count) { Used += count; }
    void Clear() { Used = 0; }
    [[nodiscard]] const char* Text() const { return Data; }
    [[nodiscard]] size_t Size() const { return Used; }

private:
    void Grow(size_t needed)
    {
        constexpr size_t Least = size_t{64} << 10;
        const size_t capacity = std::max({needed, Capacity * 2, Least});
        auto owned = std::make_unique_for_overwrite<char[]>(capacity);
        if (Used != 0)
            std::memcpy(owned.get(), Data, Used);
        Owned = std::move(owned);
        Data = Owned.get();
        Capacity = capacity;
    }

    std::unique_ptr<char[]> Owned;
    char* Data = nullptr;
    size_t Capacity = 0;
    size_t Used = 0;
};

// A run of consecutive rows: the first row's instant and the number of rows.
struct RowRun {
    double FirstTime = 0.0;
    size_t Rows = 0;
};

// Hands out the rows in runs, in order. The instants are accumulated by repeated addition of the
// single-precision interval, as sums in double precision, one addition per row whoever formats
// the run: each row gets exactly the instant of a single loop over all rows. The check on the row
// count guarantees that every addition moves the time on. Given a range, only the rows whose
// instants lie in [from, to] are handed out; those before it are stepped over the same way.
class RowPlan {
public:
    RowPlan(double duration, double step, size_t rowsPerRun, double from = -std::numeric_limits<double>::infinity(),
            double to = std::numeric_limits<double>::infinity())
        : Duration(duration), Step(step), RowsPerRun(rowsPerRun), From(from), To(to)
    {
    }

    // False when every row has been handed out.
    bool Take(RowRun& run)
    {
        while (Next < From && Next < Duration && Next <= To)
            Next += Step;
        run.FirstTime = Next;
        run.Rows = 0;
        while (run.Rows < RowsPerRun && Next < Duration && Next <= To) {
            Next += Step;
            ++run.Rows;
        }
        return run.Rows != 0;
    }

private:
    const double Duration;
    const double Step;
    const size_t RowsPerRun;
    const double From;
    const double To;
    double Next = 0.0;
};

// Writes the rows of runs as text. Each thread has its own, with its own look-up cursors.
class RowWriter {
public:
    // channels: the channel of each column, or empty when the columns are all the log's channels
    // in order; decimals: of each column.
    RowWriter(const DispLogFile& log, std::span<const uint32_t> channels, const std::vector<int>& decimals,
              double step, char separator, const std::atomic<bool>* stop)
        : Log(log), Channels(channels), Decimals(decimals), Step(step), Separator(separator),
          QuoteNumbers(NeedsQuotes(separator)), Stop(stop), Cursors(decimals.size(), 0), Values(decimals.size()),
          Found(decimals.size())
    {
    }

    // Appends the run's rows to text; false when a stop request cut it short.
    bool Write(const RowRun& run, RowText& text)
    {
        // A field never needs more than FieldLimit characters (quoted, each character doubled,
        // with its comma), a row no more than one per column and the time, and CR LF.
        constexpr size_t FieldLimit = 2 * CsvNumberMaxLength + 8;
        const size_t rowLimit = (Decimals.size() + 1) * FieldLimit + 2;
        double t = run.FirstTime;
        for (size_t row = 0; row < run.Rows; ++row, t += Step) {
            if (Stop != nullptr && Stop->load(std::memory_order_relaxed))
                return false;
            // The values of a row are looked up before any is written, so that the look-ups
            // (each with a division) do not wait for the text of the one before.
            if (Channels.empty())
                Log.GetValuesAt(t, Cursors, Values, Found);
            else
                Log.GetValuesAt(t, Channels, Cursors, Values, Found);
            char* const start = text.Room(rowLimit);
            char* at = PutNumber(start, t, 3);
            for (size_t c = 0; c < Decimals.size(); ++c) {
                *at++ = ',';
                if (Found[c] != 0) {
                    at = PutNumber(at, Values[c], Decimals[c]);
                } else {
                    std::memcpy(at, "NAN", 3);
                    at += 3;
                }
            }
            *at++ = '\r';
            *at++ = '\n';
            text.Advance(static_cast<size_t>(at - start));
        }
        return true;
    }

private:
    char* PutNumber(char* at, double value, int decimals) const
    {
        if (!QuoteNumbers)
            return at + FormatCsvNumber(value, decimals, Separator, at);
        char number[CsvNumberMaxLength];
        const size_t length = FormatCsvNumber(value, decimals, Separator, number);
        const std::string_view field(number, length);
        if (std::none_of(field.begin(), field.end(), NeedsQuotes)) {
            std::memcpy(at, number, length);
            return at + length;
        }
        *at++ = '"';
        for (const char c : field) {
            if (c == '"')
                *at++ = '"';
            *at++ = c;
        }
        *at++ = '"';
        return at;
    }

    const DispLogFile& Log;
    const std::span<const uint32_t> Channels;
    const std::vector<int>& Decimals;
    const double Step;
    const char Separator;
    const bool QuoteNumbers;
    const std::atomic<bool>* const Stop;
    std::vector<size_t> Cursors;
    std::vector<float> Values;
    std::vector<uint8_t> Found;
};

// Rows are formatted by worker threads, a run at a time, each run into a slot of its own; the
// calling thread writes the slots to the file in row order and reports progress. A bounded
// number of slots keeps the memory small: a worker waits while the writer is that far behind.
class ParallelRows {
public:
    // The slots' text starts in one buffer, slotBytes each.
    ParallelRows(RowPlan& plan, size_t slotCount, size_t slotBytes)
        : Plan(plan), SlotText(slotCount * slotBytes), Slots(slotCount)
    {
        for (size_t i = 0; i < slotCount; ++i)
            Slots[i].Text = std::make_unique<RowText>(static_cast<char*>(SlotText.Data()) + i * slotBytes, slotBytes);
    }
    ParallelRows(const ParallelRows&) = delete;
    ParallelRows& operator=(const ParallelRows&) = delete;

    // Asks the workers to end and waits for them (also when the writer leaves by an exception).
    ~ParallelRows()
    {
        {
            const std::lock_guard lock(Mutex);
            Abort = true;
        }
        WorkWanted.notify_all();
        for (std::thread& worker : Workers)
            worker.join();
    }

    // Starts up to `count` workers, each with its own RowWriter made by makeWriter; the number
    // started (threads the system refuses are done without).
    template <typename MakeWriter>
    size_t Start(size_t count, MakeWriter makeWriter)
    {
        for (size_t i = 0; i < count; ++i) {
            try {
                Workers.emplace_back([this, makeWriter] {
                    try {
                        RowWriter writer = makeWriter();
                        Work(writer);
                    } catch (...) {
                        Fail(std::current_exception());
                    }
                });
            } catch (const std::system_error&) {
                break;
            }
        }
        return Workers.size();
    }

    enum class Next { Ready, Done, Stopped };

    // Waits for the next run in row order and gives its text and rows when Ready; Done when
    // every row has been written, Stopped when a worker saw a stop request. Rethrows a worker's
    // failure.
    Next NextRun(const RowText*& text, size_t& rows)
    {
        std::unique_lock lock(Mutex);
        Slot& slot = Slots[Written % Slots.size()];
        RunReady.wait(lock, [&] { return Abort || slot.Run == Written || (NoMore && Written >= RunCount); });
        if (Failure)
            std::rethrow_exception(Failure);
        if (slot.Run == Written) {
            text = slot.Text.get();
            rows = slot.Rows;
            return Next::Ready;
        }
        return Abort ? Next::Stopped : Next::Done;
    }

    // The run NextRun gave has been written: its slot is free for another.
    void Release()
    {
        {
            const std::lock_guard lock(Mutex);
            Slots[Written % Slots.size()].Run = NoRun;
            ++Written;
        }
        // One slot is free: one worker can take a run.
        WorkWanted.notify_one();
    }

private:
    static constexpr uint64_t NoRun = UINT64_MAX;

    struct Slot {
        std::unique_ptr<RowText> Text;
        uint64_t Run = NoRun; // the run whose text is ready in the slot
        size_t Rows = 0;
    };

    void Work(RowWriter& writer)
    {
        std::unique_lock lock(Mutex);
        for (;;) {
            WorkWanted.wait(lock, [&] { return Abort || NoMore || Taken < Written + Slots.size(); });
            if (Abort || NoMore)
                return;
            RowRun run;
            if (!Plan.Take(run)) {
                NoMore = true;
                RunCount = Taken;
                lock.unlock();
                RunReady.notify_all();
                WorkWanted.notify_all();
                return;
            }
            const uint64_t index = Taken++;
            Slot& slot = Slots[index % Slots.size()];
            lock.unlock();
            slot.Text->Clear();
            if (!writer.Write(run, *slot.Text)) {
                // A stop request, which the calling thread reports: every worker ends.
                Fail(nullptr);
                return;
            }
            lock.lock();
            slot.Rows = run.Rows;
            slot.Run = index;
            // The calling thread is the only one that waits for runs.
            RunReady.notify_one();
        }
    }

    // Ends every worker, keeping the first failure for the calling thread (none for a stop).
    void Fail(std::exception_ptr failure)
    {
        {
            const std::lock_guard lock(Mutex);
            if (failure && !Failure)
                Failure = failure;
            Abort = true;
        }
        RunReady.notify_all();
        WorkWanted.notify_all();
    }

    RowPlan& Plan; // guarded by Mutex
    LargeBuffer SlotText;
    std::vector<Slot> Slots;
    std::vector<std::thread> Workers;
    std::mutex Mutex;
    std::condition_variable WorkWanted; // a slot became free, or the end
    std::condition_variable RunReady;   // a run is ready, or the end
    uint64_t Taken = 0;                 // runs handed to workers
    uint64_t Written = 0;               // runs written by the caller
    uint64_t RunCount = 0;              // all runs, once NoMore
    bool NoMore = false;
    bool Abort = false;
    std::exception_ptr Failure;
};

} // namespace

size_t FormatCsvNumber(double value, int decimals, char separator, char* out)
{
    // One comparison sends every ordinary value to the fixed form.
    if (!(std::fabs(value) < ExponentFormFrom)) {
        if (std::isnan(value)) {
            std::memcpy(out, "NAN", 3);
            return 3;
        }
        if (std::isinf(value)) {
            const size_t length = value < 0 ? 4 : 3;
            std::memcpy(out, value < 0 ? "-INF" : "INF", length);
            return length;
        }
        return WriteExponent(value, separator, out);
    }
    switch (std::clamp(decimals, 0, MaxDecimals)) {
    case 0: return WriteFixed<0>(value, separator, out);
    case 1: return WriteFixed<1>(value, separator, out);
    case 2: return WriteFixed<2>(value, separator, out);
    default: return WriteFixed<3>(value, separator, out);
    }
}

std::string CsvDecimalSeparatorProblem(char separator)
{
    const auto code = static_cast<unsigned char>(separator);
    const char* what = nullptr;
    if (code < 0x20 || code == 0x7F)
        what = "a control character";
    else if (code >= 0x80)
        what = "not an ASCII character";
    else if (code >= '0' && code <= '9')
        what = "a digit";
    else if ((code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z'))
        what = "a letter";
    else if (separator == '+' || separator == '-')
        what = "a sign";
    else if (separator == ',')
        what = "the field separator";
    else if (separator == '"')
        what = "the quote of the fields";
    else if (separator == ' ')
        what = "a space";
    if (what == nullptr)
        return {};
    std::string shown = code >= 0x20 && code < 0x7F ? std::string("'") + separator + "'" : [code] {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(code));
        return std::string(text);
    }();
    return "The decimal separator " + shown + " is " + what +
           ", which would make the numbers unreadable: use the point or another punctuation mark.";
}

int DecimalsOfPattern(const char* pattern)
{
    const char* point = std::strchr(pattern, '.');
    if (point == nullptr)
        return 0;
    int zeros = 0;
    for (const char* p = point + 1; *p == '0'; ++p)
        ++zeros;
    return std::min(zeros, MaxDecimals);
}

void AppendCsvField(std::string& line, std::string_view field)
{
    if (std::none_of(field.begin(), field.end(), NeedsQuotes)) {
        line += field;
        return;
    }
    line += '"';
    for (const char c : field) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

uint64_t LeastCsvSize(double duration, float interval, std::span<const int> decimals, size_t headerSize)
{
    const double step = interval;
    if (!(duration > 0) || !(step > 0) || !std::isfinite(step))
        return headerSize;
    // The instants are running sums of the interval; their rounding moves the row count by less
    // than this share of it (n additions drift by at most n * 2^-53 of the sum, n <= MaxCsvFields).
    constexpr double RowMargin = 1e-5;
    const double rows = std::floor(std::ceil(duration / step) * (1 - RowMargin));
    double perRow = 5 + 2; // "0.000" and CR LF
    for (const int d : decimals)
        perRow += 1 + (d == 0 ? 1 : 3); // comma and "0", or comma and "NAN" (a number has more)
    double total = static_cast<double>(headerSize) + rows * perRow;
    // Each instant from 10^k s on has one more digit before its point, up to the exponent form.
    const double fixedRows = std::min(rows, std::ceil(ExponentFormFrom / step));
    for (double limit = 10; limit < ExponentFormFrom && limit < duration; limit *= 10)
        total += std::max(0.0, fixedRows - std::ceil(limit / step) - 1);
    return total < 0x1p64 ? static_cast<uint64_t>(total) : UINT64_MAX;
}

std::string CsvChannelName(const DispLogFile& log, uint32_t index)
{
    std::string name;
    AppendChannelName(name, log, index, false);
    return name;
}

int CsvChannelDecimals(const DispLogFile& log, uint32_t index)
{
    char pattern[16] = "0.000";
    (void)log.GetChannelFormat(index, pattern, sizeof pattern);
    return DecimalsOfPattern(pattern);
}

std::string CsvHeaderLine(const DispLogFile& log, std::span<const uint32_t> channels)
{
    std::string header = "Time";
    if (channels.empty()) {
        for (uint32_t index = 0; index < log.GetChannelCount(); ++index) {
            header += ',';
            AppendChannelName(header, log, index, true);
        }
    } else {
        for (const uint32_t index : channels) {
            header += ',';
            AppendChannelName(header, log, index, true);
        }
    }
    header += "\r\n";
    return header;
}

uint64_t WriteCsvCut(const DispLogFile& log, float interval, char separator, const CsvCut& cut,
                     const std::function<void(std::string_view)>& sink)
{
    CheckCsvInterval(interval);
    const double duration = log.GetDuration();
    const double step = interval;
    const size_t columns = cut.Channels.empty() ? log.GetChannelCount() : cut.Channels.size();
    // The instants up to the end of the cut are stepped through from 0, as the conversion does.
    CheckFieldCount(std::min(cut.To, duration), step, columns);

    std::vector<int> decimals(columns);
    for (size_t c = 0; c < columns; ++c)
        decimals[c] = CsvChannelDecimals(log, cut.Channels.empty() ? static_cast<uint32_t>(c) : cut.Channels[c]);
    sink(CsvHeaderLine(log, cut.Channels));

    RowPlan plan(duration, step, CsvRowsPerRun(columns), cut.From, cut.To);
    RowWriter writer(log, cut.Channels, decimals, step, separator, nullptr);
    RowText text;
    RowRun run;
    uint64_t rows = 0;
    while (plan.Take(run)) {
        text.Clear();
        (void)writer.Write(run, text); // without a stop request it writes every row
        sink(std::string_view(text.Text(), text.Size()));
        rows += run.Rows;
    }
    return rows;
}

void SaveCsvCut(const DispLogFile& log, const std::string& destination, float interval, char separator,
                const CsvCut& cut)
{
    ReplacingFileWriter out(destination);
    (void)WriteCsvCut(log, interval, separator, cut, [&out](std::string_view text) { out.Write(text.data(), text.size()); });
    out.Commit();
}

void CheckCsvInterval(float interval)
{
    // A step that is not a positive number would never reach the end of the log.
    if (!std::isfinite(interval) || interval <= 0.0f)
        throw CsvIntervalError("The export interval must be a positive number of seconds, not " +
                               IntervalText(interval) + ".");
}

std::string CsvPathForLog(const std::string& source)
{
    return Utf8FromPath(PathFromUtf8(source).replace_extension(".csv"));
}

unsigned CsvThreads(const CsvOptions& options)
{
    // Each thread has its slots of text: a bound keeps a careless request from taking the memory.
    constexpr unsigned MostThreads = 64;
    if (options.Threads != 0)
        return std::min(options.Threads, MostThreads);
    return std::clamp(std::thread::hardware_concurrency(), 1u, MostThreads);
}

size_t CsvRowsPerRun(size_t channels)
{
    constexpr size_t BytesPerField = 8; // a typical value with its comma
    return std::max<size_t>(1, CsvRunBytes / ((channels + 1) * BytesPerField));
}

uint32_t ConvertLogFileToCsv(const std::string& source, const std::string& destination, float interval,
                             const CsvOptions& options, CsvSummary* summary)
{
    CheckCsvInterval(interval);
    auto stopped = [&destination] { return CsvStoppedError("Conversion to \"" + destination + "\" stopped."); };
    DispLogFile log;
    if (const uint32_t result = log.Open(source, options.Stop, options.Reading); result != 0) {
        if (result == ERR_CANCELLED)
            throw stopped();
        return result;
    }
    if (std::string problem = log.TimeAxisProblem(); !problem.empty())
        throw CsvNoTimeAxisError(problem + " Nothing was written.");

    const double duration = log.GetDuration();
    const double step = interval;
    const uint32_t channelCount = log.GetChannelCount();
    CheckFieldCount(duration, step, channelCount);
    const auto totalRows = static_cast<uint64_t>(std::max(0.0, std::ceil(duration / step)));

    std::vector<int> decimals;
    decimals.reserve(channelCount);
    for (uint32_t index = 0; index < channelCount; ++index)
        decimals.push_back(CsvChannelDecimals(log, index));
    const std::string header = CsvHeaderLine(log);

    CheckCsvFits(destination, LeastCsvSize(duration, interval, decimals, header.size()));
    auto stopRequested = [&options] {
        return options.Stop != nullptr && options.Stop->load(std::memory_order_relaxed);
    };
    if (stopRequested())
        throw stopped();
    ReplacingFileWriter out(destination);
    out.Write(header.data(), header.size());

    // Progress is reported after about every megabyte of text, always from this thread.
    constexpr size_t ProgressBytes = size_t{1} << 20;
    uint64_t rows = 0;
    size_t unreported = 0;
    auto written = [&](const RowText& text, size_t runRows) {
        out.Write(text.Text(), text.Size());
        rows += runRows;
        unreported += text.Size();
        if (unreported >= ProgressBytes) {
            unreported = 0;
            if (options.Progress)
                options.Progress(rows, std::max(rows, totalRows));
        }
    };

    const size_t rowsPerRun = CsvRowsPerRun(decimals.size());
    RowPlan plan(duration, step, rowsPerRun);
    auto makeWriter = [&] { return RowWriter(log, {}, decimals, step, options.DecimalSeparator, options.Stop); };
    // No more workers than runs; a log of one run is done here alone.
    const uint64_t runs = totalRows / rowsPerRun + 1;
    const auto threads = static_cast<size_t>(std::min<uint64_t>(CsvThreads(options), runs));
    size_t started = 0;
    std::optional<ParallelRows> parallel;
    if (threads > 1) {
        // Two runs per worker in the slots: each has one to fill while the last is written.
        parallel.emplace(plan, 2 * threads + 2, CsvRunBytes * 5 / 4);
        started = parallel->Start(threads, makeWriter);
    }
    if (started != 0) {
        const RowText* text = nullptr;
        size_t runRows = 0;
        for (;;) {
            const ParallelRows::Next next = parallel->NextRun(text, runRows);
            // A stop request ends the conversion; unwinding ends the workers and removes the
            // temporary file.
            if (next == ParallelRows::Next::Stopped || stopRequested())
                throw stopped();
            if (next == ParallelRows::Next::Done)
                break;
            written(*text, runRows);
            parallel->Release();
        }
    } else {
        RowWriter writer = makeWriter();
        RowText text;
        RowRun run;
        while (plan.Take(run)) {
            text.Clear();
            if (!writer.Write(run, text) || stopRequested())
                throw stopped();
            written(text, run.Rows);
        }
    }
    out.Commit();
    if (options.Progress)
        options.Progress(rows, rows);
    if (summary != nullptr)
        *summary = CsvSummary{channelCount, rows};
    return 0;
}
