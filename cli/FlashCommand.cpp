#include "FlashCommand.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "FirmwareImage.h"
#include "FirmwareUpdate.h"
#include "PathText.h"
#include "Qxdisplay.h"
#include "StopRequest.h"
#include "TerminalProgress.h"
#include "UnitFiles.h"

namespace {

// Status lines on standard output, both bars as one progress bar on the terminal.
class TerminalUpdateUi : public FirmwareUpdateUi {
public:
    explicit TerminalUpdateUi(std::string imagePath) : ImagePath(std::move(imagePath)) {}

    void SetStatus(const std::string& text) override
    {
        EndBar();
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        Phase = text;
    }
    void SetFile(const std::string& text) override { LastFile = text; }
    void ShowProgressPanel(bool visible) override
    {
        if (!visible)
            EndBar();
    }
    void SetBars(uint32_t position, uint32_t maximum) override
    {
        // Bars are reset before the status line of their phase: draw from the first step on.
        if (position == 0)
            return;
        if (!Bar || maximum != BarMaximum) {
            EndBar();
            Bar.emplace(Phase);
            BarMaximum = maximum;
        }
        Bar->Update(position, maximum);
    }
    void Pump() override {}
    bool IsTerminating() override { return CommandStopScope::Requested(); }
    std::optional<std::string> ChooseImageFile() override
    {
        std::error_code ec;
        if (!std::filesystem::exists(PathFromUtf8(ImagePath), ec))
            std::fprintf(stderr, "tessaly-cli: %s: no such file\n", ImagePath.c_str());
        return ImagePath;
    }
    void ImageNotLoaded(const std::string& path, uint32_t code) override
    {
        EndBar();
        std::fprintf(stderr, "tessaly-cli: %s: %s (%s)\n", path.c_str(),
                     FirmwareImageProblem(PathFromUtf8(path), code).c_str(), ResultCodeName(code).c_str());
    }
    void ShowMessage(const std::string& text) override
    {
        EndBar();
        // The end of a good update is already the last status line.
        if (text == Phase)
            return;
        // "CODE\n\nwhat it means", as a box shows it: the meaning first on a terminal.
        if (const size_t gap = text.find("\n\n"); gap != std::string::npos && text.rfind("ERR_", 0) == 0) {
            std::fprintf(stderr, "tessaly-cli: %s (%s)\n", text.substr(gap + 2).c_str(), text.substr(0, gap).c_str());
            return;
        }
        std::fprintf(stderr, "tessaly-cli: %s\n", text.c_str());
    }

    const std::string& LastFileText() const { return LastFile; }

private:
    void EndBar()
    {
        if (Bar) {
            Bar->Finish();
            Bar.reset();
        }
    }

    std::string ImagePath;
    std::string Phase;
    std::string LastFile;
    std::optional<TerminalProgress> Bar;
    uint32_t BarMaximum = 0;
};

int Fail(const char* what, uint32_t code)
{
    std::fprintf(stderr, "tessaly-cli: %s: %s\n", what, UnitFailureReason(code).c_str());
    return 1;
}

} // namespace

int RunFlashCommand(HidHost& host, const std::vector<std::string>& args)
{
    FirmwareUpdateOptions options;
    std::vector<std::string> images;
    for (const std::string& arg : args) {
        if (arg == "--no-verify")
            options.Verify = false;
        else
            images.push_back(arg);
    }
    if (images.size() != 1) {
        std::fputs("usage: tessaly-cli [--simulate[=CARD_FOLDER]] flash IMAGE [--no-verify]\n", stderr);
        return 2;
    }
    QXDisplay bootloader(host);
    bootloader.FindBootDevices();
    TerminalUpdateUi ui(images[0]);
    FirmwareUpdateResult result;
    {
        // Ctrl+C and SIGTERM stop the update between blocks, never in the middle of one: a
        // second signal does not end the process either.
        const CommandStopScope stops(false);
        result = RunFirmwareUpdate(bootloader.DeviceCount() != 0 ? &bootloader : nullptr, host, ui, options);
    }
    if (!ui.LastFileText().empty() && result.End != UpdateEnd::Failed)
        std::printf("%s\n", ui.LastFileText().c_str());
    switch (result.End) {
    case UpdateEnd::Finished:
        if (result.Code != 0)
            return Fail("cannot send the end of the update", result.Code);
        std::printf("The display restarts in its new firmware.\n");
        return 0;
    case UpdateEnd::Cancelled:
    case UpdateEnd::Interrupted:
        std::fputs("tessaly-cli: interrupted; the display stays in its bootloader\n", stderr);
        return CommandStopScope::ExitCode();
    case UpdateEnd::QueryFailed:
        return Fail("cannot read the bootloader's information", result.Code);
    case UpdateEnd::AlreadyRunning:
        return Fail("an update is already running", result.Code);
    case UpdateEnd::NoBootloader:
        bootloader.FindDevices();
        if (bootloader.DeviceCount() != 0)
            std::fputs("tessaly-cli: the display runs its normal firmware; restart it in its bootloader\n", stderr);
        return 1;
    case UpdateEnd::UnknownChip: // the status line said why
    case UpdateEnd::Failed:      // the message showed the status
        return 1;
    }
    return 1;
}
