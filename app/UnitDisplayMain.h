#pragma once
// The main window: the file list of the unit's selected folder, the command buttons, menus and
// progress panel, the connection monitor on a one-second timer, and the settings kept between
// runs.
//
// Commands run on the window's thread and let events through while they list or transfer, so a
// timer tick, a tab change, another command or a close can arrive in the middle of one. The
// window guards that itself: while a command (or a tick, which may list) runs, another command is
// refused, and a tick, a tab change or a close is remembered and run as soon as the command has
// returned. So a device object is never destroyed while an operation on it runs, and no two
// device commands ever run at once. The firmware update is the one command during which the tick
// still searches the bus for the bootloader (on the object the update uses, which it keeps
// whether found or not); the rest of the tick waits for the update's end like any other.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include "PlatformServices.h"
#include "Qxdisplay.h"
#include "TransferMeter.h"
#include "UnitFiles.h"

class QAction;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QProgressBar;
class QTabBar;
class QTemporaryDir;
class QTimer;
class SettingsStore;
class TQXGradButton;
class TQXGradPanel;
class DesignAnchors;
namespace sim {
class SimHost;
}

// The application title; the caption adds the executable's version to it.
inline const QString ApplicationTitle = QStringLiteral("Korvane Tessaly");

// What the window is given by the program entry (or by a test).
struct AppEnvironment {
    HidHost* Host = nullptr;            // the USB bus, or the simulated unit's
    sim::SimHost* Simulator = nullptr;  // set with --simulate: the "Simulator" menu controls it
    SettingsStore* Settings = nullptr;
    PlatformServices* Services = nullptr;
    QString ExecutablePath;             // full path of the executable
    // Used instead of the executable's folder for Maps and Logs when that folder is not
    // writable; empty: the user's documents folder.
    QString DocumentsFolder;
};

// The folder that holds Maps and Logs by default, with its trailing separator: the executable's
// folder when it is writable (a portable copy, a build tree), else "Tessaly" in the documents
// folder, so the commands never start in a folder that cannot be made.
QString DefaultWorkingFolder(const QString& executablePath, const QString& documentsFolder);

// The settings key of the program at `executablePath`: the maker's key and the executable's base
// name, so a renamed copy keeps settings of its own.
std::string SettingsKeyFor(const QString& executablePath);

class TFormMain : public QMainWindow {
    Q_OBJECT

public:
    TFormMain(QWidget* owner, const AppEnvironment& environment);
    ~TFormMain() override;

    // Settings fields and device objects, used directly by the commands.
    QString DevicePath;
    QString LogFilePath;
    QString MapFilePath;
    std::string RegistryKey;
    std::unique_ptr<QXDisplay> Display;
    std::unique_ptr<QXDisplay> Bootloader;
    double ExportInterval = 1.0;
    bool AutoExport = true;

    // Controls of the design.
    TQXGradPanel* QXGradPanel1 = nullptr;
    TQXGradPanel* QXGradPanel3 = nullptr;
    TQXGradButton* XiButton2 = nullptr;
    TQXGradButton* ButtonDevInfo = nullptr;
    TQXGradButton* ButtonGetFiles = nullptr;
    TQXGradButton* ButtonPut = nullptr;
    TQXGradButton* XiButton1 = nullptr;
    // On the progress panel (also on Esc): stops the command under way between two blocks, two
    // files or two steps of a firmware update.
    TQXGradButton* ButtonCancel = nullptr;
    bool CancelRequested = false;
    QTabBar* TabControl1 = nullptr;
    QListWidget* ListBoxFiles = nullptr;
    TQXGradPanel* PanelProgress = nullptr;
    QLabel* LabelStatus = nullptr;
    QLabel* LabelCurrentFile = nullptr;
    QLabel* LabelCurrent = nullptr;
    QLabel* LabelTotal = nullptr;
    QProgressBar* ProgressBarCurrent = nullptr;
    QProgressBar* ProgressBarTotal = nullptr;
    // Under the bars: the current file's share and bytes, the speed and the time left.
    QLabel* LabelFigures = nullptr;
    // The status line: whether a unit is connected, which one, or that it waits in its
    // bootloader (with a button for the firmware update then), and a listing cut short.
    QLabel* LabelUnitState = nullptr;
    TQXGradButton* ButtonStatusUpdate = nullptr;
    OpenDialogRequest OpenDialog1;
    QTimer* Timer1 = nullptr;
    QAction* ActionRefreshFileList = nullptr;
    QAction* ActionDeleteFiles = nullptr;
    QAction* ActionUpdateFirmware = nullptr;
    QAction* ActionGetDevInfo = nullptr;
    QAction* ActionGetFiles = nullptr;
    QAction* ActionSendFiles = nullptr;
    QAction* ActionExportLogFile = nullptr;
    // Log viewer: a .displog on the PC, or the log selected in the Logs tab, got to a temporary
    // file first.
    QAction* ActionViewLogFile = nullptr;
    QAction* ActionViewUnitLog = nullptr;
    // The files of the shown folder that the tab's working folder lacks (same name and size).
    QAction* ActionGetNewFiles = nullptr;
    QMenu* Actions1 = nullptr;
    QMenu* Options1 = nullptr;
    QAction* csvfileexportoptions1 = nullptr;
    // Present only with the simulated unit.
    QMenu* MenuSimulator = nullptr;
    QAction* SimulatorPlugged = nullptr;
    QAction* SimulatorBootloader = nullptr;
    QAction* SimulatorNormal = nullptr;
    QAction* SimulatorCardLocked = nullptr;
    // Over the empty list: why a unit that is present could not be opened.
    QLabel* LabelOpenError = nullptr;

    // Connection monitor and file list.
    void Timer1Timer();
    void TabControl1Change();
    void ActionRefreshFileListExecute();
    void RefreshFileList(const QString& folder);
    static void AddFileListEntry(const char* folder, const FILE_ENTRY& entry);

    // File transfers: the selected files to a folder on the PC, chosen or dropped files to the
    // unit, the selected files deleted on the unit.
    void ActionGetFilesExecute();
    void ActionSendFilesExecute();
    void ActionDeleteFilesExecute();
    void ActionGetNewFilesExecute();
    void WMDropFiles(const QStringList& paths);

    // Device information, export options, conversion of log files on the PC, firmware update.
    void ActionGetDevInfoExecute();
    void ActionExportLogFileExecute();
    void ActionUpdateFirmwareExecute();
    void csvfileexportoptions1Click();
    void ActionViewLogFileExecute();
    void ActionViewUnitLogExecute();

    // The size in bytes that an item of ListBoxFiles carries.
    static uint32_t ItemSize(const QListWidgetItem* item);

    // The transport's message boxes (enumeration failures): each shown once until the bus can
    // be searched again without one.
    void ShowHostMessage(const std::string& text, const std::string& caption);

    // Guard state, for the tests and the curious.
    bool CommandRunning() const { return CommandDepth > 0; }
    // True while the progress panel is up: every command but Cancel is disabled.
    bool PanelBusy() const { return Busy; }
    const TransferMeter& Progress() const { return Meter; }
    int RefusedCommands() const { return Refused; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class CommandScope;
    // The progress panel up for a command's loop: commands disabled, Cancel shown and heard by
    // the unit's transfer or listing; all undone however the loop ends.
    class ProgressScope {
    public:
        explicit ProgressScope(TFormMain& form);
        ~ProgressScope();
        ProgressScope(const ProgressScope&) = delete;
        ProgressScope& operator=(const ProgressScope&) = delete;

    private:
        TFormMain& Form;
        QXDisplay* Device = nullptr;
    };
    class WindowUpdateUi;
    class WindowBatch;
    enum class Conversion { Done, Failed, Reported };
    struct SelectedFile {
        QString Name;
        uint32_t Size = 0;
    };
    void BuildDesign();
    void BuildSimulatorMenu();
    void ReadSettings();
    void WriteSettings();
    void ApplyPlacement(bool havePosition, QPoint position, QSize outerSize, int state);
    void CreateWorkingFolders();
    void MonitorTick();
    void SetActionStates();
    QString TabFolder() const;
    void AddFileItem(const QString& name, uint32_t size);
    void ShowOpenError(const QString& text);
    void ShowListingCutShort(uint32_t code);
    void ShowUnitState();
    // Serial number and firmware version of the unit just listed, read once per connection.
    void ReadUnitIdentity();
    void SetBusyLook(bool busy);
    // A batch's figures on the progress panel, then the window's pending events.
    void ShowTransferFigures(const TransferMeter& meter);
    // What the last command did, on the status line after the unit's state.
    void ShowCommandSummary(const QString& text);
    // The report of a command the user cancelled: what was done and what was not.
    void ShowCancelReport(const QString& what, const QString& doneHeading, const QStringList& done,
                          const QString& notDoneHeading, const QString& notDone);
    // False, after telling the user, when another program holds the unit.
    bool UnitHeld(const UnitCommand& command, const QString& caption);

    // Bodies of the commands, run inside the guard.
    void GetSelectedFiles();
    void GetNewFiles();
    void SendChosenFiles();
    void SendDroppedFiles(const QStringList& paths);
    void DeleteSelectedFiles();
    void ShowDeviceInfo();
    void EditExportOptions();
    void ConvertChosenLogs();
    // Sends chosen or dropped files through the shared batch: the progress figures, the failure
    // list with reasons, the report of a cancel.
    void SendFiles(const QStringList& paths, bool dropped);
    Conversion ConvertLog(const QString& source);
    void ShowNotConverted(const QString& failureList);
    // The log files chosen in the file dialog, starting in LogFilePath.
    QStringList ChooseLogFiles();
    void ViewChosenLogs();
    void ViewSelectedUnitLog();
    void OpenViewer(const QString& path);
    std::vector<SelectedFile> SelectedFiles() const;
    // The folder of the selected tab on the PC: MapFilePath on the Maps tab, LogFilePath on Logs.
    QString& TabLocalFolder();
    // The monitor's bootloader half, while a firmware update waits between its steps.
    void BootloaderTick();

    // Entry points: a command is refused while another runs; a tick or a tab change is run
    // once the running command has returned.
    void RunCommand(const std::function<void()>& body);
    void RunGuarded(const std::function<void()>& body);
    void RunDeferredWork();

    HidHost& Host;
    sim::SimHost* Simulator;
    SettingsStore& Settings;
    PlatformServices& Services;
    QString ExecutablePath;
    QString WorkingFolder;
    QString DefaultLogFilePath;
    QString DefaultMapFilePath;
    DesignAnchors* ButtonAnchors = nullptr;
    DesignAnchors* ClientAnchors = nullptr;
    // Outer size to reach once the window manager has told the frame's size.
    QSize PendingOuterSize;

    int CommandDepth = 0;
    int Refused = 0;
    bool TickDeferred = false;
    bool TabDeferred = false;
    bool CloseDeferred = false;
    // Raised by a close that waits for a command: a conversion under way stops
    // at its next row and removes its partial file.
    std::atomic<bool> StopConversions{false};
    bool DrainingDeferred = false;
    bool Busy = false;
    // Logs got from the unit only to be viewed; removed with the window.
    std::unique_ptr<QTemporaryDir> ViewedLogs;
    TransferMeter Meter;
    QString UnitIdentity;      // "serial, firmware version" of the unit listed, once read
    bool IdentityRead = false;
    uint32_t ListingEnd = 0;   // why the last listing was cut short; 0 when it was whole
    QString CommandSummary;    // what the last transfer did ("Got 3 files to ~/Logs")
    QString LastConversionReason; // why the last conversion failed
    std::vector<std::string> HostMessagesShown;
    bool HostMessageThisTick = false;
};

// The main window while it exists; the device callbacks reach the window through it.
extern TFormMain* FormMain;
