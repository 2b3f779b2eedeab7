#include "Qxstandardfile.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "ByteReader.h"
#include "PathText.h"
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
    // The path's text is UTF-8 (PathText.h).
    const std::filesystem::path file = PathFromUtf8(path);
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return ERR_FILE_IHV;
    File.open(file, std::ios::binary);
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
    StreamPosition = UINT64_MAX; // at the end, where the size was taken
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

template <typename Visit>
uint32_t QXStandardFile::WalkSectionTable(uint32_t offset, Visit&& visit)
{
    // Whole entries are read a block at a time: one read per block instead of one per entry.
    constexpr uint64_t EntriesPerBlock = 4096;
    const uint64_t entriesLeft = (SourceSize > offset ? SourceSize - offset : 0) / StandardFileEntrySize;
    std::vector<uint8_t> block(static_cast<size_t>(std::clamp<uint64_t>(entriesLeft, 1, EntriesPerBlock)) *
                               StandardFileEntrySize);
    uint64_t next = offset;
    for (;;) {
        Position = next;
        const size_t got = Read(block.data(), block.size());
        // Every entry must be read whole, so the table never outgrows the file.
        ByteReader reader(block.data(), got - got % StandardFileEntrySize);
        while (reader.Remaining() != 0) {
            Words words{};
            for (uint32_t& word : words)
                (void)reader.Read32(word); // cannot fail: the reader holds whole entries
            next += StandardFileEntrySize;
            if (words[0] == 0) {
                Position = next; // the sections' data follow the end entry
                return 0;
            }
            visit(words[0], words[1], words[2], words[3]);
        }
        if (got < block.size())
            return ERR_FILE_READ;
    }
}

uint32_t QXStandardFile::ReadSectionTable(uint32_t offset)
{
    if (!FromMemory && !File.is_open())
        return ERR_FILE_IHV;
    // The entries are counted before any is kept: a table that runs past the end of the file is
    // refused without allocating for it, and a good one is allocated once, whatever its length.
    size_t count = 0;
    const uint32_t counted =
        WalkSectionTable(offset, [&count](uint32_t, uint32_t, uint32_t, uint32_t) { ++count; });
    if (counted != 0)
        return counted;
    SectionArray.reserve(count);
    return WalkSectionTable(offset, [this](uint32_t type, uint32_t revision, uint32_t reserved, uint32_t size) {
        StandardFileSection& section = SectionArray.emplace_back();
        section.Type = type;
        section.Revision = revision;
        section.Reserved = reserved;
        section.DeclaredSize = size;
        section.Size = size;
    });
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
        // A seek drops the stream's buffer: reads that follow each other go without one.
        if (StreamPosition != Position)
            File.seekg(static_cast<std::streamoff>(Position));
        const size_t wanted = count;
        File.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
        count = static_cast<size_t>(std::max<std::streamsize>(File.gcount(), 0));
        File.clear();
        // After a short read the stream's place is not known for sure.
        StreamPosition = count == wanted ? Position + count : UINT64_MAX;
    }
    Position += count;
    return count;
}
