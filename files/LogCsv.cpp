#include "LogCsv.h"

#include "Displogfile.h"
#include "LocalFiles.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace {

constexpr uint64_t PowersOfTen[] = {1, 10, 100, 1000};
constexpr int MaxDecimals = 3;
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
    const uint64_t product = mantissa * PowersOfTen[Decimals];
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
    int count = 1;
    for (uint64_t limit = 10; n >= limit && count < 20; limit *= 10)
        ++count;
    return count;
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
    constexpr uint64_t Unit = PowersOfTen[Decimals];
    uint64_t scaled = 0;
    const bool hasDecimals = ScaleMagnitude<Decimals>(std::fabs(value), scaled);
    const uint64_t whole = hasDecimals ? scaled / Unit : scaled;
    uint64_t part = hasDecimals ? scaled % Unit : 0;
    char* p = out;
    if (std::signbit(value) && scaled != 0)
        *p++ = '-';
    p += DigitCount(whole);
    WriteDigitsBackwards(whole, p);
    if constexpr (Decimals > 0) {
        *p++ = separator;
        for (int i = Decimals - 1; i >= 0; --i) {
            p[i] = static_cast<char>('0' + part % 10);
            part /= 10;
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
    explicit ReplacingFileWriter(const std::string& destination) : Destination(destination), File(destination)
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
    std::filesystem::path folder = std::filesystem::path(destination).parent_path();
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

struct Column {
    uint32_t Index;
    int Decimals;
    size_t Cursor;
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

std::string CsvPathForLog(const std::string& source)
{
    return std::filesystem::path(source).replace_extension(".csv").string();
}

uint32_t ConvertLogFileToCsv(const std::string& source, const std::string& destination, float interval,
                             const CsvOptions& options)
{
    // A step that is not a positive number would never reach the end of the log.
    if (!std::isfinite(interval) || interval <= 0.0f)
        throw CsvIntervalError("The export interval must be a positive number of seconds, not " +
                               IntervalText(interval) + ".");

    DispLogFile log;
    if (const uint32_t result = log.Open(source); result != 0)
        return result;

    const double duration = log.GetDuration();
    const double step = interval;
    const uint32_t channelCount = log.GetChannelCount();
    const double expectedRows = std::ceil(duration / step);
    if (expectedRows * (channelCount + 1.0) > static_cast<double>(MaxCsvFields))
        throw CsvIntervalError("The export interval of " + IntervalText(step) + " s is too small for a log of " +
                               IntervalText(duration) + " s with " + std::to_string(channelCount) +
                               " channels: it would give more than " + std::to_string(MaxCsvFields) + " values.");
    const auto totalRows = static_cast<uint64_t>(expectedRows);

    std::vector<Column> columns;
    std::vector<int> decimals;
    columns.reserve(channelCount);
    decimals.reserve(channelCount);
    std::string header = "Time";
    for (uint32_t index = 0; index < channelCount; ++index) {
        header += ',';
        uint32_t id = 0;
        char name[256] = "IDX_ERR";
        if (log.GetChannelId(index, id))
            (void)log.NameForId(id, name, sizeof name);
        AppendCsvField(header, name);
        char pattern[16] = "0.000";
        (void)log.GetChannelFormat(index, pattern, sizeof pattern);
        columns.push_back({index, DecimalsOfPattern(pattern), 0});
        decimals.push_back(columns.back().Decimals);
    }
    header += "\r\n";

    CheckCsvFits(destination, LeastCsvSize(duration, interval, decimals, header.size()));
    auto stopRequested = [&options] {
        return options.Stop != nullptr && options.Stop->load(std::memory_order_relaxed);
    };
    auto stopped = [&destination] { return CsvStoppedError("Conversion to \"" + destination + "\" stopped."); };
    if (stopRequested())
        throw stopped();
    ReplacingFileWriter out(destination);
    out.Write(header.data(), header.size());

    // Rows are built in a block that goes to the file whenever it is full. A field never needs
    // more than FieldLimit characters (quoted, each character doubled, with its comma and CR LF).
    constexpr size_t BlockSize = size_t{1} << 20;
    constexpr size_t FieldLimit = 2 * CsvNumberMaxLength + 8;
    std::vector<char> block(BlockSize + FieldLimit);
    size_t used = 0;
    uint64_t rows = 0;
    auto makeRoom = [&] {
        if (used < BlockSize)
            return;
        out.Write(block.data(), used);
        used = 0;
        if (options.Progress)
            options.Progress(rows, std::max(rows, totalRows));
    };
    const char separator = options.DecimalSeparator;
    const bool quoteNumbers = NeedsQuotes(separator);

    auto putNumber = [&](double value, int decimals) {
        char* at = block.data() + used;
        if (!quoteNumbers) {
            used += FormatCsvNumber(value, decimals, separator, at);
            return;
        }
        char text[CsvNumberMaxLength];
        const size_t length = FormatCsvNumber(value, decimals, separator, text);
        const std::string_view field(text, length);
        if (std::none_of(field.begin(), field.end(), NeedsQuotes)) {
            std::memcpy(at, text, length);
            used += length;
            return;
        }
        block[used++] = '"';
        for (const char c : field) {
            if (c == '"')
                block[used++] = '"';
            block[used++] = c;
        }
        block[used++] = '"';
    };

    // The instants are accumulated by repeated addition of the single-precision interval, as
    // sums in double precision; the check on the row count above guarantees that every addition
    // moves t on.
    // The values of a row are looked up before any is written, so that the look-ups (each with
    // a division) do not wait for the text of the one before.
    std::vector<float> values(columns.size());
    std::vector<uint8_t> found(columns.size());
    for (double t = 0.0; t < duration; t += step) {
        // Unwinding removes the temporary file.
        if (stopRequested())
            throw stopped();
        for (size_t c = 0; c < columns.size(); ++c)
            found[c] = log.GetValueAt(columns[c].Index, t, values[c], columns[c].Cursor) ? 1 : 0;
        putNumber(t, 3);
        for (size_t c = 0; c < columns.size(); ++c) {
            makeRoom();
            block[used++] = ',';
            if (found[c] != 0) {
                putNumber(values[c], columns[c].Decimals);
            } else {
                std::memcpy(block.data() + used, "NAN", 3);
                used += 3;
            }
        }
        block[used++] = '\r';
        block[used++] = '\n';
        ++rows;
        makeRoom();
    }
    out.Write(block.data(), used);
    out.Commit();
    if (options.Progress)
        options.Progress(rows, rows);
    return 0;
}
