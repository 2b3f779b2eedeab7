#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <csignal>
#include <functional>

#include <string>
#include <vector>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>

#include "LocalFiles.h"
#include "TempFolder.h"

namespace fs = std::filesystem;
using testsupport::ReadText;

TEST(IsSafeFileName, OrdinaryNamesPass)
{
    EXPECT_TRUE(IsSafeFileName("RUN1.displog"));
    EXPECT_TRUE(IsSafeFileName("Track Day.qxm"));
    EXPECT_TRUE(IsSafeFileName(".hidden"));
    EXPECT_TRUE(IsSafeFileName("CONSOLE.txt")); // only the exact device names are reserved
    EXPECT_TRUE(IsSafeFileName("COM0"));
}

// Names that would leave the chosen folder or name something other than a file.
TEST(IsSafeFileName, EscapesAndDeviceNamesFail)
{
    for (const char* name : {"", ".", "..", "../x", "a/b", "a\\b", "C:x", "x:", "con", "CON.txt", "Nul",
                             "com1.log", "LPT9", "aux.displog", "trail.", "trail ", "a<b", "q?", "x*"})
        EXPECT_FALSE(IsSafeFileName(name)) << name;
    EXPECT_FALSE(IsSafeFileName(std::string("tab\tname")));
    EXPECT_FALSE(IsSafeFileName(std::string("nul\0byte", 8)));
    EXPECT_FALSE(IsSafeFileName("del\x7F"));
}

class ReplacingFileTest : public ::testing::Test {
protected:
    size_t Entries() { return testsupport::FolderEntries(folder).size(); }

    testsupport::TempFolder temp;
    const fs::path folder = temp.Path();
};

TEST_F(ReplacingFileTest, CommitReplacesTheOldFile)
{
    std::ofstream(folder / "a.bin") << "old";
    const uint8_t data[] = {'n', 'e', 'w', '!'};
    std::string error;
    ASSERT_TRUE(WriteFileReplacing(folder / "a.bin", data, sizeof data, error)) << error;
    EXPECT_EQ(ReadText(folder / "a.bin"), "new!");
    EXPECT_EQ(Entries(), 1u);
}

// An abandoned write (a failed transfer) leaves the old file and no temporary one.
TEST_F(ReplacingFileTest, UncommittedWriteLeavesNothing)
{
    std::ofstream(folder / "a.bin") << "old";
    {
        ReplacingFile file(folder / "a.bin");
        ASSERT_TRUE(file.Open());
        ASSERT_TRUE(file.Write("partial", 7));
        EXPECT_EQ(Entries(), 2u);
    }
    EXPECT_EQ(ReadText(folder / "a.bin"), "old");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(ReplacingFileTest, UncreatableDestinationIsAnError)
{
    std::string error;
    const uint8_t byte = 1;
    EXPECT_FALSE(WriteFileReplacing(folder / "missing" / "a.bin", &byte, 1, error));
    EXPECT_FALSE(error.empty());
    // A folder in the way of the rename keeps the folder and reports the failure.
    fs::create_directories(folder / "taken");
    EXPECT_FALSE(WriteFileReplacing(folder / "taken", &byte, 1, error));
    EXPECT_TRUE(fs::is_directory(folder / "taken"));
    EXPECT_EQ(Entries(), 1u);
}

// The longest name a file system holds (255 bytes) can be written: the temporary name does not
// grow with the destination's, and the rename keeps the write all or nothing.
TEST_F(ReplacingFileTest, LongestNameIsWritable)
{
    const fs::path longest = folder / std::string(255, 'n');
    std::ofstream(longest) << "old";
    {
        ReplacingFile file(longest);
        ASSERT_TRUE(file.Open()) << file.ErrorText();
        ASSERT_TRUE(file.Write("partial", 7));
    }
    EXPECT_EQ(ReadText(longest), "old");
    EXPECT_EQ(Entries(), 1u);
    const uint8_t data[] = {'n', 'e', 'w'};
    std::string error;
    ASSERT_TRUE(WriteFileReplacing(longest, data, sizeof data, error)) << error;
    EXPECT_EQ(ReadText(longest), "new");
    EXPECT_EQ(Entries(), 1u);
}

TEST(TemporaryFileName, OnlyTheProgramsOwnPattern)
{
    EXPECT_TRUE(IsTemporaryFileName(".tessaly-0123456789abcdef.tmp"));
    for (const char* name : {".tessaly-0123456789ABCDEF.tmp", ".tessaly-0123456789abcde.tmp",
                             ".tessaly-0123456789abcdef0.tmp", "tessaly-0123456789abcdef.tmp",
                             ".tessaly-0123456789abcdef.tmp~", ".tessaly-0123456789abcdeg.tmp", "a.tmp"})
        EXPECT_FALSE(IsTemporaryFileName(name)) << name;
}

#ifndef _WIN32 // file modes, fork and symbolic links
namespace {

mode_t ModeOf(const fs::path& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// The one temporary file in `folder`, or an empty path.
fs::path TemporaryFileIn(const fs::path& folder)
{
    for (const std::string& name : testsupport::FolderEntries(folder))
        if (IsTemporaryFileName(name))
            return folder / name;
    return {};
}

// Ends the calling process with SIGKILL: no destructor runs, as on a kill or a power loss.
[[noreturn]] void DieNow()
{
    ::kill(::getpid(), SIGKILL);
    _exit(3);
}

// Runs `write` in a child process, which is to end by DieNow; true when it did.
bool WriterKilled(const std::function<void()>& write)
{
    const pid_t child = fork();
    if (child == 0) {
        write();
        _exit(1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

} // namespace

// Replacing a private file must not make its new content readable by others: the permission
// bits of the replaced file are kept, from the moment the temporary file exists.
TEST_F(ReplacingFileTest, ReplacedFileKeepsItsPermissionBits)
{
    const mode_t previousMask = ::umask(022);
    for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0664}, mode_t{0400}}) {
        const fs::path path = folder / "kept.csv";
        fs::remove(path);
        std::ofstream(path) << "old";
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        ReplacingFile file(path);
        ASSERT_TRUE(file.Open()) << file.ErrorText();
        EXPECT_EQ(ModeOf(TemporaryFileIn(folder)), mode) << std::oct << mode;
        ASSERT_TRUE(file.Write("new", 3));
        ASSERT_TRUE(file.Commit()) << file.ErrorText();
        EXPECT_EQ(ModeOf(path), mode) << std::oct << mode;
        EXPECT_EQ(ReadText(path), "new");
    }
    // A new file gets the ordinary mode of a new file.
    std::string error;
    const uint8_t byte = 1;
    ASSERT_TRUE(WriteFileReplacing(folder / "fresh.csv", &byte, 1, error)) << error;
    EXPECT_EQ(ModeOf(folder / "fresh.csv"), mode_t{0644});
    ::umask(previousMask);
}

// A program killed while it wrote (SIGKILL, a power loss) leaves its temporary file; the next
// get into that folder removes it.
TEST_F(ReplacingFileTest, TemporaryFileOfAKilledWriterIsRemoved)
{
    std::ofstream(folder / "a.bin") << "old";
    ASSERT_TRUE(WriterKilled([&] {
        ReplacingFile file(folder / "a.bin");
        if (file.Open() && file.Write("partial", 7))
            DieNow();
    }));
    // Killed between Flush and Commit: the file is complete but was never put in place.
    ASSERT_TRUE(WriterKilled([&] {
        ReplacingFile file(folder / "a.bin");
        if (file.Open() && file.Write("complete", 8) && file.Flush())
            DieNow();
    }));
    EXPECT_EQ(Entries(), 3u);
    RemoveStaleTemporaryFiles(folder);
    EXPECT_EQ(testsupport::FolderEntries(folder), std::vector<std::string>{"a.bin"});
    EXPECT_EQ(ReadText(folder / "a.bin"), "old");
}

// A writer that is still at work keeps its file, before and after it flushed, whether it is
// in this process or another; its commit then succeeds.
TEST_F(ReplacingFileTest, TemporaryFileOfALiveWriterIsKept)
{
    ReplacingFile file(folder / "a.bin");
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.Write("abc", 3));
    RemoveStaleTemporaryFiles(folder);
    EXPECT_EQ(Entries(), 1u);
    ASSERT_TRUE(file.Flush());
    const pid_t child = fork();
    if (child == 0) {
        RemoveStaleTemporaryFiles(folder);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(Entries(), 1u);
    ASSERT_TRUE(file.Commit()) << file.ErrorText();
    EXPECT_EQ(ReadText(folder / "a.bin"), "abc");
    EXPECT_EQ(Entries(), 1u);
}

// Only regular files of the temporary-name pattern are removed: other names, links of that
// pattern (and the files they point to) and folders stay.
TEST_F(ReplacingFileTest, StaleRemovalTouchesNothingElse)
{
    const std::string pattern = ".tessaly-00000000000000aa.tmp";
    std::ofstream(folder / "keep.tmp") << "x";
    std::ofstream(folder / ".tessaly-xyz.tmp") << "x";
    std::ofstream(folder / "target") << "x";
    fs::create_symlink(folder / "target", folder / ".tessaly-00000000000000bb.tmp");
    fs::create_directory(folder / ".tessaly-00000000000000cc.tmp");
    std::ofstream(folder / pattern) << "left by a killed get";
    fs::create_directory(folder / "sub");
    std::ofstream(folder / "sub" / pattern) << "below the folder";
    RemoveStaleTemporaryFiles(folder);
    EXPECT_EQ(testsupport::FolderEntries(folder),
              (std::vector<std::string>{".tessaly-00000000000000bb.tmp", ".tessaly-00000000000000cc.tmp",
                                        ".tessaly-xyz.tmp", "keep.tmp", "sub", "target"}));
    EXPECT_TRUE(fs::exists(folder / "sub" / pattern));
    RemoveStaleTemporaryFiles(folder / "missing"); // nothing to do, no failure
}
#endif

TEST_F(ReplacingFileTest, ReadWholeFile)
{
    std::ofstream(folder / "r.bin", std::ios::binary) << std::string("abc\0def", 7);
    std::vector<uint8_t> data;
    std::string error;
    ASSERT_TRUE(ReadWholeFile(folder / "r.bin", data, error));
    EXPECT_EQ(data.size(), 7u);
    EXPECT_EQ(data[4], 'd');
    EXPECT_FALSE(ReadWholeFile(folder / "absent.bin", data, error));
    EXPECT_FALSE(error.empty());
    // An empty file is read as no bytes (only sending refuses it).
    std::ofstream(folder / "empty.bin").close();
    ASSERT_TRUE(ReadWholeFile(folder / "empty.bin", data, error)) << error;
    EXPECT_TRUE(data.empty());
}

using ReadFileToSendTest = ReplacingFileTest;

// An ordinary file is read whole, bytes as they are, through a symbolic link as well.
TEST_F(ReadFileToSendTest, OrdinaryFileReadWhole)
{
    std::string content(200000, 'x');
    content[7] = '\0';
    content.back() = 'z';
    std::ofstream(folder / "map.qxm", std::ios::binary) << content;
    std::vector<std::string> names = {"map.qxm"};
#ifndef _WIN32
    // Symbolic links need an administrator (or developer mode) on Windows; mingw's C++ library
    // does not make them.
    fs::create_symlink(folder / "map.qxm", folder / "link.qxm");
    names.push_back("link.qxm");
#endif
    for (const std::string& name : names) {
        std::vector<uint8_t> data;
        std::string reason;
        ASSERT_EQ(ReadFileToSend(folder / name, data, reason), LocalReadResult::Ok) << reason;
        EXPECT_TRUE(std::string(data.begin(), data.end()) == content) << name;
    }
}

// Sending no bytes would delete the unit's file of that name: an empty file is refused.
TEST_F(ReadFileToSendTest, EmptyFileRefused)
{
    std::ofstream(folder / "empty.qxm").close();
    std::vector<uint8_t> data{1, 2};
    std::string reason;
    EXPECT_EQ(ReadFileToSend(folder / "empty.qxm", data, reason), LocalReadResult::EmptyFile);
    EXPECT_EQ(reason, "empty file");
    EXPECT_TRUE(data.empty());
}

// A file whose size reads 0 but which has content (as under /proc) is read to its end.
TEST_F(ReadFileToSendTest, ZeroSizedProcFileReadToTheEnd)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no /proc";
#endif
    ASSERT_EQ(fs::file_size("/proc/self/status"), 0u);
    std::vector<uint8_t> data;
    std::string reason;
    ASSERT_EQ(ReadFileToSend("/proc/self/status", data, reason), LocalReadResult::Ok) << reason;
    const std::string text(data.begin(), data.end());
    EXPECT_EQ(text.rfind("Name:", 0), 0u) << text;
    EXPECT_NE(text.find("\nPid:\t" + std::to_string(::getpid()) + "\n"), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
}

// Folders and devices are not files to send.
TEST_F(ReadFileToSendTest, FolderAndDeviceRefused)
{
#ifdef _WIN32
    const std::vector<fs::path> paths = {folder}; // devices have no path in the file system
#else
    const std::vector<fs::path> paths = {folder, fs::path("/dev/null")};
#endif
    for (const fs::path& path : paths) {
        std::vector<uint8_t> data;
        std::string reason;
        EXPECT_EQ(ReadFileToSend(path, data, reason), LocalReadResult::NotRegularFile) << path;
        EXPECT_EQ(reason, "not a regular file");
    }
}

// A named pipe is refused at once: opening it for reading would wait for a writer for ever.
TEST_F(ReadFileToSendTest, NamedPipeRefusedWithoutWaiting)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows' named pipes are not files of a folder";
#else
    const fs::path pipe = folder / "pipe.qxm";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::string reason;
    auto reading = std::async(std::launch::async, [&] {
        std::vector<uint8_t> data;
        return ReadFileToSend(pipe, data, reason);
    });
    if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the read waits on the pipe";
        // A writer lets the blocked open return, so that the test can end.
        ::close(::open(pipe.c_str(), O_WRONLY | O_NONBLOCK));
    }
    EXPECT_EQ(reading.get(), LocalReadResult::NotRegularFile);
    EXPECT_EQ(reason, "not a regular file");
#endif
}

// A file the unit could not take (sizes travel in 32 bits) is refused before it is read.
TEST_F(ReadFileToSendTest, FileBeyondUnitLimitRefused)
{
    const fs::path large = folder / "large.qxm";
    std::ofstream(large).close();
    fs::resize_file(large, MaxSendFileSize + 1); // sparse: costs no disk
    std::vector<uint8_t> data;
    std::string reason;
    EXPECT_EQ(ReadFileToSend(large, data, reason), LocalReadResult::TooLarge);
    EXPECT_NE(reason.find("too large"), std::string::npos) << reason;
    EXPECT_TRUE(data.empty());
}

// A file that cannot be read gives the system's reason.
TEST_F(ReadFileToSendTest, UnreadableFileGivesSystemReason)
{
    std::vector<uint8_t> data;
    std::string reason;
    EXPECT_EQ(ReadFileToSend(folder / "absent.qxm", data, reason), LocalReadResult::Unreadable);
    EXPECT_EQ(reason, std::strerror(ENOENT));
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no permission bits that forbid the owner to read";
#else
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files without read permission";
    std::ofstream(folder / "locked.qxm") << "secret";
    fs::permissions(folder / "locked.qxm", fs::perms::none);
    EXPECT_EQ(ReadFileToSend(folder / "locked.qxm", data, reason), LocalReadResult::Unreadable);
    EXPECT_EQ(reason, std::strerror(EACCES));
#endif
}
