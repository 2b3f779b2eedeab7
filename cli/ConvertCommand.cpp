#include "ConvertCommand.h"

#include "LogConversion.h"
#include "LogCsv.h"
#include "PathText.h"
#include "ResultCodes.h"
#include "StopRequest.h"
#include "TerminalProgress.h"

#include <atomic>
#include <cfloat>
#include <cmath>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

namespace {

constexpr const char* Usage =
    "usage: tessaly-cli convert FILE.displog... [--interval SECONDS] [--decimal-separator C]\n"
    "  Writes FILE.csv beside each log: one column per channel, one row every SECONDS\n"
    "  (default 1). The decimal separator of the numbers is the point unless C is given\n"
    "  (punctuation other than a sign, the comma and the double quote).\n"
    "  Ctrl+C stops the conversion without leaving a partial file.\n";

// The default export interval of the window's settings.
constexpr double DefaultInterval = 1.0;

// Logs from this size on show a progress bar (on a terminal): about a second of converting.
constexpr uintmax_t ProgressFromBytes = 8u << 20;

// Set by SIGINT and SIGTERM while logs are converted: the conversion stops before its next row
// and removes its temporary file, and the command ends with 128 + the signal's number.
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");
std::atomic<bool> stopRequested{false};
volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal)
{
    stopSignal = signal;
    stopRequested.store(true, std::memory_order_relaxed);
}

// Ctrl+C or a termination request during the conversions stops them cleanly instead of killing
// the process with a temporary file left behind; a second one ends the process at once (the
// handler is reset when it runs). The previous handlers come back at the end. On Windows the
// requests are the console's control events (StopRequest.h).
class StopSignalScope {
public:
    StopSignalScope()
#ifdef _WIN32
        : Console(OnStopSignal, true)
#endif
    {
        stopRequested.store(false);
        stopSignal = 0;
#ifndef _WIN32
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, &PreviousInt);
        sigaction(SIGTERM, &action, &PreviousTerm);
#endif
    }
    ~StopSignalScope()
    {
#ifndef _WIN32
        sigaction(SIGINT, &PreviousInt, nullptr);
        sigaction(SIGTERM, &PreviousTerm, nullptr);
#endif
    }
    StopSignalScope(const StopSignalScope&) = delete;
    StopSignalScope& operator=(const StopSignalScope&) = delete;

    // The exit code of a command stopped by a signal, as a shell reports it.
    static int ExitCode() { return 128 + static_cast<int>(stopSignal); }

private:
#ifdef _WIN32
    ConsoleStopScope Console;
#else
    struct sigaction PreviousInt {};
    struct sigaction PreviousTerm {};
#endif
};

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "tessaly-cli convert: %s\n%s", message.c_str(), Usage);
    return 2;
}

} // namespace

std::optional<double> ParseNumber(const std::string& text)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

int RunConvertCommand(const std::vector<std::string>& args)
{
    std::vector<std::string> logs;
    double interval = DefaultInterval;
    CsvOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (arg == "--interval" || arg == "--decimal-separator") {
            if (i + 1 >= args.size())
                return UsageError(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--interval") {
                const std::optional<double> number = ParseNumber(value);
                if (!number)
                    return UsageError("the interval \"" + value + "\" is not a number of seconds");
                interval = *number;
            } else {
                if (value.size() != 1)
                    return UsageError("the decimal separator must be one character, not \"" + value + "\"");
                if (const std::string problem = CsvDecimalSeparatorProblem(value[0]); !problem.empty())
                    return UsageError(problem);
                options.DecimalSeparator = value[0];
            }
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-')
            return UsageError("unknown option " + arg);
        logs.push_back(arg);
    }
    if (logs.empty())
        return UsageError("no log file given");
    // The conversion steps by the interval in single precision: it must stay a positive number
    // there (1e-50 would become 0, 1e300 would not fit).
    if (!std::isfinite(interval) || interval <= 0 || interval > FLT_MAX || static_cast<float>(interval) <= 0.0f)
        return UsageError("the interval must be a positive number of seconds");

    int exitCode = 0;
    const StopSignalScope signals;
    options.Stop = &stopRequested;
    for (const std::string& log : logs) {
        if (stopRequested.load())
            return StopSignalScope::ExitCode();
        TerminalProgress progress(Utf8FromPath(PathFromUtf8(log).filename()));
        // Small logs convert in a blink: a bar would only flash.
        std::error_code sizeError;
        const bool large = std::filesystem::file_size(PathFromUtf8(log), sizeError) >= ProgressFromBytes && !sizeError;
        options.Progress = nullptr;
        if (large)
            options.Progress = [&progress](uint64_t done, uint64_t total) { progress.Update(done, total); };
        const ConversionOutcome outcome = ConvertLog(log, static_cast<float>(interval), options);
        progress.Finish();
        switch (outcome.End) {
        case ConversionEnd::Converted:
            if (outcome.Text.empty())
                std::printf("%s -> %s\n", log.c_str(), outcome.CsvPath.c_str());
            else
                std::printf("%s -> %s (%s)\n", log.c_str(), outcome.CsvPath.c_str(), outcome.Text.c_str());
            break;
        case ConversionEnd::Unreadable:
            std::fprintf(stderr, "tessaly-cli convert: %s: %s\n", log.c_str(), ConversionFailureReason(outcome).c_str());
            exitCode = 1;
            break;
        // Too small an interval for this log's duration (a shorter log may still do), or a log
        // named *.csv, which its own conversion would replace.
        case ConversionEnd::SameFile:
        case ConversionEnd::BadInterval:
        // A log whose samples all lie at one instant, or before any time stamp: no rows to write.
        case ConversionEnd::NoTimeAxis:
            std::fprintf(stderr, "tessaly-cli convert: %s: %s\n", log.c_str(), outcome.Text.c_str());
            exitCode = 1;
            break;
        // Also a CSV that would not fit: nothing was written.
        case ConversionEnd::WriteFailed:
            std::fprintf(stderr, "tessaly-cli convert: %s\n", outcome.Text.c_str());
            exitCode = 1;
            break;
        case ConversionEnd::Stopped:
            std::fprintf(stderr, "tessaly-cli convert: %s\n", outcome.Text.c_str());
            return StopSignalScope::ExitCode();
        }
    }
    return exitCode;
}
