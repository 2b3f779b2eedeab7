// A 448 KiB firmware update through the simulated unit on a USB full-speed
// link (one 64-byte report per millisecond each way).
//
// Link limit of the programming phase (and, counted the same way, of the
// verification that reads the image back): every output and input report that
// crosses the link from "Sending file to device..." to the last block's
// progress text, at 1 ms each, one after the other (each block is a request
// followed by its status, then the screen text and its status, so nothing
// overlaps). The ratio printed is that limit over the measured time.
//
// Responsiveness: the longest time between two Pump() calls over the whole
// run, beside the simulated unit's time for one sector erase and the longest
// single erase and program step the link allows.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "FirmwareUpdate.h"
#include "Qxdisplay.h"
#include "SimHost.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t ImageSize = 448 * 1024;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

class BenchUi : public FirmwareUpdateUi {
public:
    BenchUi(sim::SimHost& host, std::string path, std::vector<uint8_t> image)
        : Host(host), Path(std::move(path)), Image(std::move(image))
    {
    }

    void SetStatus(const std::string& text) override
    {
        if (text.rfind("Erasing ", 0) == 0)
            Phase = 1;
        if (text == "Sending file to device...") {
            Phase = 2;
            Host.ResetCounts();
            ProgramStart = Clock::now();
            Programming = true;
        }
        if (text == "Verifying the programmed image...") {
            Host.ResetCounts();
            VerifyStart = Clock::now();
            Verifying = true;
        }
    }
    void SetFile(const std::string&) override {}
    void ShowProgressPanel(bool) override {}
    void SetBars(uint32_t position, uint32_t maximum) override
    {
        if (Programming && position == maximum) {
            ProgramEnd = Clock::now();
            ProgramCounts = Host.Counts();
            Programming = false;
        }
        if (Verifying && position == maximum && maximum != 0) {
            VerifyEnd = Clock::now();
            VerifyCounts = Host.Counts();
            Verifying = false;
        }
    }
    void Pump() override
    {
        const Clock::time_point now = Clock::now();
        if (LastPump) {
            LongestGap = std::max(LongestGap, now - *LastPump);
            PhaseGap[Phase] = std::max(PhaseGap[Phase], now - *LastPump);
        }
        LastPump = now;
    }
    bool IsTerminating() override { return false; }
    std::optional<std::string> ChooseImageFile() override { return Path; }
    bool LoadImage(const std::string&, std::vector<uint8_t>& image, uint8_t& flags) override
    {
        image = Image;
        flags = 0x00;
        return true;
    }
    void ShowMessage(const std::string& text) override { Message = text; }

    sim::SimHost& Host;
    std::string Path;
    std::vector<uint8_t> Image;
    bool Programming = false;
    Clock::time_point ProgramStart{};
    Clock::time_point ProgramEnd{};
    sim::LinkCounts ProgramCounts;
    bool Verifying = false;
    Clock::time_point VerifyStart{};
    Clock::time_point VerifyEnd{};
    sim::LinkCounts VerifyCounts;
    std::optional<Clock::time_point> LastPump;
    Clock::duration LongestGap{};
    // Longest gap ending in each phase: 0 until erasing (query, image), 1 erasing, 2 programming.
    int Phase = 0;
    Clock::duration PhaseGap[3] = {};
    std::string Message;
};

// Waits until the unit is listed in its bootloader; restarts it there first if needed.
bool BootloaderReady(sim::SimHost& host, QXDisplay& boot)
{
    if (host.Mode() != sim::UnitMode::Bootloader || !host.IsPlugged())
        host.RestartInBootloader();
    const Clock::time_point until = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < until) {
        boot.FindBootDevices();
        if (boot.DeviceCount() != 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void BM_FirmwareUpdateFullSpeed(benchmark::State& state)
{
    const std::filesystem::path card =
        std::filesystem::temp_directory_path() / ("tessaly-update-bench-" + std::to_string(std::random_device{}()));
    sim::SimOptions options;
    options.Link = sim::LinkModel::FullSpeed;
    options.StartInBootloader = true;
    options.RebootMs = 0; // the unit's restart is not part of the update
    options.Unit.CardFolder = card;
    const uint32_t eraseMs = 30; // the simulated unit's full-speed default, stated so it can be printed
    options.EraseMs = eraseMs;
    sim::SimHost host(options);

    std::vector<uint8_t> image(ImageSize);
    std::mt19937 random(7);
    for (uint8_t& b : image)
        b = static_cast<uint8_t>(random() % 0xFF);
    // The procedure wants the chosen file to exist; the image itself comes from memory.
    const std::filesystem::path imagePath = card / "firmware.bin";
    std::filesystem::create_directories(card);
    std::FILE* file = std::fopen(imagePath.c_str(), "wb");
    if (file)
        std::fclose(file);

    double programMs = 0, limitMs = 0, gapMs = 0, verifyMs = 0, verifyLimitMs = 0;
    double phaseGapMs[3] = {};
    sim::LinkCounts counts;
    sim::LinkCounts verifyCounts;
    for (auto _ : state) {
        state.PauseTiming();
        QXDisplay boot(host);
        if (!BootloaderReady(host, boot)) {
            state.SkipWithError("the unit did not come back in its bootloader");
            break;
        }
        BenchUi ui(host, imagePath.string(), image);
        host.WithUnit([](sim::SimulatedUnit& unit) { unit.ClearLogs(); });
        state.ResumeTiming();
        const FirmwareUpdateResult result = RunFirmwareUpdate(&boot, host, ui);
        state.PauseTiming();
        if (!result.Succeeded()) {
            state.SkipWithError(("update failed: " + ResultCodeName(result.Code)).c_str());
            break;
        }
        programMs = Ms(ui.ProgramEnd - ui.ProgramStart);
        counts = ui.ProgramCounts;
        limitMs = static_cast<double>(counts.Out + counts.In);
        verifyMs = Ms(ui.VerifyEnd - ui.VerifyStart);
        verifyCounts = ui.VerifyCounts;
        verifyLimitMs = static_cast<double>(verifyCounts.Out + verifyCounts.In);
        gapMs = std::max(gapMs, Ms(ui.LongestGap));
        for (int phase = 0; phase < 3; ++phase)
            phaseGapMs[phase] = std::max(phaseGapMs[phase], Ms(ui.PhaseGap[phase]));
        state.ResumeTiming();
    }
    std::error_code ec;
    std::filesystem::remove_all(card, ec);

    // One block's request: the 8-byte header and 3082-byte payload, 55 stream
    // bytes in the first report and 59 in each further one; then its status.
    const uint32_t blockStepMs = 1 + (8 + ProgramBlockSize + 10 - 55 + 58) / 59 + 1;
    state.counters["program_ms"] = programMs;
    state.counters["link_limit_ms"] = limitMs;
    state.counters["ratio"] = programMs > 0 ? limitMs / programMs : 0;
    state.counters["verify_ms"] = verifyMs;
    state.counters["verify_link_limit_ms"] = verifyLimitMs;
    state.counters["verify_ratio"] = verifyMs > 0 ? verifyLimitMs / verifyMs : 0;
    state.counters["longest_pump_gap_ms"] = gapMs;
    state.counters["erase_ms"] = eraseMs;
    std::printf("program phase %.0f ms, link limit %.0f ms (%llu out + %llu in reports), ratio %.1f%%\n", programMs,
                limitMs, static_cast<unsigned long long>(counts.Out), static_cast<unsigned long long>(counts.In),
                programMs > 0 ? 100 * limitMs / programMs : 0);
    std::printf("verify phase %.0f ms, link limit %.0f ms (%llu out + %llu in reports), ratio %.1f%%\n", verifyMs,
                verifyLimitMs, static_cast<unsigned long long>(verifyCounts.Out),
                static_cast<unsigned long long>(verifyCounts.In), verifyMs > 0 ? 100 * verifyLimitMs / verifyMs : 0);
    std::printf("longest gap between pumps %.1f ms (up to the end of erasing %.1f, programming %.1f); "
                "unit's erase time %u ms; one block's exchange needs %u ms of link\n",
                gapMs, std::max(phaseGapMs[0], phaseGapMs[1]), phaseGapMs[2], eraseMs, blockStepMs);
}

BENCHMARK(BM_FirmwareUpdateFullSpeed)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
