#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "LocalFiles.h"

namespace fs = std::filesystem;

TEST(IsSafeFileName, OrdinaryNamesPass)
{
    EXPECT_TRUE(IsSafeFileName("RUN1.displog"));
    EXPECT_TRUE(IsSafeFileName("Track Day.qxm"));
    EXPECT_TRUE(IsSafeFileName(".hidden"));
    EXPECT_TRUE(IsSafeFileName("CONSOLE.txt")); // only the exact device names are reserved
    EXPECT_TRUE(IsSafeFileName("COM0"));
}

// Names that would leave the chosen folder or name something other than a file.
TEST(IsSafeFileName, EscapesAndDeviceNamesFail)
{
    for (const char* name : {"", ".", "..", "../x", "a/b", "a\\b", "C:x", "x:", "con", "CON.txt", "Nul",
                             "com1.log", "LPT9", "aux.displog", "trail.", "trail ", "a<b", "q?", "x*"})
        EXPECT_FALSE(IsSafeFileName(name)) << name;
    EXPECT_FALSE(IsSafeFileName(std::string("tab\tname")));
    EXPECT_FALSE(IsSafeFileName(std::string("nul\0byte", 8)));
    EXPECT_FALSE(IsSafeFileName("del\x7F"));
}

class ReplacingFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() / ("tessaly-replacing-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override
    {
        fs::permissions(folder, fs::perms::owner_all);
        fs::remove_all(folder);
    }
    std::string Read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    size_t Entries() { return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {})); }
    fs::path folder;
};

TEST_F(ReplacingFileTest, CommitReplacesTheOldFile)
{
    std::ofstream(folder / "a.bin") << "old";
    const uint8_t data[] = {'n', 'e', 'w', '!'};
    std::string error;
    ASSERT_TRUE(WriteFileReplacing(folder / "a.bin", data, sizeof data, error)) << error;
    EXPECT_EQ(Read(folder / "a.bin"), "new!");
    EXPECT_EQ(Entries(), 1u);
}

// An abandoned write (a failed transfer) leaves the old file and no temporary one.
TEST_F(ReplacingFileTest, UncommittedWriteLeavesNothing)
{
    std::ofstream(folder / "a.bin") << "old";
    {
        ReplacingFile file(folder / "a.bin");
        ASSERT_TRUE(file.Open());
        ASSERT_TRUE(file.Write("partial", 7));
        EXPECT_EQ(Entries(), 2u);
    }
    EXPECT_EQ(Read(folder / "a.bin"), "old");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(ReplacingFileTest, UncreatableDestinationIsAnError)
{
    std::string error;
    const uint8_t byte = 1;
    EXPECT_FALSE(WriteFileReplacing(folder / "missing" / "a.bin", &byte, 1, error));
    EXPECT_FALSE(error.empty());
    // A folder in the way of the rename keeps the folder and reports the failure.
    fs::create_directories(folder / "taken");
    EXPECT_FALSE(WriteFileReplacing(folder / "taken", &byte, 1, error));
    EXPECT_TRUE(fs::is_directory(folder / "taken"));
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(ReplacingFileTest, ReadWholeFile)
{
    std::ofstream(folder / "r.bin", std::ios::binary) << std::string("abc\0def", 7);
    std::vector<uint8_t> data;
    std::string error;
    ASSERT_TRUE(ReadWholeFile(folder / "r.bin", data, error));
    EXPECT_EQ(data.size(), 7u);
    EXPECT_EQ(data[4], 'd');
    EXPECT_FALSE(ReadWholeFile(folder / "absent.bin", data, error));
    EXPECT_FALSE(error.empty());
}
