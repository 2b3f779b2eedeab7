#include "DeviceCommands.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "PathText.h"
#include "Qxdisplay.h"
#include "TerminalProgress.h"
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
    if (code == ERR_DEVICE_IN_USE)
        std::fprintf(stderr, "tessaly-cli: %s\n", UnitInUseText);
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

// Progress of the transfer under way, drawn from the plain-function callback.
TerminalProgress* activeProgress = nullptr;

void ShowProgress(const char*, const char*, uint32_t total, uint32_t done)
{
    if (activeProgress)
        activeProgress->Update(done, total);
}

class ProgressScope {
public:
    explicit ProgressScope(const std::string& label) : Bar(label) { activeProgress = &Bar; }
    ~ProgressScope() { activeProgress = nullptr; }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

private:
    TerminalProgress Bar;
};

// The entries of a folder; `end` tells whether the listing was cut short.
std::vector<FILE_ENTRY> List(QXDisplay& display, const std::string& folder, uint32_t& end)
{
    std::vector<FILE_ENTRY> entries;
    end = ListUnitFolder(display, folder, [&](const FILE_ENTRY& entry) { entries.push_back(entry); });
    return entries;
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
        return Fail("cannot use the display", command.Result);
    DISPLAY_INFO info;
    if (const uint32_t got = boot ? display.GetBootInfo(info) : display.GetDeviceInfo(info); got != 0)
        return Fail("cannot read the display's information", got);
    DISPLAY_IDENTITY identity;
    const uint32_t read = boot ? display.ReadBootIdentity(info.AppStart, identity)
                               : display.ReadDeviceIdentity(info.AppStart, identity);
    if (read != 0)
        return Fail("cannot read the display's identity", read);
    std::printf("Mode: %s\n", boot ? "bootloader" : "normal");
    std::printf("Serial Number: %s\n", identity.Serial().c_str());
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
        return Fail("cannot use the display", command.Result);
    uint32_t end = 0;
    for (const FILE_ENTRY& entry : List(display, UnitFolder(args[0]), end)) {
        if (entry.IsFolder())
            std::printf("%-32s <DIR>\n", entry.Name().c_str());
        else
            std::printf("%-32s %10u\n", entry.Name().c_str(), entry.Size());
    }
    // Only the unit's end-of-listing reply ends a listing normally.
    if (end != 0)
        return Fail("the listing was cut short", end);
    return 0;
}

// Opens the unit and runs `action` on each argument after the folder; every
// argument is tried, and the exit code tells whether one of them failed.
using FileAction = std::function<bool(QXDisplay&, const std::string& folder, const std::string& argument)>;

int ForEachArgument(HidHost& host, const std::vector<std::string>& args, const char* usage,
                    const std::function<void(QXDisplay&, const std::string& folder)>& prepare,
                    const FileAction& action)
{
    if (args.size() < 2)
        return Usage(usage);
    QXDisplay display(host);
    if (!OpenNormal(display, host))
        return 1;
    // One command for every file: no other program gets between them.
    UnitCommand command(display);
    if (command.Result != 0)
        return Fail("cannot use the display", command.Result);
    const std::string folder = UnitFolder(args[0]);
    if (prepare)
        prepare(display, folder);
    int failures = 0;
    for (size_t i = 1; i < args.size(); ++i)
        if (!action(display, folder, args[i]))
            ++failures;
    return failures == 0 ? 0 : 1;
}

// Prints the failure of one argument; false, for the argument's result.
bool Failed(const std::string& what, uint32_t code)
{
    Fail(what, code);
    return false;
}

bool Report(const std::string& what, const std::string& error)
{
    std::fprintf(stderr, "tessaly-cli: %s: %s\n", what.c_str(), error.c_str());
    return false;
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
    std::map<std::string, uint32_t> sizes;
    uint32_t listingEnd = 0;
    const auto listSizes = [&](QXDisplay& display, const std::string& folder) {
        for (const FILE_ENTRY& entry : List(display, folder, listingEnd))
            if (!entry.IsFolder())
                sizes[entry.Name()] = entry.Size();
    };
    const auto get = [&](QXDisplay& display, const std::string& folder, const std::string& name) {
        if (const FileOutcome checked = CheckNameToGet(name); !checked.Done())
            return Report(name, checked.Reason);
        const auto found = sizes.find(name);
        if (found == sizes.end())
            return listingEnd != 0 ? Failed(name + ": the listing was cut short", listingEnd)
                                   : Report(name, "not in " + folder);
        FileOutcome outcome;
        {
            ProgressScope progress(name);
            outcome = GetUnitFile(display, folder, name, found->second, destination / PathFromUtf8(name), ShowProgress);
        }
        return outcome.Done() || Report(name, outcome.Reason);
    };
    return ForEachArgument(host, args, "get FOLDER NAME... [--to FOLDER]", listSizes, get);
}

int Put(HidHost& host, const std::vector<std::string>& args)
{
    const auto put = [](QXDisplay& display, const std::string& folder, const std::string& argument) {
        const std::filesystem::path path = PathFromUtf8(argument);
        const std::string name = Utf8FromPath(path.filename());
        FileOutcome outcome;
        {
            ProgressScope progress(name);
            outcome = SendLocalFile(display, folder, path, name, ShowProgress);
        }
        return outcome.Done() || Report(outcome.Code == ERR_FILE_READ ? argument : name, outcome.Reason);
    };
    return ForEachArgument(host, args, "put FOLDER FILE...", nullptr, put);
}

int Rm(HidHost& host, const std::vector<std::string>& args)
{
    const auto remove = [](QXDisplay& display, const std::string& folder, const std::string& name) {
        const FileOutcome outcome = RemoveUnitFile(display, folder, name);
        return outcome.Done() || Failed(name, outcome.Code);
    };
    return ForEachArgument(host, args, "rm FOLDER NAME...", nullptr, remove);
}

} // namespace

bool IsDeviceCommand(const std::string& command)
{
    return command == "devices" || command == "info" || command == "ls" || command == "get" || command == "put" ||
           command == "rm";
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
    return 2;
}
