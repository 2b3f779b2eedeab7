// The log viewer on a log of an hour, 24 channels in 50 Hz logging cycles: the generator's
// realistic channels (5 to 50 Hz, about 19 MB), and the same with every channel in every cycle
// (about 36 MB), on which the pictures are timed. Goals:
// open and first picture under 0.5 s; a picture after a zoom or a pan, all 24 channels at
// 1600 x 900, under 16 ms; the XY view of 180,000 instants under 50 ms; the memory the open
// log takes (reader and index) under twice the file's size.
// A log of many channels (100k and 1M, two samples each) in the viewer window: open, list and
// first picture of the window under 1 s and under 5 s, the peak memory at most twice the file
// plus a constant; the hour log through the same window under 0.5 s. The statistics of the whole
// hour under 50 ms.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>
#ifdef __linux__
#include <malloc.h>
#include <unistd.h>
#endif

#include <QApplication>

#include <benchmark/benchmark.h>

#include "LogGenerator.h"
#include "LogPlotData.h"
#include "LogPlotWidget.h"
#include "LogStats.h"
#include "LogViewerWindow.h"
#include "LogXYPoints.h"
#include "LogXYWidget.h"
#include "ChannelGroups.h"

namespace {

constexpr int PictureWidth = 1600;
constexpr int PictureHeight = 900;

// The log is written once per run and removed at the end.
class HourLog {
public:
    explicit HourLog(bool everyCycle)
    {
        Path = (std::filesystem::temp_directory_path() /
                ("tessaly-viewer-bench-" + std::to_string(std::random_device{}()) + (everyCycle ? "-full" : "") + ".displog"))
                   .string();
        LogSpec spec;
        spec.Format = 2;
        spec.Channels = RealisticChannels(2, 24);
        if (everyCycle) {
            for (LogChannelSpec& channel : spec.Channels)
                channel.RateHz = 50;
        }
        spec.CycleHz = 50;
        spec.DurationSeconds = 3600;
        if (!WriteDispLog(Path, spec))
            std::fprintf(stderr, "cannot write %s\n", Path.c_str());
        Size = std::filesystem::file_size(Path);
    }
    ~HourLog() { std::filesystem::remove(Path); }
    HourLog(const HourLog&) = delete;
    HourLog& operator=(const HourLog&) = delete;

    std::string Path;
    uintmax_t Size = 0;
};

// 0: the realistic rates; 1: every channel in every cycle.
HourLog& TheLog(int kind = 1)
{
    static HourLog realistic(false);
    static HourLog full(true);
    return kind == 0 ? realistic : full;
}

// Resident memory of the process in bytes (0 where the system does not tell). Memory freed
// before is first given back, so that the growth counts only what the open log holds.
double ResidentBytes(bool trim)
{
#ifdef __linux__
    if (trim)
        malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    double size = 0;
    double resident = 0;
    statm >> size >> resident;
    return resident * static_cast<double>(::sysconf(_SC_PAGESIZE));
#else
    (void)trim;
    return 0;
#endif
}

void ShowAll(LogPlotWidget& plot, const LogPlotData& data)
{
    std::vector<size_t> all(data.ChannelCount());
    std::iota(all.begin(), all.end(), size_t{0});
    plot.SetShownChannels(all);
}

// Open and first picture: the reader, the index and the first plot image of the whole log.
void BM_OpenAndFirstPicture(benchmark::State& state)
{
    HourLog& log = TheLog(static_cast<int>(state.range(0)));
    double growth = 0;
    double index = 0;
    for (auto _ : state) {
        const double before = ResidentBytes(true);
        auto data = std::make_unique<LogPlotData>();
        if (data->Open(log.Path) != 0) {
            state.SkipWithError("cannot open the log");
            return;
        }
        LogPlotWidget plot;
        plot.resize(PictureWidth, PictureHeight);
        plot.SetData(data.get());
        ShowAll(plot, *data);
        benchmark::DoNotOptimize(plot.RenderLayer().constBits());
        growth = std::max(growth, ResidentBytes(false) - before);
        index = static_cast<double>(data->IndexBytes());
        plot.SetData(nullptr);
    }
    state.counters["file_MB"] = static_cast<double>(log.Size) / 1e6;
    state.counters["memory_MB"] = growth / 1e6;
    state.counters["memory_per_file_byte"] = growth / static_cast<double>(log.Size);
    state.counters["index_MB"] = index / 1e6;
}
BENCHMARK(BM_OpenAndFirstPicture)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// One picture after a change of view; argument 0: zooming in and out by the wheel's step around
// the middle of a 10-minute view; 1: panning a 10-minute view by a tenth; 2: panning the
// 10-second view; 3: the whole log again (every sample under the columns).
void BM_RedrawAfterViewChange(benchmark::State& state)
{
    static LogPlotData data;
    static bool opened = data.Open(TheLog().Path) == 0;
    if (!opened) {
        state.SkipWithError("cannot open the log");
        return;
    }
    LogPlotWidget plot;
    plot.resize(PictureWidth, PictureHeight);
    plot.SetData(&data);
    ShowAll(plot, data);
    const int kind = static_cast<int>(state.range(0));
    const double span = kind == 2 ? 10.0 : 600.0;
    plot.SetView(1500.0, 1500.0 + span);
    int step = 0;
    for (auto _ : state) {
        ++step;
        switch (kind) {
        case 0: plot.ZoomAt(1800.0, step % 2 == 0 ? 0.8 : 1.25); break;
        case 1:
        case 2: plot.PanBy((step % 20 < 10 ? 0.1 : -0.1) * span); break;
        default: plot.SetView(step % 2 == 0 ? 0.0 : 1.0, 3600.0); break;
        }
        benchmark::DoNotOptimize(plot.RenderLayer().constBits());
    }
    state.SetLabel(kind == 0 ? "zoom, 10 min" : kind == 1 ? "pan, 10 min" : kind == 2 ? "pan, 10 s" : "whole hour");
}
BENCHMARK(BM_RedrawAfterViewChange)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// The decimation alone, for scale: 24 channels into 1600 columns over a 10-minute view (0) or
// the whole hour (1).
void BM_DecimateAllChannels(benchmark::State& state)
{
    static LogPlotData data;
    static bool opened = data.Open(TheLog().Path) == 0;
    if (!opened) {
        state.SkipWithError("cannot open the log");
        return;
    }
    const double span = state.range(0) == 0 ? 600.0 : 3600.0;
    PlotColumns columns;
    for (auto _ : state) {
        for (size_t c = 0; c < data.ChannelCount(); ++c) {
            data.Decimate(c, 0.0, span, PictureWidth, columns);
            benchmark::DoNotOptimize(columns.Columns.data());
        }
    }
}
BENCHMARK(BM_DecimateAllChannels)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The Statistics of the whole hour, all 24 channels (goal: under 50 ms): count, least, greatest
// and mean (0), and that and the time above a threshold (1), as the viewer's Statistics computes
// them.
void BM_StatisticsWholeLog(benchmark::State& state)
{
    static LogPlotData data;
    static bool opened = data.Open(TheLog().Path) == 0;
    if (!opened) {
        state.SkipWithError("cannot open the log");
        return;
    }
    const DispLogFile& log = data.Log();
    const StatsRange range{0.0, data.Duration()};
    for (auto _ : state) {
        std::vector<ChannelStats> stats = LogChannelStats(log, range);
        benchmark::DoNotOptimize(stats.data());
        if (state.range(0) == 1) {
            double above = 0;
            for (uint32_t c = 0; c < log.GetChannelCount(); ++c)
                above += TimeAbove(log, c, range, stats[c].Mean);
            benchmark::DoNotOptimize(above);
        }
    }
}
BENCHMARK(BM_StatisticsWholeLog)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Moving the cursor repaints the readout over the kept picture: no plot image is rebuilt.
void BM_CursorMove(benchmark::State& state)
{
    static LogPlotData data;
    static bool opened = data.Open(TheLog().Path) == 0;
    if (!opened) {
        state.SkipWithError("cannot open the log");
        return;
    }
    LogPlotWidget plot;
    plot.resize(PictureWidth, PictureHeight);
    plot.SetData(&data);
    ShowAll(plot, data);
    QImage screen(PictureWidth, PictureHeight, QImage::Format_RGB32);
    plot.render(&screen);
    const int builds = plot.LayerBuilds();
    double t = 100.0;
    for (auto _ : state) {
        t = t < 3500.0 ? t + 1.7 : 100.0;
        plot.SetCursorTime(t);
        plot.render(&screen);
    }
    if (plot.LayerBuilds() != builds)
        state.SkipWithError("moving the cursor rebuilt the plot image");
}
BENCHMARK(BM_CursorMove)->Unit(benchmark::kMillisecond);

// The XY view of the hour, lambda against RPM coloured by throttle, at the CSV's rows every
// 0.02 s: 180,000 instants collected and drawn at 1600 x 900. Goal: under 50 ms.
void BM_XYView(benchmark::State& state)
{
    static LogPlotData data;
    static bool opened = data.Open(TheLog().Path) == 0;
    if (!opened) {
        state.SkipWithError("cannot open the log");
        return;
    }
    auto first = [](ChannelGroup group) {
        for (size_t c = 0; c < data.ChannelCount(); ++c) {
            if (ChannelGroupOf(data.ChannelName(c)) == group)
                return static_cast<uint32_t>(c);
        }
        return uint32_t{0};
    };
    XYRequest request;
    request.X = first(ChannelGroup::EngineSpeed);
    request.Y = first(ChannelGroup::Mixture);
    request.HasColour = true;
    request.Colour = first(ChannelGroup::ThrottleLoad);
    request.Interval = 0.02f;
    LogXYWidget view;
    view.resize(PictureWidth, PictureHeight);
    size_t points = 0;
    for (auto _ : state) {
        XYPoints collected;
        if (!CollectXYPoints(data.Log(), request, collected).empty()) {
            state.SkipWithError("the XY points were refused");
            return;
        }
        points = collected.Count();
        view.SetPoints(std::move(collected), {QStringLiteral("RPM"), 0}, {QStringLiteral("Lambda"), 3},
                       {QStringLiteral("TPS"), 0}, QString());
        benchmark::DoNotOptimize(view.RenderLayer().constBits());
    }
    state.counters["points"] = static_cast<double>(points);
}
BENCHMARK(BM_XYView)->Unit(benchmark::kMillisecond);

// A log of `channels` channels, each logged in both of its two cycles.
class ManyChannelLog {
public:
    explicit ManyChannelLog(size_t channels)
    {
        Path = (std::filesystem::temp_directory_path() / ("tessaly-viewer-bench-" + std::to_string(std::random_device{}()) +
                                                          "-" + std::to_string(channels) + ".displog"))
                   .string();
        LogSpec spec;
        spec.Format = 2;
        spec.CycleHz = 1;
        spec.CycleJitter = 0;
        spec.DurationSeconds = 1;
        spec.Channels.resize(channels);
        for (size_t c = 0; c < channels; ++c) {
            spec.Channels[c].Id = 0x01000000u + static_cast<uint32_t>(c);
            spec.Channels[c].RateHz = 1;
        }
        if (!WriteDispLog(Path, spec))
            std::fprintf(stderr, "cannot write %s\n", Path.c_str());
        Size = std::filesystem::file_size(Path);
    }
    ~ManyChannelLog() { std::filesystem::remove(Path); }
    ManyChannelLog(const ManyChannelLog&) = delete;
    ManyChannelLog& operator=(const ManyChannelLog&) = delete;

    std::string Path;
    uintmax_t Size = 0;
};

// Peak resident memory of the process (VmHWM) in bytes after resetting it to the present
// resident size; 0 where the system does not tell.
double PeakBytes(bool reset)
{
#ifdef __linux__
    if (reset) {
        malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
    }
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) * 1024.0;
    }
#else
    (void)reset;
#endif
    return 0;
}

// The window as the user meets it: the log opened, the channel list and the plots drawn into a
// picture. Argument: the channel count, 0 for the hour log of 24 channels.
void BM_WindowOpenAndDraw(benchmark::State& state)
{
    const auto channels = static_cast<size_t>(state.range(0));
    std::unique_ptr<ManyChannelLog> many;
    std::string path = channels == 0 ? TheLog(0).Path : std::string();
    uintmax_t size = channels == 0 ? TheLog(0).Size : 0;
    if (channels != 0) {
        many = std::make_unique<ManyChannelLog>(channels);
        path = many->Path;
        size = many->Size;
    }
    ConsoleServices services;
    // The reader alone, for comparison: the part of the peak that is not the viewer's.
    double readerPeak = 0;
    {
        const double start = ResidentBytes(true);
        PeakBytes(true);
        DispLogFile reader;
        if (reader.Open(path) == 0)
            readerPeak = PeakBytes(false) - start;
    }
    double peak = 0;
    double before = 0;
    double data = 0;
    for (auto _ : state) {
        before = ResidentBytes(true);
        PeakBytes(true);
        auto opened = std::make_unique<LogPlotData>();
        if (opened->Open(path) != 0) {
            state.SkipWithError("cannot open the log");
            return;
        }
        LogViewerWindow window(nullptr, std::move(opened), QString::fromStdString(path), services, ViewerOptions{});
        window.resize(1100, 680);
        benchmark::DoNotOptimize(window.grab().toImage().constBits());
        peak = std::max(peak, PeakBytes(false) - before);
        data = static_cast<double>(window.Data().IndexBytes());
    }
    state.counters["reader_peak_MB"] = readerPeak / 1e6;
    state.counters["names_index_MB"] = data / 1e6;
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
    state.counters["peak_growth_MB"] = peak / 1e6;
    state.counters["peak_per_file_byte"] = peak / static_cast<double>(size);
}
BENCHMARK(BM_WindowOpenAndDraw)->Arg(0)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_WindowOpenAndDraw)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// "Show All" on a log of many channels, for scale: every channel is indexed and drawn, so this
// grows with the channel count (the window starts with the first channels only).
void BM_ShowAllManyChannels(benchmark::State& state)
{
    const ManyChannelLog log(static_cast<size_t>(state.range(0)));
    ConsoleServices services;
    for (auto _ : state) {
        state.PauseTiming();
        auto data = std::make_unique<LogPlotData>();
        if (data->Open(log.Path) != 0) {
            state.SkipWithError("cannot open the log");
            return;
        }
        LogViewerWindow window(nullptr, std::move(data), QString::fromStdString(log.Path), services, ViewerOptions{});
        window.resize(1100, 680);
        benchmark::DoNotOptimize(window.grab().toImage().constBits());
        state.ResumeTiming();
        window.CheckVisible(true);
        benchmark::DoNotOptimize(window.grab().toImage().constBits());
    }
}
BENCHMARK(BM_ShowAllManyChannels)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// A keystroke in the filter box on a log of many channels: every name is searched, the list is
// narrowed to one channel's name and widened again.
void BM_FilterManyChannels(benchmark::State& state)
{
    const ManyChannelLog log(static_cast<size_t>(state.range(0)));
    ConsoleServices services;
    auto data = std::make_unique<LogPlotData>();
    if (data->Open(log.Path) != 0) {
        state.SkipWithError("cannot open the log");
        return;
    }
    LogViewerWindow window(nullptr, std::move(data), QString::fromStdString(log.Path), services, ViewerOptions{});
    window.resize(1100, 680);
    const QString text = QString::fromStdString(window.Data().ChannelName(window.Data().ChannelCount() / 2));
    for (auto _ : state) {
        window.SetFilter(text);
        benchmark::DoNotOptimize(window.grab().toImage().constBits());
        window.SetFilter(QString());
        benchmark::DoNotOptimize(window.grab().toImage().constBits());
    }
    state.SetLabel("filter \"" + text.toStdString() + "\" and back");
}
BENCHMARK(BM_FilterManyChannels)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    TheLog(0);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
