#include "Qxstandardfile.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "ByteReader.h"
#include "ResultCodes.h"

namespace {

using Record = std::array<uint8_t, 16>;
using Words = std::array<uint32_t, 4>;

// The four little-endian words of a header or table entry.
Words Decode(const Record& bytes)
{
    ByteReader reader(bytes.data(), bytes.size());
    Words words{};
    for (uint32_t& word : words)
        (void)reader.Read32(word); // cannot fail: a record holds exactly four words
    return words;
}

} // namespace

uint32_t QXStandardFile::Open(const std::string& path)
{
    FilePath = path;
    if (File.is_open())
        File.close();
    File.clear();
    Clear();

    // Folders, devices and pipes are not packages; a pipe would even block the open.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return ERR_FILE_IHV;
    File.open(path, std::ios::binary);
    if (!File.is_open())
        return ERR_FILE_IHV;
    File.seekg(0, std::ios::end);
    const std::streamoff end = File.tellg();
    File.clear();
    if (end < 0) {
        File.close();
        return ERR_FILE_IHV;
    }
    FromMemory = false;
    SourceSize = static_cast<uint64_t>(end);
    return Load();
}

uint32_t QXStandardFile::OpenFromBytes(const uint8_t* bytes, size_t size)
{
    FilePath.clear();
    if (File.is_open())
        File.close();
    Clear();

    Memory = bytes != nullptr ? std::span<const uint8_t>(bytes, size) : std::span<const uint8_t>();
    FromMemory = true;
    SourceSize = Memory.size();
    const uint32_t result = Load();
    // The caller's buffer is only borrowed for the load.
    Memory = {};
    FromMemory = false;
    return result;
}

uint32_t QXStandardFile::Load()
{
    const uint32_t result = ReadHeader();
    if (result != 0) {
        // A half-read table would hand out entries whose data were never loaded.
        Clear();
        return result;
    }
    LoadSections();
    return 0;
}

uint32_t QXStandardFile::ReadHeader()
{
    Record header{};
    Position = 0;
    if (Read(header.data(), StandardFileHeaderSize) != StandardFileHeaderSize)
        return ERR_FILE_READ;
    const Words words = Decode(header);
    if (words[0] != StandardFileSignature)
        return ERR_FILE_SIG;
    if (SourceSize > MaxPackageSize)
        return ERR_FILE_SIG;
    return ReadSectionTable(words[2]);
}

uint32_t QXStandardFile::ReadSectionTable(uint32_t offset)
{
    if (!FromMemory && !File.is_open())
        return ERR_FILE_IHV;
    Position = offset;
    for (;;) {
        if (SectionArray.size() == SectionArray.capacity())
            SectionArray.reserve(SectionArray.size() + SectionGrowth);
        // Every entry must be read whole, so the table never outgrows the file.
        Record entry{};
        if (Read(entry.data(), StandardFileEntrySize) != StandardFileEntrySize)
            return ERR_FILE_READ;
        const Words words = Decode(entry);
        if (words[0] == 0)
            return 0;
        StandardFileSection& section = SectionArray.emplace_back();
        section.Type = words[0];
        section.Revision = words[1];
        section.Reserved = words[2];
        section.DeclaredSize = words[3];
        section.Size = section.DeclaredSize;
    }
}

void QXStandardFile::LoadSections()
{
    for (StandardFileSection& section : SectionArray) {
        // What the table claims is bounded by what the file still holds.
        const uint64_t remaining = SourceSize > Position ? SourceSize - Position : 0;
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(section.DeclaredSize, remaining));
        section.Data.assign(wanted, 0);
        const size_t got = Read(section.Data.data(), wanted);
        section.Data.resize(got);
        section.Size = static_cast<uint32_t>(got);
    }
}

const StandardFileSection* QXStandardFile::FindSection(uint32_t type) const
{
    const StandardFileSection* best = nullptr;
    uint32_t bestRevision = 0;
    for (const StandardFileSection& section : SectionArray) {
        if (section.Type == type && section.Revision >= bestRevision) {
            best = &section;
            bestRevision = section.Revision;
        }
    }
    return best;
}

void QXStandardFile::Clear()
{
    SectionArray.clear();
    SectionArray.shrink_to_fit();
}

size_t QXStandardFile::Read(uint8_t* out, size_t length)
{
    if (length == 0 || Position >= SourceSize)
        return 0;
    size_t count = static_cast<size_t>(std::min<uint64_t>(length, SourceSize - Position));
    if (FromMemory) {
        std::copy_n(Memory.begin() + static_cast<std::ptrdiff_t>(Position), count, out);
    } else {
        File.clear();
        File.seekg(static_cast<std::streamoff>(Position));
        File.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
        count = static_cast<size_t>(std::max<std::streamsize>(File.gcount(), 0));
        File.clear();
    }
    Position += count;
    return count;
}
