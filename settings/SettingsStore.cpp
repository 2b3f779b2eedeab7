#include "SettingsStore.h"

#include <bit>
#include <utility>

SettingValue SettingValue::FromDword(uint32_t value)
{
    SettingValue v;
    v.Type = SettingType::Dword;
    v.Dword = value;
    return v;
}

SettingValue SettingValue::FromBinary(std::vector<uint8_t> value)
{
    SettingValue v;
    v.Type = SettingType::Binary;
    v.Binary = std::move(value);
    return v;
}

SettingValue SettingValue::FromString(std::string value)
{
    SettingValue v;
    v.Type = SettingType::String;
    v.Text = std::move(value);
    return v;
}

const char* SettingTypeTag(SettingType type)
{
    switch (type) {
    case SettingType::Dword:
        return "REG_DWORD";
    case SettingType::Binary:
        return "REG_BINARY";
    case SettingType::String:
        return "REG_SZ";
    case SettingType::Unknown:
        break;
    }
    return "";
}

namespace {

[[noreturn]] void InvalidType(const std::string& name)
{
    throw SettingsError("Invalid data type for '" + name + "'");
}

SettingValue Typed(SettingsStore& store, const std::string& name, SettingType type)
{
    std::optional<SettingValue> value = store.Value(name);
    if (!value || value->Type != type)
        InvalidType(name);
    return *value;
}

} // namespace

bool ValueExists(SettingsStore& store, const std::string& name) { return store.Value(name).has_value(); }

int32_t ReadInteger(SettingsStore& store, const std::string& name)
{
    return static_cast<int32_t>(Typed(store, name, SettingType::Dword).Dword);
}

bool ReadBool(SettingsStore& store, const std::string& name) { return ReadInteger(store, name) != 0; }

double ReadFloat(SettingsStore& store, const std::string& name)
{
    const SettingValue value = Typed(store, name, SettingType::Binary);
    if (value.Binary.size() != sizeof(double))
        InvalidType(name);
    uint64_t bits = 0;
    for (size_t i = 0; i < sizeof bits; ++i)
        bits |= static_cast<uint64_t>(value.Binary[i]) << (8 * i);
    return std::bit_cast<double>(bits);
}

std::string ReadString(SettingsStore& store, const std::string& name)
{
    return Typed(store, name, SettingType::String).Text;
}

void WriteInteger(SettingsStore& store, const std::string& name, int32_t value)
{
    store.SetValue(name, SettingValue::FromDword(static_cast<uint32_t>(value)));
}

void WriteBool(SettingsStore& store, const std::string& name, bool value) { WriteInteger(store, name, value ? 1 : 0); }

void WriteFloat(SettingsStore& store, const std::string& name, double value)
{
    // The IEEE double in little-endian byte order, as the registry holds it.
    const auto bits = std::bit_cast<uint64_t>(value);
    std::vector<uint8_t> bytes(sizeof bits);
    for (size_t i = 0; i < sizeof bits; ++i)
        bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    store.SetValue(name, SettingValue::FromBinary(std::move(bytes)));
}

void WriteString(SettingsStore& store, const std::string& name, const std::string& value)
{
    store.SetValue(name, SettingValue::FromString(value));
}

// ---- in memory

void MemorySettingsStore::OpenKey(const std::string& key)
{
    Log.push_back("open " + key);
    OpenName = key;
    Keys[key];
}

bool MemorySettingsStore::CloseKey(std::string& /*error*/)
{
    Log.push_back("close");
    return true;
}

std::optional<SettingValue> MemorySettingsStore::Value(const std::string& name)
{
    Log.push_back("read " + name);
    auto& values = Keys[OpenName];
    auto found = values.find(name);
    if (found == values.end())
        return std::nullopt;
    return found->second;
}

void MemorySettingsStore::SetValue(const std::string& name, const SettingValue& value)
{
    Log.push_back("write " + name);
    Keys[OpenName][name] = value;
}
