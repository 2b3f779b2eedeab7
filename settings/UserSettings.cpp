#include "UserSettings.h"

#include <cmath>

#ifdef _WIN32
#include "RegistrySettingsStore.h"
#else
#include "FileSettingsStore.h"
#endif

std::unique_ptr<SettingsStore> OpenUserSettings()
{
#ifdef _WIN32
    return std::make_unique<RegistrySettingsStore>();
#else
    return std::make_unique<FileSettingsStore>(FileSettingsStore::DefaultPath());
#endif
}

std::string SettingsKeyForProgram(const std::string& baseName)
{
    return "\\Software\\Korvane Research Inc.\\" + baseName;
}

double CorrectedExportInterval(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0.0)
        return DefaultExportInterval;
    return seconds < MinExportInterval ? MinExportInterval : seconds;
}

double StoredExportInterval(SettingsStore& store, const std::string& key)
{
    store.OpenKey(key);
    const double interval =
        ValueExists(store, "Export Interval") ? CorrectedExportInterval(ReadFloat(store, "Export Interval")) : DefaultExportInterval;
    std::string ignored;
    (void)store.CloseKey(ignored);
    return interval;
}
