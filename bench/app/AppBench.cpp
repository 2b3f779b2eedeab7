// The main window: start-up to a shown window, and one connection-monitor tick. A tick runs on
// the window's thread every second, so it must never stall the window: with a unit present and
// nothing to list it has to stay well under 10 ms.
//
// Get Selected Files through the simulated unit on a USB full-speed link (one 64-byte report per
// millisecond each way): 20 log files of 64 KiB. The link's limit is every report that crossed the
// link during the command at 1 ms each, one after the other (a block's request goes out, then its
// reply comes in, so nothing overlaps); the ratio printed is that limit over the measured time.
// Beside it, the longest time the window went without handling its events while the files came in.
// Send Files To Device the same way, with 5 map files of 64 KiB (and the list refresh after it).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include "CardSeed.h"
#include "PlatformServices.h"
#include "SettingsStore.h"
#include "SimHost.h"
#include "UnitDisplayMain.h"
#ifdef TESSALY_HAVE_HIDAPI
#include "HidapiHost.h"
#endif

namespace {

class QuietServices : public PlatformServices {
public:
    void ShowMessage(QWidget*, const QString& text, const QString&) override { Messages << text; }
    void ShowError(QWidget*, const QString& text) override { Messages << text; }
    QStringList OpenFiles(QWidget*, const OpenDialogRequest&) override { return Files; }
    QString SelectFolder(QWidget*, const QString&, const QString&) override { return Folder; }
    int ExecDialog(QDialog&) override { return 0; }

    QString Folder;    // answer of the folder dialog
    QStringList Files; // answer of the file dialog
    QStringList Messages;
};

struct Bench {
    explicit Bench(bool plugged, const std::function<void(sim::SimOptions&)>& adjust = {})
    {
        sim::SimOptions options;
        options.Unit.CardFolder = Temp.filePath(QStringLiteral("card")).toStdString();
        options.StartPlugged = plugged;
        if (adjust)
            adjust(options);
        std::string error;
        if (!SeedSimCard(options.Unit.CardFolder, error))
            std::abort();
        Sim = std::make_unique<sim::SimHost>(std::move(options));
        Environment.Host = Sim.get();
        Environment.Simulator = Sim.get();
        Environment.Settings = &Settings;
        Environment.Services = &Services;
        Environment.ExecutablePath = Temp.filePath(QStringLiteral("tessaly"));
    }
    std::unique_ptr<TFormMain> Window()
    {
        auto form = std::make_unique<TFormMain>(nullptr, Environment);
        form->Timer1->stop();
        return form;
    }

    QTemporaryDir Temp;
    std::unique_ptr<sim::SimHost> Sim;
    MemorySettingsStore Settings;
    QuietServices Services;
    AppEnvironment Environment;
};

// Construction (settings read, folders made), show and the first paint, then destruction
// (settings written).
void BM_StartUpToShownWindow(benchmark::State& state)
{
    Bench bench(false);
    for (auto _ : state) {
        std::unique_ptr<TFormMain> form = bench.Window();
        form->show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(form->isVisible());
        form.reset();
    }
}
BENCHMARK(BM_StartUpToShownWindow)->Unit(benchmark::kMillisecond);

// No unit: every tick makes both device objects, searches and drops them again.
void BM_TickNoUnit(benchmark::State& state)
{
    Bench bench(false);
    std::unique_ptr<TFormMain> form = bench.Window();
    for (auto _ : state)
        form->Timer1Timer();
}
BENCHMARK(BM_TickNoUnit)->Unit(benchmark::kMicrosecond);

// A unit present and already listed: the tick searches again and lists nothing.
void BM_TickUnitPresent(benchmark::State& state)
{
    Bench bench(true);
    std::unique_ptr<TFormMain> form = bench.Window();
    form->Timer1Timer();
    if (!form->Display || !form->Display->IsOpen())
        state.SkipWithError("the simulated unit was not opened");
    for (auto _ : state)
        form->Timer1Timer();
}
BENCHMARK(BM_TickUnitPresent)->Unit(benchmark::kMicrosecond);

// The tick that finds the unit: open (with its fixed 125 ms of settling pauses) and the listing
// of the sample card's six files.
void BM_TickUnitArrives(benchmark::State& state)
{
    Bench bench(true);
    std::unique_ptr<TFormMain> form = bench.Window();
    for (auto _ : state) {
        form->Timer1Timer();
        state.PauseTiming();
        bench.Sim->Unplug();
        form->Timer1Timer();
        bench.Sim->Plug();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TickUnitArrives)->Unit(benchmark::kMillisecond)->Iterations(5);

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The longest time between two passes of the window's event loop while it runs: a zero timer
// fires on every pass, so a gap between its firings is time the window could not react.
class EventGapMeter {
public:
    EventGapMeter()
    {
        Timer.setInterval(0);
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            const Clock::time_point now = Clock::now();
            if (Last)
                Longest = std::max(Longest, now - *Last);
            Last = now;
            ++Passes;
        });
    }
    void Start()
    {
        Last.reset();
        Longest = {};
        Passes = 0;
        Timer.start();
    }
    void Stop() { Timer.stop(); }

    QTimer Timer;
    std::optional<Clock::time_point> Last;
    Clock::duration Longest{};
    uint64_t Passes = 0;
};

constexpr int GetFileCount = 20;
constexpr int GetFileSize = 64 * 1024;

void BM_GetSelectedFilesFullSpeed(benchmark::State& state)
{
    Bench bench(true, [](sim::SimOptions& options) {
        options.Link = sim::LinkModel::FullSpeed;
        const QString logs = QString::fromStdString(options.Unit.CardFolder.string()) + QStringLiteral("/Logs");
        QDir().mkpath(logs);
        QByteArray bytes(GetFileSize, Qt::Uninitialized);
        for (int i = 0; i < GetFileSize; ++i)
            bytes[i] = static_cast<char>(i * 13 + i / 256);
        for (int i = 0; i < GetFileCount; ++i) {
            QFile file(logs + QStringLiteral("/BENCH%1.displog").arg(i, 2, 10, QLatin1Char('0')));
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                std::abort();
        }
    });
    const QString dest = bench.Temp.filePath(QStringLiteral("dest"));
    QDir().mkpath(dest);
    bench.Services.Folder = dest;
    std::unique_ptr<TFormMain> form = bench.Window();
    form->AutoExport = false; // the link, not the conversion, is measured here
    form->show();
    form->TabControl1->setCurrentIndex(1);
    form->Timer1Timer();
    int selected = 0;
    for (int i = 0; i < form->ListBoxFiles->count(); ++i) {
        QListWidgetItem* item = form->ListBoxFiles->item(i);
        const bool bench20 = item->text().startsWith(QStringLiteral("BENCH"));
        item->setSelected(bench20);
        selected += bench20 ? 1 : 0;
    }
    if (selected != GetFileCount) {
        state.SkipWithError("the benchmark's log files were not listed");
        return;
    }

    EventGapMeter gaps;
    double commandMs = 0, limitMs = 0, gapMs = 0;
    sim::LinkCounts counts;
    for (auto _ : state) {
        bench.Sim->ResetCounts();
        gaps.Start();
        const Clock::time_point start = Clock::now();
        form->ActionGetFilesExecute();
        const Clock::time_point end = Clock::now();
        gaps.Stop();
        counts = bench.Sim->Counts();
        commandMs = Ms(end - start);
        limitMs = static_cast<double>(counts.Out + counts.In);
        gapMs = Ms(gaps.Longest);
    }
    if (!bench.Services.Messages.isEmpty() ||
        QDir(dest).entryList(QDir::Files).size() != GetFileCount) {
        state.SkipWithError("not every file was got");
        return;
    }
    const double ratio = commandMs > 0 ? limitMs / commandMs : 0;
    state.counters["command_ms"] = commandMs;
    state.counters["link_limit_ms"] = limitMs;
    state.counters["ratio"] = ratio;
    state.counters["longest_event_gap_ms"] = gapMs;
    std::printf("Get Selected Files, %d x %d bytes: %.0f ms, link limit %.0f ms (%llu out + %llu in reports), "
                "ratio %.1f%%\n",
                GetFileCount, GetFileSize, commandMs, limitMs, static_cast<unsigned long long>(counts.Out),
                static_cast<unsigned long long>(counts.In), 100 * ratio);
    std::printf("longest gap between two passes of the window's event loop during the get: %.1f ms "
                "(%llu passes)\n",
                gapMs, static_cast<unsigned long long>(gaps.Passes));
}
BENCHMARK(BM_GetSelectedFilesFullSpeed)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

constexpr int SendFileCount = 5;

void BM_SendFilesFullSpeed(benchmark::State& state)
{
    Bench bench(true, [](sim::SimOptions& options) { options.Link = sim::LinkModel::FullSpeed; });
    const QString local = bench.Temp.filePath(QStringLiteral("local"));
    QDir().mkpath(local);
    QByteArray bytes(GetFileSize, Qt::Uninitialized);
    for (int i = 0; i < GetFileSize; ++i)
        bytes[i] = static_cast<char>(i * 7);
    for (int i = 0; i < SendFileCount; ++i) {
        const QString path = local + QStringLiteral("/send%1.qxm").arg(i);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            std::abort();
        bench.Services.Files << path;
    }
    std::unique_ptr<TFormMain> form = bench.Window();
    form->show();
    form->Timer1Timer();

    EventGapMeter gaps;
    double commandMs = 0, limitMs = 0, gapMs = 0;
    for (auto _ : state) {
        bench.Sim->ResetCounts();
        gaps.Start();
        const Clock::time_point start = Clock::now();
        form->ActionSendFilesExecute();
        const Clock::time_point end = Clock::now();
        gaps.Stop();
        const sim::LinkCounts counts = bench.Sim->Counts();
        commandMs = Ms(end - start);
        limitMs = static_cast<double>(counts.Out + counts.In);
        gapMs = Ms(gaps.Longest);
    }
    if (!bench.Services.Messages.isEmpty()) {
        state.SkipWithError("not every file was sent");
        return;
    }
    state.counters["command_ms"] = commandMs;
    state.counters["link_limit_ms"] = limitMs;
    state.counters["ratio"] = commandMs > 0 ? limitMs / commandMs : 0;
    state.counters["longest_event_gap_ms"] = gapMs;
    std::printf("Send Files To Device, %d x %d bytes and the list refresh: %.0f ms, link limit %.0f ms, ratio %.1f%%\n",
                SendFileCount, GetFileSize, commandMs, limitMs, commandMs > 0 ? 100 * limitMs / commandMs : 0);
    std::printf("longest gap between two passes of the window's event loop during the send: %.1f ms\n", gapMs);
}
BENCHMARK(BM_SendFilesFullSpeed)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef TESSALY_HAVE_HIDAPI
// No unit on this machine's real bus: the tick's two searches through hidapi.
void BM_TickNoUnitHidapi(benchmark::State& state)
{
    Bench bench(false);
    HidapiHost host;
    bench.Environment.Host = &host;
    bench.Environment.Simulator = nullptr;
    std::unique_ptr<TFormMain> form = bench.Window();
    for (auto _ : state)
        form->Timer1Timer();
}
BENCHMARK(BM_TickNoUnitHidapi)->Unit(benchmark::kMicrosecond);
#endif

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
