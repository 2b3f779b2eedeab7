#pragma once
// A main window on the simulated unit, with settings in memory and scripted platform services.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QStringList>
#include <QTemporaryDir>

#include <ostream>

#include "FileSettingsStore.h"
#include "PlatformServices.h"
#include "SettingsStore.h"
#include "SimHost.h"
#include "UnitDisplayMain.h"
#include "Versioninfo.h"

// Failures print texts, not their UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

class RecordingServices : public PlatformServices {
public:
    void ShowMessage(QWidget*, const QString& text, const QString& caption) override
    {
        Messages << caption + QStringLiteral(": ") + text;
    }
    void ShowError(QWidget*, const QString& text) override { Errors << text; }
    QString SelectFolder(QWidget*, const QString& caption, const QString& startFolder) override
    {
        FolderRequests << caption + QStringLiteral(" | ") + startFolder;
        return ChosenFolder;
    }
    QStringList OpenFiles(QWidget*, const OpenDialogRequest& request) override
    {
        OpenRequests.push_back(request);
        return ChosenFiles;
    }
    // Runs the test's script on the dialog (reading its fields, clicking its buttons), which
    // gives the modal result; without a script the dialog is cancelled.
    int ExecDialog(QDialog& dialog) override;
    bool Confirm(QWidget*, const QString& text, const QString& caption) override
    {
        Questions << caption + QStringLiteral(": ") + text;
        return ConfirmAnswer;
    }

    QStringList Messages;
    QStringList Errors;
    // Answers of the file and folder dialogs, and what they were asked.
    QString ChosenFolder;
    QStringList ChosenFiles;
    QStringList FolderRequests;
    std::vector<OpenDialogRequest> OpenRequests;
    std::function<int(QDialog&)> DialogScript;
    QStringList Questions;
    bool ConfirmAnswer = true;
    int DialogsShown = 0;
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
    // `adjust` may change the unit's settings (versions, chip) before it is made.
    void MakeUnit(bool plugged = false, const std::function<void(sim::SimOptions&)>& adjust = {});
    // Builds the window (its timer stopped: the tests run the ticks) with the current settings.
    void Open();
    // Destroys the window, which stores its settings.
    void Close();
    void PutCardFile(const QString& folder, const QString& name, size_t size);
    QStringList ListedNames() const;
    // Selects exactly the listed items of these names.
    void Select(const QStringList& names);
    QString CardPath(const QString& folder, const QString& name) const;

    QTemporaryDir Temp;
    QString Card;
    QString Executable;
    std::unique_ptr<sim::SimHost> Sim;
    // Set to route the window through another host (wrapping Sim, say).
    HidHost* HostOverride = nullptr;
    // Routes the window through `host`, which is kept until the window is gone (the window
    // speaks to its host while it is destroyed).
    template <typename Host>
    Host& UseHost(std::unique_ptr<Host> host)
    {
        Host& kept = *host;
        HostOverride = host.get();
        OwnedHosts.push_back(std::move(host));
        return kept;
    }
    std::vector<std::unique_ptr<HidHost>> OwnedHosts;
    MemorySettingsStore Settings;
    RecordingServices Services;
    std::unique_ptr<TFormMain> Form;
};
