#pragma once
// The window's settings where each platform keeps them, for the window and for tessaly-cli,
// which converts logs with the window's export interval.
#include <memory>
#include <string>

#include "SettingsStore.h"

// The registry on Windows; the settings file (FileSettingsStore::DefaultPath) elsewhere.
std::unique_ptr<SettingsStore> OpenUserSettings();

// The key that holds a program's values: "\Software\Korvane Research Inc.\NAME", NAME being the
// base name of the program's file.
std::string SettingsKeyForProgram(const std::string& baseName);

// The window's program name: its key holds the export options.
inline constexpr const char* WindowProgramName = "tessaly";

// Intervals below this are raised to it: a conversion steps through the log by the interval, and
// a millisecond is already finer than any channel of the log is sampled.
inline constexpr double MinExportInterval = 0.001;
// The interval a text that is not a usable number gives, and the one used when none is stored.
inline constexpr double DefaultExportInterval = 1.0;

// A stored interval made usable: not a finite number, or 0 or below, gives
// DefaultExportInterval; a positive number below MinExportInterval gives MinExportInterval.
double CorrectedExportInterval(double seconds);

// "Export Interval" of `key`, corrected; DefaultExportInterval when none is stored. Throws
// SettingsError when the stored value has another type.
double StoredExportInterval(SettingsStore& store, const std::string& key);
