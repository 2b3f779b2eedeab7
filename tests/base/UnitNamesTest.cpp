// Names on the unit are Windows-1252 bytes; the programs hold them as UTF-8. Every byte string the
// unit can report decodes and encodes back to itself, and a name the card cannot hold is refused
// with a reason that names the character or the fault.
#include <gtest/gtest.h>

#include <string>

#include "UnitNames.h"

namespace {

std::string Encoded(const std::string& utf8)
{
    std::string bytes;
    std::string reason;
    EXPECT_TRUE(EncodeUnitName(utf8, bytes, reason)) << utf8 << ": " << reason;
    EXPECT_EQ(reason, "");
    return bytes;
}

// The reason Encode gives for `utf8`, which it must refuse.
std::string EncodeRefusal(const std::string& utf8)
{
    std::string bytes = "untouched";
    std::string reason;
    EXPECT_FALSE(EncodeUnitName(utf8, bytes, reason)) << utf8;
    EXPECT_EQ(bytes, "untouched") << "a refused name leaves the output alone";
    return reason;
}

TEST(UnitNames, EveryByteStringWithoutNulRoundTrips)
{
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        EXPECT_EQ(Encoded(DecodeUnitName(one)), one) << "byte " << byte;
        all += one;
    }
    EXPECT_EQ(Encoded(DecodeUnitName(all)), all);
    // ASCII is its own UTF-8.
    EXPECT_EQ(DecodeUnitName("RUN1.displog"), "RUN1.displog");
    EXPECT_EQ(DecodeUnitName(""), "");
}

TEST(UnitNames, LatinLettersAreOneByteOnTheUnit)
{
    const std::string unit = "\x43\x61\x66\xE9\x2E\x71\x78\x6D";
    EXPECT_EQ(DecodeUnitName(unit), "Caf\xC3\xA9.qxm"); // Café.qxm
    EXPECT_EQ(Encoded("Caf\xC3\xA9.qxm"), unit);
    EXPECT_EQ(Encoded("Stra\xC3\x9F" "e \xC3\x96l.qxm"), "Stra\xDF" "e \xD6l.qxm"); // Straße Öl
    EXPECT_EQ(DecodeUnitName("\xFF"), "\xC3\xBF"); // ÿ
}

// 0x80-0x9F are the printable characters of Windows-1252, not the C1 controls of Latin-1.
TEST(UnitNames, HighRangeFollowsWindows1252)
{
    EXPECT_EQ(DecodeUnitName("\x80"), "\xE2\x82\xAC"); // €
    EXPECT_EQ(Encoded("\xE2\x82\xAC 5.qxm"), "\x80 5.qxm");
    EXPECT_EQ(DecodeUnitName("\x8A\x9F\x99"), "\xC5\xA0\xC5\xB8\xE2\x84\xA2"); // ŠŸ™
    EXPECT_EQ(Encoded("\xE2\x80\x9Cq\xE2\x80\x9D"), "\x93q\x94");             // “q”
}

// The five bytes Windows-1252 leaves undefined stand for the C1 characters of the same value.
TEST(UnitNames, UndefinedBytesMapToTheirOwnValue)
{
    for (const unsigned byte : {0x81u, 0x8Du, 0x8Fu, 0x90u, 0x9Du}) {
        const std::string unit(1, static_cast<char>(byte));
        const std::string utf8{static_cast<char>(0xC2), static_cast<char>(byte)};
        EXPECT_EQ(DecodeUnitName(unit), utf8) << byte;
        EXPECT_EQ(Encoded(utf8), unit) << byte;
        // A name the unit reports is a name it takes back.
        EXPECT_EQ(UnitNameRefusal("Map" + utf8 + ".qxm"), "") << byte;
    }
    // The other C1 characters have no byte: 0x80 is the euro sign.
    EXPECT_EQ(EncodeRefusal("\xC2\x80"), "the name has a character the unit cannot store: \"\xC2\x80\" (U+0080)");
}

TEST(UnitNames, CharacterOutsideWindows1252IsRefusedByName)
{
    const std::string name = "Stra\xC3\x9F" "e \xCE\xA9.qxm"; // Straße Ω.qxm
    const std::string expected = "the name has a character the unit cannot store: \"\xCE\xA9\" (U+03A9)";
    EXPECT_EQ(EncodeRefusal(name), expected);
    EXPECT_EQ(UnitNameRefusal(name), expected);
    // Beyond the first plane, the code keeps all its digits.
    EXPECT_EQ(UnitNameRefusal("\xF0\x9F\x98\x80.qxm"),
              "the name has a character the unit cannot store: \"\xF0\x9F\x98\x80\" (U+1F600)");
    EXPECT_EQ(UnitNameRefusal("\xE6\x97\xA5"), "the name has a character the unit cannot store: \"\xE6\x97\xA5\" (U+65E5)");
}

// Malformed sequences, overlong forms, surrogates and values past U+10FFFF are not text.
TEST(UnitNames, InvalidUtf8IsRefused)
{
    const struct {
        std::string Text;
        const char* Byte;
    } cases[] = {
        {"Caf\xE9.qxm", "0xE9"},         // Latin-1, not UTF-8
        {"a\xC3", "0xC3"},               // cut short
        {"\xC0\xAF", "0xC0"},            // overlong "/"
        {"\xE0\x80\xAF", "0xE0"},        // overlong "/" in three bytes
        {"\xED\xA0\x80", "0xED"},        // surrogate
        {"\xF4\x90\x80\x80", "0xF4"},    // past U+10FFFF
        {"\xF8\x88\x80\x80\x80", "0xF8"}, // five-byte form
        {"x\x80y", "0x80"},              // continuation byte alone
    };
    for (const auto& c : cases) {
        const std::string expected = std::string("the name is not valid UTF-8 text (byte ") + c.Byte + ")";
        EXPECT_EQ(EncodeRefusal(c.Text), expected);
        EXPECT_EQ(UnitNameRefusal(c.Text), expected);
    }
}

// A NUL ends a text on the wire, so the unit would act on a shorter name.
TEST(UnitNames, EncodeRefusesNul)
{
    EXPECT_EQ(EncodeRefusal(std::string("Street.qxm\0x", 12)), "the name has a control character (U+0000)");
}

// Folder texts carry the drive and backslashes: Encode converts characters, it does not judge names.
TEST(UnitNames, EncodeLeavesFolderTextsAlone)
{
    EXPECT_EQ(Encoded("A:\\Maps"), "A:\\Maps");
    EXPECT_EQ(Encoded("*.*"), "*.*");
}

TEST(UnitNames, FatForbiddenCharactersAreRefused)
{
    for (const char c : std::string("\\/:*?\"<>|")) {
        const std::string shown(1, c);
        EXPECT_EQ(UnitNameRefusal("a" + shown + "b.qxm"),
                  "the name has a character a FAT card does not allow: \"" + shown + "\"");
    }
}

TEST(UnitNames, ControlCharactersAreRefused)
{
    EXPECT_EQ(UnitNameRefusal("a\x1B" "b.qxm"), "the name has a control character (U+001B)");
    EXPECT_EQ(UnitNameRefusal("\x01"), "the name has a control character (U+0001)");
    EXPECT_EQ(UnitNameRefusal("a\tb"), "the name has a control character (U+0009)");
    EXPECT_EQ(UnitNameRefusal("a\x7F"), "the name has a control character (U+007F)");
    EXPECT_EQ(UnitNameRefusal(std::string("a\0b", 3)), "the name has a control character (U+0000)");
    // C1 controls without a Windows-1252 byte.
    EXPECT_EQ(UnitNameRefusal("a\xC2\x80"), "the name has a control character (U+0080)");
    EXPECT_EQ(UnitNameRefusal("a\xC2\x9F"), "the name has a control character (U+009F)");
}

// FAT drops trailing dots and blanks, so "Map." and "Map" would be one file.
TEST(UnitNames, TrailingDotOrSpaceIsRefused)
{
    EXPECT_EQ(UnitNameRefusal("Street.qxm."), "the name ends with a dot or a space");
    EXPECT_EQ(UnitNameRefusal("Street.qxm "), "the name ends with a dot or a space");
    EXPECT_EQ(UnitNameRefusal(""), "the name is empty");
    EXPECT_EQ(UnitNameRefusal("."), "the name \".\" stands for a folder");
    EXPECT_EQ(UnitNameRefusal(".."), "the name \"..\" stands for a folder");
    // Dots and blanks elsewhere are fine.
    EXPECT_EQ(UnitNameRefusal(".hidden"), "");
    EXPECT_EQ(UnitNameRefusal(" Track Day.v2.qxm"), "");
}

TEST(UnitNames, LongestNameIs255Characters)
{
    // Counted in characters, which are bytes on the unit: 255 two-byte "é" fit.
    std::string longest;
    for (int i = 0; i < 255; ++i)
        longest += "\xC3\xA9";
    EXPECT_EQ(UnitNameRefusal(longest), "");
    EXPECT_EQ(UnitNameRefusal(longest + "x"), "the name is longer than 255 characters");
}

TEST(UnitNames, ValidNamesPass)
{
    for (const std::string name : {"Street.qxm", "Track Day.qxm", "RUN1.displog", "Caf\xC3\xA9.qxm",
                                   "\xE2\x82\xAC 5 (copy).wzm", "a+b=c;d,e[f]{g}#h&i'j!k~l@m$n%o^p.qxm"})
        EXPECT_EQ(UnitNameRefusal(name), "") << name;
}

// The first fault in text order is the one named.
TEST(UnitNames, FirstFaultIsNamed)
{
    EXPECT_EQ(UnitNameRefusal("\xCE\xA9?."), "the name has a character the unit cannot store: \"\xCE\xA9\" (U+03A9)");
    EXPECT_EQ(UnitNameRefusal("?\xCE\xA9"), "the name has a character a FAT card does not allow: \"?\"");
}

} // namespace
