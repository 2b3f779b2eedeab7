// Version texts of the caption and of the unit's packed version numbers.
#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "Versioninfo.h"

namespace {

std::string VersionOf(const std::vector<uint8_t>& file)
{
    QTemporaryDir temp;
    const QString path = temp.filePath(QStringLiteral("program"));
    EXPECT_TRUE(WriteFile(path, file));
    return GetFileVersionText(path.toStdString());
}

// File version 1.0.4.0 reads 1.0.4; a build number adds the test-build suffix.
TEST(FormatFileVersion, BuildNumberGivesSuffix)
{
    EXPECT_EQ(FormatFileVersion({0x00010000, 0x00040000}), "1.0.4");
    EXPECT_EQ(FormatFileVersion({0x00010000, 0x00040007}), "1.0.4 (TEST BUILD 7)");
    EXPECT_EQ(FormatFileVersion({0xFFFFFFFF, 0xFFFF0000}), "65535.65535.65535");
}

// The unit's packed versions: three high bytes, the low one as a test build.
TEST(FormatVersionNumber, Bytes)
{
    EXPECT_EQ(FormatVersionNumber(0x01020300), "1.2.3");
    EXPECT_EQ(FormatVersionNumber(0x01020305), "1.2.3 (TEST BUILD 5)");
    EXPECT_EQ(FormatVersionNumber(0), "0.0.0");
}

// The record the build puts into an executable is found by reading the file itself.
TEST(GetFileVersionText, OwnExecutable)
{
    EXPECT_EQ(GetFileVersionText(QCoreApplication::applicationFilePath().toStdString()), "2.5.9 (TEST BUILD 7)");
}

TEST(GetFileVersionText, RecordInSection)
{
    EXPECT_EQ(VersionOf(MakeElf(VersionSectionName, VersionPayload(1, 0, 4, 0))), "1.0.4");
    EXPECT_EQ(VersionOf(MakeElf(VersionSectionName, VersionPayload(3, 12, 0, 2))), "3.12.0 (TEST BUILD 2)");
}

// No record, a damaged one or no ELF file at all: no version, and no read past the file's end.
TEST(GetFileVersionText, NoOrBrokenRecord)
{
    EXPECT_EQ(VersionOf(MakeElf(".data", VersionPayload(1, 0, 4, 0))), "");
    std::vector<uint8_t> wrongMagic = VersionPayload(1, 0, 4, 0);
    wrongMagic[0] = 'X';
    EXPECT_EQ(VersionOf(MakeElf(VersionSectionName, wrongMagic)), "");
    std::vector<uint8_t> shortRecord = VersionPayload(1, 0, 4, 0);
    shortRecord.resize(12);
    EXPECT_EQ(VersionOf(MakeElf(VersionSectionName, shortRecord)), "");

    std::vector<uint8_t> truncated = MakeElf(VersionSectionName, VersionPayload(1, 0, 4, 0));
    truncated.resize(truncated.size() - 10);
    EXPECT_EQ(VersionOf(truncated), "");
    std::vector<uint8_t> hugeTable = MakeElf(VersionSectionName, VersionPayload(1, 0, 4, 0));
    hugeTable[0x28 + 7] = 0x7F; // section table far beyond the file
    EXPECT_EQ(VersionOf(hugeTable), "");
    EXPECT_EQ(VersionOf({'M', 'Z', 0, 0}), "");
    EXPECT_EQ(GetFileVersionText("/no/such/file"), "");
}

} // namespace
