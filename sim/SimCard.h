#pragma once
// The simulated unit's SD card: a folder on the PC's disk that holds the
// unit's drive A:\ (with Maps/ and Logs/), so its files persist between runs.
//
// Folder texts arrive as the unit's drive "A:\" followed by folder names
// separated by "\" ("A:\Maps"); names are single path components. Both are
// the unit's Windows-1252 bytes, as on the wire: a name is stored on the disk
// under its decoded UTF-8 text (bytes 43 61 66 E9 ... become "Café.qxm"), and
// listings give the names back as bytes. Names are checked before they touch
// the disk: "." and "..", separators, drive colons, characters FAT cannot hold
// and symbolic links are refused, so no request can reach a file outside the
// card's folder. Names are matched without regard to case, as on the unit's
// FAT card (ASCII and the Windows-1252 letters).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sim {

struct CardEntry {
    std::string Name; // the unit's bytes, without NUL
    bool Folder = false;
    uint32_t Size = 0;
};

class SimCard {
public:
    // Creates the folder with Maps/ and Logs/ when they are missing.
    explicit SimCard(std::filesystem::path root);

    const std::filesystem::path& Root() const { return RootFolder; }
    // Write protection: writes and removals fail with StatusCardLocked.
    void SetLocked(bool locked) { Locked = locked; }
    bool IsLocked() const { return Locked; }

    // Each returns a status byte of UnitWire.h (StatusOk on success).
    uint8_t List(const std::string& folder, const std::string& pattern, std::vector<CardEntry>& entries) const;
    // Existence and size; a folder or a missing file is refused.
    uint8_t Size(const std::string& folder, const std::string& name, uint32_t& size) const;
    // Up to `wanted` bytes from `offset`; a read starting past the end is refused.
    uint8_t Read(const std::string& folder, const std::string& name, uint32_t offset, uint32_t wanted,
                 std::vector<uint8_t>& data) const;
    // Offset 0 creates or truncates the file; any other offset must be its current end.
    uint8_t Write(const std::string& folder, const std::string& name, uint32_t offset, const uint8_t* data,
                  uint32_t count);
    uint8_t Remove(const std::string& folder, const std::string& name);

    // True for a name (unit bytes) the card accepts as one file or folder name: the rule of
    // UnitNameRefusal on its decoded text.
    static bool SafeName(const std::string& name);
    // DOS-style pattern match ("*.*" matches every name) on unit bytes, case-insensitive.
    static bool Matches(const std::string& pattern, const std::string& name);

private:
    // The disk folder for a folder text, or a status byte.
    uint8_t ResolveFolder(const std::string& folder, std::filesystem::path& out) const;
    // The disk path of an existing entry (case-insensitive), or a status byte.
    uint8_t ResolveEntry(const std::filesystem::path& folder, const std::string& name,
                         std::filesystem::path& out) const;
    uint8_t ResolveFile(const std::string& folder, const std::string& name, std::filesystem::path& out) const;

    std::filesystem::path RootFolder;
    bool Locked = false;
};

} // namespace sim
