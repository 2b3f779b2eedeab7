#include "FaultPlan.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace sim {
namespace {

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// A whole decimal or 0x-prefixed hex number no larger than `limit`.
std::optional<uint64_t> Number(const std::string& text, uint64_t limit)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return std::nullopt;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    errno = 0;
    // Base 10 unless 0x: a leading zero is not octal here.
    const unsigned long long value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || value > limit)
        return std::nullopt;
    return value;
}

struct Split {
    std::string Head;
    std::string Tail; // empty when the separator is absent
    bool Found = false;
};

Split SplitAt(const std::string& text, char separator)
{
    const auto at = text.find(separator);
    if (at == std::string::npos)
        return {text, {}, false};
    return {text.substr(0, at), text.substr(at + 1), true};
}

bool Fail(std::string* error, const std::string& item, const char* why)
{
    if (error)
        *error = "fault plan item \"" + item + "\": " + why;
    return false;
}

bool ParseReportFault(const std::string& item, const std::string& key, const std::string& value, FaultPlan& plan,
                      std::string* error)
{
    ReportFault fault;
    const Split kind = SplitAt(key, '-');
    if (kind.Tail == "in")
        fault.Direction = FaultDirection::In;
    else if (kind.Tail == "out")
        fault.Direction = FaultDirection::Out;
    else
        return Fail(error, item, "direction must be in or out");
    if (kind.Head == "drop")
        fault.Kind = FaultKind::Drop;
    else if (kind.Head == "dup")
        fault.Kind = FaultKind::Duplicate;
    else if (kind.Head == "corrupt")
        fault.Kind = FaultKind::Corrupt;
    else if (kind.Head == "delay")
        fault.Kind = FaultKind::Delay;
    else if (kind.Head == "hold" && fault.Direction == FaultDirection::In)
        fault.Kind = FaultKind::Hold;
    else
        return Fail(error, item, "unknown fault");

    const Split parts = SplitAt(value, ':');
    const auto report = Number(parts.Head, UINT64_MAX);
    if (!report || *report == 0)
        return Fail(error, item, "report number must be 1 or more");
    fault.Report = *report;
    if (fault.Kind == FaultKind::Delay || fault.Kind == FaultKind::Hold) {
        const auto ms = parts.Found ? Number(parts.Tail, 600000) : std::nullopt;
        if (!ms)
            return Fail(error, item, "needs :MS (at most 600000)");
        fault.Value = static_cast<uint32_t>(*ms);
    } else if (fault.Kind == FaultKind::Corrupt) {
        fault.Value = DefaultCorruptByte;
        if (parts.Found) {
            const auto index = Number(parts.Tail, 63);
            if (!index)
                return Fail(error, item, "byte index must be 0 to 63");
            fault.Value = static_cast<uint32_t>(*index);
        }
    } else if (parts.Found) {
        return Fail(error, item, "takes no :value");
    }
    plan.Reports.push_back(fault);
    return true;
}

// intrude=N[:C]: after output report N, another program's request with code C.
bool ParseIntrusion(const std::string& item, const std::string& value, FaultPlan& plan, std::string* error)
{
    const Split parts = SplitAt(value, ':');
    const auto report = Number(parts.Head, UINT64_MAX);
    if (!report || *report == 0)
        return Fail(error, item, "report number must be 1 or more");
    const auto code = parts.Found ? Number(parts.Tail, 0xFFFF) : std::optional<uint64_t>(DefaultIntruderCode);
    if (!code)
        return Fail(error, item, "code must be 0 to 0xFFFF");
    plan.Reports.push_back({FaultKind::Intrude, FaultDirection::Out, *report, static_cast<uint32_t>(*code)});
    return true;
}

bool ParseStatusFault(const std::string& item, const std::string& value, FaultPlan& plan, std::string* error)
{
    const Split occurrence = SplitAt(value, '@');
    const Split parts = SplitAt(occurrence.Head, ':');
    const auto code = Number(parts.Head, 0xFFFF);
    const auto status = parts.Found ? Number(parts.Tail, 0xFF) : std::nullopt;
    if (!code || !status)
        return Fail(error, item, "expects status=CODE:STATUS[@K]");
    StatusFault fault{static_cast<uint16_t>(*code), static_cast<uint8_t>(*status), 0};
    if (occurrence.Found) {
        const auto k = Number(occurrence.Tail, UINT64_MAX);
        if (!k || *k == 0)
            return Fail(error, item, "@K must be 1 or more");
        fault.Occurrence = *k;
    }
    plan.Statuses.push_back(fault);
    return true;
}

} // namespace

std::optional<FaultPlan> FaultPlan::Parse(const std::string& text, std::string* error)
{
    FaultPlan plan;
    std::stringstream items(text);
    std::string raw;
    while (std::getline(items, raw, ',')) {
        const std::string item = Trim(raw);
        if (item.empty())
            continue;
        const Split pair = SplitAt(item, '=');
        if (!pair.Found) {
            Fail(error, item, "expects NAME=VALUE");
            return std::nullopt;
        }
        const std::string key = Trim(pair.Head);
        const std::string value = Trim(pair.Tail);
        bool good = false;
        if (key == "status") {
            good = ParseStatusFault(item, value, plan, error);
        } else if (key == "intrude") {
            good = ParseIntrusion(item, value, plan, error);
        } else if (key == "corrupt-flash") {
            const Split parts = SplitAt(value, ':');
            const auto block = Number(parts.Head, UINT64_MAX);
            const auto byte = parts.Found ? Number(parts.Tail, 0xFFFF) : std::optional<uint64_t>(0);
            good = block && *block != 0 && byte;
            if (!good)
                Fail(error, item, "expects corrupt-flash=K[:B] with K 1 or more");
            else
                plan.Flash.push_back({*block, static_cast<uint32_t>(*byte)});
        } else if (key == "mute-after" || key == "unplug-after") {
            const auto count = Number(value, UINT64_MAX);
            good = count && *count != 0;
            if (!good)
                Fail(error, item, "count must be 1 or more");
            else
                (key == "mute-after" ? plan.MuteAfter : plan.UnplugAfter) = *count;
        } else {
            good = ParseReportFault(item, key, value, plan, error);
        }
        if (!good)
            return std::nullopt;
    }
    return plan;
}

std::optional<FaultPlan> FaultPlan::FromEnvironment(std::string* error)
{
    const char* text = std::getenv(FaultPlanVariable);
    if (!text)
        return FaultPlan{};
    auto plan = Parse(text, error);
    if (!plan && error)
        *error = std::string(FaultPlanVariable) + ": " + *error;
    return plan;
}

} // namespace sim
