#include "RegistrySettingsStore.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <vector>

namespace {

HKEY AsKey(void* key) { return static_cast<HKEY>(key); }

std::wstring Wide(const std::string& text)
{
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int size = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (count <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), count);
    return wide;
}

std::string Narrow(const wchar_t* text, size_t length)
{
    if (length == 0 || length > INT_MAX)
        return {};
    const int size = static_cast<int>(length);
    const int count = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    if (count <= 0)
        return {};
    std::string narrow(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, size, narrow.data(), count, nullptr, nullptr);
    return narrow;
}

std::string SystemText(LSTATUS code)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0,
        nullptr);
    std::string result;
    if (length != 0 && text != nullptr)
        result = Narrow(text, length);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    if (result.empty())
        result = "error " + std::to_string(code);
    return result;
}

// Registry data of a known type and shape, or Unknown.
SettingValue Decode(DWORD type, const std::vector<BYTE>& data)
{
    switch (type) {
    case REG_DWORD:
        if (data.size() == sizeof(uint32_t)) {
            uint32_t number = 0;
            for (size_t i = 0; i < data.size(); ++i)
                number |= static_cast<uint32_t>(data[i]) << (8 * i);
            return SettingValue::FromDword(number);
        }
        break;
    case REG_BINARY:
        return SettingValue::FromBinary(std::vector<uint8_t>(data.begin(), data.end()));
    case REG_SZ:
        if (data.size() % sizeof(wchar_t) == 0) {
            std::wstring text(data.size() / sizeof(wchar_t), L'\0');
            std::memcpy(text.data(), data.data(), data.size());
            // The terminating NUL is stored by most writers but not by all.
            while (!text.empty() && text.back() == L'\0')
                text.pop_back();
            return SettingValue::FromString(Narrow(text.data(), text.size()));
        }
        break;
    default:
        break;
    }
    return {};
}

} // namespace

RegistrySettingsStore::RegistrySettingsStore() = default;

RegistrySettingsStore::~RegistrySettingsStore() { Release(); }

std::string RegistrySettingsStore::KeyPath(const std::string& key)
{
    const size_t start = key.find_first_not_of('\\');
    return start == std::string::npos ? std::string() : key.substr(start);
}

void RegistrySettingsStore::Release()
{
    if (Key != nullptr)
        RegCloseKey(AsKey(Key));
    Key = nullptr;
}

void RegistrySettingsStore::OpenKey(const std::string& key)
{
    Release();
    OpenName = key;
    Failure.clear();
    const std::string path = KeyPath(key);
    // An empty path would be HKEY_CURRENT_USER itself, which is no place for a program's values.
    if (path.empty()) {
        Failure = "no settings key named in '" + key + "'";
        return;
    }
    HKEY opened = nullptr;
    const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &opened, nullptr);
    if (status != ERROR_SUCCESS) {
        Failure = "HKEY_CURRENT_USER\\" + path + ": " + SystemText(status);
        return;
    }
    Key = opened;
}

bool RegistrySettingsStore::CloseKey(std::string& error)
{
    Release();
    if (Failure.empty())
        return true;
    error = Failure;
    Failure.clear();
    return false;
}

std::optional<SettingValue> RegistrySettingsStore::Value(const std::string& name)
{
    if (Key == nullptr)
        return std::nullopt;
    const std::wstring wideName = Wide(name);
    DWORD type = 0;
    std::vector<BYTE> data;
    // Another program may change the value between asking its size and reading it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        LSTATUS status = RegQueryValueExW(AsKey(Key), wideName.c_str(), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS)
            return std::nullopt;
        data.assign(size, 0);
        status = RegQueryValueExW(AsKey(Key), wideName.c_str(), nullptr, &type, data.data(), &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return std::nullopt;
        data.resize(size);
        return Decode(type, data);
    }
    return std::nullopt;
}

void RegistrySettingsStore::SetValue(const std::string& name, const SettingValue& value)
{
    std::vector<BYTE> data;
    DWORD type = REG_NONE;
    switch (value.Type) {
    case SettingType::Dword:
        type = REG_DWORD;
        for (size_t i = 0; i < sizeof(uint32_t); ++i)
            data.push_back(static_cast<BYTE>(value.Dword >> (8 * i)));
        break;
    case SettingType::Binary:
        type = REG_BINARY;
        data.assign(value.Binary.begin(), value.Binary.end());
        break;
    case SettingType::String: {
        type = REG_SZ;
        const std::wstring text = Wide(value.Text);
        // Stored with its terminating NUL, as REG_SZ data should be.
        data.resize((text.size() + 1) * sizeof(wchar_t), 0);
        std::memcpy(data.data(), text.c_str(), text.size() * sizeof(wchar_t));
        break;
    }
    case SettingType::Unknown:
        break;
    }
    std::string failure;
    if (Key == nullptr) {
        failure = "'" + name + "' not written: the key is not open";
    } else if (type == REG_NONE) {
        failure = "'" + name + "' not written: the value has no type";
    } else if (data.size() > MAXDWORD) {
        failure = "'" + name + "' not written: too long";
    } else {
        const LSTATUS status = RegSetValueExW(AsKey(Key), Wide(name).c_str(), 0, type, data.data(),
                                              static_cast<DWORD>(data.size()));
        if (status != ERROR_SUCCESS)
            failure = "'" + name + "': " + SystemText(status);
    }
    if (Failure.empty() && !failure.empty())
        Failure = failure;
}
