#pragma once
// Reader of firmware package files (".qxf"): a 16-byte signed header, a table
// of typed sections ended by an entry of type 0, and the sections' data back to
// back right after that end entry, in table order. Every section is loaded at
// Open; the reader gives no meaning to any type (the firmware update takes its
// image from type FirmwareSectionType).
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <vector>

constexpr uint32_t StandardFileSignature = 0x396B389C;
constexpr size_t StandardFileHeaderSize = 16;
constexpr size_t StandardFileEntrySize = 16;
constexpr uint32_t FirmwareSectionType = 4;
// The whole package is held in memory, so a larger file is refused instead of
// loaded: real packages carry one firmware image for the unit's flash, which is
// a small fraction of this.
constexpr uint64_t MaxPackageSize = 64ull * 1024 * 1024;

struct StandardFileSection {
    uint32_t Type = 0;
    uint32_t Revision = 0;
    uint32_t Reserved = 0;     // third word of the table entry, not interpreted
    uint32_t Size = 0;         // bytes actually loaded into Data
    uint32_t DeclaredSize = 0; // size the table claims
    std::vector<uint8_t> Data; // Data.size() == Size

    // False when the file ended before all the bytes the table claims.
    bool IsComplete() const { return Size == DeclaredSize; }
};

class QXStandardFile {
public:
    QXStandardFile() = default;
    QXStandardFile(const QXStandardFile&) = delete;
    QXStandardFile& operator=(const QXStandardFile&) = delete;

    // Opens the package at `path` and loads its sections: 0, ERR_FILE_IHV
    // (missing or not a regular file), ERR_FILE_READ (header cut short, or a
    // table with no end entry before the end of the file) or ERR_FILE_SIG
    // (wrong signature, or larger than MaxPackageSize). Time and memory grow
    // linearly with the file's size.
    // The file stays open until destruction. After a failure no section is held.
    [[nodiscard]] uint32_t Open(const std::string& path);
    // The same for a package already in memory; the bytes are not kept.
    [[nodiscard]] uint32_t OpenFromBytes(const uint8_t* bytes, size_t size);

    // The section of `type` with the highest revision (the later entry on a
    // tie), or null.
    [[nodiscard]] const StandardFileSection* FindSection(uint32_t type) const;

    std::span<const StandardFileSection> Sections() const { return SectionArray; }
    size_t SectionCount() const { return SectionArray.size(); }
    const std::string& Path() const { return FilePath; }
    bool IsFileOpen() const { return File.is_open(); }

private:
    [[nodiscard]] uint32_t Load();
    [[nodiscard]] uint32_t ReadHeader();
    [[nodiscard]] uint32_t ReadSectionTable(uint32_t offset);
    // Reads the table entries from `offset` on and calls visit(type, revision,
    // reserved, size) for each one before the end entry; Position is then just
    // past the end entry. ERR_FILE_READ when the source ends first.
    template <typename Visit>
    [[nodiscard]] uint32_t WalkSectionTable(uint32_t offset, Visit&& visit);
    void LoadSections();
    void Clear();
    // Reads up to `length` bytes at the current position and moves past them.
    size_t Read(uint8_t* out, size_t length);

    std::ifstream File;
    std::string FilePath;
    std::vector<StandardFileSection> SectionArray;

    // Where the bytes come from while loading: File, or Memory when it is set.
    std::span<const uint8_t> Memory;
    bool FromMemory = false;
    uint64_t SourceSize = 0;
    uint64_t Position = 0;
    uint64_t StreamPosition = 0; // where File's next read starts, to skip needless seeks
};
