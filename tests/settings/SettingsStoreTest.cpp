// Typed access to a settings store: each typed read asks for one registry type and raises the
// settings error for a value of any other type.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "SettingsStore.h"

namespace {

class TypedAccess : public ::testing::Test {
protected:
    void SetUp() override { Store.OpenKey("K"); }
    std::map<std::string, SettingValue>& Stored() { return Store.Keys["K"]; }
    MemorySettingsStore Store;
};

// A typed read of a missing value, or of a value of another type, raises the error
// naming the value.
void ExpectInvalidType(const std::function<void()>& read, const std::string& name)
{
    try {
        read();
        ADD_FAILURE() << "no error for '" << name << "'";
    } catch (const SettingsError& error) {
        EXPECT_EQ(std::string(error.what()), "Invalid data type for '" + name + "'");
    }
}

} // namespace

// Each write stores the registry type its read asks for.
TEST_F(TypedAccess, WritesStoreTheirTypes)
{
    WriteInteger(Store, "Left", -120);
    WriteBool(Store, "Auto Export", true);
    WriteFloat(Store, "Export Interval", 0.25);
    WriteString(Store, "Log File Path", "C:\\Logs \xC3\xA9");
    EXPECT_EQ(Stored().at("Left"), SettingValue::FromDword(0xFFFFFF88u));
    EXPECT_EQ(Stored().at("Auto Export"), SettingValue::FromDword(1));
    // 0.25 is 0x3FD0000000000000, stored with its lowest byte first.
    EXPECT_EQ(Stored().at("Export Interval"),
              SettingValue::FromBinary({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD0, 0x3F}));
    EXPECT_EQ(Stored().at("Log File Path"), SettingValue::FromString("C:\\Logs \xC3\xA9"));
    EXPECT_STREQ(SettingTypeTag(Stored().at("Left").Type), "REG_DWORD");
    EXPECT_STREQ(SettingTypeTag(Stored().at("Export Interval").Type), "REG_BINARY");
    EXPECT_STREQ(SettingTypeTag(Stored().at("Log File Path").Type), "REG_SZ");
}

TEST_F(TypedAccess, ReadsGiveBackWhatWasWritten)
{
    WriteInteger(Store, "Top", std::numeric_limits<int32_t>::min());
    WriteInteger(Store, "Width", std::numeric_limits<int32_t>::max());
    WriteBool(Store, "Auto Export", false);
    WriteFloat(Store, "Export Interval", -1.0 / 3.0);
    WriteString(Store, "Map File Path", "");
    EXPECT_EQ(ReadInteger(Store, "Top"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ReadInteger(Store, "Width"), std::numeric_limits<int32_t>::max());
    EXPECT_FALSE(ReadBool(Store, "Auto Export"));
    EXPECT_EQ(ReadFloat(Store, "Export Interval"), -1.0 / 3.0);
    EXPECT_EQ(ReadString(Store, "Map File Path"), "");
    EXPECT_TRUE(ValueExists(Store, "Map File Path"));
    EXPECT_FALSE(ValueExists(Store, "Height"));
}

// Any number but 0 reads as true, as the registry's boolean rule has it.
TEST_F(TypedAccess, AnyNonZeroNumberIsTrue)
{
    Stored()["Auto Export"] = SettingValue::FromDword(0x80000000u);
    EXPECT_TRUE(ReadBool(Store, "Auto Export"));
}

TEST_F(TypedAccess, OtherTypesRaiseTheError)
{
    Stored()["Width"] = SettingValue::FromString("wide");
    Stored()["Log File Path"] = SettingValue::FromDword(7);
    Stored()["Export Interval"] = SettingValue::FromString("1.0");
    Stored()["Auto Export"] = SettingValue::FromBinary({1, 0, 0, 0});
    Stored()["Unknown"] = SettingValue{};
    ExpectInvalidType([&] { (void)ReadInteger(Store, "Width"); }, "Width");
    ExpectInvalidType([&] { (void)ReadString(Store, "Log File Path"); }, "Log File Path");
    ExpectInvalidType([&] { (void)ReadFloat(Store, "Export Interval"); }, "Export Interval");
    ExpectInvalidType([&] { (void)ReadBool(Store, "Auto Export"); }, "Auto Export");
    ExpectInvalidType([&] { (void)ReadInteger(Store, "Unknown"); }, "Unknown");
    ExpectInvalidType([&] { (void)ReadInteger(Store, "Missing"); }, "Missing");
}

// A float is exactly 8 bytes: bytes of another length are not taken for one.
TEST_F(TypedAccess, FloatOfOtherLengthRaisesTheError)
{
    Stored()["Short"] = SettingValue::FromBinary({0, 0, 0, 0, 0, 0, 0xF0});
    Stored()["Long"] = SettingValue::FromBinary({0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0});
    ExpectInvalidType([&] { (void)ReadFloat(Store, "Short"); }, "Short");
    ExpectInvalidType([&] { (void)ReadFloat(Store, "Long"); }, "Long");
}

// The memory store keeps each key's values apart and logs every operation.
TEST(MemorySettings, KeysAreSeparateAndOperationsLogged)
{
    MemorySettingsStore store;
    store.OpenKey("A");
    WriteInteger(store, "Top", 1);
    std::string error;
    EXPECT_TRUE(store.CloseKey(error));
    store.OpenKey("B");
    EXPECT_FALSE(ValueExists(store, "Top"));
    store.OpenKey("A");
    EXPECT_EQ(ReadInteger(store, "Top"), 1);
    const std::vector<std::string> expected = {"open A", "write Top", "close", "open B",
                                               "read Top", "open A", "read Top"};
    EXPECT_EQ(store.Log, expected);
}
