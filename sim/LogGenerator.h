#pragma once
// Generator of realistic display logs (".displog" bytes) for tests, benchmarks and the simulated
// unit's SD card: either format, many channels at their own rates, a logging cycle with jitter,
// dropped samples, samples without value, a tick counter that may wrap.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct LogChannelSpec {
    uint32_t Id = 0;
    double RateHz = 10.0;       // samples per second, at most the cycle rate
    double Offset = 0.0;        // the value swings around Offset by Amplitude
    double Amplitude = 1.0;
    double PeriodSeconds = 7.0; // of the slow swing
    double StartSeconds = 0.0;  // first cycle that logs the channel
    double StopSeconds = -1.0;  // last one; below 0 means to the end
};

struct LogSpec {
    int Format = 2;                  // 1 or 2
    uint32_t TickRate = 1000;        // ticks per second
    uint32_t DataOffset = 12;        // bytes from the start of the file to the first record
    uint32_t FirstCounter = 5000;    // tick counter of the first time stamp; near 2^32 to wrap
    double DurationSeconds = 10.0;   // time of the last cycle at most
    double CycleHz = 50.0;           // the unit writes one time stamp per logging cycle
    double CycleJitter = 0.2;        // each cycle is 1 +- CycleJitter times the nominal period
    double DropProbability = 0.0;    // a due sample is left out of its cycle
    double NoValueProbability = 0.0; // a sample is written with the value word 0xFFFFFFFF
    size_t LeadingSamples = 0;       // sample records before the first time stamp
    size_t TrailingBytes = 0;        // fragment shorter than a record after the last one
    uint32_t Seed = 1;
    // Empty: RealisticChannels(Format, 8).
    std::vector<LogChannelSpec> Channels;
};

// One sample as the reader should see it: time in seconds since the first time stamp.
struct GeneratedSample {
    uint32_t Id;
    double Time;
    bool Valid;
    float Value;
};

struct GeneratedLog {
    std::vector<uint8_t> Bytes;
    std::vector<GeneratedSample> Samples; // in file order, after the first time stamp
};

// Channels with identifiers and value ranges a real unit logs (lambda, RPM, throttle, J1850
// values...), rates of 5 to 50 Hz; beyond the named ones, further instances of them.
std::vector<LogChannelSpec> RealisticChannels(int format, size_t count);

std::vector<uint8_t> GenerateDispLog(const LogSpec& spec);
// The bytes together with the samples they hold, for checking a reader against.
GeneratedLog GenerateDispLogWithSamples(const LogSpec& spec);
// Writes GenerateDispLog(spec) to path; false when the file cannot be written.
[[nodiscard]] bool WriteDispLog(const std::filesystem::path& path, const LogSpec& spec);
[[nodiscard]] bool WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
