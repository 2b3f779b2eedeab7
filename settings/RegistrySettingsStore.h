#pragma once
// The settings in the registry (Windows): each key of the store is a key under
// HKEY_CURRENT_USER, and each value keeps its registry type (REG_DWORD, REG_BINARY, REG_SZ).
// The window's key is "\Software\Korvane Research Inc.\" + the executable's base name; the
// registry takes key paths without the leading backslash, so it is dropped.
//
// A value of any other registry type, or a REG_DWORD that is not 4 bytes long, reads as a value
// of unknown type, so a typed read of it raises "Invalid data type for '...'". Names, key paths
// and texts are UTF-8 here and UTF-16 in the registry.
#include <optional>
#include <string>

#include "SettingsStore.h"

class RegistrySettingsStore : public SettingsStore {
public:
    RegistrySettingsStore();
    ~RegistrySettingsStore() override;
    RegistrySettingsStore(const RegistrySettingsStore&) = delete;
    RegistrySettingsStore& operator=(const RegistrySettingsStore&) = delete;

    // The key stays unopened when it can neither be opened nor created: reads then find no
    // value, writes are not kept, and CloseKey says why.
    void OpenKey(const std::string& key) override;
    // Closes the key; false (with the system's text) when the key could not be opened or a
    // value could not be written since OpenKey.
    bool CloseKey(std::string& error) override;
    std::optional<SettingValue> Value(const std::string& name) override;
    void SetValue(const std::string& name, const SettingValue& value) override;

    // The registry path of a store key: without its leading backslashes.
    static std::string KeyPath(const std::string& key);

private:
    void Release();

    // An HKEY; kept as void* so that this header needs no windows.h.
    void* Key = nullptr;
    std::string OpenName;
    // The first failure since OpenKey, reported by CloseKey.
    std::string Failure;
};
