#include "StatsCommand.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include <nlohmann/json.hpp>

#include "ConvertCommand.h"
#include "Displogfile.h"
#include "LogCsv.h"
#include "LogStats.h"
#include "ResultCodes.h"
#include "StopRequest.h"
#include "TerminalText.h"

namespace {

using Json = nlohmann::json;

constexpr const char* Usage =
    "usage: tessaly-cli [--json] stats FILE.displog [--from SECONDS] [--to SECONDS] [--channel NAME]...\n"
    "  For each channel (or each one named), over the samples whose time lies from --from to --to\n"
    "  (seconds after the log's first time stamp; default the whole log): the count of samples,\n"
    "  and the minimum, maximum and mean of their finite values.\n";

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "tessaly-cli stats: %s\n%s", message.c_str(), Usage);
    return 2;
}

// A value with the given decimals (0 to 3); "NAN" when there is none.
std::string Number(double value, int decimals, bool any)
{
    char text[CsvNumberMaxLength + 1];
    const size_t length = FormatCsvNumber(any ? value : NAN, decimals, '.', text);
    return {text, length};
}

} // namespace

int RunStatsCommand(const std::vector<std::string>& args, bool json)
{
    std::vector<std::string> files;
    std::vector<std::string> wanted;
    StatsRange range;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (arg == "--from" || arg == "--to" || arg == "--channel") {
            if (i + 1 >= args.size())
                return UsageError(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--channel") {
                wanted.push_back(value);
                continue;
            }
            const std::optional<double> seconds = ParseNumber(value);
            if (!seconds || !std::isfinite(*seconds))
                return UsageError("the time \"" + value + "\" is not a number of seconds");
            (arg == "--from" ? range.From : range.To) = *seconds;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-')
            return UsageError("unknown option " + arg);
        files.push_back(arg);
    }
    if (files.size() != 1)
        return UsageError(files.empty() ? "no log file given" : "one log file at a time");
    if (range.From > range.To)
        return UsageError("--from lies after --to");

    DispLogFile log;
    uint32_t opened = 0;
    {
        const CommandStopScope stops(true);
        opened = log.Open(files[0], CommandStopScope::Flag());
        if (opened == ERR_CANCELLED)
            return CommandStopScope::ExitCode();
    }
    if (opened != 0) {
        std::fprintf(stderr, "tessaly-cli stats: %s: %s\n", files[0].c_str(), DispLogOpenFailure(files[0], opened).c_str());
        return 1;
    }

    // Only the channels asked for are counted: a log may hold a million of them.
    std::vector<ChannelStats> shown;
    if (wanted.empty())
        shown = LogChannelStats(log, range);
    for (const std::string& name : wanted) {
        const size_t before = shown.size();
        for (uint32_t index = 0; index < log.GetChannelCount(); ++index)
            if (StatsChannelName(log, index) == name)
                shown.push_back(StatsOfChannel(log, index, range));
        if (shown.size() == before) {
            std::fprintf(stderr, "tessaly-cli stats: %s: no channel \"%s\" in the log\n", files[0].c_str(),
                         TerminalText(name).c_str());
            return 1;
        }
    }

    if (json) {
        Json channels = Json::array();
        for (const ChannelStats& stats : shown) {
            Json item{{"name", stats.Name}, {"count", stats.Count}};
            const bool any = stats.Finite != 0;
            item["min"] = any ? Json(stats.Min) : Json(nullptr);
            item["max"] = any ? Json(stats.Max) : Json(nullptr);
            item["mean"] = any ? Json(stats.Mean) : Json(nullptr);
            channels.push_back(std::move(item));
        }
        Json document{{"file", files[0]}, {"channels", channels}};
        if (std::isfinite(range.From))
            document["from"] = range.From;
        if (std::isfinite(range.To))
            document["to"] = range.To;
        std::printf("%s\n", document.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
        return 0;
    }
    std::printf("channel\tcount\tmin\tmax\tmean\n");
    for (const ChannelStats& stats : shown) {
        const bool any = stats.Finite != 0;
        std::printf("%s\t%llu\t%s\t%s\t%s\n", TerminalText(stats.Name).c_str(),
                    static_cast<unsigned long long>(stats.Count), Number(stats.Min, stats.Decimals, any).c_str(),
                    Number(stats.Max, stats.Decimals, any).c_str(),
                    // The mean with up to two decimals more than the channel's.
                    Number(stats.Mean, std::min(stats.Decimals + 2, 3), any).c_str());
    }
    return 0;
}
