#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "UnitLock.h"

#ifdef _WIN32
#include <process.h>

#include "ShellRun.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "TempFolder.h"
#endif

namespace {

// A key of its own per test process, so parallel test runs never meet.
std::string Key(const char* name) { return std::string("test:") + name + ":" + std::to_string(getpid()); }

} // namespace

// While one holder has the unit, another waits its time and gets nothing;
// once the first lets go, the unit can be had at once.
TEST(UnitLock, SecondHolderWaitsThenGivesUp)
{
    const std::string key = Key("second");
    UnitLockAttempt first = LockUnitFile(key, 0);
    ASSERT_TRUE(first.Lock);
    EXPECT_FALSE(first.PreviousUnfinished);
    const auto start = std::chrono::steady_clock::now();
    UnitLockAttempt second = LockUnitFile(key, 150);
    EXPECT_FALSE(second.Lock);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    first.Lock.reset();
    UnitLockAttempt third = LockUnitFile(key, 0);
    ASSERT_TRUE(third.Lock);
    // The first holder ended normally.
    EXPECT_FALSE(third.PreviousUnfinished);
}

// A command may end on another thread than the one it began on: the lock goes with the object,
// not with a thread.
TEST(UnitLock, ReleasedFromAnotherThread)
{
    const std::string key = Key("thread");
    UnitLockAttempt first = LockUnitFile(key, 0);
    ASSERT_TRUE(first.Lock);
    std::thread([&] { first.Lock.reset(); }).join();
    UnitLockAttempt second = LockUnitFile(key, 0);
    ASSERT_TRUE(second.Lock);
    EXPECT_FALSE(second.PreviousUnfinished);
    // The same thread asking again while it holds the unit is refused too.
    EXPECT_FALSE(LockUnitFile(key, 0).Lock);
}

#ifdef _WIN32
// A program that dies in the middle of a command leaves replies on their way:
// the next holder learns that its predecessor did not finish.
TEST(UnitLock, HolderThatDiedIsReported)
{
    const std::string key = Key("died");
    const testsupport::ShellRun holder = testsupport::RunProgram(TESSALY_LOCK_HOLDER, {key});
    ASSERT_EQ(holder.Exit, 0) << holder.Output;
    UnitLockAttempt next = LockUnitFile(key, 1000);
    ASSERT_TRUE(next.Lock);
    EXPECT_TRUE(next.PreviousUnfinished);
    next.Lock.reset();
    // It finished normally: the one after it is told nothing.
    EXPECT_FALSE(LockUnitFile(key, 1000).PreviousUnfinished);
}
#else
// A program that dies in the middle of a command leaves replies on their way:
// the next holder learns that its predecessor did not finish.
TEST(UnitLock, HolderThatDiedIsReported)
{
    const std::string key = Key("died");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        UnitLockAttempt held = LockUnitFile(key, 1000);
        _exit(held.Lock ? 0 : 1); // ends without letting go, as a killed program does
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    UnitLockAttempt next = LockUnitFile(key, 1000);
    ASSERT_TRUE(next.Lock);
    EXPECT_TRUE(next.PreviousUnfinished);
}
#endif

#ifndef _WIN32
namespace {

namespace fs = std::filesystem;

// The user the attacks and the second holder run as where the tests run as root.
constexpr unsigned OtherUser = 65534;

// Runs a shell command as OtherUser through setpriv; its exit status.
int RunAsOtherUser(const std::string& command)
{
    const std::string line = "setpriv --reuid=" + std::to_string(OtherUser) + " --regid=" + std::to_string(OtherUser) +
                             " --clear-groups sh -c '" + command + "'";
    return std::system(line.c_str());
}

// Why the second-user tests cannot run here, or empty when they can.
std::string SecondUserUnavailable()
{
    if (geteuid() != 0)
        return "needs root to act as a second user";
    if (std::system("setpriv --version >/dev/null 2>&1") != 0)
        return "setpriv is not installed";
    return {};
}

mode_t ModeOf(const fs::path& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A folder anyone may create entries in, as /tmp is, for the attacks. Its parent is made
// passable for the other user.
class SharedTempFolder {
public:
    SharedTempFolder()
    {
        fs::permissions(Temp.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        fs::create_directory(Path());
        ::chmod(Path().c_str(), 01777);
    }
    fs::path Path() const { return Temp.Path() / "shared"; }

private:
    testsupport::TempFolder Temp;
};

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : Name(name)
    {
        if (const char* old = std::getenv(name))
            Old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment()
    {
        if (Old)
            ::setenv(Name, Old->c_str(), 1);
        else
            ::unsetenv(Name);
    }

private:
    const char* Name;
    std::optional<std::string> Old;
};

// The lock folder of $TMPDIR as it is used when XDG_RUNTIME_DIR is unset.
struct TmpdirOnly {
    explicit TmpdirOnly(const fs::path& folder) : Runtime("XDG_RUNTIME_DIR", nullptr), Tmp("TMPDIR", folder.c_str()) {}
    ScopedEnvironment Runtime;
    ScopedEnvironment Tmp;
};

void ExpectCannotBeMade(const UnitLockAttempt& attempt, const std::string& folder, const std::string& reason)
{
    EXPECT_FALSE(attempt.Lock);
    EXPECT_EQ(attempt.Result(), ERR_UNIT_LOCK);
    EXPECT_NE(attempt.Failure.find(folder), std::string::npos) << attempt.Failure;
    EXPECT_NE(attempt.Failure.find(reason), std::string::npos) << attempt.Failure;
    EXPECT_EQ(LastUnitLockFailure(), attempt.Failure);
}

// A second program started with pipes on its standard input and output.
class Holder {
public:
    explicit Holder(const std::vector<std::string>& args)
    {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            return;
        Pid = ::fork();
        if (Pid == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::close(in[1]);
            ::close(out[0]);
            std::vector<char*> argv;
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            _exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        Input = in[1];
        Output = out[0];
    }
    ~Holder() { Stop(); }

    // Its first line.
    std::string Line()
    {
        std::string line;
        char c = 0;
        while (::read(Output, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    // Ends its input, so it lets go and ends; its exit status.
    int Stop()
    {
        if (Input >= 0)
            ::close(Input);
        Input = -1;
        int status = -1;
        if (Pid > 0)
            ::waitpid(Pid, &status, 0);
        Pid = -1;
        if (Output >= 0)
            ::close(Output);
        Output = -1;
        return status;
    }

private:
    pid_t Pid = -1;
    int Input = -1;
    int Output = -1;
};

} // namespace

// The folder of lock files is checked before a file is made in it: a folder that is a link, not
// a folder, or open to others is refused with the folder and the reason, never as "in use".
TEST(UnitLock, UnsafeFolderIsReportedWithItsReason)
{
    testsupport::TempFolder temp;
    const fs::path elsewhere = temp.Path() / "elsewhere";
    fs::create_directory(elsewhere);
    fs::create_directory_symlink(elsewhere, temp.Path() / "link");
    ExpectCannotBeMade(LockUnitFileIn((temp.Path() / "link").string(), Key("f1"), 0), "link",
                       "is a symbolic link");
    EXPECT_TRUE(testsupport::FolderEntries(elsewhere).empty());

    std::FILE* file = std::fopen((temp.Path() / "plain").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    ExpectCannotBeMade(LockUnitFileIn((temp.Path() / "plain").string(), Key("f2"), 0), "plain", "is not a folder");

    const fs::path open = temp.Path() / "open";
    fs::create_directory(open);
    ::chmod(open.c_str(), 0755);
    ExpectCannotBeMade(LockUnitFileIn(open.string(), Key("f3"), 0), "open", "has mode 0755 instead of 0700");
}

// A lock file put in place as a link (to make the holder create or lock a file elsewhere) is
// refused, and nothing is made where it points.
TEST(UnitLock, LockFileThatIsALinkIsRefused)
{
    testsupport::TempFolder temp;
    const fs::path folder = temp.Path() / "locks";
    ASSERT_TRUE(LockUnitFileIn(folder.string(), Key("made"), 0).Lock);
    EXPECT_EQ(ModeOf(folder), mode_t{0700});
    EXPECT_EQ(LastUnitLockFailure(), "");
    // The name of the file is a hash of the key: find it by making it once.
    const std::vector<std::string> made = testsupport::FolderEntries(folder);
    ASSERT_EQ(made.size(), 1u);
    fs::remove(folder / made[0]);
    fs::create_symlink(temp.Path() / "victim", folder / made[0]);
    ExpectCannotBeMade(LockUnitFileIn(folder.string(), Key("made"), 0), made[0], "is a symbolic link");
    EXPECT_FALSE(fs::exists(temp.Path() / "victim"));
}

// A unit held by another program is the one case reported as in use.
TEST(UnitLock, HeldUnitIsInUseWithoutFailure)
{
    testsupport::TempFolder temp;
    const std::string folder = (temp.Path() / "locks").string();
    UnitLockAttempt first = LockUnitFileIn(folder, Key("use"), 0);
    ASSERT_TRUE(first.Lock);
    EXPECT_EQ(first.Result(), 0u);
    const UnitLockAttempt second = LockUnitFileIn(folder, Key("use"), 0);
    EXPECT_FALSE(second.Lock);
    EXPECT_EQ(second.Result(), ERR_DEVICE_IN_USE);
    EXPECT_EQ(second.Failure, "");
    EXPECT_EQ(LastUnitLockFailure(), "");
}

// The node lock needs no folder: it excludes a second holder of the same node, and tells when
// its previous holder died in the middle of a command.
TEST(UnitLock, NodeLockExcludesAndRemembersUnfinished)
{
    testsupport::TempFolder temp;
    const ScopedEnvironment runtime("XDG_RUNTIME_DIR", (temp.Path() / "runtime").c_str());
    fs::create_directory(temp.Path() / "runtime");
    const std::string node = temp.File("hidraw7");
    std::FILE* file = std::fopen(node.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    {
        UnitLockAttempt first = LockUnitNode(node, 0);
        ASSERT_TRUE(first.Lock) << first.Failure;
        EXPECT_FALSE(first.PreviousUnfinished);
        const UnitLockAttempt second = LockUnitNode(node, 50);
        EXPECT_EQ(second.Result(), ERR_DEVICE_IN_USE);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        UnitLockAttempt held = LockUnitNode(node, 1000);
        _exit(held.Lock ? 0 : 1); // ends without letting go, as a killed program does
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    UnitLockAttempt next = LockUnitNode(node, 1000);
    ASSERT_TRUE(next.Lock);
    EXPECT_TRUE(next.PreviousUnfinished);
    next.Lock.reset();
    EXPECT_FALSE(LockUnitNode(node, 0).PreviousUnfinished);
    // A node that cannot be opened is a lock that cannot be made.
    ExpectCannotBeMade(LockUnitNode(temp.File("missing"), 0), "missing", "cannot be opened to lock it");
}

// The simulated unit's lock lives in its card folder under a name no card can hold.
TEST(UnitLock, InsideFolderLockUsesANameTheUnitCannotList)
{
    testsupport::TempFolder temp;
    UnitLockAttempt first = LockUnitFileInsideFolder(temp.Path().string(), Key("card"), 0);
    ASSERT_TRUE(first.Lock) << first.Failure;
    const std::vector<std::string> entries = testsupport::FolderEntries(temp.Path());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_NE(entries[0].find(':'), std::string::npos) << entries[0];
    EXPECT_EQ(LockUnitFileInsideFolder(temp.Path().string(), Key("card"), 0).Result(), ERR_DEVICE_IN_USE);
}

// Another local user cannot take the lock folder of $TMPDIR from us: a folder made first with
// mode 0700, a folder that user owns and opens to all, and a link to a folder of theirs are each
// refused with the folder and the reason, and none is reported as "in use". The node lock uses
// no such folder and is had in spite of each.
TEST(UnitLock, SecondUserCannotTakeTheLockFolder)
{
    if (const std::string why = SecondUserUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    const SharedTempFolder shared;
    const TmpdirOnly env(shared.Path());
    const std::string folder = UnitLockFolder();
    ASSERT_EQ(folder, (shared.Path() / ("tessaly-" + std::to_string(geteuid()))).string());
    const std::string node = (shared.Path() / "hidraw3").string();
    ASSERT_EQ(RunAsOtherUser("touch " + node + " && chmod 666 " + node), 0);

    struct Attack {
        std::string Command;
        std::string Reason;
    };
    const std::vector<Attack> attacks = {
        {"mkdir -m700 " + folder, "belongs to another user (user id 65534)"},
        {"mkdir -m777 " + folder, "belongs to another user (user id 65534)"},
        {"mkdir -m777 " + folder + ".real && ln -s " + folder + ".real " + folder, "is a symbolic link"},
    };
    for (const Attack& attack : attacks) {
        SCOPED_TRACE(attack.Command);
        ASSERT_EQ(RunAsOtherUser(attack.Command), 0);
        const UnitLockAttempt attempt = LockUnitFile(Key("attacked"), 100);
        ExpectCannotBeMade(attempt, folder, attack.Reason);
        EXPECT_EQ(attempt.Failure.find(UnitInUseText), std::string::npos);
        if (fs::exists(folder + ".real")) {
            EXPECT_TRUE(testsupport::FolderEntries(folder + ".real").empty());
        }
        UnitLockAttempt onNode = LockUnitNode(node, 100);
        EXPECT_TRUE(onNode.Lock) << onNode.Failure;
        // The state of the previous holder cannot be kept: it counts as unfinished.
        EXPECT_TRUE(onNode.PreviousUnfinished);
        ASSERT_EQ(RunAsOtherUser("rm -rf " + folder + " " + folder + ".real"), 0);
    }
    // Without an attacker the folder is made and used.
    EXPECT_TRUE(LockUnitFile(Key("attacked"), 100).Lock);
    EXPECT_EQ(ModeOf(folder), mode_t{0700});
    fs::remove_all(folder);
}

// The node lock excludes every program that opens the unit, whatever its user: a holder running
// as another user keeps us out (reported as in use), and once it lets go the unit is ours.
TEST(UnitLock, NodeLockExcludesAnotherUser)
{
    if (const std::string why = SecondUserUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    const SharedTempFolder shared;
    const TmpdirOnly env(shared.Path()); // the holder's state folder too
    const std::string node = (shared.Path() / "hidraw4").string();
    ASSERT_EQ(RunAsOtherUser("touch " + node + " && chmod 666 " + node), 0);
    Holder other({"setpriv", "--reuid=" + std::to_string(OtherUser), "--regid=" + std::to_string(OtherUser),
                  "--clear-groups", TESSALY_LOCK_HOLDER, "--node", node});
    ASSERT_EQ(other.Line(), "locked");
    const UnitLockAttempt ours = LockUnitNode(node, 100);
    EXPECT_FALSE(ours.Lock);
    EXPECT_EQ(ours.Result(), ERR_DEVICE_IN_USE);
    EXPECT_EQ(ours.Failure, "");
    EXPECT_EQ(other.Stop(), 0);
    EXPECT_TRUE(LockUnitNode(node, 100).Lock);
    // And the other way round: while we hold it, the other user is kept out.
    UnitLockAttempt held = LockUnitNode(node, 0);
    ASSERT_TRUE(held.Lock);
    Holder kept({"setpriv", "--reuid=" + std::to_string(OtherUser), "--regid=" + std::to_string(OtherUser),
                 "--clear-groups", TESSALY_LOCK_HOLDER, "--node", node});
    EXPECT_EQ(kept.Line(), "in use");
}
#endif
