#include "LocalFiles.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <random>

#include "PathText.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#endif

namespace {

std::string Upper(std::string_view text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

bool IsReservedDeviceName(std::string_view name)
{
    const std::string stem = Upper(name.substr(0, name.find('.')));
    static const std::array<std::string_view, 4> plain = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(plain.begin(), plain.end(), stem) != plain.end())
        return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' &&
           stem[3] <= '9';
}

#ifndef _WIN32
// Closes a file descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : Fd(fd) {}
    ~Descriptor()
    {
        if (Fd >= 0)
            ::close(Fd);
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
#endif

// Reads a regular file to its end into data, refusing it once it holds more than limit bytes.
// The size the file system reports only sizes the first read: files under /proc report 0 and a
// file may grow while it is read.
LocalReadResult ReadRegularFile(const std::filesystem::path& path, uint64_t limit, std::vector<uint8_t>& data,
                                std::string& reason)
{
    const auto fail = [&](LocalReadResult result, std::string text) {
        data.clear();
        data.shrink_to_fit();
        reason = std::move(text);
        return result;
    };
    const auto tooLarge = [&] {
        return fail(LocalReadResult::TooLarge,
                    "too large for the unit (more than " + std::to_string(limit) + " bytes)");
    };
    // One byte beyond the limit is read to tell a file of exactly `limit` bytes from a larger one.
    const size_t capacity = static_cast<size_t>(std::min<uint64_t>(limit, std::numeric_limits<size_t>::max() - 1)) + 1;
    constexpr size_t Chunk = size_t{64} << 10;
    data.clear();
    size_t used = 0;
#ifndef _WIN32
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return fail(LocalReadResult::Unreadable, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return fail(LocalReadResult::NotRegularFile, "not a regular file");
    // Non-blocking, so that a named pipe put in the file's place after the check cannot hold up
    // the open; no terminal becomes the controlling one. The opened file is checked again.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0)
        return fail(LocalReadResult::Unreadable, std::strerror(errno));
    if (::fstat(file.Get(), &info) != 0)
        return fail(LocalReadResult::Unreadable, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return fail(LocalReadResult::NotRegularFile, "not a regular file");
    if (static_cast<uint64_t>(info.st_size) > limit)
        return tooLarge();
    data.resize(std::min(capacity, std::max(static_cast<size_t>(info.st_size) + 1, Chunk)));
    for (;;) {
        if (used == data.size()) {
            if (used == capacity)
                return tooLarge();
            data.resize(std::min(capacity, std::max(used * 2, used + Chunk)));
        }
        const ssize_t got = ::read(file.Get(), data.data() + used, data.size() - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail(LocalReadResult::Unreadable, std::strerror(errno));
        if (got == 0)
            break;
        used += static_cast<size_t>(got);
    }
#else
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error)
        return fail(LocalReadResult::Unreadable, error.message());
    if (!std::filesystem::is_regular_file(status))
        return fail(LocalReadResult::NotRegularFile, "not a regular file");
    // The size only refuses a file that is too large before it is read; the read goes to the end.
    if (const uintmax_t size = std::filesystem::file_size(path, error); !error && size > limit)
        return tooLarge();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail(LocalReadResult::Unreadable, std::strerror(errno));
    while (in) {
        if (used == data.size()) {
            if (used == capacity)
                return tooLarge();
            data.resize(std::min(capacity, std::max(used * 2, used + Chunk)));
        }
        in.read(reinterpret_cast<char*>(data.data() + used), static_cast<std::streamsize>(data.size() - used));
        used += static_cast<size_t>(in.gcount());
    }
    if (in.bad())
        return fail(LocalReadResult::Unreadable, "read error");
#endif
    if (used > limit)
        return tooLarge();
    data.resize(used);
    return LocalReadResult::Ok;
}

constexpr std::string_view TemporaryPrefix = ".tessaly-";
constexpr std::string_view TemporarySuffix = ".tmp";
constexpr size_t TemporaryHexDigits = 16;

#ifdef _WIN32
// Creates `path` for writing, refusing a name that is taken (errno EEXIST). Windows' C runtime
// has no "x" mode for fopen: the file is created exclusively by its descriptor, with the path as
// UTF-16 so that any name the file system holds can be made. The runtime opens it without
// delete sharing, so no other program can remove it while it is open.
std::FILE* OpenNewFile(const std::filesystem::path& path)
{
    const int fd = ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::_fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        ::_close(fd);
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        errno = error;
    }
    return file;
}
#else
// The permission bits of the regular file at `path`, if there is one.
std::optional<mode_t> PermissionsOf(const std::filesystem::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return info.st_mode & 0777;
}
#endif

} // namespace

bool IsTemporaryFileName(std::string_view name)
{
    if (name.size() != TemporaryPrefix.size() + TemporaryHexDigits + TemporarySuffix.size() ||
        !name.starts_with(TemporaryPrefix) || !name.ends_with(TemporarySuffix))
        return false;
    const std::string_view digits = name.substr(TemporaryPrefix.size(), TemporaryHexDigits);
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void RemoveStaleTemporaryFiles(const std::filesystem::path& folder)
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path path = it->path();
        if (!IsTemporaryFileName(Utf8FromPath(path.filename())))
            continue;
#ifdef _WIN32
        // A writer keeps its file open (it cannot be deleted then) until it closes it just
        // before the rename; a minute covers that moment.
        std::error_code entryError;
        if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, entryError)))
            continue;
        const auto written = std::filesystem::last_write_time(path, entryError);
        if (entryError || std::filesystem::file_time_type::clock::now() - written < std::chrono::minutes(1))
            continue;
        std::filesystem::remove(path, entryError);
#else
        const Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat held {};
        if (file.Get() < 0 || ::fstat(file.Get(), &held) != 0 || !S_ISREG(held.st_mode))
            continue;
        // Its writer holds the lock while it lives; the lock is had only when it is gone.
        if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        // Only the file that was examined, not one put under its name since.
        struct stat named {};
        if (::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            ::unlink(path.c_str());
#endif
    }
}
bool IsSafeFileName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F)
            return false;
        if (c == '/' || c == '\\' || c == ':')
            return false;
        // Characters that Windows refuses in a file name.
        if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return false;
    }
    if (name.back() == '.' || name.back() == ' ')
        return false;
    return !IsReservedDeviceName(name);
}

ReplacingFile::ReplacingFile(std::filesystem::path destination) : Target(std::move(destination)) {}

ReplacingFile::~ReplacingFile()
{
    RemoveTemporary();
}

// Removes the temporary file (unless committed) and only then lets go of its lock, so that no
// one else removes a file of this writer's.
void ReplacingFile::RemoveTemporary()
{
    if (File || Flushed) {
        File.reset();
        Flushed = false;
        std::error_code ignored;
        std::filesystem::remove(TempPath, ignored);
    }
#ifndef _WIN32
    if (LockFd >= 0) {
        ::close(LockFd);
        LockFd = -1;
    }
#endif
}

bool ReplacingFile::Fail(std::string text)
{
    Error = std::move(text);
    RemoveTemporary();
    return false;
}

bool ReplacingFile::Open()
{
    std::random_device seed;
    std::mt19937_64 names((static_cast<uint64_t>(seed()) << 32) | seed());
    // A short name of fixed length beside the destination: whatever fits the destination's name
    // fits it, and the rename on commit stays within one folder, so it is all or nothing.
    // An exclusive create refuses a name that is taken; a few fresh names get past a clash.
    const std::filesystem::path folder = Target.parent_path();
#ifndef _WIN32
    // The replaced file's permission bits from the start: its content is never more open than it.
    const std::optional<mode_t> kept = PermissionsOf(Target);
#endif
    for (int attempt = 0; attempt < 8; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".tessaly-%016llx.tmp", static_cast<unsigned long long>(names()));
        TempPath = folder / name;
        errno = 0;
#ifdef _WIN32
        File.reset(OpenNewFile(TempPath));
        if (File)
            return true;
        if (errno != EEXIST)
            break;
#else
        Descriptor fd(::open(TempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             kept ? *kept : 0666));
        if (fd.Get() < 0) {
            if (errno != EEXIST)
                break;
            continue;
        }
        // Lost to RemoveStaleTemporaryFiles in the moment before the lock: that one removes the
        // file, this writer takes another name.
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        // The umask does not apply to the bits of a file that is being replaced.
        if (kept && ::fchmod(fd.Get(), *kept) != 0) {
            const int error = errno;
            ::unlink(TempPath.c_str());
            errno = error;
            break;
        }
        LockFd = ::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 0);
        File.reset(LockFd >= 0 ? ::fdopen(fd.Get(), "wb") : nullptr);
        if (File) {
            fd.Release();
            return true;
        }
        const int error = errno;
        ::unlink(TempPath.c_str());
        if (LockFd >= 0)
            ::close(LockFd);
        LockFd = -1;
        errno = error;
        break;
#endif
    }
    Error = std::strerror(errno != 0 ? errno : EEXIST);
    return false;
}

bool ReplacingFile::Write(const void* data, size_t size)
{
    if (!File)
        return Fail(Error.empty() ? "file is not open" : Error);
    if (size != 0 && std::fwrite(data, 1, size, File.get()) != size)
        return Fail(std::strerror(errno));
    return true;
}

bool ReplacingFile::Flush()
{
    if (!File)
        return Flushed || Fail(Error.empty() ? "file is not open" : Error);
    const bool flushed = std::fflush(File.get()) == 0 && std::ferror(File.get()) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(File.release()) == 0;
    Flushed = true;
    if (!flushed || !closed)
        return Fail(std::strerror(flushed ? errno : flushError));
    return true;
}

bool ReplacingFile::Commit()
{
    if (!Flush())
        return false;
#ifndef _WIN32
    // A file that came to the destination while this one was written gives its bits too.
    if (const std::optional<mode_t> kept = PermissionsOf(Target); kept && LockFd >= 0)
        (void)::fchmod(LockFd, *kept);
#endif
    std::error_code error;
    std::filesystem::rename(TempPath, Target, error);
    if (error)
        return Fail(error.message());
    Flushed = false;
    RemoveTemporary(); // lets go of the lock; the file is in place
    return true;
}

bool WriteFileReplacing(const std::filesystem::path& path, const uint8_t* data, size_t size, std::string& error)
{
    ReplacingFile file(path);
    const bool done = file.Open() && file.Write(data, size) && file.Commit();
    if (!done)
        error = file.ErrorText();
    return done;
}

bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& data, std::string& error)
{
    return ReadRegularFile(path, std::numeric_limits<uint64_t>::max(), data, error) == LocalReadResult::Ok;
}

std::string LocalFileProblem(const std::filesystem::path& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found)
        return "no such file";
    if (error)
        return error.message();
    switch (status.type()) {
    case fs::file_type::regular: break;
    case fs::file_type::directory: return "a folder, not a file";
    case fs::file_type::fifo: return "a named pipe, not a file";
    case fs::file_type::block:
    case fs::file_type::character: return "a device, not a file";
    case fs::file_type::socket: return "a socket, not a file";
    default: return "not a regular file";
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::strerror(errno);
    return {};
}

LocalReadResult ReadFileToSend(const std::filesystem::path& path, std::vector<uint8_t>& data, std::string& reason)
{
    const LocalReadResult result = ReadRegularFile(path, MaxSendFileSize, data, reason);
    // Sending no bytes would only delete the unit's file of that name.
    if (result == LocalReadResult::Ok && data.empty()) {
        reason = "empty file";
        return LocalReadResult::EmptyFile;
    }
    return result;
}
