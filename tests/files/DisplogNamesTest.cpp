#include "Displogfile.h"

#include "LogBytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

DispLogFile EmptyLog(int format)
{
    const LogBytes bytes(format, 1000);
    DispLogFile log;
    EXPECT_EQ(log.OpenFromBytes(bytes.Bytes.data(), bytes.Bytes.size()), 0u);
    return log;
}

struct Answer {
    bool Known;
    std::string Text;
};

Answer Name(const DispLogFile& log, uint32_t id)
{
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    const bool known = log.NameForId(id, buffer, sizeof buffer);
    return {known, buffer};
}

Answer Pattern(const DispLogFile& log, uint32_t id)
{
    char buffer[16];
    const bool known = log.FormatForId(id, buffer, sizeof buffer);
    return {known, buffer};
}

struct Entry {
    uint32_t Id;
    const char* Name;
    const char* Pattern;
};

// Format-1 names and patterns as the unit's documentation lists them.
const Entry TableA[] = {
    {0x0001, "TP", "0"},
    {0x0002, "RPM", "0.000"},
    {0x0003, "FUEL", "0"},
    {0x0004, "DUTY", "0"},
    {0x0006, "CURRENT MAP", "0"},
    {0x0007, "CURRENT GEAR", "0"},
    {0x0008, "PRESSURE VOLTS", "0.00"},
    {0x0009, "SPEED", "0.0"},
    {0x0010, "IGN", "0.000"},
    {0x0100, "ANALOG 0", "0.000"},
    {0x0200, "ANALOG 1", "0.000"},
    {0x0300, "RPM", "0.000"},
    {0x0400, "AFR", "0.000"},
    {0x1000, "AFR", "0.000"},
    {0x2000, "LAMBDA", "0.000"},
    {0x3000, "ANALOG", "0.000"},
    {0x4000, "RPM", "0.000"},
};

// Module kind 4, by bits 8-15.
const Entry TableC[] = {
    {0x1B, "Map Num ", "0"},
    {0x1C, "RPM ", "0.000"},
    {0x1D, "Speed ", "0.0"},
    {0x1F, "Gear ", "0"},
    {0x2A, "Fuel Duty Cyl 1 ", "0"},
    {0x2B, "Ign Adv Cyl 1 ", "0.000"},
    {0x2E, "Fuel Adj Cyl 1 ", "0"},
    {0x3A, "Fuel Duty Cyl 2 ", "0"},
    {0x3B, "Ign Adv Cyl 2 ", "0.000"},
    {0x3E, "Fuel Adj Cyl 2 ", "0"},
    {0x4A, "Fuel Duty Cyl 3 ", "0"},
    {0x4B, "Ign Adv Cyl 3 ", "0.000"},
    {0x4E, "Fuel Adj Cyl 3 ", "0"},
    {0x5A, "Fuel Duty Cyl 4 ", "0"},
    {0x5B, "Ign Adv Cyl 4 ", "0.000"},
    {0x5E, "Fuel Adj Cyl 4 ", "0"},
    {0x71, "Temp ", "0.0"},
    {0x77, "Pressure ", "0.00"},
    {0xA0, "J1850 RPM ", "0.000"},
    {0xA1, "J1850 Speed ", "0.000"},
    {0xA2, "J1850 Engine Temp ", "0.000"},
    {0xA3, "J1850 Intake Temp ", "0.000"},
    {0xA4, "J1850 Adv Front ", "0.000"},
    {0xA5, "J1850 Adv Rear ", "0.000"},
    {0xA6, "J1850 Bat Volts ", "0.000"},
    {0xA7, "J1850 Idle RPM ", "0.000"},
    {0xA8, "J1850 MAP ", "0.000"},
    {0xA9, "J1850 TPS ", "0.000"},
    {0xAA, "J1850 IAC ", "0.000"},
    {0xAB, "J1850 PW Front ", "0.000"},
    {0xAC, "J1850 PW Rear ", "0.000"},
    {0xAD, "J1850 Accel Enrich ", "0.000"},
    {0xAE, "J1850 Decel Enlean ", "0.000"},
    {0xAF, "J1850 Knock Front ", "0.000"},
    {0xB0, "J1850 Knock Rear ", "0.000"},
    {0xC5, "TPS ", "0"},
    {0xF0, "Ign Adj Cyl 1 ", "0.000"},
    {0xF1, "Ign Adj Cyl 2 ", "0.000"},
    {0xF2, "Ign Adj Cyl 3 ", "0.000"},
    {0xF3, "Ign Adj Cyl 4 ", "0.000"},
};

std::string Hex4(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

} // namespace

// Reference names and patterns, one per kind of channel.
TEST(ChannelNames, Examples)
{
    const DispLogFile f1 = EmptyLog(1);
    const DispLogFile f2 = EmptyLog(2);
    EXPECT_EQ(Name(f1, 0x0008).Text, "PRESSURE VOLTS");
    EXPECT_EQ(Pattern(f1, 0x0008).Text, "0.00");
    EXPECT_FALSE(Name(f1, 0x0005).Known);
    EXPECT_EQ(Name(f1, 0x0005).Text, "ID (0x0005)");
    EXPECT_FALSE(Pattern(f1, 0x0005).Known);
    EXPECT_EQ(Pattern(f1, 0x0005).Text, "0.000");

    EXPECT_EQ(Name(f2, 0x01000101).Text, "LQR Lambda 1");
    EXPECT_EQ(Pattern(f2, 0x01000101).Text, "0.000");
    EXPECT_EQ(Name(f2, 0x05000302).Text, "LQR AFR 1 2");
    EXPECT_EQ(Name(f2, 0x0400A203).Text, "TVX J1850 Engine Temp 3");
    EXPECT_EQ(Pattern(f2, 0x0400A203).Text, "0.000");
    EXPECT_EQ(Name(f2, 0x04001D00).Text, "TVX Speed ");
    EXPECT_EQ(Pattern(f2, 0x04001D00).Text, "0.0");
    EXPECT_EQ(Name(f2, 0x0401C500).Text, "TVX TPS ");
    EXPECT_EQ(Pattern(f2, 0x0401C500).Text, "0");
    EXPECT_EQ(Name(f2, 0x02003404).Text, "HZN 4");
    EXPECT_EQ(Name(f2, 0x01000700).Text, "LQR 0x0700 ");
    EXPECT_TRUE(Name(f2, 0x01000700).Known);
}

// Every format-1 identifier: the listed ones by their name and pattern, all others (0x0005,
// 0x000A-0x000F, ...) by their hexadecimal form, "0.000" and false; bits 16-31 are ignored.
TEST(ChannelNames, Format1AllIdentifiers)
{
    const DispLogFile log = EmptyLog(1);
    std::map<uint32_t, const Entry*> listed;
    for (const Entry& entry : TableA)
        listed[entry.Id] = &entry;
    for (uint32_t id = 0; id <= 0xFFFF; ++id) {
        const Answer name = Name(log, id);
        const Answer pattern = Pattern(log, id);
        const auto it = listed.find(id);
        if (it != listed.end()) {
            ASSERT_TRUE(name.Known) << id;
            ASSERT_EQ(name.Text, it->second->Name);
            ASSERT_TRUE(pattern.Known);
            ASSERT_EQ(pattern.Text, it->second->Pattern);
        } else {
            ASSERT_FALSE(name.Known) << id;
            ASSERT_EQ(name.Text, "ID (0x" + Hex4(id) + ")");
            ASSERT_FALSE(pattern.Known);
            ASSERT_EQ(pattern.Text, "0.000");
        }
    }
    EXPECT_EQ(Name(log, 0xABCD0008).Text, "PRESSURE VOLTS");
}

// Module kind 4: all 256 values of bits 8-15, whatever bits 16-23 hold; the fallback shows
// bits 8-23.
TEST(ChannelNames, Format2TvxAllChannels)
{
    const DispLogFile log = EmptyLog(2);
    std::map<uint32_t, const Entry*> listed;
    for (const Entry& entry : TableC)
        listed[entry.Id] = &entry;
    for (uint32_t high : {0x00u, 0x01u, 0xFFu}) {
        for (uint32_t low = 0; low <= 0xFF; ++low) {
            const uint32_t id = 0x04000000u | (high << 16) | (low << 8);
            const auto it = listed.find(low);
            const std::string expected =
                it != listed.end() ? std::string("TVX ") + it->second->Name : "TVX 0x" + Hex4((high << 16) | (low << 8)) + " ";
            ASSERT_EQ(Name(log, id).Text, expected) << std::hex << id;
            ASSERT_EQ(Pattern(log, id).Text, it != listed.end() ? it->second->Pattern : "0.000");
            ASSERT_TRUE(Name(log, id).Known);
            ASSERT_TRUE(Pattern(log, id).Known);
        }
    }
}

// Module kinds 1 and 5 compare the whole 16-bit channel field; 2 and 3 have no channel text.
TEST(ChannelNames, Format2Modules)
{
    const DispLogFile log = EmptyLog(2);
    const char* const lqr[] = {"Lambda ", "AFR ", "Analog  ", "RPM "};
    const char* const lqrDual[] = {"Lambda 1 ", "Lambda 2 ", "AFR 1 ", "AFR 2 "};
    for (uint32_t field = 1; field <= 4; ++field) {
        EXPECT_EQ(Name(log, 0x01000000u | field << 8).Text, std::string("LQR ") + lqr[field - 1]);
        EXPECT_EQ(Name(log, 0x05000000u | field << 8).Text, std::string("LQR ") + lqrDual[field - 1]);
    }
    EXPECT_EQ(Name(log, 0x01010100).Text, "LQR 0x10100 ");
    EXPECT_EQ(Name(log, 0x01000500).Text, "LQR 0x0500 ");
    EXPECT_EQ(Name(log, 0x01123400).Text, "LQR 0x123400 ");
    EXPECT_EQ(Name(log, 0x05000000).Text, "LQR 0x0000 ");
    EXPECT_EQ(Name(log, 0x0500FF07).Text, "LQR 0xFF00 7");
    // Channels of kinds 2 and 3 that differ only in their channel field share a name.
    EXPECT_EQ(Name(log, 0x02000101).Text, Name(log, 0x0200FF01).Text);
    EXPECT_EQ(Name(log, 0x03000100).Text, "Ign ");
    EXPECT_EQ(Name(log, 0x03000100).Text, Name(log, 0x03ABCD00).Text);
    for (uint32_t module : {1u, 2u, 3u, 5u})
        EXPECT_EQ(Pattern(log, module << 24 | 0x1D00).Text, "0.000");
}

// A module kind without a text is named by its number, keeps the channel field and instance,
// answers true and gets "0.000".
TEST(ChannelNames, Format2UnknownModule)
{
    const DispLogFile log = EmptyLog(2);
    EXPECT_EQ(Name(log, 0x07001203).Text, "Module 7 0x1200 3");
    EXPECT_EQ(Name(log, 0x00000100).Text, "Module 0 0x0100 ");
    EXPECT_EQ(Name(log, 0xFFFFFFFF).Text, "Module 255 0xFFFF00 255");
    EXPECT_TRUE(Name(log, 0x07001203).Known);
    EXPECT_EQ(Pattern(log, 0x07001C00).Text, "0.000");
    EXPECT_TRUE(Pattern(log, 0x07001C00).Known);
}

// Names are cut at the buffer's size and always terminated; the longest name fits in 27.
TEST(ChannelNames, BufferBounds)
{
    const DispLogFile log = EmptyLog(2);
    char buffer[27];
    EXPECT_TRUE(log.NameForId(0x0400ADFF, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "TVX J1850 Accel Enrich 255");
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_TRUE(log.NameForId(0x0400ADFF, small, 6));
    EXPECT_STREQ(small, "TVX J");
    EXPECT_EQ(small[6], 'x');
    EXPECT_TRUE(log.NameForId(0x0400ADFF, small, 1));
    EXPECT_STREQ(small, "");
    small[0] = 'q';
    EXPECT_TRUE(log.NameForId(0x0400ADFF, small, 0));
    EXPECT_EQ(small[0], 'q');

    const DispLogFile f1 = EmptyLog(1);
    EXPECT_FALSE(f1.NameForId(0x0005, small, 5));
    EXPECT_STREQ(small, "ID (");
    char pattern[3];
    EXPECT_TRUE(f1.FormatForId(0x0002, pattern, sizeof pattern));
    EXPECT_STREQ(pattern, "0.");
}

// The pattern of a channel comes from its identifier; an index beyond the channels leaves the
// buffer alone.
TEST(ChannelNames, ChannelFormat)
{
    const LogBytes bytes = LogBytes(1, 10).TimeStamp(0).Sample(0x0008, 1.0f).Sample(0x0005, 2.0f);
    DispLogFile log;
    ASSERT_EQ(log.OpenFromBytes(bytes.Bytes.data(), bytes.Bytes.size()), 0u);
    char pattern[16] = "untouched";
    EXPECT_TRUE(log.GetChannelFormat(0, pattern, sizeof pattern));
    EXPECT_STREQ(pattern, "0.00");
    EXPECT_FALSE(log.GetChannelFormat(1, pattern, sizeof pattern));
    EXPECT_STREQ(pattern, "0.000");
    std::strcpy(pattern, "untouched");
    EXPECT_FALSE(log.GetChannelFormat(2, pattern, sizeof pattern));
    EXPECT_STREQ(pattern, "untouched");
}
