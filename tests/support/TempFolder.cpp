#include "TempFolder.h"

#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>

#include <cstdio>
#include <random>
#endif

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "LogGenerator.h"

namespace testsupport {

TempFolder::TempFolder()
{
#ifdef _WIN32
    // A random name that no other test, process or earlier run holds: create_directory makes
    // the folder only when the name is free.
    std::random_device seed;
    std::mt19937_64 names((static_cast<uint64_t>(seed()) << 32) ^ seed() ^ GetCurrentProcessId());
    for (int attempt = 0; attempt < 100 && Root.empty(); ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "tessaly-test-%012llx",
                      static_cast<unsigned long long>(names() & 0xFFFFFFFFFFFFull));
        const std::filesystem::path candidate = std::filesystem::temp_directory_path() / name;
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error))
            Root = candidate;
    }
    if (Root.empty())
        throw std::runtime_error("cannot make a folder in " + std::filesystem::temp_directory_path().string());
#else
    // mkdtemp picks a name no other test, process or earlier run holds.
    std::string pattern = (std::filesystem::temp_directory_path() / "tessaly-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a folder like " + pattern);
    Root = pattern;
#endif
}

TempFolder::~TempFolder()
{
    // A test may have taken the owner's rights away to provoke a failure.
    std::error_code error;
    std::filesystem::permissions(Root, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(Root, error);
}

namespace {

// `relative` is UTF-8 on every platform (a narrow path on Windows is in the ANSI code page).
std::filesystem::path Below(const std::filesystem::path& root, const std::string& relative)
{
    return root / std::filesystem::path(std::u8string(relative.begin(), relative.end()));
}

} // namespace

std::string TempFolder::Write(const std::string& relative, const std::vector<uint8_t>& bytes) const
{
    const std::filesystem::path path = Below(Root, relative);
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::u8string text = path.u8string();
    if (!file.flush())
        throw std::runtime_error("cannot write " + std::string(text.begin(), text.end()));
    return {text.begin(), text.end()};
}

std::vector<uint8_t> TempFolder::Read(const std::string& relative) const
{
    return ReadBytes(Below(Root, relative));
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string ReadText(const std::filesystem::path& path)
{
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace testsupport
