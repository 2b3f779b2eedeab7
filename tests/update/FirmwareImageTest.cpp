// Loading the image an update sends: a whole ".bin" file with flags 0x00, or a
// package's firmware section with the package flags.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "FirmwareImage.h"
#include "ResultCodes.h"
#include "UpdateTestSupport.h"

using namespace updatetest;

// Only the extension ".bin", in any case, makes a plain image.
TEST(FirmwareImage, PlainImageByExtension)
{
    EXPECT_TRUE(IsPlainImageFile("fw.bin"));
    EXPECT_TRUE(IsPlainImageFile("/a/b/FW.BIN"));
    EXPECT_TRUE(IsPlainImageFile("fw.Bin"));
    EXPECT_FALSE(IsPlainImageFile("fw.qxf"));
    EXPECT_FALSE(IsPlainImageFile("fw.bin.qxf"));
    EXPECT_FALSE(IsPlainImageFile("fw"));
    EXPECT_FALSE(IsPlainImageFile("fw.binx"));
}

// A plain image is read whole and goes out with flags 0x00.
TEST(FirmwareImage, PlainImageReadWhole)
{
    TempFolder folder;
    const std::vector<uint8_t> bytes = Pattern(6144);
    FirmwareImage image;
    ASSERT_EQ(LoadFirmwareImage(folder.Write("FW.BIN", bytes), image), 0u);
    EXPECT_EQ(image.Bytes, bytes);
    EXPECT_EQ(image.Flags, PlainImageFlags);
    EXPECT_EQ(image.Flags, 0x00);
}

// The reference package: the 8 bytes of the type-4 section, flags 0x80.
TEST(FirmwareImage, PackageSectionFour)
{
    TempFolder folder;
    const std::vector<uint8_t> expected = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t header[] = {0x9C, 0x38, 0x6B, 0x39, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0,
                              4, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0};
    // Header, zeros up to offset 48, then the section's bytes. The file is made at its full size
    // and filled in place: growing a vector made from a brace list trips GCC 12's -Warray-bounds.
    std::vector<uint8_t> file(48 + expected.size(), 0);
    std::copy(std::begin(header), std::end(header), file.begin());
    std::copy(expected.begin(), expected.end(), file.begin() + 48);
    FirmwareImage image;
    ASSERT_EQ(LoadFirmwareImage(folder.Write("fw.qxf", file), image), 0u);
    EXPECT_EQ(image.Bytes, expected);
    EXPECT_EQ(image.Flags, 0x80);
}

// A package's firmware after other sections is found by its type.
TEST(FirmwareImage, PackageWithOtherSections)
{
    TempFolder folder;
    const std::vector<uint8_t> firmware = Pattern(5000, 4);
    FirmwareImage image;
    ASSERT_EQ(LoadFirmwareImage(folder.Write("fw.pkg", Package({{2, Pattern(33)}, {4, firmware}, {5, Pattern(7)}})),
                                image),
              0u);
    EXPECT_EQ(image.Bytes, firmware);
}

// Every way of having no image, each with its code, the reason in words and an empty result.
TEST(FirmwareImage, NoImage)
{
    TempFolder folder;
    std::filesystem::create_directory(folder.Path() / "dir.bin");
    // Sparse: one byte more than a plain image may have, without the disk space.
    const std::string huge = folder.Write("huge.bin", {});
    std::filesystem::resize_file(huge, MaxPlainImageSize + 1);
    const struct {
        std::string Path;
        uint32_t Code;
        const char* Reason;
    } cases[] = {
        {(folder.Path() / "missing.bin").string(), ERR_FILE_NOT_FOUND, "no such file"},
        {(folder.Path() / "dir.bin").string(), ERR_FILE_READ, "a folder, not a file"},
        {huge, ERR_FILE_READ, "larger than 64 MiB, more than any display's flash holds"},
        {folder.Write("empty.bin", {}), ERR_BUFFER_UNDER, "an empty image"},
        {folder.Write("nofw.qxf", Package({{3, Pattern(16)}})), ERR_BUFFER_UNDER,
         "a firmware package without a firmware image"},
        {folder.Write("emptyfw.qxf", Package({{4, {}}})), ERR_BUFFER_UNDER, "a firmware package without a firmware image"},
        {folder.Write("sig.qxf", Pattern(64)), ERR_FILE_SIG, "not a .bin image or a firmware package: bad signature"},
        {folder.Write("short.qxf", {0x9C, 0x38, 0x6B}), ERR_FILE_READ, "the firmware package is cut short or damaged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        FirmwareImage image;
        image.Bytes = {1};
        image.Flags = 0x80;
        EXPECT_EQ(LoadFirmwareImage(c.Path, image), c.Code);
        EXPECT_TRUE(image.Bytes.empty());
        EXPECT_EQ(image.Flags, 0x00);
        EXPECT_EQ(FirmwareImageProblem(c.Path, c.Code), c.Reason);
    }
}

// A firmware section cut short by the end of the file is refused: programmed,
// it would leave the unit with a partial firmware.
TEST(FirmwareImage, TruncatedFirmwareSectionRefused)
{
    TempFolder folder;
    FirmwareImage image;
    EXPECT_EQ(LoadFirmwareImage(folder.Write("cut.qxf", Package({{4, Pattern(8)}}, 3)), image), ERR_FILE_READ);
    EXPECT_TRUE(image.Bytes.empty());
    // A cut-short section after the firmware does not matter.
    const std::vector<uint8_t> firmware = Pattern(8);
    EXPECT_EQ(LoadFirmwareImage(folder.Write("tail.qxf", Package({{4, firmware}, {6, Pattern(20)}}, 5)), image), 0u);
    EXPECT_EQ(image.Bytes, firmware);
}
