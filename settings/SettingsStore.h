#pragma once
// Persisted settings as a registry-like store: named keys, each holding named values of three
// types (a 32-bit number, bytes, text). The window reads its values once while it is built and
// writes them once while it is destroyed. On Windows the store is the registry itself
// (RegistrySettingsStore.h); elsewhere it is a JSON file that keeps every value's name and type
// tag (the window's FileSettingsStore). Texts are UTF-8.
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

enum class SettingType { Dword, Binary, String, Unknown };

struct SettingValue {
    SettingType Type = SettingType::Unknown;
    uint32_t Dword = 0;
    std::vector<uint8_t> Binary;
    std::string Text;

    static SettingValue FromDword(uint32_t value);
    static SettingValue FromBinary(std::vector<uint8_t> value);
    static SettingValue FromString(std::string value);
    friend bool operator==(const SettingValue&, const SettingValue&) = default;
};

// The type tags as the registry names them: REG_DWORD, REG_BINARY, REG_SZ.
const char* SettingTypeTag(SettingType type);

// Raised by the typed reads when a value exists with another type than the one asked for; the
// start of the run reports it and ends.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Opens `key`, creating it (empty) when it does not exist.
    virtual void OpenKey(const std::string& key) = 0;
    // Ends the work on the open key; written values are kept for good from here. False (with
    // `error`) when they could not be kept.
    virtual bool CloseKey(std::string& error) = 0;
    virtual std::optional<SettingValue> Value(const std::string& name) = 0;
    virtual void SetValue(const std::string& name, const SettingValue& value) = 0;
};

// Typed access with the registry's type rules.
bool ValueExists(SettingsStore& store, const std::string& name);
int32_t ReadInteger(SettingsStore& store, const std::string& name);  // REG_DWORD
bool ReadBool(SettingsStore& store, const std::string& name);        // REG_DWORD, not 0
double ReadFloat(SettingsStore& store, const std::string& name);     // REG_BINARY of 8 bytes
std::string ReadString(SettingsStore& store, const std::string& name); // REG_SZ
void WriteInteger(SettingsStore& store, const std::string& name, int32_t value);
void WriteBool(SettingsStore& store, const std::string& name, bool value);
void WriteFloat(SettingsStore& store, const std::string& name, double value);
void WriteString(SettingsStore& store, const std::string& name, const std::string& value);

// Settings held in memory, for tests and benchmarks: keys persist for the store's lifetime, and
// every operation is logged ("open KEY", "read NAME", "write NAME", "close").
class MemorySettingsStore : public SettingsStore {
public:
    void OpenKey(const std::string& key) override;
    bool CloseKey(std::string& error) override;
    std::optional<SettingValue> Value(const std::string& name) override;
    void SetValue(const std::string& name, const SettingValue& value) override;

    std::map<std::string, std::map<std::string, SettingValue>> Keys;
    std::vector<std::string> Log;

private:
    std::string OpenName;
};
