#pragma once
// Conversion of a display log into comma-separated text: one column per channel, one row per
// export instant, the instants a fixed interval apart.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

// The CSV file cannot be created or written. what() is the text shown to the user:
// "Cannot create file "<path>". <reason>" or "Stream write error".
class CsvWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The export interval cannot step through the log: not a positive finite number of seconds,
// or so small that the rows would be beyond any use (see MaxCsvFields).
class CsvIntervalError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

struct CsvOptions {
    // Decimal separator of the numbers; a comma makes every number with decimals a quoted field.
    char DecimalSeparator = '.';
    // Called now and then with the rows written so far and the rows to write.
    std::function<void(uint64_t done, uint64_t total)> Progress;
};

// A conversion is refused rather than written with more fields (rows x columns) than this: at 4
// or more bytes a field that is beyond 40 GB of text, minutes of work. It also guarantees that
// each step of the interval moves the time on.
constexpr uint64_t MaxCsvFields = 10'000'000'000;

// Converts the log at source into CSV text at destination, created or replaced. Returns 0, or the
// reader's result code when the source cannot be read (nothing is written then). Throws
// CsvIntervalError for an unusable interval and CsvWriteError when the destination cannot be
// created or written; an existing destination is replaced only by a complete file.
[[nodiscard]] uint32_t ConvertLogFileToCsv(const std::string& source, const std::string& destination,
                                           float interval, const CsvOptions& options = {});

// The source path with its extension replaced by ".csv" (LOG001.displog gives LOG001.csv).
std::string CsvPathForLog(const std::string& source);

// Largest text FormatCsvNumber writes, without a terminating zero.
constexpr size_t CsvNumberMaxLength = 32;

// Writes value with the given number of decimals (0 to 3) into out (at least CsvNumberMaxLength
// characters) and returns the length: fixed point, halves rounded away from zero on the exact
// value, no minus sign on a value that rounds to zero; INF, -INF or NAN when not finite; an
// exponent form ("1.5E+18", at most 15 significant digits) from a magnitude of 10^18 on.
size_t FormatCsvNumber(double value, int decimals, char separator, char* out);

// Number of decimals of a pattern: the zeros after its point ("0" none, "0.000" three).
int DecimalsOfPattern(const char* pattern);

// Appends a field, between double quotes (inner quotes doubled) when it holds a comma, a
// double quote, a space or a character with code 1 to 31.
void AppendCsvField(std::string& line, std::string_view field);
