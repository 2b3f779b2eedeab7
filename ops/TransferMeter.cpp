#include "TransferMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The speed is measured over this much of the recent past, so it follows a link that slows down
// or speeds up within seconds, and a single slow block does not make it jump.
constexpr std::chrono::milliseconds SpeedWindow{3000};
constexpr std::chrono::milliseconds LeastMeasured{250};

double Seconds(TransferMeter::Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

} // namespace

TransferMeter::TransferMeter(uint64_t totalBytes, Clock::time_point start) : Total(totalBytes)
{
    Marks.push_back({start, 0});
}

void TransferMeter::BeginFile(uint64_t size, Clock::time_point now)
{
    if (InFile)
        EndFile(now);
    InFile = true;
    CurrentSize = size;
    CurrentDone = 0;
    Record(now);
}

void TransferMeter::Update(uint64_t done, Clock::time_point now)
{
    CurrentDone = std::min(done, CurrentSize);
    Record(now);
}

void TransferMeter::EndFile(Clock::time_point now)
{
    if (!InFile)
        return;
    // What was transferred counts for the speed; what was skipped only leaves the work to do.
    const uint64_t skipped = CurrentSize - CurrentDone;
    Finished += CurrentDone;
    Total = Total >= skipped ? Total - skipped : 0;
    Total = std::max(Total, Finished);
    CurrentSize = 0;
    CurrentDone = 0;
    InFile = false;
    Record(now);
}

void TransferMeter::Record(Clock::time_point now)
{
    Marks.push_back({now, TotalDone()});
    // Keep one mark older than the window, so the window is always covered whole.
    while (Marks.size() > 2 && now - Marks[1].Time >= SpeedWindow)
        Marks.pop_front();
}

int TransferMeter::FilePercent() const
{
    if (CurrentSize == 0)
        return InFile ? 100 : 0;
    return static_cast<int>(CurrentDone * 100 / CurrentSize);
}

std::optional<double> TransferMeter::BytesPerSecond() const
{
    if (Marks.size() < 2)
        return std::nullopt;
    const Mark& first = Marks.front();
    const Mark& last = Marks.back();
    if (last.Time - first.Time < LeastMeasured)
        return std::nullopt;
    const uint64_t bytes = last.Done >= first.Done ? last.Done - first.Done : 0;
    return static_cast<double>(bytes) / Seconds(last.Time - first.Time);
}

std::optional<double> TransferMeter::SecondsLeft() const
{
    const std::optional<double> speed = BytesPerSecond();
    if (!speed || *speed <= 0.0)
        return std::nullopt;
    const uint64_t left = Total > TotalDone() ? Total - TotalDone() : 0;
    return static_cast<double>(left) / *speed;
}

std::string FormatByteCount(uint64_t bytes)
{
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
        return text;
    }
    const char* units[] = {"KB", "MB", "GB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 2) {
        value /= 1024.0;
        ++unit;
    }
    // Three figures at most: "1.5 KB", "12.3 MB", "590 KB".
    if (value < 100.0)
        std::snprintf(text, sizeof text, "%.1f %s", std::floor(value * 10.0) / 10.0, units[unit]);
    else
        std::snprintf(text, sizeof text, "%.0f %s", std::floor(value), units[unit]);
    return text;
}

std::string FormatDuration(double seconds)
{
    const auto whole = static_cast<long long>(std::ceil(std::max(0.0, seconds)));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

std::string FormatTransferFigures(const TransferMeter& meter)
{
    std::string text = std::to_string(meter.FilePercent()) + "%, " + FormatByteCount(meter.FileDone()) + " of " +
                       FormatByteCount(meter.FileSize());
    if (const std::optional<double> speed = meter.BytesPerSecond()) {
        text += ", " + FormatByteCount(static_cast<uint64_t>(*speed)) + "/s";
        if (const std::optional<double> left = meter.SecondsLeft())
            text += ", " + FormatDuration(*left) + " left";
    }
    return text;
}
