#include "DeviceCommands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

#include <nlohmann/json.hpp>

#include "LogConversion.h"
#include "PathText.h"
#include "Qxdisplay.h"
#include "StopRequest.h"
#include "TerminalProgress.h"
#include "TerminalText.h"
#include "TransferBatch.h"
#include "UnitFiles.h"
#include "UserSettings.h"
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
    std::fprintf(stderr, "tessaly-cli: %s: %s\n", what.c_str(), TerminalText(UnitFailureReason(code)).c_str());
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

using Json = nlohmann::ordered_json;

// One JSON document on standard output: what --json gives scripts.
void PrintJson(const Json& document)
{
    std::printf("%s\n", document.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
    std::fflush(stdout);
}

const char* OutcomeWord(FileResult result)
{
    switch (result) {
    case FileResult::Done: return "done";
    case FileResult::Refused: return "refused";
    case FileResult::Failed: return "failed";
    case FileResult::NotTried: return "not tried";
    case FileResult::Cancelled: return "cancelled";
    case FileResult::Held: return "already there";
    }
    return "failed";
}

// {"folder": ..., "files": [{"name", "outcome", "reason", "code", "note"}]}: the facts of a batch.
Json BatchJson(const std::string& folder, const BatchReport& report)
{
    Json files = Json::array();
    for (const BatchFileOutcome& file : report.Files) {
        Json item{{"name", file.Name}, {"outcome", OutcomeWord(file.Result)}};
        if (!file.Reason.empty()) {
            item["reason"] = file.Reason;
            item["code"] = file.Code;
            item["codeName"] = ResultCodeName(file.Code);
        }
        if (!file.Note.empty())
            item["note"] = file.Note;
        files.push_back(std::move(item));
    }
    return {{"folder", folder}, {"files", files}, {"stopped", report.Stopped}};
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

int Devices(HidHost& host, bool json)
{
    QXDisplay display(host);
    Json devices = Json::array();
    for (const bool boot : {false, true}) {
        boot ? display.FindBootDevices() : display.FindDevices();
        const char* mode = boot ? "bootloader" : "normal";
        for (const std::string& path : display.DevicePaths()) {
            if (json)
                devices.push_back({{"path", path}, {"mode", mode}});
            else
                std::printf("%s\t%s\n", TerminalText(path).c_str(), mode);
        }
    }
    if (json)
        PrintJson({{"devices", devices}});
    return 0;
}

int Info(HidHost& host, bool json)
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
    if (json) {
        Json document{{"mode", boot ? "bootloader" : "normal"},
                      {"serialNumber", identity.Serial()},
                      {"deviceKey", HexBytes(identity.DeviceKey, sizeof identity.DeviceKey)}};
        if (!boot)
            document["firmwareVersion"] = FormatVersionNumber(info.FirmwareVersion);
        document["bootloaderVersion"] = FormatVersionNumber(identity.BootloaderVersion);
        if (boot) {
            document["chipId"] = info.ChipId;
            document["addressUnit"] = info.AddressUnit;
        }
        document["applicationStart"] = info.AppStart;
        PrintJson(document);
        return 0;
    }
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

int Ls(HidHost& host, const std::vector<std::string>& args, bool json)
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
    Json entries = Json::array();
    end = ListUnitFolder(display, folder, [&](const FILE_ENTRY& entry) {
        if (json) {
            Json item{{"name", UnitEntryName(entry)}, {"size", entry.Size()}};
            if (entry.IsFolder())
                item["folder"] = true;
            entries.push_back(std::move(item));
            return;
        }
        const std::string name = TerminalText(UnitEntryName(entry));
        char size[16];
        std::snprintf(size, sizeof size, "%10u", entry.Size());
        lines.push_back(PadToWidth(name, 32) + " " + (entry.IsFolder() ? std::string("<DIR>") : std::string(size)));
    });
    if (json) {
        Json document{{"folder", folder}, {"entries", entries}, {"complete", end == 0}};
        if (end != 0)
            document["error"] = {{"reason", ListingFailureReason(end)}, {"code", end}, {"codeName", ResultCodeName(end)}};
        PrintJson(document);
    }
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
int RunBatch(HidHost& host, const std::vector<std::string>& args, const char* usage, bool json,
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
    const std::string folder = UnitFolder(args[0]);
    const BatchReport report = batch(display, folder, std::vector<std::string>(args.begin() + 1, args.end()), observer);
    if (json)
        PrintJson(BatchJson(folder, report));
    return BatchExitCode(report);
}

int Get(HidHost& host, std::vector<std::string> args, bool json)
{
    std::filesystem::path destination = ".";
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--to") {
            destination = PathFromUtf8(args[i + 1]);
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            break;
        }
    }
    return RunBatch(host, args, "get FOLDER NAME... [--to FOLDER]", json,
                    [&](QXDisplay& display, const std::string& folder, const std::vector<std::string>& names,
                        BatchObserver& observer) {
                        return GetNamedUnitFiles(display, folder, names, destination, observer);
                    });
}

int Put(HidHost& host, const std::vector<std::string>& args, bool json)
{
    return RunBatch(host, args, "put FOLDER FILE...", json,
                    [](QXDisplay& display, const std::string& folder, const std::vector<std::string>& files,
                       BatchObserver& observer) {
                        std::vector<std::filesystem::path> paths;
                        for (const std::string& file : files)
                            paths.push_back(PathFromUtf8(file));
                        return SendLocalFiles(display, folder, paths, SendKind::Chosen, observer);
                    });
}

int Rm(HidHost& host, const std::vector<std::string>& args, bool json)
{
    return RunBatch(host, args, "rm FOLDER NAME...", json,
                    [](QXDisplay& display, const std::string& folder, const std::vector<std::string>& names,
                       BatchObserver& observer) { return RemoveUnitFiles(display, folder, names, observer); });
}

// What a sync says: one line per file on standard output, failures with their reasons, and the
// summary; the progress bars and stop signals as for a get.
class SyncReport : public TerminalBatch {
public:
    // With JSON the lines go to standard error, the document to standard output.
    explicit SyncReport(bool json) : TerminalBatch(false), Lines(json ? stderr : stdout) {}
    void FileEnded(const BatchFileOutcome& outcome) override
    {
        TerminalBatch::FileEnded(outcome);
        const std::string name = TerminalText(outcome.Name);
        switch (outcome.Result) {
        case FileResult::Done:
            std::fprintf(Lines, "%s: %s%s\n", name.c_str(), outcome.Note == "would be got" ? "would be got" : "got",
                        outcome.Note.empty() || outcome.Note == "would be got"
                            ? ""
                            : (" (" + TerminalText(outcome.Note) + ")").c_str());
            break;
        case FileResult::Held: std::fprintf(Lines, "%s: already there\n", name.c_str()); break;
        default: std::fprintf(Lines, "%s: failed: %s\n", name.c_str(), TerminalText(outcome.Reason).c_str()); break;
        }
        std::fflush(Lines);
    }

private:
    std::FILE* Lines;
};

bool IsLogName(const std::string& name)
{
    const std::string ending = ".displog";
    if (name.size() < ending.size())
        return false;
    return std::equal(ending.begin(), ending.end(), name.end() - static_cast<std::ptrdiff_t>(ending.size()),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

// The CSV of every new log of a sync, with the window's export interval: a line per log, and
// the facts for the JSON document. False when a log was not converted.
bool ConvertNewLogs(const BatchReport& report, const std::filesystem::path& dir, double interval, std::FILE* lines,
                    Json& converted)
{
    bool all = true;
    for (const BatchFileOutcome& file : report.Files) {
        if (file.Result != FileResult::Done || !IsLogName(file.Name))
            continue;
        if (CommandStopScope::Requested())
            return false;
        CsvOptions options;
        options.Stop = CommandStopScope::Flag();
        const ConversionOutcome outcome =
            ConvertLog(Utf8FromPath(dir / PathFromUtf8(file.Name)), static_cast<float>(interval), options);
        const std::string name = TerminalText(file.Name);
        Json item{{"name", file.Name}};
        if (outcome.End == ConversionEnd::Converted) {
            std::fprintf(lines, "%s: CSV written\n", name.c_str());
            item["csv"] = outcome.CsvPath;
        } else {
            all = false;
            const std::string reason = ConversionFailureReason(outcome);
            std::fprintf(lines, "%s: not converted: %s\n", name.c_str(), TerminalText(reason).c_str());
            item["reason"] = reason;
        }
        std::fflush(lines);
        converted.push_back(std::move(item));
    }
    return all;
}

int Sync(HidHost& host, std::vector<std::string> args, bool json)
{
    bool dryRun = false;
    bool convert = false;
    std::vector<std::string> words;
    for (const std::string& arg : args) {
        if (arg == "--dry-run")
            dryRun = true;
        else if (arg == "--convert")
            convert = true;
        else
            words.push_back(arg);
    }
    if (words.size() != 2)
        return Usage("sync FOLDER DIR [--convert] [--dry-run]");
    // The window's export interval, read before the unit is touched: a stored value of the wrong
    // type ends the command here.
    double interval = DefaultExportInterval;
    if (convert && !dryRun) {
        try {
            interval = StoredExportInterval(*OpenUserSettings(), SettingsKeyForProgram(WindowProgramName));
        } catch (const SettingsError& error) {
            std::fprintf(stderr, "tessaly-cli: the export options cannot be read: %s\n", error.what());
            return 1;
        }
    }
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
    SyncReport observer(json);
    const BatchReport report = SyncUnitFolder(display, UnitFolder(words[0]), PathFromUtf8(words[1]), dryRun, observer);
    Json converted = Json::array();
    const bool allConverted =
        !convert || dryRun || ConvertNewLogs(report, PathFromUtf8(words[1]), interval, json ? stderr : stdout, converted);
    const size_t failed = report.Files.size() - report.Count(FileResult::Done) - report.Count(FileResult::Held);
    std::fprintf(json ? stderr : stdout, "%zu %s, %zu already there, %zu failed\n", report.Count(FileResult::Done),
                 dryRun ? "to get" : "new", report.Count(FileResult::Held), failed);
    if (json) {
        Json document = BatchJson(UnitFolder(words[0]), report);
        document["summary"] = {{dryRun ? "toGet" : "new", report.Count(FileResult::Done)},
                               {"alreadyThere", report.Count(FileResult::Held)},
                               {"failed", failed}};
        if (convert && !dryRun)
            document["converted"] = converted;
        PrintJson(document);
    }
    if (CommandStopScope::Requested())
        return CommandStopScope::ExitCode();
    const int code = BatchExitCode(report);
    return code == 0 && !allConverted ? 1 : code;
}

} // namespace

bool IsDeviceCommand(const std::string& command)
{
    return command == "devices" || command == "info" || command == "ls" || command == "get" || command == "put" ||
           command == "rm" || command == "sync";
}

int RunDeviceCommand(HidHost& host, const std::string& command, const std::vector<std::string>& args, bool json)
{
    if (command == "devices")
        return Devices(host, json);
    if (command == "info")
        return Info(host, json);
    if (command == "ls")
        return Ls(host, args, json);
    if (command == "get")
        return Get(host, args, json);
    if (command == "put")
        return Put(host, args, json);
    if (command == "rm")
        return Rm(host, args, json);
    if (command == "sync")
        return Sync(host, args, json);
    return 2;
}
