#include "LogGenerator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <numbers>
#include <random>

namespace {

struct Named {
    uint32_t Id;
    double RateHz;
    double Offset;
    double Amplitude;
};

// What a unit with a wide-band lambda module and a TVX engine interface typically logs.
constexpr Named Format2Named[] = {
    {0x01000101, 50, 1.0, 0.15},   // LQR Lambda 1
    {0x01000201, 50, 14.7, 2.0},   // LQR AFR 1
    {0x04001C00, 50, 3500, 2500},  // TVX RPM
    {0x0400C500, 50, 40, 35},      // TVX TPS
    {0x04001D00, 10, 80, 60},      // TVX Speed
    {0x04001F00, 5, 3, 2},         // TVX Gear
    {0x04002A00, 25, 45, 30},      // TVX Fuel Duty Cyl 1
    {0x04002B00, 25, 25, 10},      // TVX Ign Adv Cyl 1
    {0x04002E00, 25, 0, 10},       // TVX Fuel Adj Cyl 1
    {0x04003A00, 25, 45, 30},      // TVX Fuel Duty Cyl 2
    {0x04003B00, 25, 25, 10},      // TVX Ign Adv Cyl 2
    {0x04003E00, 25, 0, 10},       // TVX Fuel Adj Cyl 2
    {0x04007100, 5, 90, 10},       // TVX Temp
    {0x04007700, 10, 1.0, 0.5},    // TVX Pressure
    {0x0400A000, 20, 3500, 2500},  // TVX J1850 RPM
    {0x0400A200, 5, 95, 15},       // TVX J1850 Engine Temp
    {0x0400A600, 5, 13.8, 0.4},    // TVX J1850 Bat Volts
    {0x0400A800, 20, 60, 30},      // TVX J1850 MAP
    {0x0400F000, 25, 0, 3},        // TVX Ign Adj Cyl 1
    {0x05000101, 50, 1.0, 0.15},   // LQR Lambda 1 1 (dual module)
    {0x05000302, 50, 14.7, 2.0},   // LQR AFR 1 2
    {0x02003404, 10, 0.5, 0.5},    // HZN 4
    {0x03000101, 25, 20, 15},      // Ign 1
    {0x01000401, 20, 3500, 2500},  // LQR RPM 1
};

constexpr Named Format1Named[] = {
    {0x0001, 50, 40, 35},     // TP
    {0x0002, 50, 3500, 2500}, // RPM
    {0x0003, 25, 10, 8},      // FUEL
    {0x0004, 25, 45, 30},     // DUTY
    {0x0006, 1, 2, 1},        // CURRENT MAP
    {0x0007, 5, 3, 2},        // CURRENT GEAR
    {0x0008, 10, 2.5, 1.5},   // PRESSURE VOLTS
    {0x0009, 10, 80, 60},     // SPEED
    {0x0010, 25, 25, 10},     // IGN
    {0x0100, 10, 2.5, 2.5},   // ANALOG 0
    {0x0200, 10, 2.5, 2.5},   // ANALOG 1
    {0x1000, 50, 14.7, 2.0},  // AFR
    {0x2000, 50, 1.0, 0.15},  // LAMBDA
    {0x3000, 10, 2.5, 2.5},   // ANALOG
    {0x4000, 20, 3500, 2500}, // RPM
};

void AppendLE(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

constexpr uint32_t NoValueWord = 0xFFFFFFFF;

GeneratedLog Generate(const LogSpec& spec, bool keepSamples)
{
    const bool format2 = spec.Format == 2;
    const int idBytes = format2 ? 4 : 2;
    const size_t recordSize = format2 ? 8 : 6;
    const uint32_t timeStampId = format2 ? 0 : 0x00FF;
    const std::vector<LogChannelSpec> channels =
        spec.Channels.empty() ? RealisticChannels(spec.Format, 8) : spec.Channels;

    std::mt19937 random(spec.Seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.01);

    GeneratedLog log;
    std::vector<uint8_t>& out = log.Bytes;
    const double cycleHz = spec.CycleHz > 0 ? spec.CycleHz : 50.0;
    const double rateSum = [&] {
        double sum = 0;
        for (const LogChannelSpec& c : channels)
            sum += std::min(c.RateHz, cycleHz);
        return sum;
    }();
    const double duration = std::max(spec.DurationSeconds, 0.0);
    out.reserve(static_cast<size_t>(duration * (cycleHz + rateSum) * static_cast<double>(recordSize) * 1.05) +
                spec.DataOffset + 64);

    const uint32_t format = format2 ? 0x20000000u : 0x10000000u;
    AppendLE(out, format, 4);
    AppendLE(out, spec.TickRate, 4);
    AppendLE(out, spec.DataOffset, 4);
    while (out.size() < spec.DataOffset)
        out.push_back(0);

    auto valueAt = [&](const LogChannelSpec& c, size_t index, double t) {
        const double phase = static_cast<double>(index) * 0.7;
        const double period = c.PeriodSeconds > 0 ? c.PeriodSeconds : 7.0;
        const double swing = std::sin(2 * std::numbers::pi * t / period + phase);
        return static_cast<float>(c.Offset + c.Amplitude * (swing + noise(random)));
    };
    auto writeSample = [&](uint32_t id, float value, bool valid) {
        AppendLE(out, id, idBytes);
        AppendLE(out, valid ? std::bit_cast<uint32_t>(value) : NoValueWord, 4);
    };

    // Samples logged before the unit wrote its first time stamp: they belong to no moment.
    for (size_t i = 0; i < spec.LeadingSamples && !channels.empty(); ++i)
        writeSample(channels[i % channels.size()].Id, 1.0f, true);

    std::vector<double> phase(channels.size(), 1.0); // due in the first cycle
    const double period = 1.0 / cycleHz;
    const double tickRate = spec.TickRate;
    for (double t = 0.0; t <= duration;) {
        // The counter has the resolution of a tick; the reader sees the rounded time.
        const auto ticks = spec.TickRate == 0 ? uint32_t{0} : static_cast<uint32_t>(std::llround(t * tickRate));
        AppendLE(out, timeStampId, idBytes);
        AppendLE(out, spec.FirstCounter + ticks, 4);
        const double seen = spec.TickRate == 0 ? 0.0 : static_cast<double>(ticks) / tickRate;
        for (size_t i = 0; i < channels.size(); ++i) {
            const LogChannelSpec& c = channels[i];
            if (t < c.StartSeconds || (c.StopSeconds >= 0 && t > c.StopSeconds))
                continue;
            phase[i] += std::min(c.RateHz, cycleHz) / cycleHz;
            if (phase[i] < 1.0)
                continue;
            phase[i] -= 1.0;
            if (spec.DropProbability > 0 && unit(random) < spec.DropProbability)
                continue;
            const bool valid = !(spec.NoValueProbability > 0 && unit(random) < spec.NoValueProbability);
            const float value = valueAt(c, i, t);
            writeSample(c.Id, value, valid);
            if (keepSamples)
                log.Samples.push_back({c.Id, seen, valid, valid ? value : std::bit_cast<float>(NoValueWord)});
        }
        t += period * (1.0 + spec.CycleJitter * (2.0 * unit(random) - 1.0));
    }

    const size_t fragment = std::min(spec.TrailingBytes, recordSize - 1);
    for (size_t i = 0; i < fragment; ++i)
        out.push_back(0x5A);
    return log;
}

} // namespace

std::vector<LogChannelSpec> RealisticChannels(int format, size_t count)
{
    std::vector<LogChannelSpec> channels;
    channels.reserve(count);
    const bool format2 = format == 2;
    const Named* named = format2 ? Format2Named : Format1Named;
    const size_t namedCount = format2 ? std::size(Format2Named) : std::size(Format1Named);
    for (size_t i = 0; i < count; ++i) {
        const Named& base = named[i % namedCount];
        const auto round = static_cast<uint32_t>(i / namedCount);
        LogChannelSpec channel;
        if (format2) {
            // Further instances of the same channels; 255 instances per module are enough.
            channel.Id = (base.Id & 0xFFFFFF00u) | (((base.Id & 0xFFu) + round) & 0xFFu);
        } else {
            // Format 1 has no instances: further channels get identifiers the names do not list
            // (all named ones and the time-stamp marker are below 0x5000).
            channel.Id = round == 0 ? base.Id : (0x5000 + static_cast<uint32_t>(i)) & 0xFFFFu;
        }
        channel.RateHz = base.RateHz;
        channel.Offset = base.Offset;
        channel.Amplitude = base.Amplitude;
        channel.PeriodSeconds = 3.0 + static_cast<double>(i % 11);
        channels.push_back(channel);
    }
    return channels;
}

std::vector<uint8_t> GenerateDispLog(const LogSpec& spec)
{
    return Generate(spec, false).Bytes;
}

GeneratedLog GenerateDispLogWithSamples(const LogSpec& spec)
{
    return Generate(spec, true);
}

bool WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}

bool WriteDispLog(const std::filesystem::path& path, const LogSpec& spec)
{
    return WriteBytes(path, GenerateDispLog(spec));
}
