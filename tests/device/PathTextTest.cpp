// Path texts are UTF-8: a name outside ASCII (and on Windows outside the 8-bit code page) keeps
// its characters on the way to the file system and back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "PathText.h"
#include "TempFolder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

// "Straße Ω 日.qxm": Latin-1, Greek and CJK characters.
const std::string NonAsciiName = "Stra\xC3\x9F" "e \xCE\xA9 \xE6\x97\xA5.qxm";

TEST(PathText, NonAsciiNameReachesTheFileSystemAndComesBack)
{
    const testsupport::TempFolder folder;
    const fs::path file = folder.Path() / PathFromUtf8(NonAsciiName);
    std::ofstream(file, std::ios::binary) << "map";
    ASSERT_TRUE(fs::exists(file));
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        ++entries;
        EXPECT_EQ(Utf8FromPath(entry.path().filename()), NonAsciiName);
    }
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(NonAsciiName)), NonAsciiName);
    EXPECT_EQ(Utf8FromPath(folder.Path() / PathFromUtf8(NonAsciiName)),
              Utf8FromPath(folder.Path()) + Utf8FromPath(fs::path("/").make_preferred()) + NonAsciiName);
}

TEST(PathText, EmptyTextIsTheEmptyPath)
{
    EXPECT_TRUE(PathFromUtf8("").empty());
    EXPECT_EQ(Utf8FromPath(fs::path()), "");
}

#ifdef _WIN32
// The file system's UTF-16 names become UTF-8, whatever the 8-bit code page holds.
TEST(PathText, WindowsNamesAreUtf16)
{
    EXPECT_EQ(PathFromUtf8(NonAsciiName).native(), std::wstring(L"Stra\u00DFe \u03A9 \u65E5.qxm"));
    EXPECT_EQ(Utf8FromPath(fs::path(L"\u00E9t\u00E9")), "\xC3\xA9t\xC3\xA9");
}

// Text that is not UTF-8 (written in the system's code page by another program) is read in that
// code page instead of being refused or cut.
TEST(PathText, TextThatIsNotUtf8IsReadInTheCodePage)
{
    const std::string latin = "\xE9t\xE9.qxm"; // no valid UTF-8 sequence
    wchar_t expected[16] = {};
    const int length = MultiByteToWideChar(CP_ACP, 0, latin.data(), static_cast<int>(latin.size()), expected, 16);
    ASSERT_GT(length, 0);
    EXPECT_EQ(PathFromUtf8(latin).native(), std::wstring(expected, static_cast<size_t>(length)));
}
#endif

} // namespace
