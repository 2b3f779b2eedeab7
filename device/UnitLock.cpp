#include "UnitLock.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include <filesystem>

#include "PathText.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Lock names must not depend on how long or odd a device path is.
std::string KeyHash(const std::string& key)
{
    uint64_t hash = 0xcbf29ce484222325ull; // FNV-1a
    for (const unsigned char c : key) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

constexpr auto RetrySlice = std::chrono::milliseconds(10);

// The state file's first byte says whether its last holder finished: '1' while
// a command runs, '0' once it ended normally.
constexpr char Running = '1';
constexpr char Finished = '0';

thread_local std::string lastFailure;

// Every attempt leaves its failure (or none) for LastUnitLockFailure.
UnitLockAttempt Record(UnitLockAttempt attempt)
{
    lastFailure = attempt.Failure;
    return attempt;
}

UnitLockAttempt InUse()
{
    return Record({});
}

UnitLockAttempt Failed(const std::string& reason)
{
    UnitLockAttempt attempt;
    attempt.Failure = "cannot lock the display unit: " + reason;
    return Record(std::move(attempt));
}

#ifdef _WIN32

// A file opened without sharing: no other handle, in this process or another, can open it
// until this one is closed, which the system does when the process ends in any way. Unlike a
// named mutex it belongs to no thread (a lock may end on another thread than it began) and a
// second holder in the same thread is refused as well.
class ExclusiveFileLock : public UnitLock {
public:
    explicit ExclusiveFileLock(HANDLE file) : File(file) {}
    ~ExclusiveFileLock() override
    {
        OVERLAPPED at{};
        DWORD written = 0;
        WriteFile(File, &Finished, 1, &written, &at);
        CloseHandle(File);
    }

private:
    HANDLE File;
};

std::string SystemError(DWORD code)
{
    return "system error " + std::to_string(code);
}

#else

// Holds an advisory lock on LockFd; StateFd (the same descriptor, another one or
// none) records that the holder finished.
class FileLock : public UnitLock {
public:
    FileLock(int lockFd, int stateFd) : LockFd(lockFd), StateFd(stateFd) {}
    ~FileLock() override
    {
        if (StateFd >= 0)
            (void)!pwrite(StateFd, &Finished, 1, 0);
        if (StateFd >= 0 && StateFd != LockFd)
            close(StateFd);
        flock(LockFd, LOCK_UN);
        close(LockFd);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int LockFd;
    int StateFd;
};

// Closes a descriptor unless it is handed on.
class Descriptor {
public:
    explicit Descriptor(int fd) : Fd(fd) {}
    ~Descriptor()
    {
        if (Fd >= 0)
            close(Fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return Fd; }
    int Release()
    {
        const int fd = Fd;
        Fd = -1;
        return fd;
    }

private:
    int Fd;
};

std::string ErrorText(int error)
{
    return std::strerror(error);
}

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Opens the lock folder, making it (mode 0700) when missing. Refused unless it is a folder,
// reached without following a link at its end, owned by this user and closed to everyone else:
// a folder made, owned or redirected by another user would let that user hold or move our lock.
int OpenPrivateFolder(const std::string& folder, std::string& failure)
{
    const std::string named = "the lock folder " + folder;
    const bool made = mkdir(folder.c_str(), 0700) == 0;
    if (!made && errno != EEXIST) {
        failure = named + " cannot be made: " + ErrorText(errno);
        return -1;
    }
    Descriptor fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) {
        const int error = errno;
        // A link at the end gives ELOOP or ENOTDIR, depending on the system.
        struct stat link {};
        if ((error == ELOOP || error == ENOTDIR) && lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            failure = named + " is a symbolic link";
        else if (error == ENOTDIR)
            failure = named + " is not a folder";
        else
            failure = named + " cannot be opened: " + ErrorText(error);
        return -1;
    }
    struct stat info {};
    if (fstat(fd.Get(), &info) != 0) {
        failure = named + " cannot be examined: " + ErrorText(errno);
        return -1;
    }
    if (!S_ISDIR(info.st_mode)) {
        failure = named + " is not a folder";
        return -1;
    }
    if (info.st_uid != geteuid()) {
        failure = named + " belongs to another user (user id " + std::to_string(info.st_uid) + ")";
        return -1;
    }
    // A umask may have taken bits from the folder just made.
    if (made && (info.st_mode & 07777) != 0700 && fchmod(fd.Get(), 0700) == 0)
        info.st_mode = (info.st_mode & ~07777) | 0700;
    if ((info.st_mode & 07777) != 0700) {
        failure = named + " has mode " + ModeText(info.st_mode) + " instead of 0700";
        return -1;
    }
    return fd.Release();
}

// Opens (making it when missing) the file `name` in the open folder `folder`, not following a
// link; refused unless it is a regular file of this user. -1 with `failure` set otherwise.
int OpenLockFile(int folder, const std::string& folderText, const std::string& name, std::string& failure)
{
    const std::string named = "the lock file " + folderText + "/" + name;
    Descriptor fd(openat(folder, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (fd.Get() < 0) {
        const int error = errno;
        failure = named + (error == ELOOP ? " is a symbolic link" : " cannot be opened: " + ErrorText(error));
        return -1;
    }
    struct stat info {};
    if (fstat(fd.Get(), &info) != 0) {
        failure = named + " cannot be examined: " + ErrorText(errno);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        failure = named + " is not a regular file";
        return -1;
    }
    if (info.st_uid != geteuid()) {
        failure = named + " belongs to another user (user id " + std::to_string(info.st_uid) + ")";
        return -1;
    }
    return fd.Release();
}

// 0 once the lock is had; EWOULDBLOCK when another holder kept it for waitMs; another errno
// when the descriptor cannot be locked at all.
int LockWithin(int fd, uint32_t waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR)
            return error;
        if (std::chrono::steady_clock::now() >= deadline)
            return EWOULDBLOCK;
        std::this_thread::sleep_for(RetrySlice);
    }
}

// True when the state file says its last holder did not finish; marks this holder as running.
bool TakeOverState(int stateFd)
{
    char last = Finished;
    const bool unfinished = pread(stateFd, &last, 1, 0) == 1 && last == Running;
    (void)!pwrite(stateFd, &Running, 1, 0);
    return unfinished;
}

UnitLockAttempt LockFileIn(int folder, const std::string& folderText, const std::string& name, uint32_t waitMs)
{
    std::string failure;
    Descriptor fd(OpenLockFile(folder, folderText, name, failure));
    if (fd.Get() < 0)
        return Failed(failure);
    if (const int error = LockWithin(fd.Get(), waitMs); error == EWOULDBLOCK)
        return InUse();
    else if (error != 0)
        return Failed("the lock file " + folderText + "/" + name + " cannot be locked: " + ErrorText(error));
    const bool unfinished = TakeOverState(fd.Get());
    const int held = fd.Release();
    return Record({std::make_unique<FileLock>(held, held), unfinished, {}});
}

#endif

} // namespace

std::string LastUnitLockFailure()
{
    return lastFailure;
}

UnitLockAttempt LockUnitFile(const std::string& key, uint32_t waitMs)
{
    return LockUnitFileIn(UnitLockFolder(), key, waitMs);
}

#ifdef _WIN32

std::string UnitLockFolder()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH)
        return {};
    return Utf8FromPath(std::filesystem::path(temp) / L"tessaly");
}

UnitLockAttempt LockUnitFileIn(const std::string& folder, const std::string& key, uint32_t waitMs)
{
    if (folder.empty())
        return Failed("the user's temporary folder is unknown");
    const std::filesystem::path folderPath = PathFromUtf8(folder);
    const std::string named = "the lock folder " + folder;
    if (!CreateDirectoryW(folderPath.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return Failed(named + " cannot be made: " + SystemError(GetLastError()));
    // The folder lies in the user's own profile; a link there could still lead the file elsewhere.
    const DWORD attributes = GetFileAttributesW(folderPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Failed(named + " cannot be opened: " + SystemError(GetLastError()));
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Failed(named + " is a link");
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Failed(named + " is not a folder");
    const std::wstring path = (folderPath / ("unit-" + KeyHash(key) + ".lock")).native();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (;;) {
        file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            break;
        // Held by another handle: wait for it. Anything else is a failure to lock.
        const DWORD failure = GetLastError();
        if (failure != ERROR_SHARING_VIOLATION && failure != ERROR_LOCK_VIOLATION &&
            failure != ERROR_ACCESS_DENIED)
            return Failed("the lock file in " + folder + " cannot be opened: " + SystemError(failure));
        if (std::chrono::steady_clock::now() >= deadline)
            return InUse();
        std::this_thread::sleep_for(RetrySlice);
    }
    char last = Finished;
    DWORD got = 0;
    OVERLAPPED at{};
    const bool unfinished = ReadFile(file, &last, 1, &got, &at) && got == 1 && last == Running;
    DWORD written = 0;
    OVERLAPPED start{};
    WriteFile(file, &Running, 1, &written, &start);
    return Record({std::make_unique<ExclusiveFileLock>(file), unfinished, {}});
}

UnitLockAttempt LockUnitNode(const std::string& nodePath, uint32_t waitMs)
{
    return LockUnitFile(nodePath, waitMs);
}

UnitLockAttempt LockUnitFileInsideFolder(const std::string& folder, const std::string& key, uint32_t waitMs)
{
    return LockUnitFile(key + ":" + folder, waitMs);
}

#else

std::string UnitLockFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/tessaly";
    const char* temp = std::getenv("TMPDIR");
    return std::string(temp && *temp ? temp : "/tmp") + "/tessaly-" + std::to_string(geteuid());
}

UnitLockAttempt LockUnitFileIn(const std::string& folder, const std::string& key, uint32_t waitMs)
{
    std::string failure;
    const Descriptor directory(OpenPrivateFolder(folder, failure));
    if (directory.Get() < 0)
        return Failed(failure + "; set XDG_RUNTIME_DIR or TMPDIR to a folder of your own");
    return LockFileIn(directory.Get(), folder, "unit-" + KeyHash(key) + ".lock", waitMs);
}

UnitLockAttempt LockUnitNode(const std::string& nodePath, uint32_t waitMs)
{
    const std::string named = "the device node " + nodePath;
    // Read-only is enough for a lock; this descriptor never reads, and the node keeps at most a
    // short ring of reports for it.
    Descriptor node(open(nodePath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (node.Get() < 0)
        return Failed(named + " cannot be opened to lock it: " + ErrorText(errno));
    if (const int error = LockWithin(node.Get(), waitMs); error == EWOULDBLOCK)
        return InUse();
    else if (error != 0)
        return Failed(named + " cannot be locked: " + ErrorText(error));
    // Whether the last holder finished: kept in the user's private folder when it can be.
    std::string ignored;
    const std::string folder = UnitLockFolder();
    const Descriptor directory(OpenPrivateFolder(folder, ignored));
    const int state = directory.Get() < 0
                    ? -1
                    : OpenLockFile(directory.Get(), folder, "unit-" + KeyHash(nodePath) + ".state", ignored);
    const bool unfinished = state < 0 || TakeOverState(state);
    const int held = node.Release();
    return Record({std::make_unique<FileLock>(held, state), unfinished, {}});
}

UnitLockAttempt LockUnitFileInsideFolder(const std::string& folder, const std::string& key, uint32_t waitMs)
{
    const Descriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() < 0)
        return Failed("the folder " + folder + " cannot be opened: " + ErrorText(errno));
    return LockFileIn(directory.Get(), folder, "tessaly:unit-" + KeyHash(key) + ".lock", waitMs);
}

#endif
