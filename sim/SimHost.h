#pragma once
// A HID host with one simulated display unit on its bus, so the whole
// transport and command set run against the unit without hardware.
//
// - The unit's interface path is SimUnitPath; it is listed only while the
//   unit is plugged, with product id 0x0801 (normal firmware) or 0x0800
//   (bootloader), 64-byte input and output reports and no feature report.
// - Every open handle gets its own copy of each input report, as hidraw
//   gives one to every reader, and keeps at most 64 unread ones; newer
//   reports are dropped when they are full, as the kernel does.
// - When the unit leaves the bus (unplugged, end of an update, restart in the
//   bootloader) every handle opened before fails for good: ReadReport returns
//   Failed and WriteReport false. The unit comes back after RebootMs when it
//   restarts; a handle must be opened anew then.
// - Link models: Instant (replies are queued while WriteReport runs) or
//   FullSpeed (USB full speed: one 64-byte report per millisecond each way; a
//   write waits for its slot on the link, and each input report becomes
//   readable 1 ms after the one before it).
// - A FaultPlan (FaultPlan.h) drops, delays, duplicates or corrupts reports,
//   answers status failures, mutes or unplugs the unit.
//
// Environment for the tools (SimOptions::FromEnvironment; TESSALY_TRACE sets EchoTrace):
//   TESSALY_SIM_FAULTS  fault plan, grammar in FaultPlan.h
//   TESSALY_SIM_LINK    "instant" (default) or "full-speed"
//   TESSALY_SIM_FLASH   file the unit's flash is written to when the program ends
//   TESSALY_SIM_CARD    folder of the unit's SD card (also what the unit's
//                       lock against other programs is named after); default
//                       $XDG_DATA_HOME/tessaly/sim-card (or ~/.local/share/...);
//                       on Windows %LOCALAPPDATA%\Tessaly\sim-card
//
// All public operations, the controls included, are thread-safe.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FaultPlan.h"
#include "HidHost.h"
#include "SimulatedUnit.h"

namespace sim {

constexpr const char* SimUnitPath = "sim:display";
// A HID interface of another vendor, listed when SimOptions::ForeignInterface is set.
constexpr const char* SimForeignPath = "sim:keyboard";
constexpr uint16_t SimForeignVendorId = 0x046D;
constexpr uint16_t SimForeignProductId = 0xC31C;

// Unread input reports a handle keeps, like the kernel's hidraw buffer.
constexpr size_t HandleReportLimit = 64;

enum class LinkModel { Instant, FullSpeed };

struct SimOptions {
    UnitSettings Unit;
    LinkModel Link = LinkModel::Instant;
    // Time off the bus when the unit restarts; default 0 (Instant), 500 ms (FullSpeed).
    std::optional<uint32_t> RebootMs;
    // Time one sector erase takes; default 0 (Instant), 30 ms (FullSpeed).
    std::optional<uint32_t> EraseMs;
    FaultPlan Faults;
    bool StartInBootloader = false;
    bool StartPlugged = true;
    bool ForeignInterface = false;
    // Ticks() starts at this value, so tests can watch the counter wrap.
    uint32_t TickOffset = 0;
    // Trace lines and message boxes also go to stderr.
    bool EchoTrace = false;
    // When set, the unit's flash is written to this file when the host ends,
    // so an update can be checked from outside the program.
    std::filesystem::path FlashOut;

    // Options from TESSALY_SIM_FAULTS, TESSALY_SIM_LINK and TESSALY_SIM_CARD;
    // none (and `error` set) when one of them cannot be used.
    static std::optional<SimOptions> FromEnvironment(std::string* error = nullptr);
    static std::filesystem::path DefaultCardFolder();
};

struct LinkCounts {
    uint64_t Out = 0; // output reports the unit was offered
    uint64_t In = 0;  // input reports the unit sent
};

class SimHost : public HidHost {
public:
    explicit SimHost(SimOptions options);
    ~SimHost() override;
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    HidInterfaceList ListInterfaces() override;
    bool ReadIds(const std::string& path, HidAttributes& out) override;
    std::unique_ptr<HidHandle> Open(const std::string& path) override;
    std::string LastErrorText() override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void Trace(const std::string& line) override;
    uint32_t Ticks() override;
    void Pause(uint32_t ms) override;
    // The simulated unit is its SD card: programs that simulate the unit on
    // the same card folder exclude each other as programs on one real unit do,
    // by a lock file inside the card folder (LockUnitFileInsideFolder).
    UnitLockAttempt LockUnit(const std::string& path, uint32_t waitMs) override;

    // Controls.
    void Plug();   // back on the bus in the mode it was in
    void Unplug(); // off the bus until Plug
    // Leaves the bus and comes back after RebootMs in `mode`.
    void Restart(UnitMode mode);
    void RestartInBootloader() { Restart(UnitMode::Bootloader); }
    bool IsPlugged();
    UnitMode Mode();
    void SetCardLocked(bool locked);
    bool CardLocked();
    // Replaces the plan; its report numbers count from now.
    void SetFaultPlan(const FaultPlan& plan);
    std::filesystem::path CardFolder();
    std::string ScreenText();
    std::vector<std::string> ScreenHistory();
    std::vector<ProgramRecord> ProgramLog();
    std::vector<EraseRecord> EraseLog();
    std::vector<uint8_t> ReadFlash(uint32_t address, uint32_t length);
    // Runs `action` on the unit under the host's lock (no I/O of the host inside).
    void WithUnit(const std::function<void(SimulatedUnit&)>& action);

    LinkCounts Counts();
    void ResetCounts();
    // Input reports lost because a handle held 64 unread ones.
    uint64_t OverflowDrops();
    int OpenHandles();
    std::vector<std::string> TraceLines();
    std::vector<std::string> Messages();

    struct State; // shared with the handles, which may outlive a call

private:
    std::shared_ptr<State> Shared;
};

} // namespace sim
