// The main window: start-up to a shown window, and one connection-monitor tick. A tick runs on
// the window's thread every second, so it must never stall the window: with a unit present and
// nothing to list it has to stay well under 10 ms.
#include <memory>

#include <QApplication>
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
    void ShowMessage(QWidget*, const QString&, const QString&) override {}
    void ShowError(QWidget*, const QString&) override {}
    QStringList OpenFiles(QWidget*, const OpenDialogRequest&) override { return {}; }
    QString SelectFolder(QWidget*, const QString&, const QString&) override { return {}; }
    int ExecDialog(QDialog&) override { return 0; }
};

struct Bench {
    explicit Bench(bool plugged)
    {
        sim::SimOptions options;
        options.Unit.CardFolder = Temp.filePath(QStringLiteral("card")).toStdString();
        options.StartPlugged = plugged;
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
