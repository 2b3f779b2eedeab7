// Reading and converting generated display logs: a 24-channel log sampled at 50 Hz per
// channel, format 2, converted at 0.01 s, for 10 minutes and for 1 hour of recording. Opening
// firmware packages whose section tables take 1 MB and 4 MB.
#include "Displogfile.h"
#include "LogCsv.h"
#include "LogGenerator.h"
#include "Qxstandardfile.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t Channels = 24;
constexpr float Interval = 0.01f;

std::filesystem::path BenchFolder()
{
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() / "tessaly-files-bench";
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

LogSpec BenchSpec(int minutes)
{
    LogSpec spec;
    spec.Format = 2;
    spec.TickRate = 1000;
    spec.FirstCounter = 0xFFFF0000u; // wraps after about a minute
    spec.DurationSeconds = minutes * 60.0;
    spec.CycleHz = 50;
    spec.CycleJitter = 0.2;
    spec.NoValueProbability = 0.001;
    spec.Channels = RealisticChannels(2, Channels);
    for (LogChannelSpec& channel : spec.Channels)
        channel.RateHz = 50;
    return spec;
}

// Generated once per length and kept on disk for all runs.
const std::string& LogPath(int minutes)
{
    static std::map<int, std::string> paths;
    auto it = paths.find(minutes);
    if (it == paths.end()) {
        const std::string path = (BenchFolder() / ("bench-" + std::to_string(minutes) + "min.displog")).string();
        if (!WriteDispLog(path, BenchSpec(minutes)))
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
        it = paths.emplace(minutes, path).first;
    }
    return it->second;
}

// Peak resident size since the last reset, in bytes (Linux: VmHWM, reset through clear_refs).
void ResetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

double PeakRssBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) * 1024.0;
    return 0;
}

// Time per cell of each log length (wall clock and process CPU), printed side by side at the
// end: the cost must grow linearly with the log.
struct PerCell {
    double WallNs = 0;
    double CpuNs = 0;
};
std::map<int, PerCell> NsPerCell;

void BM_ConvertLogFileToCsv(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    const std::string& log = LogPath(minutes);
    const std::string csv = CsvPathForLog(log);
    const double inputSize = static_cast<double>(std::filesystem::file_size(log));

    DispLogFile reader;
    if (reader.Open(log) != 0) {
        state.SkipWithError("cannot open the generated log");
        return;
    }
    const double rows = std::ceil(reader.GetDuration() / static_cast<double>(Interval));
    const double cells = rows * reader.GetChannelCount();
    reader = DispLogFile();

    ResetPeakRss();
    double seconds = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        const uint32_t result = ConvertLogFileToCsv(log, csv, Interval);
        benchmark::DoNotOptimize(result);
        cpuSeconds += static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double peak = PeakRssBytes();
    const double csvSize = static_cast<double>(std::filesystem::file_size(csv));
    const auto iterations = static_cast<double>(state.iterations());

    state.counters["cells/s"] = benchmark::Counter(cells * iterations, benchmark::Counter::kIsRate);
    state.counters["CSV_MB/s"] = benchmark::Counter(csvSize * iterations / 1e6, benchmark::Counter::kIsRate);
    state.counters["ns/cell"] = benchmark::Counter(cells * iterations / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["peakRSS/input"] = peak / inputSize;
    state.counters["peakRSS/(4in+csv)"] = peak / (4 * inputSize + csvSize);
    state.counters["input_MB"] = inputSize / 1e6;
    state.counters["csv_MB"] = csvSize / 1e6;
    state.counters["samples_M"] = inputSize / 8 / 1e6 * Channels / (Channels + 1);
    NsPerCell[minutes] = {seconds / iterations / cells * 1e9, cpuSeconds / iterations / cells * 1e9};
    state.SetLabel(std::to_string(minutes) + " min, " + std::to_string(static_cast<long>(cells)) + " cells");
}
BENCHMARK(BM_ConvertLogFileToCsv)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Opening alone: decoding the records into per-channel arrays.
void BM_DispLogOpen(benchmark::State& state)
{
    const std::string& log = LogPath(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        DispLogFile reader;
        const uint32_t result = reader.Open(log);
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(std::filesystem::file_size(log)) * state.iterations());
}
BENCHMARK(BM_DispLogOpen)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);

// Look-ups at random times (binary search) against the walk in time order (cursor).
void BM_GetValueAt(benchmark::State& state)
{
    DispLogFile reader;
    if (reader.Open(LogPath(10)) != 0) {
        state.SkipWithError("cannot open the generated log");
        return;
    }
    const bool walk = state.range(0) != 0;
    std::mt19937 random(1);
    std::uniform_real_distribution<double> time(0.0, reader.GetDuration());
    std::vector<double> times(1 << 16);
    for (double& t : times)
        t = time(random);
    if (walk)
        std::sort(times.begin(), times.end());
    size_t cursor = 0;
    size_t i = 0;
    for (auto _ : state) {
        float value = 0;
        const double t = times[i++ & (times.size() - 1)];
        const bool found = walk ? reader.GetValueAt(3, t, value, cursor) : reader.GetValueAt(3, t, value);
        benchmark::DoNotOptimize(found);
        benchmark::DoNotOptimize(value);
    }
    state.SetLabel(walk ? "cursor, times in order" : "search, random times");
}
BENCHMARK(BM_GetValueAt)->Arg(0)->Arg(1);

// A package whose table takes `tableBytes` (entries of one byte each), written once per size.
const std::string& PackagePath(size_t tableBytes)
{
    static std::map<size_t, std::string> paths;
    auto it = paths.find(tableBytes);
    if (it == paths.end()) {
        const size_t entries = tableBytes / StandardFileEntrySize - 1;
        std::vector<uint8_t> bytes;
        auto put = [&bytes](uint32_t word) {
            for (int i = 0; i < 4; ++i)
                bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
        };
        for (uint32_t word : {StandardFileSignature, 0u, 16u, 0u})
            put(word);
        for (size_t i = 0; i < entries; ++i)
            for (uint32_t word : {1 + static_cast<uint32_t>(i % 7), static_cast<uint32_t>(i), 0u, 1u})
                put(word);
        bytes.insert(bytes.end(), StandardFileEntrySize, 0);
        bytes.insert(bytes.end(), entries, 0x5A);
        const std::string path = (BenchFolder() / ("bench-" + std::to_string(tableBytes) + ".qxf")).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
        it = paths.emplace(tableBytes, path).first;
    }
    return it->second;
}

// Milliseconds per open of each table size, printed at the end: the time must grow linearly
// with the table.
std::map<size_t, double> PackageOpenMs;

void BM_PackageOpen(benchmark::State& state)
{
    const auto tableBytes = static_cast<size_t>(state.range(0));
    const std::string& path = PackagePath(tableBytes);
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        QXStandardFile package;
        const uint32_t result = package.Open(path);
        benchmark::DoNotOptimize(result);
        if (result != 0 || package.SectionCount() != tableBytes / StandardFileEntrySize - 1) {
            state.SkipWithError("the package did not open whole");
            return;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    PackageOpenMs[tableBytes] = seconds / static_cast<double>(state.iterations()) * 1e3;
    state.SetBytesProcessed(static_cast<int64_t>(std::filesystem::file_size(path)) * state.iterations());
    state.SetLabel(std::to_string(tableBytes / StandardFileEntrySize - 1) + " sections");
}
BENCHMARK(BM_PackageOpen)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

void BM_FormatCsvNumber(benchmark::State& state)
{
    std::mt19937 random(2);
    std::uniform_real_distribution<float> values(-8000.0f, 8000.0f);
    std::vector<float> numbers(4096);
    for (float& n : numbers)
        n = values(random);
    const int decimals = static_cast<int>(state.range(0));
    char out[CsvNumberMaxLength];
    size_t i = 0;
    for (auto _ : state) {
        const size_t length = FormatCsvNumber(numbers[i++ & 4095], decimals, '.', out);
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_FormatCsvNumber)->Arg(0)->Arg(3);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!NsPerCell.empty()) {
        std::printf("\nConversion time per cell (rows x channels), wall / CPU:");
        for (const auto& [minutes, ns] : NsPerCell)
            std::printf("  %d min: %.1f / %.1f ns", minutes, ns.WallNs, ns.CpuNs);
        if (NsPerCell.size() == 2)
            std::printf("  (ratio %.2f / %.2f)", NsPerCell.rbegin()->second.WallNs / NsPerCell.begin()->second.WallNs,
                        NsPerCell.rbegin()->second.CpuNs / NsPerCell.begin()->second.CpuNs);
        std::printf("\n");
    }
    for (const auto& [tableBytes, ms] : PackageOpenMs)
        std::printf("Package open with a %zu MB section table: %.2f ms\n", tableBytes >> 20, ms);
    std::error_code error;
    std::filesystem::remove_all(BenchFolder(), error);
    return 0;
}
