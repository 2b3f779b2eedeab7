#pragma once
// A main window on the simulated unit, with settings in memory and scripted platform services.
#include <memory>
#include <string>
#include <vector>

#include <QStringList>
#include <QTemporaryDir>

#include "PlatformServices.h"
#include "SettingsStore.h"
#include "SimHost.h"
#include "UnitDisplayMain.h"
#include "Versioninfo.h"

class RecordingServices : public PlatformServices {
public:
    void ShowMessage(QWidget*, const QString& text, const QString& caption) override
    {
        Messages << caption + QStringLiteral(": ") + text;
    }
    void ShowError(QWidget*, const QString& text) override { Errors << text; }
    QStringList OpenFiles(QWidget*, const OpenDialogRequest&) override { return {}; }
    QString SelectFolder(QWidget*, const QString&, const QString&) override { return {}; }

    QStringList Messages;
    QStringList Errors;
};

// A minimal 64-bit little-endian ELF file with one section `name` holding `payload`.
std::vector<uint8_t> MakeElf(const std::string& name, const std::vector<uint8_t>& payload);
// The payload of a version record for major.minor.release.build.
std::vector<uint8_t> VersionPayload(uint16_t major, uint16_t minor, uint16_t release, uint16_t build);
bool WriteFile(const QString& path, const std::vector<uint8_t>& bytes);

class WindowTest {
public:
    WindowTest();
    ~WindowTest();

    // The simulated unit, unplugged unless `plugged`; the card holds only what the test puts there.
    void MakeUnit(bool plugged = false);
    // Builds the window (its timer stopped: the tests run the ticks) with the current settings.
    void Open();
    // Destroys the window, which stores its settings.
    void Close();
    void PutCardFile(const QString& folder, const QString& name, size_t size);
    QStringList ListedNames() const;

    QTemporaryDir Temp;
    QString Card;
    QString Executable;
    std::unique_ptr<sim::SimHost> Sim;
    // Set to route the window through another host (wrapping Sim, say).
    HidHost* HostOverride = nullptr;
    MemorySettingsStore Settings;
    RecordingServices Services;
    std::unique_ptr<TFormMain> Form;
};
