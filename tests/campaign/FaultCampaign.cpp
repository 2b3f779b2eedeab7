// A random fault campaign: tessaly-cli against the simulated unit under random
// fault plans (lost, duplicated, corrupted, late reports in and out, failing
// statuses, a mute or unplugged unit, a held-up reader, another program on the
// unit), checked as a user would check the outcome:
// - a file reported got is byte-identical to the unit's, a file reported
//   failed leaves nothing behind in the destination;
// - a file reported sent is on the unit byte-identical, one reported removed
//   is gone, a file that was never there is never reported removed;
// - info reported is the unit's identity;
// - nothing hangs past the time-outs, nothing crashes.
// Wrong bytes from a duplicated or corrupted input report inside a reply are
// possible (replies carry no checksum) and are counted apart, not as failures.
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

// The unit's card at the start of every trial.
std::vector<CardFile> CardFiles()
{
    return {{"Track Day.qxm", Pattern(3000, 1)},
            {"Street.qxm", Pattern(6000, 2)},
            {"Dyno.wzm", Pattern(1500, 3)},
            {"Big.qxm", Pattern(200 * 1024, 4)}};
}

enum class Scenario { GetOne, GetSeveral, GetLarge, Put, Remove, Info, Flash };
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
    }
    return "?";
}
constexpr int ScenarioCount = 7;
// The simulated unit's flash and where an image lands with address unit 1.
constexpr uint32_t FlashBase = 0x10000000;
constexpr uint32_t AppStart = 0x10008000;

// A random plan of one to three items, at report numbers within reach of the scenario.
std::string RandomPlan(std::mt19937& rng, Scenario scenario, bool& inputFault)
{
    const int reach = scenario == Scenario::GetLarge || scenario == Scenario::Flash ? 400
                      : scenario == Scenario::Info                                  ? 12
                                                                                    : 80;
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    const int items = pick(1, 3);
    std::string plan;
    inputFault = false;
    for (int i = 0; i < items; ++i) {
        if (!plan.empty())
            plan += ",";
        const std::string n = std::to_string(pick(1, reach));
        const bool in = pick(0, 1) == 0;
        const std::string dir = in ? "in" : "out";
        switch (pick(0, 10)) {
        case 0: plan += "drop-" + dir + "=" + n; break;
        case 1:
            plan += "dup-" + dir + "=" + n;
            inputFault = inputFault || in;
            break;
        case 2:
            plan += "corrupt-" + dir + "=" + n + ":" + std::to_string(pick(0, 63));
            inputFault = inputFault || in;
            break;
        case 3: {
            static const int delays[] = {30, 150, 400, 1200, 1600, 2500};
            plan += "delay-" + dir + "=" + n + ":" + std::to_string(delays[pick(0, 5)]);
            break;
        }
        case 4: {
            static const char* codes[] = {"0x4000", "0x4001", "0x4010", "0x4011", "0x4012", "0x4013", "0x4014"};
            static const char* bootCodes[] = {"0x6000", "0x6001", "0x6002", "0x6003", "0x6005", "0x6002", "0x6002"};
            static const char* statuses[] = {"0x02", "0x04", "0x05", "0x08"};
            plan += std::string("status=") + (scenario == Scenario::Flash ? bootCodes : codes)[pick(0, 6)] + ":" +
                    statuses[pick(0, 3)];
            if (pick(0, 1) == 0)
                plan += "@" + std::to_string(pick(1, 5));
            break;
        }
        case 5: plan += "mute-after=" + n; break;
        case 6: plan += "unplug-after=" + n; break;
        case 7: plan += "hold-in=" + n + ":" + std::to_string(pick(50, 400)); break;
        case 8: {
            static const char* codes[] = {"0x4000", "0x4011", "0x4012", "0x4013", "0x4014"};
            static const char* bootCodes[] = {"0x6000", "0x6001", "0x6002", "0x6003", "0x6005"};
            plan += "intrude=" + n + ":" + (scenario == Scenario::Flash ? bootCodes : codes)[pick(0, 4)];
            break;
        }
        default: plan += "dup-out=" + n; break;
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

Run RunCli(const std::string& cli, const std::vector<std::string>& args, const std::string& plan, const fs::path& dir)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TESSALY_SIM_", 12) != 0)
            env.emplace_back(*e);
    env.push_back("TESSALY_SIM_FAULTS=" + plan);
    env.push_back("TESSALY_SIM_FLASH=" + (dir / "flash.out").string());
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
    const auto deadline = std::chrono::steady_clock::now() + HangLimit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
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

// Names tessaly-cli reported as failed: its lines "tessaly-cli: NAME: ...".
bool ReportedFailed(const Run& run, const std::string& name)
{
    return run.Err.find("tessaly-cli: " + name + ":") != std::string::npos;
}

bool NamesAny(const Run& run, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        if (ReportedFailed(run, name))
            return true;
    return false;
}

struct Outcome {
    bool Broken = false;         // a rule was broken
    bool InputWrongBytes = false; // wrong bytes, explained by an input fault inside a reply
    bool Succeeded = false;      // the command reported complete success
    std::string Why;
};

Outcome Check(Scenario scenario, const Run& run, const std::vector<CardFile>& card, const fs::path& cardDir,
              const fs::path& dest, const std::vector<CardFile>& local, bool inputFault, const Bytes& image)
{
    Outcome outcome;
    auto broken = [&](const std::string& why) {
        outcome.Broken = true;
        outcome.Why += why + "; ";
    };
    if (run.Hung)
        broken("hung");
    if (run.Signal != 0)
        broken("killed by signal " + std::to_string(run.Signal));
    if (run.Err.find("Sanitizer") != std::string::npos || run.Err.find("runtime error") != std::string::npos)
        broken("sanitizer report");
    if (run.Exit != 0 && run.Exit != 1)
        broken("exit code " + std::to_string(run.Exit));
    outcome.Succeeded = run.Exit == 0;
    if (outcome.Broken)
        return outcome;

    auto cardContent = [&](const std::string& name) -> const Bytes* {
        for (const CardFile& f : card)
            if (f.Name == name)
                return &f.Content;
        return nullptr;
    };
    switch (scenario) {
    case Scenario::GetOne:
    case Scenario::GetSeveral:
    case Scenario::GetLarge: {
        std::vector<std::string> asked;
        for (const auto& entry : fs::directory_iterator(dest)) {
            const std::string name = entry.path().filename().string();
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
            if (ReportedFailed(run, name))
                broken(name + " reported failed but written");
        }
        break;
    }
    case Scenario::Put:
        for (const CardFile& f : local) {
            // A command that failed before its files (no unit, unit in use) names none of them.
            if (ReportedFailed(run, f.Name) || (run.Exit != 0 && !NamesAny(run, {"New Map.qxm", "Street.qxm"})))
                continue;
            Bytes onCard;
            if (!ReadFile(cardDir / "Maps" / f.Name, onCard))
                broken(f.Name + " reported sent but missing");
            else if (onCard != f.Content)
                broken(f.Name + " reported sent with wrong bytes");
        }
        break;
    case Scenario::Remove:
        for (const std::string name : {"Dyno.wzm", "nosuch.qxm", "Street.qxm"}) {
            if (ReportedFailed(run, name) || (run.Exit != 0 && !NamesAny(run, {"Dyno.wzm", "nosuch.qxm", "Street.qxm"})))
                continue;
            if (std::string(name) == "nosuch.qxm")
                broken("a file that was never there reported removed");
            else if (fs::exists(cardDir / "Maps" / name))
                broken(std::string(name) + " reported removed but still there");
        }
        if (run.Exit == 0)
            broken("rm of a missing file exited 0");
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
        if (run.Exit == 0 && (run.Out.find("Serial Number: QX-SIM-000123") == std::string::npos ||
                              run.Out.find("Firmware Version: 1.2.3") == std::string::npos)) {
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
    int Trials = 0, Broken = 0, InputWrong = 0;
    std::map<std::string, std::pair<int, int>> PerScenario; // trials, succeeded
    std::vector<std::string> Reports;
};

void Trial(const std::string& cli, uint64_t seed, int index, const fs::path& work, Totals& totals)
{
    std::mt19937 rng(static_cast<uint32_t>(seed * 1000003u + static_cast<uint64_t>(index)));
    const auto scenario = static_cast<Scenario>(std::uniform_int_distribution<int>(0, ScenarioCount - 1)(rng));
    bool inputFault = false;
    const std::string plan = RandomPlan(rng, scenario, inputFault);

    const fs::path dir = work / ("trial-" + std::to_string(index));
    const fs::path cardDir = dir / "card";
    const fs::path dest = dir / "dest";
    const fs::path localDir = dir / "local";
    fs::create_directories(cardDir / "Maps");
    fs::create_directories(cardDir / "Logs");
    fs::create_directories(dest);
    fs::create_directories(localDir);
    const std::vector<CardFile> card = CardFiles();
    for (const CardFile& f : card)
        WriteFile(cardDir / "Maps" / f.Name, f.Content);
    const std::vector<CardFile> local = {{"New Map.qxm", Pattern(2600, 10 + static_cast<uint32_t>(index))},
                                         {"Street.qxm", Pattern(5000, 20 + static_cast<uint32_t>(index))}};
    for (const CardFile& f : local)
        WriteFile(localDir / f.Name, f.Content);

    std::vector<std::string> args = {"--simulate=" + cardDir.string()};
    switch (scenario) {
    case Scenario::GetOne: args.insert(args.end(), {"get", "A:\\Maps", "Street.qxm", "--to", dest.string()}); break;
    case Scenario::GetSeveral:
        args.insert(args.end(),
                    {"get", "A:\\Maps", "Track Day.qxm", "Street.qxm", "Dyno.wzm", "--to", dest.string()});
        break;
    case Scenario::GetLarge: args.insert(args.end(), {"get", "A:\\Maps", "Big.qxm", "--to", dest.string()}); break;
    case Scenario::Put:
        args.insert(args.end(), {"put", "A:\\Maps", (localDir / "New Map.qxm").string(), (localDir / "Street.qxm").string()});
        break;
    case Scenario::Remove: args.insert(args.end(), {"rm", "A:\\Maps", "Dyno.wzm", "nosuch.qxm", "Street.qxm"}); break;
    case Scenario::Info: args.push_back("info"); break;
    case Scenario::Flash: args.insert(args.end(), {"flash", (localDir / "fw.bin").string()}); break;
    }
    const Bytes image = Pattern(20 * 1024, 30 + static_cast<uint32_t>(index));
    WriteFile(localDir / "fw.bin", image);
    const Run run = RunCli(cli, args, plan, dir);
    const Outcome outcome = Check(scenario, run, card, cardDir, dest, local, inputFault, image);

    std::lock_guard lock(totals.Lock);
    ++totals.Trials;
    auto& counts = totals.PerScenario[ScenarioName(scenario)];
    ++counts.first;
    counts.second += outcome.Succeeded ? 1 : 0;
    totals.InputWrong += outcome.InputWrongBytes ? 1 : 0;
    if (outcome.Broken) {
        ++totals.Broken;
        totals.Reports.push_back("trial " + std::to_string(index) + " (" + ScenarioName(scenario) + ", TESSALY_SIM_FAULTS=\"" +
                                 plan + "\"): " + outcome.Why + "\n  stderr: " + run.Err.substr(0, 400));
    } else {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
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
            for (int index = next++; index < trials; index = next++)
                Trial(cli, seed, index, work, totals);
        });
    for (std::thread& worker : workers)
        worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("fault campaign: %d trials, seed %llu, %.0f s\n", totals.Trials, static_cast<unsigned long long>(seed),
                seconds);
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
