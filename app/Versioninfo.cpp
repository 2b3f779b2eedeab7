#include "Versioninfo.h"

#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#ifndef _WIN32

namespace {

// Bounds-checked little-endian reads from a block of the file.
struct Block {
    std::vector<uint8_t> Bytes;

    bool Has(uint64_t offset, uint64_t length) const
    {
        return offset <= Bytes.size() && length <= Bytes.size() - offset;
    }
    uint64_t Number(uint64_t offset, int size) const
    {
        uint64_t value = 0;
        for (int i = 0; i < size; ++i)
            value |= static_cast<uint64_t>(Bytes[offset + static_cast<uint64_t>(i)]) << (8 * i);
        return value;
    }
};

std::optional<Block> ReadBlock(std::ifstream& file, uint64_t fileSize, uint64_t offset, uint64_t length)
{
    if (offset > fileSize || length > fileSize - offset)
        return std::nullopt;
    Block block;
    block.Bytes.resize(length);
    file.seekg(static_cast<std::streamoff>(offset));
    if (!file.read(reinterpret_cast<char*>(block.Bytes.data()), static_cast<std::streamsize>(length)))
        return std::nullopt;
    return block;
}

// The contents of the named section of a 64-bit little-endian ELF file.
std::optional<Block> ReadElfSection(const std::string& fileName, const char* sectionName)
{
    std::ifstream file(fileName, std::ios::binary | std::ios::ate);
    if (!file)
        return std::nullopt;
    const auto end = file.tellg();
    if (end < 0)
        return std::nullopt;
    const auto fileSize = static_cast<uint64_t>(end);

    constexpr uint64_t HeaderSize = 64;
    constexpr uint64_t SectionHeaderSize = 64;
    const std::optional<Block> header = ReadBlock(file, fileSize, 0, HeaderSize);
    if (!header || std::memcmp(header->Bytes.data(), "\x7F" "ELF", 4) != 0 || header->Bytes[4] != 2 ||
        header->Bytes[5] != 1)
        return std::nullopt;
    const uint64_t tableOffset = header->Number(0x28, 8);
    const uint64_t entrySize = header->Number(0x3A, 2);
    const uint64_t count = header->Number(0x3C, 2);
    const uint64_t namesIndex = header->Number(0x3E, 2);
    if (entrySize != SectionHeaderSize || count == 0 || namesIndex >= count)
        return std::nullopt;
    const std::optional<Block> table = ReadBlock(file, fileSize, tableOffset, count * entrySize);
    if (!table)
        return std::nullopt;

    auto section = [&](uint64_t index, uint64_t& offset, uint64_t& size) {
        const uint64_t at = index * entrySize;
        offset = table->Number(at + 0x18, 8);
        size = table->Number(at + 0x20, 8);
        return table->Number(at, 4);
    };
    uint64_t namesOffset = 0;
    uint64_t namesSize = 0;
    section(namesIndex, namesOffset, namesSize);
    const std::optional<Block> names = ReadBlock(file, fileSize, namesOffset, namesSize);
    if (!names)
        return std::nullopt;
    const size_t wantedLength = std::strlen(sectionName) + 1; // with its NUL
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t offset = 0;
        uint64_t size = 0;
        const uint64_t name = section(i, offset, size);
        if (names->Has(name, wantedLength) && std::memcmp(names->Bytes.data() + name, sectionName, wantedLength) == 0)
            return ReadBlock(file, fileSize, offset, size);
    }
    return std::nullopt;
}

} // namespace

std::string GetFileVersionText(const std::string& fileName)
{
    const std::optional<Block> section = ReadElfSection(fileName, VersionSectionName);
    if (!section || !section->Has(0, sizeof(VersionRecord)) ||
        std::memcmp(section->Bytes.data(), VersionRecordMagic, sizeof VersionRecordMagic) != 0)
        return {};
    return FormatFileVersion({static_cast<uint32_t>(section->Number(8, 4)), static_cast<uint32_t>(section->Number(12, 4))});
}

#endif
