// Reading and converting generated display logs: a 24-channel log sampled at 50 Hz per
// channel, format 2, converted at 0.01 s by tessaly-cli, for 10 minutes and for 1 hour of
// recording, beside a numpy/pandas script doing the same. Reading logs of 10k and 160k channels
// with ordinary identifiers and with identifiers that collide under a fixed multiplicative hash.
// Opening firmware packages whose section tables take 1 MB and 4 MB.
#include "Displogfile.h"
#include "LogCsv.h"
#include "LogGenerator.h"
#include "Qxstandardfile.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <utility>
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

// A program run to its end in a child process: its wall time, its CPU time (all its threads,
// user and system) and its peak resident size, none of them blurred by this process.
struct ChildRun {
    bool Ok = false;
    double WallSeconds = 0;
    double CpuSeconds = 0;
    double PeakRssBytes = 0;
    int MostThreads = 0; // the most threads seen at once, when asked to watch
};

// The threads of a running process, from /proc; 0 when it cannot be told.
int ThreadsOf(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    return 0;
}

// Runs argv[0] with its output thrown away. Watching the threads polls the child every few
// hundred microseconds, which costs time: only the untimed runs do it.
ChildRun RunChild(const std::vector<std::string>& args, bool watchThreads = false)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ChildRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t ended = wait4(pid, &status, watchThreads ? WNOHANG : 0, &usage);
        if (ended == pid)
            break;
        if (ended < 0)
            return run;
        run.MostThreads = std::max(run.MostThreads, ThreadsOf(pid));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    run.WallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
    run.CpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.PeakRssBytes = static_cast<double>(usage.ru_maxrss) * 1024.0; // kilobytes on Linux
    run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

std::vector<std::string> ConvertCommand(const std::string& log)
{
    return {TESSALY_CLI_PATH, "convert", log, "--interval", "0.01"};
}

// The same conversion by a straightforward numpy/pandas script (csv_peer.py beside this file),
// run once per log length and kept for the ratio. Debian's own python is asked for, since
// another one on the PATH may lack numpy or pandas.
constexpr const char* PeerPython = "/usr/bin/python3";

bool PeerUsable()
{
    static const bool usable = [] {
        if (access(PeerPython, X_OK) != 0) {
            std::fprintf(stderr, "CSV peer skipped: %s not found (the ratio to it is left out)\n", PeerPython);
            return false;
        }
        if (!RunChild({PeerPython, "-c", "import numpy, pandas"}).Ok) {
            std::fprintf(stderr, "CSV peer skipped: %s has no numpy or pandas (apt-get install python3-numpy "
                                 "python3-pandas; the ratio to it is left out)\n", PeerPython);
            return false;
        }
        return true;
    }();
    return usable;
}

const ChildRun& PeerRun(int minutes)
{
    static std::map<int, ChildRun> runs;
    auto it = runs.find(minutes);
    if (it == runs.end()) {
        const std::string csv = (BenchFolder() / ("peer-" + std::to_string(minutes) + "min.csv")).string();
        it = runs.emplace(minutes, RunChild({PeerPython, TESSALY_CSV_PEER, LogPath(minutes), csv, "0.01"})).first;
        if (!it->second.Ok)
            std::fprintf(stderr, "CSV peer failed on the %d-minute log (the ratio to it is left out)\n", minutes);
        std::filesystem::remove(csv);
    }
    return it->second;
}

// The threads tessaly-cli runs a conversion on (its main thread included), seen from outside in
// one untimed run per log length.
int ConversionThreads(int minutes)
{
    static std::map<int, int> threads;
    auto it = threads.find(minutes);
    if (it == threads.end())
        it = threads.emplace(minutes, RunChild(ConvertCommand(LogPath(minutes)), true).MostThreads).first;
    return it->second;
}

// Time of one conversion of each log length (wall clock and CPU) and its cells, printed side by
// side per cell at the end: the cost must grow linearly with the log.
struct ConversionCost {
    double WallSeconds = 0;
    double CpuSeconds = 0;
    double Cells = 0;
};
std::map<int, ConversionCost> Costs;

// A log of the same channels over a tenth of a second: a few rows (a log of one instant has no
// time axis and is refused).
const std::string& ShortLogPath()
{
    static const std::string path = [] {
        const std::string written = (BenchFolder() / "bench-short.displog").string();
        LogSpec spec = BenchSpec(0);
        spec.DurationSeconds = 0.1;
        if (!WriteDispLog(written, spec))
            std::fprintf(stderr, "cannot write %s\n", written.c_str());
        return written;
    }();
    return path;
}

// What every conversion costs whatever its length (starting tessaly-cli, reading the header,
// creating and renaming the CSV): the median of a few conversions of a log of the same channels
// that gives a few rows. Subtracted, the rest is the cost of the cells.
ConversionCost FixedCost()
{
    std::vector<ChildRun> runs;
    for (int i = 0; i < 5; ++i) {
        std::filesystem::remove(CsvPathForLog(ShortLogPath()));
        runs.push_back(RunChild(ConvertCommand(ShortLogPath())));
        if (!runs.back().Ok)
            return {};
    }
    auto median = [&runs](double ChildRun::*field) {
        std::vector<double> values;
        for (const ChildRun& run : runs)
            values.push_back(run.*field);
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    return {median(&ChildRun::WallSeconds), median(&ChildRun::CpuSeconds), 0};
}

// The conversion end to end as a user runs it: tessaly-cli convert --interval 0.01 on a log of
// 24 channels at 50 Hz, in a child process. Each run writes a fresh CSV (the one before is removed
// untimed, so that deleting it is not counted).
void BM_ConvertEndToEnd(benchmark::State& state)
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
    const int threads = ConversionThreads(minutes);

    double wall = 0;
    double cpu = 0;
    double peak = 0;
    for (auto _ : state) {
        std::filesystem::remove(csv);
        const ChildRun run = RunChild(ConvertCommand(log));
        if (!run.Ok) {
            state.SkipWithError("tessaly-cli convert failed");
            return;
        }
        state.SetIterationTime(run.WallSeconds);
        wall += run.WallSeconds;
        cpu += run.CpuSeconds;
        peak = std::max(peak, run.PeakRssBytes);
    }
    const double csvSize = static_cast<double>(std::filesystem::file_size(csv));
    const auto iterations = static_cast<double>(state.iterations());

    state.counters["cells/s_wall"] = cells * iterations / wall;
    state.counters["cells/s_cpu"] = cells * iterations / cpu;
    state.counters["peakRSS/log"] = peak / inputSize;
    state.counters["threads"] = threads;
    state.counters["log_MB"] = inputSize / 1e6;
    state.counters["csv_MB"] = csvSize / 1e6;
    if (PeerUsable()) {
        const ChildRun& peer = PeerRun(minutes);
        if (peer.Ok) {
            // How many times faster than the peer: its time over ours.
            state.counters["x_peer_wall"] = peer.WallSeconds / (wall / iterations);
            state.counters["x_peer_cpu"] = peer.CpuSeconds / (cpu / iterations);
        }
    }
    Costs[minutes] = {wall / iterations, cpu / iterations, cells};
    state.SetLabel(std::to_string(minutes) + " min, " + std::to_string(static_cast<long>(cells)) + " cells");
}
BENCHMARK(BM_ConvertEndToEnd)->Arg(10)->Arg(60)->UseManualTime()->Unit(benchmark::kMillisecond);

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

// A log of `channels` format-2 channels at two time stamps: every identifier once in order, then
// once in the reverse order, so that each sample of the second round is a real look-up. Colliding
// identifiers are those that id * 0x9E3779B9 mod 2^32 sends to 1..channels (one cluster in a
// table keyed that way); ordinary ones are consecutive channel fields of one module.
std::vector<uint8_t> ManyChannelLog(uint32_t channels, bool colliding)
{
    constexpr uint32_t InverseOfGolden = 0x144CBC89u;
    static_assert(0x9E3779B9u * InverseOfGolden == 1u);
    std::vector<uint32_t> ids;
    for (uint32_t k = 1; k <= channels; ++k)
        ids.push_back(colliding ? k * InverseOfGolden : 0x04000000u + (k << 8));
    std::vector<uint8_t> bytes;
    auto put = [&bytes](uint32_t word) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
    };
    for (const uint32_t word : {DispLogFile::Format2Tag, 1000u, 12u})
        put(word);
    put(0);
    put(0);
    for (const uint32_t id : ids) {
        put(id);
        put(0x3FC00000u); // 1.5f
    }
    put(0);
    put(1000);
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        put(*it);
        put(0x40000000u); // 2.0f
    }
    return bytes;
}

// Nanoseconds of CPU time per channel of a read, by identifiers (false: ordinary, true:
// colliding) and channel count, printed at the end: the cost per channel must not grow with the
// channels. CPU time of the reading thread, since other work on a shared machine blurs the wall
// clock.
std::map<std::pair<bool, uint32_t>, double> ChannelReadNs;

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void BM_ManyChannelRead(benchmark::State& state)
{
    const auto channels = static_cast<uint32_t>(state.range(0));
    const bool colliding = state.range(1) != 0;
    const std::vector<uint8_t> bytes = ManyChannelLog(channels, colliding);
    double seconds = 0;
    for (auto _ : state) {
        const double start = ThreadCpuSeconds();
        DispLogFile reader;
        const uint32_t result = reader.OpenFromBytes(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(result);
        if (result != 0 || reader.GetChannelCount() != channels) {
            state.SkipWithError("the log did not open whole");
            return;
        }
        seconds += ThreadCpuSeconds() - start;
    }
    ChannelReadNs[{colliding, channels}] = seconds / static_cast<double>(state.iterations()) / channels * 1e9;
    state.SetLabel(std::to_string(channels) + (colliding ? " colliding" : " ordinary") + " channels");
}
BENCHMARK(BM_ManyChannelRead)
    ->Args({10000, 0})
    ->Args({160000, 0})
    ->Args({10000, 1})
    ->Args({160000, 1})
    ->Unit(benchmark::kMillisecond);

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
    if (!Costs.empty()) {
        auto print = [](const char* title, const ConversionCost& fixed) {
            std::printf("%s, wall / CPU:", title);
            std::map<int, ConversionCost> perCell;
            for (const auto& [minutes, cost] : Costs) {
                perCell[minutes] = {(cost.WallSeconds - fixed.WallSeconds) / cost.Cells * 1e9,
                                    (cost.CpuSeconds - fixed.CpuSeconds) / cost.Cells * 1e9, cost.Cells};
                std::printf("  %d min: %.1f / %.1f ns", minutes, perCell[minutes].WallSeconds, perCell[minutes].CpuSeconds);
            }
            if (perCell.size() == 2)
                std::printf("  (ratio %.2f / %.2f)", perCell.begin()->second.WallSeconds / perCell.rbegin()->second.WallSeconds,
                            perCell.begin()->second.CpuSeconds / perCell.rbegin()->second.CpuSeconds);
            std::printf("\n");
        };
        std::printf("\n");
        print("Conversion time per cell (rows x channels), tessaly-cli end to end", ConversionCost{});
        const ConversionCost fixed = FixedCost();
        std::printf("Fixed cost of a conversion (tessaly-cli on a log of 0.1 s), wall / CPU: %.1f / %.1f ms\n",
                    fixed.WallSeconds * 1e3, fixed.CpuSeconds * 1e3);
        print("Conversion time per cell without the fixed cost", fixed);
    }
    if (!ChannelReadNs.empty()) {
        std::printf("Log read CPU time per channel (two samples each):");
        for (const bool colliding : {false, true}) {
            const auto small = ChannelReadNs.find({colliding, 10000});
            const auto large = ChannelReadNs.find({colliding, 160000});
            if (small == ChannelReadNs.end() || large == ChannelReadNs.end())
                continue;
            std::printf("  %s 10k: %.1f ns, 160k: %.1f ns (ratio 160k/10k %.2f);", colliding ? "colliding" : "ordinary",
                        small->second, large->second, large->second / small->second);
        }
        std::printf("\n");
    }
    for (const auto& [tableBytes, ms] : PackageOpenMs)
        std::printf("Package open with a %zu MB section table: %.2f ms\n", tableBytes >> 20, ms);
    std::error_code error;
    std::filesystem::remove_all(BenchFolder(), error);
    return 0;
}
