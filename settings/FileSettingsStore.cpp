#include "FileSettingsStore.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "LocalFiles.h"
#include "PathText.h"

namespace {

using Json = nlohmann::json;

constexpr const char* TypeField = "type";
constexpr const char* DataField = "data";
constexpr const char* KeysField = "keys";

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// Lower- or upper-case hexadecimal digits, two per byte; nothing else.
std::optional<std::vector<uint8_t>> FromHex(const std::string& text)
{
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

// A value whose tag or data does not fit its type is kept as Unknown, so reading it raises the
// type error instead of yielding a made-up value.
SettingValue DecodeValue(const Json& json)
{
    SettingValue value;
    if (!json.is_object())
        return value;
    const Json tag = json.value(TypeField, Json());
    const Json data = json.value(DataField, Json());
    if (tag == "REG_DWORD" && data.is_number()) {
        const double number = data.get<double>();
        if (number >= 0 && number <= 4294967295.0 && std::floor(number) == number)
            value = SettingValue::FromDword(static_cast<uint32_t>(number));
    } else if (tag == "REG_BINARY" && data.is_string()) {
        if (auto bytes = FromHex(data.get<std::string>()))
            value = SettingValue::FromBinary(std::move(*bytes));
    } else if (tag == "REG_SZ" && data.is_string()) {
        value = SettingValue::FromString(data.get<std::string>());
    }
    return value;
}

Json EncodeValue(const SettingValue& value)
{
    Json object = {{TypeField, SettingTypeTag(value.Type)}};
    switch (value.Type) {
    case SettingType::Dword: object[DataField] = value.Dword; break;
    case SettingType::Binary: object[DataField] = Hex(value.Binary); break;
    case SettingType::String: object[DataField] = value.Text; break;
    case SettingType::Unknown: break;
    }
    return object;
}

} // namespace

FileSettingsStore::FileSettingsStore(std::filesystem::path path) : FilePath(std::move(path)) {}

std::filesystem::path FileSettingsStore::DefaultPath()
{
    std::filesystem::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        config = PathFromUtf8(xdg);
    else if (const char* home = std::getenv("HOME"); home && *home)
        config = PathFromUtf8(home) / ".config";
    else
        config = std::filesystem::temp_directory_path();
    return config / "tessaly" / "settings.json";
}

FileSettingsStore::Keys FileSettingsStore::Load()
{
    Keys keys;
    std::error_code missing;
    if (!std::filesystem::exists(FilePath, missing))
        return keys;
    const std::string shown = Utf8FromPath(FilePath);
    std::ifstream file(FilePath, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "tessaly: cannot read %s\n", shown.c_str());
        return keys;
    }
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    file.close();
    const Json document = Json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object() || !document.contains(KeysField) ||
        !document[KeysField].is_object()) {
        std::filesystem::path aside = FilePath;
        aside += ".bad";
        std::error_code ignored;
        std::filesystem::remove(aside, ignored);
        std::filesystem::rename(FilePath, aside, ignored);
        std::fprintf(stderr, "tessaly: %s is not a settings file; moved it to %s\n", shown.c_str(),
                     Utf8FromPath(aside).c_str());
        return keys;
    }
    for (const auto& [keyName, object] : document[KeysField].items()) {
        Values& values = keys[keyName];
        if (!object.is_object())
            continue;
        for (const auto& [name, value] : object.items())
            values[name] = DecodeValue(value);
    }
    return keys;
}

bool FileSettingsStore::Save(const Keys& keys, std::string& error)
{
    Json all = Json::object();
    for (const auto& [keyName, values] : keys) {
        Json object = Json::object();
        for (const auto& [name, value] : values)
            object[name] = EncodeValue(value);
        all[keyName] = std::move(object);
    }
    const std::string text = Json{{KeysField, std::move(all)}}.dump(4, ' ', false, Json::error_handler_t::replace) + "\n";

    std::error_code made;
    std::filesystem::create_directories(FilePath.parent_path(), made);
    if (made) {
        error = "cannot create the folder of " + Utf8FromPath(FilePath) + ": " + made.message();
        return false;
    }
    // Written beside the target and put in its place only once complete (and flushed), so the
    // old file stays whole until the new one is.
    ReplacingFile file(FilePath);
    if (!file.Open() || !file.Write(text.data(), text.size()) || !file.Commit()) {
        error = Utf8FromPath(FilePath) + ": " + file.ErrorText();
        return false;
    }
    return true;
}

void FileSettingsStore::OpenKey(const std::string& key)
{
    Keys keys = Load();
    OpenName = key;
    Changed = false;
    auto found = keys.find(key);
    if (found != keys.end()) {
        Open = found->second;
        return;
    }
    // Creating the key, as the registry does: a first run leaves an empty key behind even if it
    // ends before the settings are written. A failure here shows again, and is reported, at close.
    Open.clear();
    keys[key];
    std::string ignored;
    (void)Save(keys, ignored);
}

bool FileSettingsStore::CloseKey(std::string& error)
{
    if (!Changed)
        return true;
    // Read again so that keys another run stored meanwhile are kept.
    Keys keys = Load();
    Values& values = keys[OpenName];
    for (const auto& [name, value] : Open)
        values[name] = value;
    Changed = false;
    return Save(keys, error);
}

std::optional<SettingValue> FileSettingsStore::Value(const std::string& name)
{
    auto found = Open.find(name);
    if (found == Open.end())
        return std::nullopt;
    return found->second;
}

void FileSettingsStore::SetValue(const std::string& name, const SettingValue& value)
{
    Open[name] = value;
    Changed = true;
}
