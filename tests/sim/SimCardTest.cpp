// The simulated card keeps names as the unit does: Windows-1252 bytes on the wire, stored on the
// PC's disk under their decoded UTF-8 text, listed back as the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PathText.h"
#include "SimCard.h"
#include "SimTestSupport.h"
#include "SimulatedUnit.h"
#include "TempFolder.h"
#include "UnitWire.h"

namespace fs = std::filesystem;
using namespace sim;
using simtest::Exchange;
using simtest::Payload;

namespace {

const std::string CafeBytes = "\x43\x61\x66\xE9\x2E\x71\x78\x6D"; // Café.qxm on the unit
const std::string CafeText = "Caf\xC3\xA9.qxm";                   // and as UTF-8

// Writes a file on the card's disk under a UTF-8 name, as a user would put it there by hand.
void PutOnDisk(const fs::path& folder, const std::string& utf8Name, const std::string& content)
{
    std::ofstream file(folder / PathFromUtf8(utf8Name), std::ios::binary);
    file << content;
    ASSERT_TRUE(file) << utf8Name;
}

// The UTF-8 names in a folder of the PC's disk, sorted.
std::vector<std::string> DiskNames(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(Utf8FromPath(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Names(const std::vector<CardEntry>& entries)
{
    std::vector<std::string> names;
    for (const CardEntry& entry : entries)
        names.push_back(entry.Name);
    return names;
}

class SimCardTest : public ::testing::Test {
protected:
    testsupport::TempFolder Folder;
    SimCard Card{Folder.Path()};
    fs::path Maps() const { return Folder.Path() / "Maps"; }
    uint8_t Write(const std::string& name, const std::string& content)
    {
        return Card.Write("A:\\Maps", name, 0, reinterpret_cast<const uint8_t*>(content.data()),
                          static_cast<uint32_t>(content.size()));
    }
};

} // namespace

// Through the unit's wire: a name sent as 43 61 66 E9 2E 71 78 6D lands as "Café.qxm" on the disk,
// and the listing gives back the same bytes.
TEST_F(SimCardTest, WireNameLandsDecodedAndListsAsItsBytes)
{
    UnitSettings settings;
    settings.CardFolder = Folder.Path();
    SimulatedUnit unit(settings);
    const std::vector<uint8_t> data{1, 2, 3};
    const auto written = Exchange(
        unit, 0x4012,
        Payload().Text("A:\\Maps").Text(CafeBytes).U8(0x40).U32(0).U32(3).Raw(data).Finish());
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(written[0].Payload.size(), 2u);
    EXPECT_EQ(written[0].Payload[0], StatusOk);
    EXPECT_EQ(testsupport::ReadBytes(Maps() / PathFromUtf8(CafeText)), data);
    EXPECT_EQ(DiskNames(Maps()), std::vector<std::string>{CafeText});

    const auto listed = Exchange(unit, 0x4010, Payload().Text("A:\\Maps").Text("*.*").Finish());
    ASSERT_EQ(listed.size(), 1u);
    ASSERT_GE(listed[0].Payload.size(), 6u + CafeBytes.size() + 1);
    const std::string name(reinterpret_cast<const char*>(&listed[0].Payload[6]));
    EXPECT_EQ(name, CafeBytes);
}

// Every name the unit can send survives the disk: the euro sign, the accented letters and the five
// bytes Windows-1252 leaves undefined.
TEST_F(SimCardTest, NamesRoundTripThroughTheDisk)
{
    const std::vector<std::string> sent{"\x80 5.qxm", "\x81\x8D\x8F\x90\x9D.qxm", CafeBytes, "Street.qxm"};
    for (const std::string& name : sent)
        ASSERT_EQ(Write(name, "x"), StatusOk);
    EXPECT_TRUE(fs::exists(Maps() / PathFromUtf8("\xE2\x82\xAC 5.qxm")));
    std::vector<CardEntry> entries;
    ASSERT_EQ(Card.List("A:\\Maps", "*.*", entries), StatusOk);
    // Case-folded byte order: ASCII first, then the high bytes.
    EXPECT_EQ(Names(entries), (std::vector<std::string>{CafeBytes, "Street.qxm", "\x80 5.qxm",
                                                        "\x81\x8D\x8F\x90\x9D.qxm"}));
    for (const std::string& name : sent) {
        std::vector<uint8_t> data;
        EXPECT_EQ(Card.Read("A:\\Maps", name, 0, 10, data), StatusOk);
        EXPECT_EQ(data, std::vector<uint8_t>{'x'});
    }
}

// A file whose name has no Windows-1252 bytes cannot be listed as bytes: the unit does not see it.
// Neither does it see a name the card's file system could not hold.
TEST_F(SimCardTest, DiskNamesTheUnitCannotHoldAreNotListed)
{
    PutOnDisk(Maps(), "\xCE\xA9.qxm", "omega"); // Ω.qxm
    PutOnDisk(Maps(), "Map\xE6\x97\xA5.qxm", "cjk");
    PutOnDisk(Maps(), "Street.qxm", "street");
#ifndef _WIN32
    PutOnDisk(Maps(), "Caf\xE9.qxm", "latin-1 bytes, not UTF-8");
    PutOnDisk(Maps(), "what?.qxm", "a FAT wildcard");
#endif
    std::vector<CardEntry> entries;
    ASSERT_EQ(Card.List("A:\\Maps", "*.*", entries), StatusOk);
    EXPECT_EQ(Names(entries), std::vector<std::string>{"Street.qxm"});
}

// Matching ignores case for ASCII and for the Windows-1252 letters, as the unit's FAT card does.
TEST_F(SimCardTest, NamesMatchWithoutCase)
{
    ASSERT_EQ(Write(CafeBytes, "cafe"), StatusOk);
    ASSERT_EQ(Write("\x8A\x9F.qxm", "s-caron"), StatusOk); // ŠŸ
    uint32_t size = 0;
    EXPECT_EQ(Card.Size("a:\\MAPS", "CAF\xC9.QXM", size), StatusOk); // CAFÉ.QXM
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(Card.Size("A:\\Maps", "\x9A\xFF.QXM", size), StatusOk); // šÿ
    EXPECT_EQ(size, 7u);
    // Rewriting under another case keeps the one file.
    ASSERT_EQ(Write("CAF\xC9.qxm", "new"), StatusOk);
    EXPECT_EQ(DiskNames(Maps()).size(), 2u);
    EXPECT_EQ(testsupport::ReadBytes(Maps() / PathFromUtf8(CafeText)), (std::vector<uint8_t>{'n', 'e', 'w'}));
    // Patterns too.
    std::vector<CardEntry> entries;
    ASSERT_EQ(Card.List("A:\\Maps", "CAF\xC9*", entries), StatusOk);
    EXPECT_EQ(Names(entries), std::vector<std::string>{CafeBytes});
    // "é" and "e" stay different letters.
    EXPECT_EQ(Card.Size("A:\\Maps", "Cafe.qxm", size), StatusFileNotFound);
    EXPECT_EQ(Card.Remove("A:\\Maps", "cAF\xC9.qxm"), StatusOk);
    EXPECT_FALSE(fs::exists(Maps() / PathFromUtf8(CafeText)));
}

// The card's name rule is the unit's: what FAT cannot hold is refused before the disk is touched.
TEST_F(SimCardTest, NamesTheCardCannotHoldAreRefused)
{
    for (const std::string& name : {std::string("."), std::string(".."), std::string("a\\b"), std::string("a/b"),
                                    std::string("a:b"), std::string("a?b"), std::string("a*b"),
                                    std::string("a\x1B"), std::string("end."), std::string("end "), std::string(),
                                    std::string(256, 'n')})
        EXPECT_EQ(Write(name, "x"), StatusBadName) << name;
    EXPECT_TRUE(DiskNames(Maps()).empty());
    EXPECT_TRUE(SimCard::SafeName(std::string(255, 'n')));
    EXPECT_TRUE(SimCard::SafeName("\x81.qxm"));
}
