#include "LogBytes.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

TempFolder::TempFolder()
{
    std::random_device seed;
    Path = std::filesystem::temp_directory_path() / ("tessaly-files-" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(Path);
}

TempFolder::~TempFolder()
{
    std::error_code error;
    std::filesystem::permissions(Path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(Path, error);
}

std::string ReadText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
