// tessaly-cli: the command-line companion of the window, for scripting and for
// trying the unit (or the simulated unit) without the window.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ConvertCommand.h"
#include "StatsCommand.h"
#include "DeviceCommands.h"
#include "FlashCommand.h"
#include "PathText.h"
#include "UnitHosts.h"
#ifdef _WIN32
#include <windows.h>

#include "FileVersion.h"
#endif

namespace {

void PrintUsage()
{
    std::fputs("usage: tessaly-cli [--simulate[=CARD_FOLDER]] [--json] COMMAND [ARGS]\n"
               "       tessaly-cli --version\n"
               "  devices                         list the units on the USB bus\n"
               "  info                            identity and versions of the first unit\n"
               "  ls FOLDER                       list A:\\Maps or A:\\Logs\n"
               "  get FOLDER NAME... [--to DIR]   copy files from the unit\n"
               "  put FOLDER FILE...              send files to the unit\n"
               "  rm FOLDER NAME...               delete files on the unit\n"
               "  sync FOLDER DIR [--convert] [--dry-run]\n"
               "                                  get the files DIR does not hold yet; --convert\n"
               "                                  writes the CSV of each new log\n"
               "  flash IMAGE [--no-verify]       update the firmware of a unit in its bootloader\n"
               "                                  (IMAGE: a .bin image or a firmware package)\n"
               "  convert FILE.displog... [--interval SECONDS] [--decimal-separator C]\n"
               "  stats FILE.displog [--from S] [--to S] [--channel NAME]...\n"
               "                                  count, minimum, maximum and mean per channel\n",
               stderr);
}

// The program's version: on Windows the executable's version resource (which carries the build
// number), else the version it was built as.
std::string ProgramVersion()
{
#ifdef _WIN32
    if (std::string text = GetFileVersionText(ExecutableFileName()); !text.empty())
        return text;
#endif
    return TESSALY_VERSION;
}

// The command line after the program's name, every argument UTF-8.
int Run(std::vector<std::string> args)
{
    bool simulate = false;
    bool json = false;
    std::string card;
    while (!args.empty() && (args[0].rfind("--simulate", 0) == 0 || args[0] == "--json")) {
        const std::string& option = args[0];
        if (option == "--json") {
            json = true;
        } else if (option == "--simulate") {
            simulate = true;
        } else if (option.rfind("--simulate=", 0) == 0) {
            simulate = true;
            card = option.substr(std::strlen("--simulate="));
        } else {
            break;
        }
        args.erase(args.begin());
    }
    // Answered before any host exists: no unit and no simulated card is touched.
    if (!args.empty() && args[0] == "--version") {
        std::printf("tessaly-cli %s\n", ProgramVersion().c_str());
        return 0;
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        PrintUsage();
        return args.empty() ? 2 : 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    // Also taken after the command's word: tessaly-cli ls --json 'A:\Maps'.
    if (const auto option = std::find(args.begin(), args.end(), "--json");
        option != args.end() && (IsDeviceCommand(command) || command == "stats")) {
        json = true;
        args.erase(option);
    }
    if (command == "convert")
        return RunConvertCommand(args);
    if (command == "stats")
        return RunStatsCommand(args, json);
    if (!IsDeviceCommand(command) && command != "flash") {
        std::fprintf(stderr, "tessaly-cli: unknown command \"%s\"\n", command.c_str());
        PrintUsage();
        return 2;
    }
    // The simulated unit starts in its bootloader for `flash`, as a real unit is put there by
    // hand before an update.
    UnitHostChoice choice = OpenUnitHost({simulate, card, command == "flash"});
    if (!choice.Host) {
        std::fprintf(stderr, "tessaly-cli: %s\n", choice.Error.c_str());
        return 1;
    }
    HidHost* host = choice.Host.get();
    if (command == "flash")
        return RunFlashCommand(*host, args);
    return RunDeviceCommand(*host, command, args, json);
}

} // namespace

#ifdef _WIN32
// The arguments as the system holds them, UTF-16, so that names outside the 8-bit code page
// arrive whole; the console shows the UTF-8 the program writes.
int wmain(int argc, wchar_t** argv)
{
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(Utf8FromPath(std::filesystem::path(argv[i])));
    return Run(std::move(args));
}
#else
int main(int argc, char** argv)
{
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
