#include "LocalFiles.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>

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

} // namespace

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
    if (File || Flushed) {
        File.reset();
        std::error_code ignored;
        std::filesystem::remove(TempPath, ignored);
    }
}

bool ReplacingFile::Fail(std::string text)
{
    Error = std::move(text);
    if (File || Flushed) {
        File.reset();
        Flushed = false;
        std::error_code ignored;
        std::filesystem::remove(TempPath, ignored);
    }
    return false;
}

bool ReplacingFile::Open()
{
    std::random_device seed;
    std::mt19937_64 names(seed());
    // "x" refuses a name that is taken; a few fresh names get past a clash.
    for (int attempt = 0; attempt < 8; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(names()));
        TempPath = Target;
        TempPath += suffix;
        errno = 0;
        File.reset(std::fopen(TempPath.c_str(), "wbx"));
        if (File)
            return true;
        if (errno != EEXIST)
            break;
    }
    Error = std::strerror(errno);
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
    std::error_code error;
    std::filesystem::rename(TempPath, Target, error);
    if (error)
        return Fail(error.message());
    Flushed = false;
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
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    std::error_code sizeError;
    const auto size = std::filesystem::file_size(path, sizeError);
    if (sizeError) {
        error = sizeError.message();
        return false;
    }
    data.resize(static_cast<size_t>(size));
    if (size != 0 && std::fread(data.data(), 1, data.size(), file.get()) != data.size()) {
        error = std::ferror(file.get()) ? std::strerror(errno) : "the file is shorter than its size";
        return false;
    }
    return true;
}
