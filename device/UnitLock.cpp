#include "UnitLock.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

// The file's first byte says whether its last holder finished: '1' while a
// command runs, '0' once it ended normally.
constexpr char Running = '1';
constexpr char Finished = '0';

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

#else

class FileLock : public UnitLock {
public:
    explicit FileLock(int fd) : Fd(fd) {}
    ~FileLock() override
    {
        (void)!pwrite(Fd, &Finished, 1, 0);
        flock(Fd, LOCK_UN);
        close(Fd);
    }

private:
    int Fd;
};

#endif

} // namespace

#ifdef _WIN32

std::string UnitLockFolder()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH)
        return {};
    return Utf8FromPath(std::filesystem::path(temp) / L"tessaly");
}

UnitLockAttempt LockUnitFile(const std::string& key, uint32_t waitMs)
{
    const std::string folder = UnitLockFolder();
    if (folder.empty())
        return {};
    const std::filesystem::path folderPath = PathFromUtf8(folder);
    std::error_code error;
    std::filesystem::create_directories(folderPath, error);
    const std::wstring path = (folderPath / ("unit-" + KeyHash(key) + ".lock")).native();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (;;) {
        file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            break;
        // Held by another handle: wait for it. Anything else is a failure to lock.
        const DWORD failure = GetLastError();
        if ((failure != ERROR_SHARING_VIOLATION && failure != ERROR_LOCK_VIOLATION &&
             failure != ERROR_ACCESS_DENIED) ||
            std::chrono::steady_clock::now() >= deadline)
            return {};
        std::this_thread::sleep_for(RetrySlice);
    }
    char last = Finished;
    DWORD got = 0;
    OVERLAPPED at{};
    const bool unfinished = ReadFile(file, &last, 1, &got, &at) && got == 1 && last == Running;
    DWORD written = 0;
    OVERLAPPED start{};
    WriteFile(file, &Running, 1, &written, &start);
    return {std::make_unique<ExclusiveFileLock>(file), unfinished};
}

#else

std::string UnitLockFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/tessaly";
    const char* temp = std::getenv("TMPDIR");
    return std::string(temp && *temp ? temp : "/tmp") + "/tessaly-" + std::to_string(getuid());
}

UnitLockAttempt LockUnitFile(const std::string& key, uint32_t waitMs)
{
    const std::string folder = UnitLockFolder();
    // Private to the user: another user's program cannot hold our units.
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    const std::string path = folder + "/unit-" + KeyHash(key) + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            close(fd);
            return {};
        }
        std::this_thread::sleep_for(RetrySlice);
    }
    char last = Finished;
    const bool unfinished = pread(fd, &last, 1, 0) == 1 && last == Running;
    (void)!pwrite(fd, &Running, 1, 0);
    return {std::make_unique<FileLock>(fd), unfinished};
}

#endif
