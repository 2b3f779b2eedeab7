// File transfers of 256 KiB through the simulated unit at USB full speed.
//
// link_ratio: the time the transfer's own reports need on the link (output +
// input reports of its blocks, 1 ms each) divided by the wall time of the
// transfer; 1.0 is the link's limit. The requests that show that no reply was
// left over (one report each way, at the end and every CheckEveryBlocks blocks
// of a get) count as overhead, not as link time. check_ms: the wall time of that request alone. cpu_share: process CPU time over wall time, as a
// fraction of one core. The figure includes the in-process simulator, so the
// tool alone spends less.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>
#include <vector>

#include "Qxdisplay.h"
#include "SimHost.h"

namespace {

constexpr uint32_t TransferSize = 256 * 1024;
constexpr double ReportMs = 1.0; // one 64-byte report per millisecond each way
constexpr double CheckReports = 2; // the in-step check at a transfer's end: one report out, one in
constexpr const char* Logs = "A:\\Logs";

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// One simulated unit at full speed with an open display, for all benchmarks.
struct Rig {
    Rig()
        : Card(std::filesystem::temp_directory_path() / ("tessaly-bench-card-" + std::to_string(::getpid()))),
          Data(TransferSize)
    {
        for (size_t i = 0; i < Data.size(); ++i)
            Data[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
        std::filesystem::create_directories(Card / "Logs");
        std::ofstream(Card / "Logs" / "read.displog", std::ios::binary)
            .write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
        sim::SimOptions options;
        options.Link = sim::LinkModel::FullSpeed;
        options.Unit.CardFolder = Card;
        Host = std::make_unique<sim::SimHost>(options);
        Display = std::make_unique<QXDisplay>(*Host);
        Display->FindDevices();
        Opened = Display->DeviceCount() == 1 && Display->OpenByIndex(0, 0) == 0;
    }
    ~Rig()
    {
        Display.reset();
        Host.reset();
        std::error_code ec;
        std::filesystem::remove_all(Card, ec);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    std::filesystem::path Card;
    std::vector<uint8_t> Data;
    std::unique_ptr<sim::SimHost> Host;
    std::unique_ptr<QXDisplay> Display;
    bool Opened = false;
};

Rig& TheRig()
{
    static Rig rig;
    return rig;
}

template <typename Transfer>
void MeasureTransfer(benchmark::State& state, Transfer transfer, double checks = 1)
{
    Rig& rig = TheRig();
    if (!rig.Opened) {
        state.SkipWithError("the simulated unit could not be opened");
        return;
    }
    double wall = 0, cpu = 0, reports = 0;
    for (auto _ : state) {
        rig.Host->ResetCounts();
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const uint32_t result = transfer(rig);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        if (result != 0) {
            state.SkipWithError(("transfer failed: " + ResultCodeName(result)).c_str());
            return;
        }
        cpu += ProcessCpuSeconds() - cpuStart;
        wall += elapsed.count();
        const sim::LinkCounts counts = rig.Host->Counts();
        reports += static_cast<double>(counts.Out + counts.In) - checks * CheckReports;
    }
    state.counters["link_ratio"] = reports * ReportMs / 1000.0 / wall;
    state.counters["cpu_share"] = cpu / wall;
    state.counters["reports"] = benchmark::Counter(reports, benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TransferSize);
}

void BM_GetFile(benchmark::State& state)
{
    std::vector<uint8_t> buffer(TransferSize);
    constexpr uint32_t blocks = TransferSize / FileBlockSize;
    MeasureTransfer(
        state, [&](Rig& rig) { return rig.Display->GetFile(Logs, "read.displog", TransferSize, buffer.data(), nullptr); },
        1 + (blocks - 1) / CheckEveryBlocks);
}

void BM_PutFile(benchmark::State& state)
{
    MeasureTransfer(state, [](Rig& rig) {
        return rig.Display->PutFile(Logs, "write.displog", TransferSize, rig.Data.data(), nullptr);
    });
}

// The request that brings the link in step, or shows that it is: one round trip.
void BM_InStepCheck(benchmark::State& state)
{
    Rig& rig = TheRig();
    if (!rig.Opened) {
        state.SkipWithError("the simulated unit could not be opened");
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        DISPLAY_INFO info;
        if (rig.Display->GetDeviceInfo(info) != 0) {
            state.SkipWithError("no reply");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

// Each run moves 256 KiB in about 5 s of link time, so a few iterations are enough.
BENCHMARK(BM_GetFile)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_PutFile)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_InStepCheck)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);

} // namespace

BENCHMARK_MAIN();
