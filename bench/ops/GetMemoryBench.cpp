// Peak memory of getting a 4 MiB file from the simulated unit into a file on
// the PC, once with its true size listed and once with a listing that claims
// 4 GiB (a corrupted size byte). The blocks are streamed into the temporary
// file, so the peak must not depend on the size the listing announces.
//
// peak_growth_kib: the process's peak resident size during the get, minus its
// resident size before it (Linux: VmHWM after resetting it, VmRSS before).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "Qxdisplay.h"
#include "SimHost.h"
#include "UnitFiles.h"

namespace {

constexpr uint32_t FileSize = 4u << 20;

// A field of /proc/self/status in KiB, or -1.
long StatusKib(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    return -1;
}

// Writing 5 to clear_refs resets the peak resident size to the current one.
bool ResetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear);
}

void MeasureGet(benchmark::State& state, uint32_t announced)
{
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("tessaly-bench-get-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "card" / "Maps");
    std::filesystem::create_directories(root / "out");
    {
        std::vector<char> bytes(FileSize);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7 + (i >> 12));
        std::ofstream(root / "card" / "Maps" / "Big.qxm", std::ios::binary).write(bytes.data(), bytes.size());
    }
    sim::SimOptions options;
    options.Unit.CardFolder = root / "card";
    auto host = std::make_unique<sim::SimHost>(options);
    auto display = std::make_unique<QXDisplay>(*host);
    display->FindDevices();
    if (display->OpenByIndex(0, 0) != 0) {
        state.SkipWithError("the simulated unit could not be opened");
        return;
    }
    long growth = 0;
    uint32_t code = 0;
    for (auto _ : state) {
        const bool reset = ResetPeak();
        const long before = StatusKib("VmRSS");
        const FileOutcome outcome =
            GetUnitFile(*display, "A:\\Maps", "Big.qxm", announced, root / "out" / "Big.qxm", nullptr);
        const long peak = StatusKib("VmHWM");
        code = outcome.Code;
        if (!reset || before < 0 || peak < 0) {
            state.SkipWithError("no peak resident size on this system");
            break;
        }
        growth = std::max(growth, peak - before);
    }
    state.counters["peak_growth_kib"] = static_cast<double>(growth);
    state.counters["announced_mib"] = announced / 1048576.0;
    state.counters["result"] = code;
    display.reset();
    host.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

void BM_GetTrueSize(benchmark::State& state) { MeasureGet(state, FileSize); }
// The unit sends what it has; the get then fails at the file's end, having
// written nothing in place.
void BM_GetAnnounced4GiB(benchmark::State& state) { MeasureGet(state, 0xFFFFFFFFu); }

BENCHMARK(BM_GetTrueSize)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GetAnnounced4GiB)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
