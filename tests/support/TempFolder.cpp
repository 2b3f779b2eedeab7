#include "TempFolder.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "LogGenerator.h"

namespace testsupport {

TempFolder::TempFolder()
{
    // mkdtemp picks a name no other test, process or earlier run holds.
    std::string pattern = (std::filesystem::temp_directory_path() / "tessaly-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a folder like " + pattern);
    Root = pattern;
}

TempFolder::~TempFolder()
{
    // A test may have taken the owner's rights away to provoke a failure.
    std::error_code error;
    std::filesystem::permissions(Root, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(Root, error);
}

std::string TempFolder::Write(const std::string& relative, const std::vector<uint8_t>& bytes) const
{
    const std::filesystem::path path = Root / relative;
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (!WriteBytes(path.string(), bytes))
        throw std::runtime_error("cannot write " + path.string());
    return path.string();
}

std::vector<uint8_t> TempFolder::Read(const std::string& relative) const
{
    return ReadBytes(Root / relative);
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
