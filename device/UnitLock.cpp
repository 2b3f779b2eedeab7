#include "UnitLock.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

#ifdef _WIN32
#include <windows.h>
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

#ifdef _WIN32

class NamedMutexLock : public UnitLock {
public:
    explicit NamedMutexLock(HANDLE mutex) : Mutex(mutex) {}
    ~NamedMutexLock() override
    {
        ReleaseMutex(Mutex);
        CloseHandle(Mutex);
    }

private:
    HANDLE Mutex;
};

#else

// The file's first byte says whether its last holder finished: '1' while a
// command runs, '0' once it ended normally.
constexpr char Running = '1';
constexpr char Finished = '0';

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

std::string UnitLockFolder() { return {}; }

UnitLockAttempt LockUnitFile(const std::string& key, uint32_t waitMs)
{
    const std::string name = "Local\\tessaly-unit-" + KeyHash(key);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    if (mutex == nullptr)
        return {};
    const DWORD waited = WaitForSingleObject(mutex, waitMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return {};
    }
    // An abandoned mutex is one whose owner ended without releasing it.
    return {std::make_unique<NamedMutexLock>(mutex), waited == WAIT_ABANDONED};
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
