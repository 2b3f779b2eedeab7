#pragma once
// A fresh folder under the system's temporary folder for one test, removed with everything in it
// when the object goes, and the file helpers the tests use on it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& Path() const { return Root; }
    // The path of `relative` in the folder, as text.
    [[nodiscard]] std::string File(const std::string& relative) const { return (Root / relative).string(); }
    // Writes `bytes` to `relative`, making the folders on the way, and returns its path; throws
    // when the file cannot be written.
    std::string Write(const std::string& relative, const std::vector<uint8_t>& bytes) const;
    // The bytes of `relative`; empty when it cannot be read.
    [[nodiscard]] std::vector<uint8_t> Read(const std::string& relative) const;

private:
    std::filesystem::path Root;
};

// The whole content of a file; empty when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
// Names of the entries of a folder, sorted.
std::vector<std::string> FolderEntries(const std::filesystem::path& folder);

} // namespace testsupport
