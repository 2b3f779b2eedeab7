#include "DeviceCommands.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

#include "PathText.h"
#include "Qxdisplay.h"
#include "StopRequest.h"
#include "TerminalProgress.h"
#include "TerminalText.h"
#include "TransferBatch.h"
#include "UnitFiles.h"
#include "VersionNumber.h"

namespace {

constexpr const char* DrivePrefix = "A:\\";

// "Logs", "A:\Logs" and "A:\Logs\" all name the unit's folder A:\Logs.
std::string UnitFolder(std::string folder)
{
    while (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back();
    if (folder.rfind(DrivePrefix, 0) != 0)
        folder = DrivePrefix + folder;
    return folder;
}

int Fail(const std::string& what, uint32_t code)
{
    std::fprintf(stderr, "tessaly-cli: %s: %s\n", what.c_str(), ResultCodeName(code).c_str());
    return 1;
}

// The unit could not be held for the command: in use by another program, or no lock to be had.
int NotHeld(const QXDisplay& display, uint32_t code)
{
    std::fprintf(stderr, "tessaly-cli: %s\n", UnitHoldFailure(display, code).c_str());
    return 1;
}

int Usage(const char* text)
{
    std::fprintf(stderr, "usage: tessaly-cli [--simulate[=CARD_FOLDER]] %s\n", text);
    return 2;
}

// Opens the first unit found; a port failure is explained by the host (for
// instance a missing permission on the device node).
bool Open(QXDisplay& display, HidHost& host)
{
    const uint32_t opened = display.OpenByIndex(0, 0);
    if (opened == 0)
        return true;
    Fail("cannot open the display", opened);
    if (opened == ERR_PORT_FAILURE)
        std::fprintf(stderr, "tessaly-cli: %s\n", host.LastErrorText().c_str());
    return false;
}

// Opens the first unit in normal mode; prints why not when there is none.
bool OpenNormal(QXDisplay& display, HidHost& host)
{
    display.FindDevices();
    if (display.DeviceCount() == 0) {
        display.FindBootDevices();
        std::fprintf(stderr, "tessaly-cli: %s\n",
                     display.DeviceCount() != 0 ? "the display is in its bootloader"
                                                : "no display found on the USB bus");
        return false;
    }
    return Open(display, host);
}

std::string HexBytes(const uint8_t* bytes, size_t count)
{
    std::string text;
    char digits[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        text += digits;
    }
    return text;
}

// What a batch says on the terminal: a progress bar per file, every file that was not done
// with its reason, and a stop on SIGINT or SIGTERM.
class TerminalBatch : public BatchObserver {
public:
    // Failures on standard error as "tessaly-cli: NAME: reason" (a sync prints its own lines).
    explicit TerminalBatch(bool echoFailures = true) : EchoFailures(echoFailures) {}
    void FileBegins(const std::string& name, uint64_t) override
    {
        Bar.reset();
        Bar = std::make_unique<TerminalProgress>(TerminalText(name));
    }
    void Progress(const TransferMeter& meter) override
    {
        if (Bar)
            Bar->Update(meter.FileDone(), meter.FileSize());
    }
    bool StopRequested() override { return CommandStopScope::Requested(); }
    void FileEnded(const BatchFileOutcome& outcome) override
    {
        Bar.reset();
        if (EchoFailures && outcome.Result != FileResult::Done && outcome.Result != FileResult::Held)
            std::fprintf(stderr, "tessaly-cli: %s: %s\n", TerminalText(outcome.Name).c_str(),
                         TerminalText(outcome.Reason).c_str());
    }

private:
    bool EchoFailures;
    std::unique_ptr<TerminalProgress> Bar;
};

// 0 when every file was done, 128 + the signal when one stopped the batch, else 1.
int BatchExitCode(const BatchReport& report)
{
    if (report.Stopped && CommandStopScope::Requested())
        return CommandStopScope::ExitCode();
    return report.AllDone() ? 0 : 1;
}

int Devices(HidHost& host)
{
    QXDisplay display(host);
    display.FindDevices();
    for (const std::string& path : display.DevicePaths())
        std::printf("%s\tnormal\n", path.c_str());
    display.FindBootDevices();
    for (const std::string& path : display.DevicePaths())
        std::printf("%s\tbootloader\n", path.c_str());
    return 0;
}

int Info(HidHost& host)
{
    QXDisplay display(host);
    display.FindDevices();
    bool boot = false;
    if (display.DeviceCount() == 0) {
        display.FindBootDevices();
        boot = true;
    }
    if (display.DeviceCount() == 0) {
        std::fprintf(stderr, "tessaly-cli: no display found on the USB bus\n");
        return 1;
    }
    if (!Open(display, host))
        return 1;
    UnitCommand command(display);
    if (command.Result != 0)
        return NotHeld(display, command.Result);
    DISPLAY_INFO info;
    if (const uint32_t got = boot ? display.GetBootInfo(info) : display.GetDeviceInfo(info); got != 0)
        return Fail("cannot read the display's information", got);
    DISPLAY_IDENTITY identity;
    const uint32_t read = boot ? display.ReadBootIdentity(info.AppStart, identity)
                               : display.ReadDeviceIdentity(info.AppStart, identity);
    if (read != 0)
        return Fail("cannot read the display's identity", read);
    std::printf("Mode: %s\n", boot ? "bootloader" : "normal");
    std::printf("Serial Number: %s\n", TerminalText(identity.Serial()).c_str());
    std::printf("Device Key: %s\n", HexBytes(identity.DeviceKey, sizeof identity.DeviceKey).c_str());
    if (!boot)
        std::printf("Firmware Version: %s\n", FormatVersionNumber(info.FirmwareVersion).c_str());
    std::printf("Bootloader Version: %s\n", FormatVersionNumber(identity.BootloaderVersion).c_str());
    if (boot) {
        std::printf("Chip Id: %u\nAddress Unit: %u\n", info.ChipId, info.AddressUnit);
    }
    std::printf("Application Start: 0x%08X\n", info.AppStart);
    return 0;
}

int Ls(HidHost& host, const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return Usage("ls FOLDER");
    QXDisplay display(host);
    if (!OpenNormal(display, host))
        return 1;
    UnitCommand command(display);
    if (command.Result != 0)
        return NotHeld(display, command.Result);
    const std::string folder = UnitFolder(args[0]);
    uint32_t end = 0;
    std::vector<std::string> lines;
    (void)ListUnitFolder(display, folder, [&](const FILE_ENTRY& entry) {
        const std::string name = TerminalText(UnitEntryName(entry));
        char size[16];
        std::snprintf(size, sizeof size, "%10u", entry.Size());
        lines.push_back(PadToWidth(name, 32) + " " + (entry.IsFolder() ? std::string("<DIR>") : std::string(size)));
    });
    end = display.ListingEnd();
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    // Only the unit's end-of-listing entry ends a listing as whole.
    if (end != 0) {
        std::fprintf(stderr, "tessaly-cli: %s: %s\n", folder.c_str(), ListingFailureReason(end).c_str());
        return 1;
    }
    return 0;
}

// Opens the unit, holds it for the whole batch, and runs `batch` on the folder and the
// arguments after it; the exit code tells how the batch ended.
int RunBatch(HidHost& host, const std::vector<std::string>& args, const char* usage,
             const std::function<BatchReport(QXDisplay&, const std::string& folder,
                                             const std::vector<std::string>& rest, BatchObserver&)>& batch)
{
    if (args.size() < 2)
        return Usage(usage);
    CommandStopScope signals(true);
    QXDisplay display(host);
    if (!OpenNormal(display, host))
        return 1;
    // One command for every file: no other program gets between them.
    UnitCommand command(display);
    if (command.Result != 0)
        return NotHeld(display, command.Result);
    TerminalBatch observer;
    const BatchReport report =
        batch(display, UnitFolder(args[0]), std::vector<std::string>(args.begin() + 1, args.end()), observer);
    return BatchExitCode(report);
}

int Get(HidHost& host, std::vector<std::string> args)
{
    std::filesystem::path destination = ".";
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--to") {
            destination = PathFromUtf8(args[i + 1]);
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            break;
        }
    }
    return RunBatch(host, args, "get FOLDER NAME... [--to FOLDER]",
                    [&](QXDisplay& display, const std::string& folder, const std::vector<std::string>& names,
                        BatchObserver& observer) {
                        return GetNamedUnitFiles(display, folder, names, destination, observer);
                    });
}

int Put(HidHost& host, const std::vector<std::string>& args)
{
    return RunBatch(host, args, "put FOLDER FILE...",
                    [](QXDisplay& display, const std::string& folder, const std::vector<std::string>& files,
                       BatchObserver& observer) {
                        std::vector<std::filesystem::path> paths;
                        for (const std::string& file : files)
                            paths.push_back(PathFromUtf8(file));
                        return SendLocalFiles(display, folder, paths, SendKind::Chosen, observer);
                    });
}

int Rm(HidHost& host, const std::vector<std::string>& args)
{
    return RunBatch(host, args, "rm FOLDER NAME...",
                    [](QXDisplay& display, const std::string& folder, const std::vector<std::string>& names,
                       BatchObserver& observer) { return RemoveUnitFiles(display, folder, names, observer); });
}

// What a sync says: one line per file on standard output, failures with their reasons, and the
// summary; the progress bars and stop signals as for a get.
class SyncReport : public TerminalBatch {
public:
    SyncReport() : TerminalBatch(false) {}
    void FileEnded(const BatchFileOutcome& outcome) override
    {
        TerminalBatch::FileEnded(outcome);
        const std::string name = TerminalText(outcome.Name);
        switch (outcome.Result) {
        case FileResult::Done:
            std::printf("%s: %s%s\n", name.c_str(), outcome.Note == "would be got" ? "would be got" : "got",
                        outcome.Note.empty() || outcome.Note == "would be got"
                            ? ""
                            : (" (" + TerminalText(outcome.Note) + ")").c_str());
            break;
        case FileResult::Held: std::printf("%s: already there\n", name.c_str()); break;
        default: std::printf("%s: failed: %s\n", name.c_str(), TerminalText(outcome.Reason).c_str()); break;
        }
        std::fflush(stdout);
    }
};

int Sync(HidHost& host, std::vector<std::string> args)
{
    bool dryRun = false;
    std::vector<std::string> words;
    for (const std::string& arg : args) {
        if (arg == "--dry-run")
            dryRun = true;
        else
            words.push_back(arg);
    }
    if (words.size() != 2)
        return Usage("sync FOLDER DIR [--dry-run]");
    // The PC folder is made when it is not there, as a first sync into a new folder wants.
    std::error_code made;
    std::filesystem::create_directories(PathFromUtf8(words[1]), made);
    CommandStopScope signals(true);
    QXDisplay display(host);
    if (!OpenNormal(display, host))
        return 1;
    UnitCommand command(display);
    if (command.Result != 0)
        return NotHeld(display, command.Result);
    SyncReport observer;
    const BatchReport report = SyncUnitFolder(display, UnitFolder(words[0]), PathFromUtf8(words[1]), dryRun, observer);
    const size_t failed = report.Files.size() - report.Count(FileResult::Done) - report.Count(FileResult::Held);
    std::printf("%zu %s, %zu already there, %zu failed\n", report.Count(FileResult::Done),
                dryRun ? "to get" : "new", report.Count(FileResult::Held), failed);
    return BatchExitCode(report);
}

} // namespace

bool IsDeviceCommand(const std::string& command)
{
    return command == "devices" || command == "info" || command == "ls" || command == "get" || command == "put" ||
           command == "rm" || command == "sync";
}

int RunDeviceCommand(HidHost& host, const std::string& command, const std::vector<std::string>& args)
{
    if (command == "devices")
        return Devices(host);
    if (command == "info")
        return Info(host);
    if (command == "ls")
        return Ls(host, args);
    if (command == "get")
        return Get(host, args);
    if (command == "put")
        return Put(host, args);
    if (command == "rm")
        return Rm(host, args);
    if (command == "sync")
        return Sync(host, args);
    return 2;
}
