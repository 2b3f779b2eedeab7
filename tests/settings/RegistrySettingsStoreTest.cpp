// The registry store: the window's nine values keep their names and registry types, and a value
// of another type is refused by the typed reads.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "RegistrySettingsStore.h"

namespace {

// A key of its own per test process, removed before and after.
class RegistrySettings : public ::testing::Test {
protected:
    void SetUp() override { Remove(); }
    void TearDown() override { Remove(); }
    void Remove() { RegDeleteTreeA(HKEY_CURRENT_USER, Path().c_str()); }
    std::string Path() const
    {
        return "Software\\Korvane Research Inc.\\tessaly-test-" + std::to_string(GetCurrentProcessId());
    }
    std::string Key() const { return std::string("\\").append(Path()); }

    // Type and size of a value as the registry itself has them (texts in UTF-16).
    bool RawType(const std::string& name, DWORD& type, DWORD& size) const
    {
        const std::string narrowPath = Path();
        const std::wstring path(narrowPath.begin(), narrowPath.end());
        const std::wstring wideName(name.begin(), name.end());
        return RegGetValueW(HKEY_CURRENT_USER, path.c_str(), wideName.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type,
                            nullptr, &size) == ERROR_SUCCESS;
    }
    void SetRaw(const std::string& name, DWORD type, const void* data, DWORD size) const
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Path().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

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

TEST(RegistryKeyPath, LeadingBackslashIsDropped)
{
    EXPECT_EQ(RegistrySettingsStore::KeyPath("\\Software\\Korvane Research Inc.\\tessaly"),
              "Software\\Korvane Research Inc.\\tessaly");
    EXPECT_EQ(RegistrySettingsStore::KeyPath("Software\\X"), "Software\\X");
    EXPECT_EQ(RegistrySettingsStore::KeyPath("\\"), "");
}

// The nine values, written as the window writes them, read back by a new store with the
// registry types REG_DWORD, REG_BINARY (8 bytes) and REG_SZ.
TEST_F(RegistrySettings, NineValuesRoundTripWithTheirTypes)
{
    const std::string logs = "C:\\Users\\Ren\xC3\xA9\\Documents\\Tessaly\\Logs";
    {
        RegistrySettingsStore store;
        store.OpenKey(Key());
        WriteInteger(store, "Window State", 2);
        WriteInteger(store, "Top", -8);
        WriteInteger(store, "Left", 110);
        WriteInteger(store, "Width", 500);
        WriteInteger(store, "Height", 350);
        WriteFloat(store, "Export Interval", 0.1);
        WriteBool(store, "Auto Export", false);
        WriteString(store, "Log File Path", logs);
        WriteString(store, "Map File Path", "");
        std::string error;
        EXPECT_TRUE(store.CloseKey(error)) << error;
    }
    struct Expected {
        const char* Name;
        DWORD Type;
        DWORD Size;
    };
    const DWORD logsSize = static_cast<DWORD>(
        (MultiByteToWideChar(CP_UTF8, 0, logs.c_str(), -1, nullptr, 0)) * sizeof(wchar_t));
    for (const Expected& expected : {Expected{"Top", REG_DWORD, 4}, Expected{"Left", REG_DWORD, 4},
                                     Expected{"Width", REG_DWORD, 4}, Expected{"Height", REG_DWORD, 4},
                                     Expected{"Window State", REG_DWORD, 4}, Expected{"Export Interval", REG_BINARY, 8},
                                     Expected{"Auto Export", REG_DWORD, 4}, Expected{"Log File Path", REG_SZ, logsSize},
                                     Expected{"Map File Path", REG_SZ, sizeof(wchar_t)}}) {
        SCOPED_TRACE(expected.Name);
        DWORD type = REG_NONE;
        DWORD size = 0;
        ASSERT_TRUE(RawType(expected.Name, type, size));
        EXPECT_EQ(type, expected.Type);
        EXPECT_EQ(size, expected.Size);
    }

    RegistrySettingsStore again;
    again.OpenKey(Key());
    EXPECT_EQ(ReadInteger(again, "Window State"), 2);
    EXPECT_EQ(ReadInteger(again, "Top"), -8);
    EXPECT_EQ(ReadInteger(again, "Left"), 110);
    EXPECT_EQ(ReadInteger(again, "Width"), 500);
    EXPECT_EQ(ReadInteger(again, "Height"), 350);
    EXPECT_EQ(ReadFloat(again, "Export Interval"), 0.1);
    EXPECT_FALSE(ReadBool(again, "Auto Export"));
    EXPECT_EQ(ReadString(again, "Log File Path"), logs);
    EXPECT_EQ(ReadString(again, "Map File Path"), "");
    EXPECT_FALSE(ValueExists(again, "Maximised"));
    std::string error;
    EXPECT_TRUE(again.CloseKey(error)) << error;
}

// Opening a key that is not there creates it, empty.
TEST_F(RegistrySettings, OpeningCreatesTheKey)
{
    RegistrySettingsStore store;
    store.OpenKey(Key());
    std::string error;
    EXPECT_TRUE(store.CloseKey(error)) << error;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Path().c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD values = 1;
    EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 0u);
    RegCloseKey(key);
}

// A value stored with another type than its name calls for, or of a type the settings never
// use, is refused with the value's name; a REG_SZ stored without its terminating NUL still reads.
TEST_F(RegistrySettings, WrongTypeIsRefused)
{
    const char wide[] = "wide";
    SetRaw("Width", REG_SZ, wide, sizeof wide);
    const DWORD number = 1;
    SetRaw("Log File Path", REG_DWORD, &number, sizeof number);
    const uint64_t quad = 1;
    SetRaw("Height", REG_QWORD, &quad, sizeof quad);
    SetRaw("Top", REG_BINARY, &number, sizeof number);
    const char expand[] = "%TEMP%";
    SetRaw("Map File Path", REG_EXPAND_SZ, expand, sizeof expand);
    const wchar_t unterminated[] = {L'L', L'o', L'g', L's'};
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Path().c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated),
                             sizeof unterminated),
              ERROR_SUCCESS);
    RegCloseKey(key);

    RegistrySettingsStore store;
    store.OpenKey(Key());
    ExpectInvalidType([&] { (void)ReadInteger(store, "Width"); }, "Width");
    ExpectInvalidType([&] { (void)ReadString(store, "Log File Path"); }, "Log File Path");
    ExpectInvalidType([&] { (void)ReadInteger(store, "Height"); }, "Height");
    ExpectInvalidType([&] { (void)ReadFloat(store, "Top"); }, "Top");
    ExpectInvalidType([&] { (void)ReadString(store, "Map File Path"); }, "Map File Path");
    EXPECT_EQ(ReadString(store, "Width"), "wide");
    EXPECT_EQ(ReadString(store, "Unterminated"), "Logs");
}

// Values that cannot be kept are reported when the key is closed.
TEST_F(RegistrySettings, FailureIsReportedAtClose)
{
    RegistrySettingsStore store;
    store.OpenKey("\\");
    WriteInteger(store, "Top", 1);
    std::string error;
    EXPECT_FALSE(store.CloseKey(error));
    EXPECT_NE(error, "");
    // The next key starts afresh.
    store.OpenKey(Key());
    WriteInteger(store, "Top", 1);
    error.clear();
    EXPECT_TRUE(store.CloseKey(error)) << error;
}
