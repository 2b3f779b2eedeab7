// A random fault campaign: tessaly-cli against the simulated unit under random
// fault plans (lost, duplicated, corrupted, late reports in and out, failing
// statuses, a mute or unplugged unit, a held-up reader, another program on the
// unit), checked as a user would check the outcome:
// - every file in the destination of a get is byte-identical to the unit's,
//   and a get that exits 0 wrote every file asked for;
// - a put that exits 0 left every file on the unit byte-identical, and after
//   any failure each name holds the whole new file, the older copy or nothing,
//   unless tessaly-cli named the file as left incomplete;
// - a removal that exits 0 removed every file named, and one that names a
//   file that was never there never exits 0;
// - a listing that exits 0 printed the card's whole folder (names and
//   sizes), and a listing the unit surely refused never exits 0;
// - info reported is the unit's identity, a flash that exits 0 left the image
//   in flash;
// - nothing hangs past the time-outs, nothing crashes; one transfer in five
//   gets SIGINT or SIGTERM at a random moment and ends with 130 or 143 at
//   worst, leaving no temporary file;
// - names beyond ASCII (of the unit's code page) are used throughout.
// Outcomes are judged by exit codes and by the card's and the destination's
// contents only, never by the wording of tessaly-cli's messages (apart from
// the file it names as left incomplete).
// Wrong bytes from a duplicated or corrupted input report inside a reply are
// possible (replies carry no checksum) and are counted apart, not as failures.
// A lost input report or a lost request together with a duplicated request is
// drawn often, as a pair in one plan, and gives no such excuse.
//
// Before the random trials, fixed checks run: the listings a unit refuses,
// and the get of issue 21 ten times at USB full speed.
//
//   tessaly_fault_campaign --cli PATH [--trials N] [--jobs J] [--seed S]
//
// Exits 0 when no trial broke a rule; prints the plan of every trial that did.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A command that takes longer than this hangs: the longest legitimate run is a
// few time-outs of about a second each plus the barrier's two seconds.
constexpr auto HangLimit = std::chrono::seconds(30);

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool ReadFile(const fs::path& path, Bytes& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct CardFile {
    std::string Name;
    Bytes Content;
};

// The names the trials use, by role. Names travel as UTF-8 text in tessaly-cli's
// arguments and output and in the PC's file names; a name with characters
// beyond ASCII can be put here and every check below still holds.
struct CampaignNames {
    std::string Small = "Track Day.qxm";
    std::string Middle = "Street.qxm";
    std::string Tiny = "Dynø.wzm";
    std::string Large = "Big.qxm";
    std::string NewMap = "Café Map.qxm";
    std::string Missing = "nosuch.qxm";
};

const CampaignNames& Names()
{
    static const CampaignNames names;
    return names;
}

// The unit's card at the start of every trial (the folder A:\Maps).
std::vector<CardFile> CardFiles()
{
    const CampaignNames& n = Names();
    return {{n.Small, Pattern(3000, 1)},
            {n.Middle, Pattern(6000, 2)},
            {n.Tiny, Pattern(1500, 3)},
            {n.Large, Pattern(200 * 1024, 4)}};
}

enum class Scenario { GetOne, GetSeveral, GetLarge, Put, Remove, Info, Flash, List };
const char* ScenarioName(Scenario s)
{
    switch (s) {
    case Scenario::GetOne: return "get one file";
    case Scenario::GetSeveral: return "get several files";
    case Scenario::GetLarge: return "get a large file";
    case Scenario::Put: return "put";
    case Scenario::Remove: return "rm";
    case Scenario::Info: return "info";
    case Scenario::Flash: return "flash";
    case Scenario::List: return "ls";
    }
    return "?";
}
constexpr int ScenarioCount = 8;
// The simulated unit's flash and where an image lands with address unit 1.
constexpr uint32_t FlashBase = 0x10000000;
constexpr uint32_t AppStart = 0x10008000;

// Reports that cross the link in each direction during a scenario's command,
// roughly: random report numbers are drawn within these.
struct Reach {
    int In;
    int Out;
};

Reach ScenarioReach(Scenario scenario)
{
    switch (scenario) {
    case Scenario::GetOne: return {130, 14};
    case Scenario::GetSeveral: return {230, 24};
    case Scenario::GetLarge: return {3700, 215};
    case Scenario::Put: return {30, 160};
    case Scenario::Remove: return {10, 10};
    case Scenario::Info: return {12, 12};
    case Scenario::Flash: return {400, 400};
    case Scenario::List: return {12, 12};
    }
    return {80, 80};
}

struct Plan {
    std::string Text;
    bool InputFault = false; // a duplicated or corrupted input report
    bool Refused = false;    // a listing that the unit surely refuses
};

// A random plan of one to three items, at report numbers within reach of the
// scenario. One plan in three (not for info and flash) starts with a pair
// whose faults cancel in the count of replies: a duplicated request and a
// lost input report (issue 21), or a duplicated request and a lost request.
Plan RandomPlan(std::mt19937& rng, Scenario scenario)
{
    const Reach reach = ScenarioReach(scenario);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    Plan plan;
    auto add = [&](const std::string& item) { plan.Text += (plan.Text.empty() ? "" : ",") + item; };
    if (scenario != Scenario::Info && scenario != Scenario::Flash && pick(0, 2) == 0) {
        const int duplicated = pick(1, reach.Out);
        add("dup-out=" + std::to_string(duplicated));
        // Half the pairs lose a request a few reports after the duplicated one instead.
        if (pick(0, 1) == 0)
            add("drop-in=" + std::to_string(pick(1, reach.In)));
        else
            add("drop-out=" + std::to_string(std::min(reach.Out, duplicated + pick(1, 20))));
    }
    const int items = pick(1, 3) - (plan.Text.empty() ? 0 : 1);
    for (int i = 0; i < items; ++i) {
        const bool in = pick(0, 1) == 0;
        const std::string n = std::to_string(pick(1, in ? reach.In : reach.Out));
        const std::string dir = in ? "in" : "out";
        const int kind = scenario == Scenario::List && pick(0, 2) == 0 ? 4 : pick(0, 10);
        switch (kind) {
        case 0: add("drop-" + dir + "=" + n); break;
        case 1:
            add("dup-" + dir + "=" + n);
            plan.InputFault = plan.InputFault || in;
            break;
        case 2:
            add("corrupt-" + dir + "=" + n + ":" + std::to_string(pick(0, 63)));
            plan.InputFault = plan.InputFault || in;
            break;
        case 3: {
            static const int delays[] = {30, 150, 400, 1200, 1600, 2500};
            add("delay-" + dir + "=" + n + ":" + std::to_string(delays[pick(0, 5)]));
            break;
        }
        case 4: {
            static const char* codes[] = {"0x4000", "0x4001", "0x4010", "0x4011", "0x4012", "0x4013", "0x4014"};
            static const char* bootCodes[] = {"0x6000", "0x6001", "0x6002", "0x6003", "0x6005", "0x6002", "0x6002"};
            static const char* listCodes[] = {"0x4010", "0x4011", "0x4011", "0x4010", "0x4011", "0x4000", "0x4013"};
            static const char* statuses[] = {"0x02", "0x04", "0x05", "0x08"};
            const char* code = (scenario == Scenario::Flash  ? bootCodes
                                : scenario == Scenario::List ? listCodes
                                                             : codes)[pick(0, 6)];
            std::string item = std::string("status=") + code + ":" + statuses[pick(0, 3)];
            int occurrence = 0;
            if (pick(0, 1) == 0) {
                occurrence = pick(1, 5);
                item += "@" + std::to_string(occurrence);
            }
            add(item);
            // A listing of the four files sends one 0x4010 and four 0x4011.
            const std::string c = code;
            if (scenario == Scenario::List &&
                ((c == "0x4010" && occurrence <= 1) || (c == "0x4011" && occurrence <= 4)))
                plan.Refused = true;
            break;
        }
        case 5: add("mute-after=" + n); break;
        case 6: add("unplug-after=" + n); break;
        case 7: add("hold-in=" + n + ":" + std::to_string(pick(50, 400))); break;
        case 8: {
            static const char* codes[] = {"0x4000", "0x4011", "0x4012", "0x4013", "0x4014"};
            static const char* bootCodes[] = {"0x6000", "0x6001", "0x6002", "0x6003", "0x6005"};
            add("intrude=" + n + ":" + (scenario == Scenario::Flash ? bootCodes : codes)[pick(0, 4)]);
            break;
        }
        default: add("dup-out=" + n); break;
        }
    }
    return plan;
}

struct Run {
    int Exit = -1;       // exit code, or -1
    int Signal = 0;      // killing signal, or 0
    bool Hung = false;
    std::string Out, Err;
};

// With `signal`, the command gets that signal once, `signalAfterMs` after it started.
Run RunCli(const std::string& cli, const std::vector<std::string>& args, const std::string& plan, const fs::path& dir,
           bool fullSpeed = false, int signal = 0, int signalAfterMs = 0)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TESSALY_SIM_", 12) != 0)
            env.emplace_back(*e);
    env.push_back("TESSALY_SIM_FAULTS=" + plan);
    env.push_back("TESSALY_SIM_FLASH=" + (dir / "flash.out").string());
    if (fullSpeed)
        env.push_back("TESSALY_SIM_LINK=full-speed");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = {cli};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string out = (dir / "stdout").string();
    const std::string err = (dir / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Run run;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.Err = "cannot start " + cli;
        return run;
    }
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + HangLimit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (signal != 0 && std::chrono::steady_clock::now() >= started + std::chrono::milliseconds(signalAfterMs)) {
            kill(pid, signal);
            signal = 0;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.Hung = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!run.Hung) {
        if (WIFEXITED(status))
            run.Exit = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            run.Signal = WTERMSIG(status);
    }
    run.Out = ReadText(out);
    run.Err = ReadText(err);
    return run;
}

// Lines of a listing printed as NAME then the size (or <DIR>) last. A line
// whose last word is a number and that names no card file is an extra entry.
struct ListedEntry {
    std::string Name;
    std::string Size;
};

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<ListedEntry> ListedEntries(const std::string& out)
{
    std::vector<ListedEntry> entries;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        line = Trim(line);
        const size_t space = line.find_last_of(" \t");
        if (space == std::string::npos)
            continue;
        std::string size = line.substr(space + 1);
        size.erase(std::remove_if(size.begin(), size.end(), [](char c) { return c == ',' || c == '\'' || c == '.'; }),
                   size.end());
        const bool number = !size.empty() && std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (number || size == "<DIR>")
            entries.push_back({Trim(line.substr(0, space)), size});
    }
    return entries;
}

// True when the listing printed is exactly the card's folder.
bool WholeListing(const std::string& out, const std::vector<CardFile>& card)
{
    std::vector<std::pair<std::string, std::string>> listed, expected;
    for (const ListedEntry& entry : ListedEntries(out))
        listed.emplace_back(entry.Name, entry.Size);
    for (const CardFile& file : card)
        expected.emplace_back(file.Name, std::to_string(file.Content.size()));
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    return listed == expected;
}

struct Outcome {
    bool Broken = false;         // a rule was broken
    bool InputWrongBytes = false; // wrong bytes, explained by an input fault inside a reply
    bool Succeeded = false;      // the command reported complete success
    std::string Why;
};

struct TrialSetup {
    Scenario Kind = Scenario::Info;
    Plan Faults;
    std::vector<std::string> Asked; // the files a get or rm names
    bool NamesMissing = false;      // rm also names a file that was never there
    int Signal = 0;                 // SIGINT or SIGTERM sent during the command, or 0
};

Outcome Check(const TrialSetup& setup, const Run& run, const std::vector<CardFile>& card, const fs::path& cardDir,
              const fs::path& dest, const std::vector<CardFile>& local, const Bytes& image)
{
    Outcome outcome;
    auto broken = [&](const std::string& why) {
        outcome.Broken = true;
        outcome.Why += why + "; ";
    };
    if (run.Hung)
        broken("hung");
    // The signal sent before tessaly-cli handles signals, or after it stopped handling them,
    // ends it as it ends any program: nothing is under way then.
    if (run.Signal != 0 && run.Signal != setup.Signal)
        broken("killed by signal " + std::to_string(run.Signal));
    if (run.Err.find("Sanitizer") != std::string::npos || run.Err.find("runtime error") != std::string::npos)
        broken("sanitizer report");
    const int signalExit = setup.Signal == SIGINT ? 130 : setup.Signal == SIGTERM ? 143 : -1;
    const bool endedBySignal = run.Signal != 0 && run.Signal == setup.Signal;
    if (run.Exit != 0 && run.Exit != 1 && run.Exit != signalExit && !endedBySignal)
        broken("exit code " + std::to_string(run.Exit));
    outcome.Succeeded = run.Exit == 0;
    if (outcome.Broken)
        return outcome;

    const bool inputFault = setup.Faults.InputFault;
    auto cardContent = [&](const std::string& name) -> const Bytes* {
        for (const CardFile& f : card)
            if (f.Name == name)
                return &f.Content;
        return nullptr;
    };
    switch (setup.Kind) {
    case Scenario::GetOne:
    case Scenario::GetSeveral:
    case Scenario::GetLarge: {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dest)) {
            const std::string name = entry.path().filename().string();
            found.push_back(name);
            const Bytes* expected = cardContent(name);
            if (!expected) {
                broken("left " + name + " in the destination");
                continue;
            }
            Bytes got;
            ReadFile(entry.path(), got);
            if (got != *expected) {
                if (inputFault)
                    outcome.InputWrongBytes = true;
                else
                    broken("wrong bytes in " + name + " reported as got");
            }
        }
        if (run.Exit == 0)
            for (const std::string& name : setup.Asked)
                if (std::find(found.begin(), found.end(), name) == found.end())
                    broken("exit 0 but " + name + " not in the destination");
        break;
    }
    case Scenario::Put:
        for (const CardFile& f : local) {
            Bytes onCard;
            const bool there = ReadFile(cardDir / "Maps" / f.Name, onCard);
            if (run.Exit == 0 && !there)
                broken("exit 0 but " + f.Name + " missing on the unit");
            else if (run.Exit == 0 && onCard != f.Content)
                broken("exit 0 but " + f.Name + " has wrong bytes on the unit");
            // After any failure or signal a name holds the whole new file, the unit's older
            // copy, or nothing, unless the file is named as left incomplete.
            const Bytes* older = cardContent(f.Name);
            if (run.Exit != 0 && there && onCard != f.Content && !(older && onCard == *older) &&
                run.Err.find(f.Name + ": left incomplete") == std::string::npos)
                broken("a cut " + f.Name + " stays on the unit under its name, not told");
        }
        break;
    case Scenario::Remove:
        if (run.Exit == 0 && setup.NamesMissing)
            broken("rm of a file that was never there exited 0");
        if (run.Exit == 0)
            for (const std::string& name : setup.Asked)
                if (fs::exists(cardDir / "Maps" / name))
                    broken("exit 0 but " + name + " still on the unit");
        break;
    case Scenario::List:
        if (run.Exit == 0 && setup.Faults.Refused)
            broken("a listing the unit refused exited 0");
        if (run.Exit == 0 && !WholeListing(run.Out, card)) {
            if (inputFault)
                outcome.InputWrongBytes = true;
            else
                broken("exit 0 but the listing is not the card's folder: " + run.Out.substr(0, 300));
        }
        break;
    case Scenario::Flash:
        if (run.Exit == 0) {
            Bytes flash;
            ReadFile(dest.parent_path() / "flash.out", flash);
            const size_t at = AppStart - FlashBase;
            if (flash.size() < at + image.size() ||
                !std::equal(image.begin(), image.end(), flash.begin() + static_cast<std::ptrdiff_t>(at)))
                broken("firmware reported updated but the flash differs");
        }
        break;
    case Scenario::Info:
        if (run.Exit == 0 && (run.Out.find("QX-SIM-000123") == std::string::npos ||
                              run.Out.find("1.2.3") == std::string::npos)) {
            if (inputFault)
                outcome.InputWrongBytes = true;
            else
                broken("wrong identity reported: " + run.Out);
        }
        break;
    }
    return outcome;
}

struct Totals {
    std::mutex Lock;
    int Trials = 0, Broken = 0, InputWrong = 0, Paired = 0;
    std::map<std::string, std::pair<int, int>> PerScenario; // trials, succeeded
    std::vector<std::string> Reports;
};

void Record(Totals& totals, const std::string& label, const std::string& plan, const Outcome& outcome,
            const Run& run, const fs::path& dir, bool paired)
{
    std::lock_guard lock(totals.Lock);
    ++totals.Trials;
    totals.Paired += paired ? 1 : 0;
    auto& counts = totals.PerScenario[label];
    ++counts.first;
    counts.second += outcome.Succeeded ? 1 : 0;
    totals.InputWrong += outcome.InputWrongBytes ? 1 : 0;
    if (outcome.Broken) {
        ++totals.Broken;
        totals.Reports.push_back(dir.filename().string() + " (" + label + ", TESSALY_SIM_FAULTS=\"" + plan +
                                 "\"): " + outcome.Why + "\n  exit " + std::to_string(run.Exit) +
                                 ", stderr: " + run.Err.substr(0, 400));
    } else {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
}

struct TrialFolders {
    fs::path Dir, CardDir, Dest, LocalDir;
};

TrialFolders MakeFolders(const fs::path& dir, const std::vector<CardFile>& card)
{
    TrialFolders f{dir, dir / "card", dir / "dest", dir / "local"};
    fs::create_directories(f.CardDir / "Maps");
    fs::create_directories(f.CardDir / "Logs");
    fs::create_directories(f.Dest);
    fs::create_directories(f.LocalDir);
    for (const CardFile& file : card)
        WriteFile(f.CardDir / "Maps" / file.Name, file.Content);
    return f;
}

void Trial(const std::string& cli, uint64_t seed, int index, const fs::path& work, Totals& totals)
{
    std::mt19937 rng(static_cast<uint32_t>(seed * 1000003u + static_cast<uint64_t>(index)));
    TrialSetup setup;
    setup.Kind = static_cast<Scenario>(std::uniform_int_distribution<int>(0, ScenarioCount - 1)(rng));
    setup.Faults = RandomPlan(rng, setup.Kind);
    // One trial in three at USB full speed, where no silence separates replies.
    const bool fullSpeed = std::uniform_int_distribution<int>(0, 2)(rng) == 0;
    const bool paired = setup.Faults.Text.find("dup-out") != std::string::npos &&
                        (setup.Faults.Text.find("drop-in") != std::string::npos ||
                         setup.Faults.Text.find("drop-out") != std::string::npos);

    const std::vector<CardFile> card = CardFiles();
    const TrialFolders f = MakeFolders(work / ("trial-" + std::to_string(index)), card);
    const CampaignNames& n = Names();
    const std::vector<CardFile> local = {{n.NewMap, Pattern(2600, 10 + static_cast<uint32_t>(index))},
                                         {n.Middle, Pattern(5000, 20 + static_cast<uint32_t>(index))}};
    for (const CardFile& file : local)
        WriteFile(f.LocalDir / file.Name, file.Content);

    std::vector<std::string> args = {"--simulate=" + f.CardDir.string()};
    auto get = [&](std::vector<std::string> names) {
        setup.Asked = names;
        args.insert(args.end(), {"get", "A:\\Maps"});
        args.insert(args.end(), names.begin(), names.end());
        args.insert(args.end(), {"--to", f.Dest.string()});
    };
    switch (setup.Kind) {
    case Scenario::GetOne: get({n.Middle}); break;
    case Scenario::GetSeveral: get({n.Small, n.Middle, n.Tiny}); break;
    case Scenario::GetLarge: get({n.Large}); break;
    case Scenario::Put:
        args.insert(args.end(), {"put", "A:\\Maps", (f.LocalDir / n.NewMap).string(), (f.LocalDir / n.Middle).string()});
        break;
    case Scenario::Remove:
        setup.Asked = {n.Tiny, n.Middle};
        setup.NamesMissing = std::uniform_int_distribution<int>(0, 1)(rng) == 0;
        args.insert(args.end(), {"rm", "A:\\Maps", n.Tiny});
        if (setup.NamesMissing)
            args.push_back(n.Missing);
        args.push_back(n.Middle);
        break;
    case Scenario::Info: args.push_back("info"); break;
    case Scenario::Flash: args.insert(args.end(), {"flash", (f.LocalDir / "fw.bin").string()}); break;
    case Scenario::List: args.insert(args.end(), {"ls", "A:\\Maps"}); break;
    }
    const Bytes image = Pattern(20 * 1024, 30 + static_cast<uint32_t>(index));
    WriteFile(f.LocalDir / "fw.bin", image);
    // One transfer in five gets SIGINT or SIGTERM at a random moment.
    int signalAfterMs = 0;
    const bool transfer = setup.Kind != Scenario::Remove && setup.Kind != Scenario::Info && setup.Kind != Scenario::List;
    if (transfer && std::uniform_int_distribution<int>(0, 4)(rng) == 0) {
        setup.Signal = std::uniform_int_distribution<int>(0, 1)(rng) == 0 ? SIGINT : SIGTERM;
        signalAfterMs = std::uniform_int_distribution<int>(0, 600)(rng);
    }
    const Run run = RunCli(cli, args, setup.Faults.Text, f.Dir, fullSpeed, setup.Signal, signalAfterMs);
    const Outcome outcome = Check(setup, run, card, f.CardDir, f.Dest, local, image);
    std::string label = setup.Faults.Text + (fullSpeed ? " (full speed)" : "");
    if (setup.Signal != 0)
        label += std::string(setup.Signal == SIGINT ? " SIGINT" : " SIGTERM") + " after " + std::to_string(signalAfterMs) + " ms";
    Record(totals, ScenarioName(setup.Kind), label, outcome, run, f.Dir, paired);
}

// Fixed checks: how many there are, and the one with a given index.
constexpr int ListingChecks = 4;
constexpr int IssueGetRuns = 10;
constexpr int FixedChecks = ListingChecks + IssueGetRuns;

void FixedCheck(const std::string& cli, int index, const fs::path& work, Totals& totals)
{
    const fs::path dir = work / ("fixed-" + std::to_string(index));
    Outcome outcome;
    Run run;
    std::string plan;
    std::string label;
    if (index < ListingChecks) {
        // The unit refuses a listing: with a status for the first request or
        // a later one, or because the folder is not there. Only the listing
        // that ends on the unit's end entry exits 0.
        struct Case {
            const char* Plan;
            const char* Folder;
            bool Whole;
        };
        static const Case cases[ListingChecks] = {{"status=0x4010:0x08", "A:\\Maps", false},
                                                  {"status=0x4011:0x08@1", "A:\\Maps", false},
                                                  {"", "A:\\Nope", false},
                                                  {"", "A:\\Maps", true}};
        const Case& c = cases[index];
        plan = c.Plan;
        label = std::string("fixed ls ") + c.Folder;
        const std::vector<CardFile> card = CardFiles();
        const TrialFolders f = MakeFolders(dir, card);
        run = RunCli(cli, {"--simulate=" + f.CardDir.string(), "ls", c.Folder}, plan, dir);
        outcome.Succeeded = run.Exit == 0;
        if (c.Whole && (run.Exit != 0 || !WholeListing(run.Out, card)))
            outcome = {true, false, outcome.Succeeded, "the whole listing did not exit 0 with every file: " + run.Out};
        if (!c.Whole && run.Exit != 1)
            outcome = {true, false, outcome.Succeeded, "a refused listing exited " + std::to_string(run.Exit)};
    } else {
        // Issue 21: a duplicated request and a lost input report at USB full
        // speed, on the card the simulated unit makes for itself.
        plan = "dup-out=96,drop-in=780";
        label = "fixed get of issue 21";
        const fs::path cardDir = dir / "card";
        const fs::path dest = dir / "dest";
        fs::create_directories(dest);
        run = RunCli(cli, {"--simulate=" + cardDir.string(), "get", "A:\\Logs", "RUN1.displog", "--to", dest.string()},
                     plan, dir, true);
        Bytes expected, got;
        const bool onCard = ReadFile(cardDir / "Logs" / "RUN1.displog", expected);
        const bool written = ReadFile(dest / "RUN1.displog", got);
        outcome.Succeeded = run.Exit == 0;
        if (run.Hung || run.Signal != 0 || (run.Exit != 0 && run.Exit != 1))
            outcome = {true, false, false, "hung, killed or exit " + std::to_string(run.Exit)};
        else if (!onCard)
            outcome = {true, false, false, "the simulated card has no RUN1.displog"};
        else if (run.Exit == 0 && (!written || got != expected))
            outcome = {true, false, true, "exit 0 but RUN1.displog differs from the card's"};
        else if (run.Exit != 0 && written)
            outcome = {true, false, false, "failed but RUN1.displog written"};
    }
    Record(totals, label, plan, outcome, run, dir, false);
}

} // namespace

int main(int argc, char** argv)
{
    std::string cli;
    int trials = 100;
    int jobs = 8;
    uint64_t seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--cli")
            cli = argv[i + 1];
        else if (arg == "--trials")
            trials = std::atoi(argv[i + 1]);
        else if (arg == "--jobs")
            jobs = std::atoi(argv[i + 1]);
        else if (arg == "--seed")
            seed = std::strtoull(argv[i + 1], nullptr, 10);
    }
    if (cli.empty() || trials <= 0 || jobs <= 0) {
        std::fprintf(stderr, "usage: tessaly_fault_campaign --cli PATH [--trials N] [--jobs J] [--seed S]\n");
        return 2;
    }
    const fs::path work = fs::temp_directory_path() / ("tessaly-campaign-" + std::to_string(getpid()));
    fs::create_directories(work);

    Totals totals;
    std::atomic<int> next{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j)
        workers.emplace_back([&] {
            for (int index = next++; index < FixedChecks + trials; index = next++) {
                if (index < FixedChecks)
                    FixedCheck(cli, index, work, totals);
                else
                    Trial(cli, seed, index - FixedChecks, work, totals);
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("fault campaign: %d random trials and %d fixed checks, seed %llu, %.0f s\n",
                totals.Trials - FixedChecks, FixedChecks, static_cast<unsigned long long>(seed), seconds);
    std::printf("  plans with a duplicated request and a lost input report or request: %d\n", totals.Paired);
    for (const auto& [name, counts] : totals.PerScenario)
        std::printf("  %-18s %4d trials, %4d reported complete success\n", name.c_str(), counts.first, counts.second);
    std::printf("  wrong bytes from a duplicated or corrupted input report inside a reply: %d (%.1f%%)\n",
                totals.InputWrong, 100.0 * totals.InputWrong / std::max(1, totals.Trials));
    for (const std::string& report : totals.Reports)
        std::printf("BROKEN %s\n", report.c_str());
    std::printf("%d passed, %d failed\n", totals.Trials - totals.Broken, totals.Broken);
    if (totals.Broken == 0) {
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }
    return totals.Broken == 0 ? 0 : 1;
}
