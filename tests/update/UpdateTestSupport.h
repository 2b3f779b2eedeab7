#pragma once
// Helpers of the update tests: image and package files, a front end that
// records what the procedure shows, and a simulated unit in its bootloader
// whose files are kept in a temporary folder.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FirmwareUpdate.h"
#include "Qxdisplay.h"
#include "SimHost.h"
#include "TempFolder.h"

namespace updatetest {

using testsupport::TempFolder;

// Bytes that differ from block to block and are never all 0xFF.
std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1);

// A firmware package: header, one entry per (type, size) with revision 1, the
// end entry, then the sections' data; `cut` bytes are left off the end.
std::vector<uint8_t> Package(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& sections, size_t cut = 0);

// Records every call; the hooks let a test act at a given moment.
class RecordingUi : public FirmwareUpdateUi {
public:
    void SetStatus(const std::string& text) override;
    void SetFile(const std::string& text) override;
    void ShowProgressPanel(bool visible) override { Panel.push_back(visible); }
    void SetBars(uint32_t position, uint32_t maximum) override { Bars.emplace_back(position, maximum); }
    void Pump() override;
    bool IsTerminating() override { return Terminate; }
    bool IsCancelled() override { return Cancel; }
    std::optional<std::string> ChooseImageFile() override;
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }

    int Calls() const;

    std::optional<std::string> Chosen;
    bool Terminate = false;
    bool Cancel = false;
    std::function<void(const std::string&)> OnStatus;
    std::function<void(const std::string&)> OnFile;
    std::function<void()> OnPump;

    std::vector<std::string> Statuses;
    std::vector<std::string> Files;
    std::vector<std::string> Messages;
    std::vector<std::pair<uint32_t, uint32_t>> Bars;
    std::vector<bool> Panel;
    int Pumps = 0;
    int Choices = 0;
};

// A simulated unit in its bootloader on an instant link, and the bootloader
// object as the window's monitor would hold it (enumerated, not yet open).
class BootRig {
public:
    explicit BootRig(const std::function<void(sim::SimOptions&)>& configure = {});
    ~BootRig();

    FirmwareUpdateResult Run(RecordingUi& ui);
    // True once the unit is listed in normal mode (waits up to 2 s).
    bool ListedInNormalMode();
    void SetFaults(const std::string& plan);
    void SetChip(uint32_t chipId, uint32_t addressUnit, uint32_t appStart);

    TempFolder Folder;
    std::unique_ptr<sim::SimHost> Host;
    std::unique_ptr<QXDisplay> Boot;
};

} // namespace updatetest
