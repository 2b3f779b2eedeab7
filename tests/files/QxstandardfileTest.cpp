#include "Qxstandardfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "LogBytes.h"
#include "ResultCodes.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(uint32_t tableOffset, uint32_t signature = StandardFileSignature)
{
    Bytes out;
    AppendLE32(out, signature);
    AppendLE32(out, 0);
    AppendLE32(out, tableOffset);
    AppendLE32(out, 0);
    return out;
}

void Entry(Bytes& out, uint32_t type, uint32_t revision, uint32_t size)
{
    AppendLE32(out, type);
    AppendLE32(out, revision);
    AppendLE32(out, 0);
    AppendLE32(out, size);
}

void EndEntry(Bytes& out) { out.insert(out.end(), 16, 0); }

struct Sec {
    uint32_t Type;
    uint32_t Revision;
    Bytes Data;
};

// A package with the table right after the header and the data after the end entry.
Bytes Package(std::initializer_list<Sec> sections)
{
    Bytes out = Header(16);
    for (const Sec& s : sections)
        Entry(out, s.Type, s.Revision, static_cast<uint32_t>(s.Data.size()));
    EndEntry(out);
    for (const Sec& s : sections)
        out.insert(out.end(), s.Data.begin(), s.Data.end());
    return out;
}

// The reference package, byte for byte.
const Bytes WorkedExample = {
    0x9C, 0x38, 0x6B, 0x39, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x04, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
};

// The bytes as a package file in a fresh folder.
class TempFile {
public:
    explicit TempFile(const Bytes& bytes) : Path(Folder.File("package.qxf"))
    {
        std::ofstream out(Path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const std::string& Name() const { return Path; }

private:
    TempFolder Folder;
    std::string Path;
};

uint32_t OpenBytes(QXStandardFile& file, const Bytes& bytes) { return file.OpenFromBytes(bytes.data(), bytes.size()); }

} // namespace

// The reference package: one type-4 section of 8 bytes at offset 48, from disk and from memory.
TEST(StandardFileOpen, WorkedExample)
{
    TempFile temp(WorkedExample);
    QXStandardFile fromFile;
    ASSERT_EQ(fromFile.Open(temp.Name()), 0u);
    EXPECT_TRUE(fromFile.IsFileOpen());
    EXPECT_EQ(fromFile.Path(), temp.Name());
    QXStandardFile fromBytes;
    ASSERT_EQ(OpenBytes(fromBytes, WorkedExample), 0u);
    for (const QXStandardFile* file : {&fromFile, &fromBytes}) {
        const StandardFileSection* image = file->FindSection(4);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->Size, 8u);
        EXPECT_EQ(image->Revision, 1u);
        EXPECT_TRUE(image->IsComplete());
        EXPECT_EQ(image->Data, Bytes(WorkedExample.begin() + 48, WorkedExample.end()));
        EXPECT_EQ(file->FindSection(5), nullptr);
    }
}

// The table may lie anywhere; data still follow its end entry directly.
TEST(StandardFileOpen, TableAtLaterOffset)
{
    Bytes bytes = Header(24);
    bytes.insert(bytes.end(), 8, 0xEE); // padding between header and table
    Entry(bytes, 9, 0, 3);
    EndEntry(bytes);
    bytes.insert(bytes.end(), {1, 2, 3});
    QXStandardFile file;
    ASSERT_EQ(OpenBytes(file, bytes), 0u);
    ASSERT_NE(file.FindSection(9), nullptr);
    EXPECT_EQ(file.FindSection(9)->Data, (Bytes{1, 2, 3}));
}

// Each section's data follow the previous one's, in table order.
TEST(StandardFileOpen, SectionsFollowEachOther)
{
    QXStandardFile file;
    ASSERT_EQ(OpenBytes(file, Package({{1, 0, {0xA1, 0xA2}}, {2, 0, {}}, {3, 0, {0xC1, 0xC2, 0xC3}}})), 0u);
    ASSERT_EQ(file.SectionCount(), 3u);
    EXPECT_EQ(file.FindSection(1)->Data, (Bytes{0xA1, 0xA2}));
    EXPECT_EQ(file.FindSection(2)->Size, 0u);
    EXPECT_EQ(file.FindSection(3)->Data, (Bytes{0xC1, 0xC2, 0xC3}));
}

// The section array grows past its first 32 entries without losing any.
TEST(StandardFileOpen, TableLongerThanOneGrowthStep)
{
    Bytes bytes = Header(16);
    for (uint32_t i = 1; i <= 70; ++i)
        Entry(bytes, i, 0, 1);
    EndEntry(bytes);
    for (uint32_t i = 1; i <= 70; ++i)
        bytes.push_back(static_cast<uint8_t>(i));
    QXStandardFile file;
    ASSERT_EQ(OpenBytes(file, bytes), 0u);
    ASSERT_EQ(file.SectionCount(), 70u);
    for (uint32_t i = 1; i <= 70; ++i) {
        const StandardFileSection* section = file.FindSection(i);
        ASSERT_NE(section, nullptr) << i;
        EXPECT_EQ(section->Data, Bytes{static_cast<uint8_t>(i)}) << i;
    }
}

// A package of `count` entries of 1 byte each (type 1 + i % 7, revision i, data i % 251).
Bytes LongTablePackage(uint32_t count)
{
    Bytes bytes = Header(16);
    bytes.reserve(16 + (count + 1) * StandardFileEntrySize + count);
    for (uint32_t i = 0; i < count; ++i)
        Entry(bytes, 1 + i % 7, i, 1);
    EndEntry(bytes);
    for (uint32_t i = 0; i < count; ++i)
        bytes.push_back(static_cast<uint8_t>(i % 251));
    return bytes;
}

// A table of 64k entries (1 MB) loads every entry and its data, from disk and from memory alike.
TEST(StandardFileOpen, LargeTableLoadsEverySection)
{
    constexpr uint32_t Count = 65536;
    const Bytes bytes = LongTablePackage(Count);
    TempFile temp(bytes);
    QXStandardFile fromFile;
    ASSERT_EQ(fromFile.Open(temp.Name()), 0u);
    QXStandardFile fromBytes;
    ASSERT_EQ(OpenBytes(fromBytes, bytes), 0u);
    for (const QXStandardFile* file : {&fromFile, &fromBytes}) {
        ASSERT_EQ(file->SectionCount(), Count);
        for (uint32_t i = 0; i < Count; ++i) {
            const StandardFileSection& section = file->Sections()[i];
            ASSERT_EQ(section.Type, 1 + i % 7) << i;
            ASSERT_EQ(section.Revision, i) << i;
            ASSERT_TRUE(section.IsComplete()) << i;
            ASSERT_EQ(section.Data, Bytes{static_cast<uint8_t>(i % 251)}) << i;
        }
        // The last entry of type 7 (65533 % 7 == 6) has the highest revision.
        EXPECT_EQ(file->FindSection(7)->Revision, 65533u);
    }
}

// Tables read in blocks: an end entry just before, on and just after a block's edge is found,
// and the data that follow it are taken from the right place.
TEST(StandardFileOpen, EndEntryAroundBlockEdges)
{
    for (uint32_t count : {4094u, 4095u, 4096u, 8191u}) {
        const Bytes bytes = LongTablePackage(count);
        TempFile temp(bytes);
        QXStandardFile file;
        ASSERT_EQ(file.Open(temp.Name()), 0u) << count;
        ASSERT_EQ(file.SectionCount(), count);
        EXPECT_EQ(file.Sections().front().Data, Bytes{0}) << count;
        EXPECT_EQ(file.Sections().back().Data, Bytes{static_cast<uint8_t>((count - 1) % 251)}) << count;
    }
}

// A table of only the end entry opens with no sections.
TEST(StandardFileOpen, EmptyTable)
{
    QXStandardFile file;
    ASSERT_EQ(OpenBytes(file, Package({})), 0u);
    EXPECT_EQ(file.SectionCount(), 0u);
    EXPECT_EQ(file.FindSection(0), nullptr);
    EXPECT_EQ(file.FindSection(4), nullptr);
}

// A second open replaces everything the first one loaded.
TEST(StandardFileOpen, ReopenReplacesSections)
{
    QXStandardFile file;
    ASSERT_EQ(OpenBytes(file, WorkedExample), 0u);
    ASSERT_EQ(OpenBytes(file, Package({{7, 0, {1}}})), 0u);
    EXPECT_EQ(file.SectionCount(), 1u);
    EXPECT_EQ(file.FindSection(4), nullptr);
    EXPECT_NE(file.FindSection(7), nullptr);
}

// Highest revision wins whatever the table order; on a tie the later entry.
TEST(StandardFileFindSection, HighestRevision)
{
    for (bool highFirst : {false, true}) {
        QXStandardFile file;
        const Sec low{4, 1, {0x01}};
        const Sec high{4, 2, {0x02, 0x02}};
        ASSERT_EQ(OpenBytes(file, highFirst ? Package({high, low}) : Package({low, high})), 0u);
        EXPECT_EQ(file.SectionCount(), 2u);
        const StandardFileSection* found = file.FindSection(4);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->Revision, 2u);
        EXPECT_EQ(found->Data, (Bytes{0x02, 0x02}));
    }
}

TEST(StandardFileFindSection, EqualRevisionsLaterEntryWins)
{
    QXStandardFile file;
    ASSERT_EQ(OpenBytes(file, Package({{4, 3, {0xAA}}, {5, 9, {0xBB}}, {4, 3, {0xCC}}})), 0u);
    ASSERT_NE(file.FindSection(4), nullptr);
    EXPECT_EQ(file.FindSection(4)->Data, Bytes{0xCC});
}

// Revision 0 is a revision like any other when it is the only one.
TEST(StandardFileFindSection, RevisionZeroFound)
{
    QXStandardFile file;
    ASSERT_EQ(OpenBytes(file, Package({{6, 0, {0x5A}}})), 0u);
    ASSERT_NE(file.FindSection(6), nullptr);
    EXPECT_EQ(file.FindSection(6)->Data, Bytes{0x5A});
}

// Data cut short by the end of the file: the section is shorter and marked
// incomplete, and the sections after it are empty.
TEST(StandardFileTruncated, ShortSectionData)
{
    const Bytes bytes(WorkedExample.begin(), WorkedExample.end() - 3);
    QXStandardFile file;
    ASSERT_EQ(OpenBytes(file, bytes), 0u);
    const StandardFileSection* image = file.FindSection(4);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Size, 5u);
    EXPECT_EQ(image->DeclaredSize, 8u);
    EXPECT_FALSE(image->IsComplete());
    EXPECT_EQ(image->Data, (Bytes{0x11, 0x22, 0x33, 0x44, 0x55}));

    Bytes two = Package({{1, 0, {1, 2, 3, 4}}, {2, 0, {5, 6}}});
    two.resize(two.size() - 4);
    ASSERT_EQ(OpenBytes(file, two), 0u);
    EXPECT_EQ(file.FindSection(1)->Data, (Bytes{1, 2}));
    EXPECT_EQ(file.FindSection(2)->Size, 0u);
    EXPECT_FALSE(file.FindSection(2)->IsComplete());
}

// A size of nearly 4 GiB in the table loads only what the file holds.
TEST(StandardFileTruncated, HugeClaimedSizeBoundedByFile)
{
    Bytes bytes = Header(16);
    Entry(bytes, 4, 0, 0xFFFFFFFF);
    Entry(bytes, 5, 0, 0xFFFFFFF0);
    EndEntry(bytes);
    bytes.insert(bytes.end(), {9, 8, 7});
    TempFile temp(bytes);
    QXStandardFile file;
    ASSERT_EQ(file.Open(temp.Name()), 0u);
    EXPECT_EQ(file.FindSection(4)->Data, (Bytes{9, 8, 7}));
    EXPECT_EQ(file.FindSection(5)->Size, 0u);
}

// Header shorter than 16 bytes, including an empty file.
TEST(StandardFileErrors, ShortHeader)
{
    for (size_t length : {0u, 1u, 15u}) {
        const Bytes bytes(WorkedExample.begin(), WorkedExample.begin() + static_cast<std::ptrdiff_t>(length));
        TempFile temp(bytes);
        QXStandardFile file;
        EXPECT_EQ(file.Open(temp.Name()), ERR_FILE_READ) << length;
        QXStandardFile memory;
        EXPECT_EQ(OpenBytes(memory, bytes), ERR_FILE_READ) << length;
    }
    QXStandardFile none;
    EXPECT_EQ(none.OpenFromBytes(nullptr, 0), ERR_FILE_READ);
}

TEST(StandardFileErrors, WrongSignature)
{
    Bytes bytes = WorkedExample;
    bytes[3] = 0x3A;
    QXStandardFile file;
    EXPECT_EQ(OpenBytes(file, bytes), ERR_FILE_SIG);
    EXPECT_EQ(file.SectionCount(), 0u);
}

// A 16-byte file whose table starts at its end has no end entry.
TEST(StandardFileErrors, TableAtEndOfFile)
{
    TempFile temp(Header(16));
    QXStandardFile file;
    EXPECT_EQ(file.Open(temp.Name()), ERR_FILE_READ);
}

// A table that runs into the end of the file leaves no section behind, so
// nobody can take an entry whose data were never loaded.
TEST(StandardFileErrors, TableWithoutEndEntry)
{
    Bytes bytes = Header(16);
    Entry(bytes, 4, 1, 8);
    bytes.insert(bytes.end(), 8, 0); // half an end entry
    QXStandardFile file;
    EXPECT_EQ(OpenBytes(file, bytes), ERR_FILE_READ);
    EXPECT_EQ(file.SectionCount(), 0u);
    EXPECT_EQ(file.FindSection(4), nullptr);
}

// A long table whose end entry is missing claims more entries than the file holds: refused as
// a table cut short, from disk and from memory, with no section kept.
TEST(StandardFileErrors, LongTableWithoutEndEntry)
{
    Bytes bytes = LongTablePackage(20000);
    bytes.resize(16 + 20000 * StandardFileEntrySize + 8); // the end entry cut in half
    TempFile temp(bytes);
    QXStandardFile fromFile;
    EXPECT_EQ(fromFile.Open(temp.Name()), ERR_FILE_READ);
    EXPECT_EQ(fromFile.SectionCount(), 0u);
    QXStandardFile fromBytes;
    EXPECT_EQ(OpenBytes(fromBytes, bytes), ERR_FILE_READ);
    EXPECT_EQ(fromBytes.SectionCount(), 0u);
}

TEST(StandardFileErrors, TableOffsetBeyondFile)
{
    QXStandardFile file;
    EXPECT_EQ(OpenBytes(file, Header(0xFFFFFFF8)), ERR_FILE_READ);
}

TEST(StandardFileErrors, CannotOpen)
{
    QXStandardFile file;
    TempFolder folder;
    const std::string missing = folder.File("missing.qxf");
    EXPECT_EQ(file.Open(missing), ERR_FILE_IHV);
    EXPECT_EQ(file.Path(), missing);
    EXPECT_FALSE(file.IsFileOpen());
    EXPECT_EQ(file.Open(folder.Folder().string()), ERR_FILE_IHV);
    EXPECT_EQ(file.Open("/dev/zero"), ERR_FILE_IHV); // not a regular file: never read
}

// A package file too large to hold in memory is refused before anything is read.
TEST(StandardFileErrors, OversizedFileRefused)
{
    TempFile temp(WorkedExample);
    std::filesystem::resize_file(temp.Name(), MaxPackageSize + 1); // sparse: costs no disk
    QXStandardFile file;
    EXPECT_EQ(file.Open(temp.Name()), ERR_FILE_SIG);
    EXPECT_EQ(file.SectionCount(), 0u);
}
