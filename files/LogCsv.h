#pragma once
// Conversion of a display log into comma-separated text: one column per channel, one row per
// export instant, the instants a fixed interval apart.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

class DispLogFile;

// The CSV file cannot be created or written. what() is the text shown to the user:
// "Cannot create file "<path>". <reason>" or "Stream write error: <path>: <reason>".
class CsvWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The CSV would not fit: larger than MaxCsvSize or than the free space where it goes. Nothing is
// written. what() is "Cannot create file "<path>". <reason>", so it is shown like any other
// file that cannot be created.
class CsvTooLargeError : public CsvWriteError {
public:
    using CsvWriteError::CsvWriteError;
};

// The conversion was asked to stop (CsvOptions::Stop); nothing is left of the CSV it was writing.
class CsvStoppedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The export interval cannot step through the log: not a positive finite number of seconds,
// or so small that the rows would be beyond any use (see MaxCsvFields).
class CsvIntervalError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The log holds samples but gives them no time axis (tick rate 0, a single time stamp, no time
// stamp before its samples): there are no rows to write. what() says why, as a sentence; nothing
// is written.
class CsvNoTimeAxisError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CsvOptions {
    // Decimal separator of the numbers; a comma makes every number with decimals a quoted field.
    char DecimalSeparator = '.';
    // Called now and then with the rows written so far and the rows to write, always on the
    // thread that called the conversion.
    std::function<void(uint64_t done, uint64_t total)> Progress;
    // When set, read while the log is read (every few milliseconds) and before each row: once it
    // holds true the conversion removes its temporary file and throws CsvStoppedError. A signal
    // handler may set it (lock-free); any thread may.
    const std::atomic<bool>* Stop = nullptr;
    // Called every few milliseconds while the log is read (before any row), on the thread that
    // called the conversion: a window that keeps itself live there can take a Cancel during the
    // read; Stop is looked at right after.
    std::function<void()> Reading;
    // Threads that format the rows (the calling thread writes them to the file and reports
    // progress); 0: one per core; at most 64. The text is the same whatever the number.
    unsigned Threads = 0;
};

// The threads a conversion with these options formats its rows on (a short log uses fewer).
[[nodiscard]] unsigned CsvThreads(const CsvOptions& options);

// Rows formatted as one piece of work by one thread, for a log of this many channels.
[[nodiscard]] size_t CsvRowsPerRun(size_t channels);

// A conversion is refused rather than written with more fields (rows x columns) than this: at 4
// or more bytes a field that is beyond 40 GB of text, minutes of work. It also guarantees that
// each step of the interval moves the time on.
constexpr uint64_t MaxCsvFields = 10'000'000'000;

// A conversion is refused rather than written when its CSV would take more than this many bytes:
// far beyond what a spreadsheet opens or anybody reads, and a log of a day sampled every
// hundredth of a second with 24 channels stays below it. The same refusal when the CSV would not
// fit in the free space of the destination's file system.
constexpr uint64_t MaxCsvSize = uint64_t{4} << 30;

// The fewest bytes the CSV of a log can take (header included): the time column as its instants
// are written, every value at its shortest ("0", or "NAN" with decimals). The real file is at
// least this large, so a refusal on this figure is never wrong. decimals holds the decimals of
// each channel's column.
[[nodiscard]] uint64_t LeastCsvSize(double duration, float interval, std::span<const int> decimals,
                                    size_t headerSize);

// What a conversion wrote: its channels (columns after the time) and rows (header not counted).
struct CsvSummary {
    uint32_t Channels = 0;
    uint64_t Rows = 0;
};

// Converts the log at source into CSV text at destination, created or replaced. Returns 0, or the
// reader's result code when the source cannot be read (nothing is written then). Throws
// CsvIntervalError for an unusable interval, CsvTooLargeError when the CSV would not fit,
// CsvWriteError when the destination cannot be created or written, CsvNoTimeAxisError for a log
// whose samples have no time axis and CsvStoppedError when options.Stop asked to stop (also while
// the log is read); a log without any sample gives the header line alone. An existing destination
// is replaced only by a complete file, and a failed or stopped conversion leaves no temporary
// file behind. summary, when given, is filled in on success.
[[nodiscard]] uint32_t ConvertLogFileToCsv(const std::string& source, const std::string& destination,
                                           float interval, const CsvOptions& options = {},
                                           CsvSummary* summary = nullptr);

// The column name of a channel: the name of its identifier, or "IDX_ERR" when the channel has
// none. Unquoted.
[[nodiscard]] std::string CsvChannelName(const DispLogFile& log, uint32_t index);

// The decimals of a channel's column: those of its number pattern, 3 when it has none.
[[nodiscard]] int CsvChannelDecimals(const DispLogFile& log, uint32_t index);

// The header line (with CR LF) of the columns of these channels: "Time", then each channel's
// name as a field (AppendCsvField). Empty channels: every channel of the log, in its order.
[[nodiscard]] std::string CsvHeaderLine(const DispLogFile& log, std::span<const uint32_t> channels = {});

// A part of the conversion's CSV: some of its columns and the rows of some of its instants.
struct CsvCut {
    // The channel of each column after the time, in column order; empty: every channel of the
    // log, in its order. Each must be a channel of the log.
    std::span<const uint32_t> Channels;
    // Only the rows whose instant t satisfies From <= t <= To.
    double From = -std::numeric_limits<double>::infinity();
    double To = std::numeric_limits<double>::infinity();
};

// Writes the header of the cut's columns and the conversion's rows at `interval` that lie in the
// cut, in pieces to sink; returns the number of rows. The instants and every field are the
// conversion's (running sums of the single-precision interval from 0, below the log's duration),
// so the rows are byte for byte those of the full CSV with the other columns left out. Throws
// CsvIntervalError for an interval that is not a positive number, or that would step through
// more than MaxCsvFields fields up to the end of the cut.
uint64_t WriteCsvCut(const DispLogFile& log, float interval, char separator, const CsvCut& cut,
                     const std::function<void(std::string_view)>& sink);

// WriteCsvCut into the file at destination, created or replaced only by a complete file. Throws
// as WriteCsvCut, and CsvWriteError when the file cannot be created or written.
void SaveCsvCut(const DispLogFile& log, const std::string& destination, float interval, char separator,
                const CsvCut& cut);

// Throws CsvIntervalError unless interval is a positive number of seconds (what the conversion,
// its cuts and the views at its instants step by).
void CheckCsvInterval(float interval);

// The source path with its extension replaced by ".csv" (LOG001.displog gives LOG001.csv).
std::string CsvPathForLog(const std::string& source);

// Largest text FormatCsvNumber writes, without a terminating zero.
constexpr size_t CsvNumberMaxLength = 32;

// Writes value with the given number of decimals (0 to 3) into out (at least CsvNumberMaxLength
// characters) and returns the length: fixed point, halves rounded away from zero on the exact
// value, no minus sign on a value that rounds to zero; INF, -INF or NAN when not finite; an
// exponent form ("1.5E+18", at most 15 significant digits) from a magnitude of 10^18 on.
size_t FormatCsvNumber(double value, int decimals, char separator, char* out);

// Why separator cannot stand between the whole part and the decimals of the numbers, as a
// sentence; empty when it can. Only printable ASCII punctuation other than the signs, the field
// separator (the comma) and the double quote keeps every number one readable field: a letter
// reads as an exponent or a word ('E' turns 1.5 into "1E500"), a digit or a sign as part of the
// number. The conversion itself still writes with any separator it is given (a comma quotes the
// numbers); the front ends ask this before they pass one on.
[[nodiscard]] std::string CsvDecimalSeparatorProblem(char separator);

// Number of decimals of a pattern: the zeros after its point ("0" none, "0.000" three).
int DecimalsOfPattern(const char* pattern);

// Appends a field, between double quotes (inner quotes doubled) when it holds a comma, a
// double quote, a space or a character with code 1 to 31.
void AppendCsvField(std::string& line, std::string_view field);
