#pragma once
// The settings file on systems without a registry: one JSON file that keeps every key, and every
// value's name and registry type tag. The window writes it; tessaly-cli reads the export options
// from it.
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "SettingsStore.h"

// The settings file: {"keys": {KEY: {NAME: {"type": TAG, "data": ...}}}} with REG_DWORD data as
// a number, REG_BINARY as hexadecimal text and REG_SZ as text. Values are kept in memory between
// OpenKey and CloseKey; CloseKey writes the whole file anew through a temporary file that replaces
// the old one only once it is complete, so a crash while saving leaves the previous settings.
class FileSettingsStore : public SettingsStore {
public:
    explicit FileSettingsStore(std::filesystem::path path);

    // $XDG_CONFIG_HOME/tessaly/settings.json, or $HOME/.config/tessaly/settings.json.
    static std::filesystem::path DefaultPath();
    const std::filesystem::path& Path() const { return FilePath; }

    void OpenKey(const std::string& key) override;
    bool CloseKey(std::string& error) override;
    std::optional<SettingValue> Value(const std::string& name) override;
    void SetValue(const std::string& name, const SettingValue& value) override;

private:
    using Values = std::map<std::string, SettingValue>;
    using Keys = std::map<std::string, Values>;
    // Every key of the file; a missing file gives none. A file that is not a settings file is
    // set aside as PATH.bad (so nothing the user might still need is overwritten) and gives none.
    Keys Load();
    bool Save(const Keys& keys, std::string& error);

    std::filesystem::path FilePath;
    std::string OpenName;
    Values Open;
    bool Changed = false;
};
