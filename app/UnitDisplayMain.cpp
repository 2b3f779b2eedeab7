#include "UnitDisplayMain.h"

#include <cstdio>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QStandardPaths>
#include <QTabBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "DesignAnchors.h"
#include "DialogDesign.h"
#include "FirmwareUpdate.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"
#include "SettingsStore.h"
#include "SimHost.h"
#include "UnitExportOptions.h"
#include "UnitFiles.h"
#include "VersionNumber.h"
#include "Versioninfo.h"

TFormMain* FormMain = nullptr;

namespace {

constexpr QSize DesignClientSize(492, 344);
constexpr QPoint DesignPosition(110, 86);
// The design's minimum outer size is 500 x 350 on a frame of 4-pixel borders and a 23-pixel
// caption; Qt's minimum is that of the window inside its frame (menu bar included).
constexpr QSize MinimumOuterSize(500, 350);
constexpr QSize DesignFrame(8, 31);
constexpr int ButtonPanelWidth = 160;
constexpr int TimerIntervalMs = 1000;
constexpr int ItemHeight = 13;

const QString FileFilter = QStringLiteral(
    "Korvane Map Files (*.qxm; *.wzm)|*.qxm; *.wzm|Korvane Log Files (*.displog)|*.displog|"
    "Korvane Firmware Files (*.qxf)|*.qxf|All Files (*.*)|*.*");

// Sorted like the unit's own listing tools show names: without regard to case, ties broken by
// case so the order is total.
class FileListItem : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override
    {
        const int order = text().compare(other.text(), Qt::CaseInsensitive);
        return order != 0 ? order < 0 : text() < other.text();
    }
};

QFont DesignFont(const char* family, int pixelSize, bool bold)
{
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QProgressBar* AddBar(QWidget* parent, QRect rect)
{
    auto* bar = new QProgressBar(parent);
    bar->setGeometry(rect);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

} // namespace

QString DefaultWorkingFolder(const QString& executablePath, const QString& documentsFolder)
{
    const QString folder = QFileInfo(executablePath).absolutePath();
    if (QFileInfo(folder).isWritable())
        return QDir::toNativeSeparators(folder + QLatin1Char('/'));
    QString documents = documentsFolder;
    if (documents.isEmpty())
        documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir::toNativeSeparators(documents + QStringLiteral("/Tessaly/"));
}

std::string SettingsKeyFor(const QString& executablePath)
{
    return SettingsKeyForProgram(QFileInfo(executablePath).completeBaseName().toStdString());
}

// Counts a command (or a tick) as running for as long as it lives; nests.
class TFormMain::CommandScope {
public:
    explicit CommandScope(TFormMain& form) : Form(form) { ++Form.CommandDepth; }
    ~CommandScope() { --Form.CommandDepth; }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    TFormMain& Form;
};

TFormMain::TFormMain(QWidget* owner, const AppEnvironment& environment)
    : QMainWindow(owner),
      Host(*environment.Host),
      Simulator(environment.Simulator),
      Settings(*environment.Settings),
      Services(*environment.Services),
      ExecutablePath(environment.ExecutablePath)
{
    BuildDesign();
    if (Simulator)
        BuildSimulatorMenu();
    setWindowTitle(ApplicationTitle + QLatin1Char(' ') +
                   QString::fromStdString(GetFileVersionText(ExecutablePath.toStdString())));
    setAcceptDrops(true);

    WorkingFolder = DefaultWorkingFolder(ExecutablePath, environment.DocumentsFolder);
    DefaultMapFilePath = WorkingFolder + QStringLiteral("Maps");
    DefaultLogFilePath = WorkingFolder + QStringLiteral("Logs");
    MapFilePath = DefaultMapFilePath;
    LogFilePath = DefaultLogFilePath;
    RegistryKey = SettingsKeyFor(ExecutablePath);
    ReadSettings();
    CreateWorkingFolders();

    FormMain = this;
    Host.SetMessageHandler([this](const std::string& text, const std::string& caption) { ShowHostMessage(text, caption); });
    ShowUnitState();
    Timer1->start();
}

TFormMain::~TFormMain()
{
    Timer1->stop();
    Host.SetMessageHandler({});
    WriteSettings();
    Display.reset();
    Bootloader.reset();
    if (FormMain == this)
        FormMain = nullptr;
}

void TFormMain::BuildDesign()
{
    setObjectName(QStringLiteral("FormMain"));
    setFont(DesignFont("MS Sans Serif", 11, false));

    auto* client = new QWidget(this);
    setCentralWidget(client);
    auto* row = new QHBoxLayout(client);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    QXGradPanel3 = new TQXGradPanel(client);
    auto* tabArea = new QVBoxLayout(QXGradPanel3);
    tabArea->setContentsMargins(2, 2, 2, 2);
    tabArea->setSpacing(0);
    TabControl1 = new QTabBar(QXGradPanel3);
    TabControl1->addTab(QStringLiteral("Maps"));
    TabControl1->addTab(QStringLiteral("Logs"));
    TabControl1->setCurrentIndex(0);
    TabControl1->setExpanding(false);
    TabControl1->setDrawBase(false);
    ListBoxFiles = new QListWidget(QXGradPanel3);
    ListBoxFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBoxFiles->setSortingEnabled(true);
    ListBoxFiles->setUniformItemSizes(true);
    ListBoxFiles->viewport()->installEventFilter(this);
    tabArea->addWidget(TabControl1);
    tabArea->addWidget(ListBoxFiles, 1);
    LabelOpenError = new QLabel(ListBoxFiles->viewport());
    LabelOpenError->setWordWrap(true);
    LabelOpenError->setAlignment(Qt::AlignCenter);
    LabelOpenError->setMargin(12);
    LabelOpenError->hide();

    QXGradPanel1 = new TQXGradPanel(client);
    QXGradPanel1->setFixedWidth(ButtonPanelWidth);
    row->addWidget(QXGradPanel3, 1);
    row->addWidget(QXGradPanel1);

    auto makeAction = [this](const QString& caption, const QKeySequence& shortcut, bool enabled) {
        auto* action = new QAction(caption, this);
        action->setShortcut(shortcut);
        action->setEnabled(enabled);
        action->setProperty("Category", QStringLiteral("Actions"));
        addAction(action); // shortcuts work with the menu closed, anywhere in the window
        return action;
    };
    ActionRefreshFileList = makeAction(QStringLiteral("Refresh File List"), QKeySequence(Qt::Key_F5), false);
    ActionDeleteFiles = makeAction(QStringLiteral("Delete Selected Files"), QKeySequence(Qt::Key_Delete), false);
    ActionUpdateFirmware = makeAction(QStringLiteral("Update Firmware"), QKeySequence(Qt::CTRL | Qt::Key_U), false);
    ActionGetDevInfo = makeAction(QStringLiteral("Show Device Info"), QKeySequence(Qt::CTRL | Qt::Key_D), false);
    ActionGetFiles = makeAction(QStringLiteral("Get Selected Files"), QKeySequence(Qt::CTRL | Qt::Key_G), false);
    ActionSendFiles = makeAction(QStringLiteral("Send Files To Device"), QKeySequence(Qt::CTRL | Qt::Key_S), false);
    ActionExportLogFile =
        makeAction(QStringLiteral("Convert Log File(s) to .csv"), QKeySequence(Qt::CTRL | Qt::Key_E), true);
    ActionViewLogFile = makeAction(QStringLiteral("View Log File"), QKeySequence(Qt::CTRL | Qt::Key_L), true);
    ActionViewUnitLog = makeAction(QStringLiteral("View Selected Log"), QKeySequence(), false);
    ActionGetNewFiles = makeAction(QStringLiteral("Get New Files"), QKeySequence(Qt::CTRL | Qt::Key_N), false);
    connect(ActionGetNewFiles, &QAction::triggered, this, [this] { ActionGetNewFilesExecute(); });
    connect(ActionViewLogFile, &QAction::triggered, this, [this] { ActionViewLogFileExecute(); });
    connect(ActionViewUnitLog, &QAction::triggered, this, [this] { ActionViewUnitLogExecute(); });
    ListBoxFiles->setContextMenuPolicy(Qt::ActionsContextMenu);
    ListBoxFiles->addAction(ActionViewUnitLog);
    connect(ActionRefreshFileList, &QAction::triggered, this, [this] { ActionRefreshFileListExecute(); });
    connect(ActionDeleteFiles, &QAction::triggered, this, [this] { ActionDeleteFilesExecute(); });
    connect(ActionUpdateFirmware, &QAction::triggered, this, [this] { ActionUpdateFirmwareExecute(); });
    connect(ActionGetDevInfo, &QAction::triggered, this, [this] { ActionGetDevInfoExecute(); });
    connect(ActionGetFiles, &QAction::triggered, this, [this] { ActionGetFilesExecute(); });
    connect(ActionSendFiles, &QAction::triggered, this, [this] { ActionSendFilesExecute(); });
    connect(ActionExportLogFile, &QAction::triggered, this, [this] { ActionExportLogFileExecute(); });

    ButtonAnchors = new DesignAnchors(QXGradPanel1, QSize(ButtonPanelWidth, DesignClientSize.height()));
    auto makeButton = [this](QAction* action, int top, Qt::Edges edges) {
        auto* button = new TQXGradButton(QXGradPanel1);
        button->SetColorFocusRect(clCaptionText);
        button->SetAction(action);
        ButtonAnchors->Anchor(button, QRect(5, top, 150, 25), edges);
        return button;
    };
    XiButton2 = makeButton(ActionExportLogFile, 9, Qt::TopEdge | Qt::RightEdge);
    // Anchored to the bottom like the buttons under it; at the smallest window it stops below the
    // convert button instead of sliding over it.
    ButtonDevInfo = makeButton(ActionGetDevInfo, 59, Qt::RightEdge | Qt::BottomEdge);
    ButtonAnchors->KeepBelow(ButtonDevInfo, XiButton2, 5);
    ButtonGetFiles = makeButton(ActionGetFiles, 134, Qt::RightEdge | Qt::BottomEdge);
    ButtonPut = makeButton(ActionSendFiles, 164, Qt::RightEdge | Qt::BottomEdge);
    XiButton1 = makeButton(ActionDeleteFiles, 234, Qt::RightEdge | Qt::BottomEdge);

    PanelProgress = new TQXGradPanel(client);
    PanelProgress->setFont(DesignFont("Arial", 13, true));
    LabelStatus = AddDialogLabel(PanelProgress, QString(), QRect(20, 20, 386, 17), Qt::AlignLeft);
    LabelCurrentFile = AddDialogLabel(PanelProgress, QString(), QRect(20, 40, 386, 17), Qt::AlignLeft);
    LabelCurrent = AddDialogLabel(PanelProgress, QStringLiteral("Current File:"), QRect(20, 70, 100, 17), Qt::AlignLeft);
    LabelTotal = AddDialogLabel(PanelProgress, QStringLiteral("Total:"), QRect(20, 90, 100, 17), Qt::AlignLeft);
    ProgressBarCurrent = AddBar(PanelProgress, QRect(130, 70, 276, 17));
    ProgressBarTotal = AddBar(PanelProgress, QRect(130, 90, 276, 17));
    LabelFigures = AddDialogLabel(PanelProgress, QString(), QRect(20, 108, 386, 15), Qt::AlignLeft);
    LabelFigures->setFont(DesignFont("Arial", 11, false));
    ButtonCancel = new TQXGradButton(PanelProgress);
    ButtonCancel->SetCaption(QStringLiteral("Cancel"));
    ButtonCancel->setGeometry(326, 14, 80, 25);
    ButtonCancel->hide();
    connect(ButtonCancel, &TQXGradButton::clicked, this, [this] { CancelRequested = true; });
    auto* escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(escape, &QAction::triggered, this, [this] {
        if (ButtonCancel->isVisible())
            CancelRequested = true;
    });
    addAction(escape);
    ClientAnchors = new DesignAnchors(client, DesignClientSize);
    ClientAnchors->Anchor(PanelProgress, QRect(37, 70, 426, 126), {});
    PanelProgress->hide();

    OpenDialog1.Filter = FileFilter;
    OpenDialog1.FilterIndex = 1;

    Timer1 = new QTimer(this);
    Timer1->setInterval(TimerIntervalMs);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

    Actions1 = menuBar()->addMenu(QStringLiteral("Actions"));
    Actions1->addAction(ActionExportLogFile);
    Actions1->addAction(ActionViewLogFile);
    Actions1->addAction(ActionViewUnitLog);
    Actions1->addSeparator();
    Actions1->addAction(ActionUpdateFirmware);
    Actions1->addSeparator();
    Actions1->addAction(ActionGetDevInfo);
    Actions1->addAction(ActionRefreshFileList);
    Actions1->addAction(ActionGetFiles);
    Actions1->addAction(ActionSendFiles);
    Actions1->addAction(ActionDeleteFiles);
    Actions1->addAction(ActionGetNewFiles);
    Options1 = menuBar()->addMenu(QStringLiteral("Options"));
    csvfileexportoptions1 = Options1->addAction(QStringLiteral("Log File Export Options"));
    connect(csvfileexportoptions1, &QAction::triggered, this, [this] { csvfileexportoptions1Click(); });

    connect(TabControl1, &QTabBar::currentChanged, this, [this] { TabControl1Change(); });

    LabelUnitState = new QLabel(this);
    LabelUnitState->setObjectName(QStringLiteral("LabelUnitState"));
    // Wrapped, so a long note (a listing the unit refused, what a command did) is read whole also
    // at the window's minimum width.
    LabelUnitState->setWordWrap(true);
    ButtonStatusUpdate = new TQXGradButton(this);
    ButtonStatusUpdate->SetAction(ActionUpdateFirmware);
    ButtonStatusUpdate->setFixedSize(110, 20);
    ButtonStatusUpdate->hide();
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(LabelUnitState, 1);
    statusBar()->addPermanentWidget(ButtonStatusUpdate);
    statusBar()->ensurePolished();

    // The design's client area below the menu bar; the bar has its final height only once the
    // style has polished it.
    ensurePolished();
    menuBar()->ensurePolished();
    // The status line comes on top of the design's client area, at every size.
    const int lines = menuBar()->sizeHint().height() + statusBar()->sizeHint().height();
    resize(DesignClientSize.width(), DesignClientSize.height() + lines);
    setMinimumSize(MinimumOuterSize - DesignFrame + QSize(0, statusBar()->sizeHint().height()));
}

void TFormMain::BuildSimulatorMenu()
{
    MenuSimulator = menuBar()->addMenu(QStringLiteral("Simulator"));
    SimulatorPlugged = MenuSimulator->addAction(QStringLiteral("Unit Plugged In"));
    SimulatorPlugged->setCheckable(true);
    SimulatorBootloader = MenuSimulator->addAction(QStringLiteral("Restart In Bootloader"));
    SimulatorNormal = MenuSimulator->addAction(QStringLiteral("Restart In Normal Firmware"));
    MenuSimulator->addSeparator();
    SimulatorCardLocked = MenuSimulator->addAction(QStringLiteral("SD Card Locked"));
    SimulatorCardLocked->setCheckable(true);
    auto showState = [this] {
        SimulatorPlugged->setChecked(Simulator->IsPlugged());
        SimulatorCardLocked->setChecked(Simulator->CardLocked());
    };
    showState();
    connect(MenuSimulator, &QMenu::aboutToShow, this, showState);
    connect(SimulatorPlugged, &QAction::triggered, this, [this](bool plugged) {
        if (plugged)
            Simulator->Plug();
        else
            Simulator->Unplug();
    });
    connect(SimulatorBootloader, &QAction::triggered, this, [this] { Simulator->RestartInBootloader(); });
    connect(SimulatorNormal, &QAction::triggered, this, [this] { Simulator->Restart(sim::UnitMode::Normal); });
    connect(SimulatorCardLocked, &QAction::triggered, this, [this](bool locked) { Simulator->SetCardLocked(locked); });
}

// ---- settings

void TFormMain::ReadSettings()
{
    Settings.OpenKey(RegistryKey);
    bool havePosition = false;
    QPoint position = DesignPosition;
    QSize outer = size();
    bool haveSize = false;
    int state = 0;
    if (ValueExists(Settings, "Top")) {
        position.setY(ReadInteger(Settings, "Top"));
        havePosition = true;
    }
    if (ValueExists(Settings, "Left")) {
        position.setX(ReadInteger(Settings, "Left"));
        havePosition = true;
    }
    if (ValueExists(Settings, "Width")) {
        outer.setWidth(ReadInteger(Settings, "Width"));
        haveSize = true;
    }
    if (ValueExists(Settings, "Height")) {
        outer.setHeight(ReadInteger(Settings, "Height"));
        haveSize = true;
    }
    if (ValueExists(Settings, "Window State"))
        state = ReadInteger(Settings, "Window State");
    if (ValueExists(Settings, "Export Interval")) {
        // An interval of 0 or below would make a conversion step through time forever.
        ExportInterval = CorrectedExportInterval(ReadFloat(Settings, "Export Interval"));
    }
    if (ValueExists(Settings, "Auto Export"))
        AutoExport = ReadBool(Settings, "Auto Export");
    if (ValueExists(Settings, "Log File Path"))
        LogFilePath = QString::fromStdString(ReadString(Settings, "Log File Path"));
    if (ValueExists(Settings, "Map File Path"))
        MapFilePath = QString::fromStdString(ReadString(Settings, "Map File Path"));
    std::string ignored;
    (void)Settings.CloseKey(ignored);
    ApplyPlacement(havePosition, position, haveSize ? outer : QSize(), state);
}

void TFormMain::ApplyPlacement(bool havePosition, QPoint position, QSize outerSize, int state)
{
    // The frame is not known before the window is shown: take a stored outer size as the
    // window's size now and correct it once the frame is known (see event()). Without one the
    // window keeps the design's client area.
    if (outerSize.isValid()) {
        resize(outerSize.expandedTo(minimumSize()));
        PendingOuterSize = outerSize;
    }
    // Reopen where it was when that place is on a screen; else (and on a first run) centre it.
    QScreen* target = havePosition ? QGuiApplication::screenAt(position + QPoint(20, 20)) : nullptr;
    if (target) {
        move(position);
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    } else {
        move(position);
    }
    if (state == 2)
        setWindowState(Qt::WindowMaximized);
    else if (state == 1)
        setWindowState(Qt::WindowMinimized);
}

void TFormMain::CreateWorkingFolders()
{
    // The default folders' parent is ours to make when it lies in the documents folder; a stored
    // folder only gets its last level, so a folder on a missing drive is not conjured up.
    if ((LogFilePath == DefaultLogFilePath || MapFilePath == DefaultMapFilePath) && !QDir(WorkingFolder).exists())
        QDir().mkpath(WorkingFolder);
    for (const QString& folder : {LogFilePath, MapFilePath}) {
        if (!QDir(folder).exists())
            QDir().mkdir(folder);
    }
}

void TFormMain::WriteSettings()
{
    Settings.OpenKey(RegistryKey);
    const Qt::WindowStates states = windowState();
    const int state = states.testFlag(Qt::WindowMaximized) ? 2 : states.testFlag(Qt::WindowMinimized) ? 1 : 0;
    WriteInteger(Settings, "Window State", state);
    if (state != 2) {
        // A minimised window keeps its normal place in Qt, so that is what is stored.
        const QRect frame = frameGeometry();
        WriteInteger(Settings, "Top", frame.top());
        WriteInteger(Settings, "Left", frame.left());
        WriteInteger(Settings, "Width", frame.width());
        WriteInteger(Settings, "Height", frame.height());
    }
    WriteFloat(Settings, "Export Interval", ExportInterval);
    WriteBool(Settings, "Auto Export", AutoExport);
    WriteString(Settings, "Log File Path", LogFilePath.toStdString());
    WriteString(Settings, "Map File Path", MapFilePath.toStdString());
    std::string error;
    if (!Settings.CloseKey(error))
        std::fprintf(stderr, "tessaly: the settings could not be saved: %s\n", error.c_str());
}

// ---- guard

void TFormMain::RunGuarded(const std::function<void()>& body)
{
    CommandScope scope(*this);
    try {
        body();
    } catch (const std::exception& error) {
        Services.ShowError(this, QString::fromLocal8Bit(error.what()));
    } catch (...) {
        Services.ShowError(this, QString());
    }
}

void TFormMain::RunCommand(const std::function<void()>& body)
{
    if (CommandDepth > 0) {
        ++Refused;
        QApplication::beep();
        return;
    }
    RunGuarded(body);
    RunDeferredWork();
}

void TFormMain::RunDeferredWork()
{
    // The outermost drain picks up whatever a deferred run defers in its turn, so the stack does
    // not grow with ticks that keep arriving during long listings.
    if (DrainingDeferred)
        return;
    DrainingDeferred = true;
    while (CommandDepth == 0) {
        if (TickDeferred) {
            TickDeferred = false;
            RunGuarded([this] { MonitorTick(); });
        } else if (TabDeferred) {
            TabDeferred = false;
            RunGuarded([this] { RefreshFileList(TabFolder()); });
        } else if (CloseDeferred) {
            CloseDeferred = false;
            close();
        } else {
            break;
        }
    }
    DrainingDeferred = false;
}

// ---- connection monitor and file list

void TFormMain::Timer1Timer()
{
    if (CommandDepth > 0) {
        TickDeferred = true;
        // A firmware update waits between its steps for minutes; the bootloader's half of the
        // tick goes on there, on the same object, which it never destroys while the update runs.
        if (FirmwareUpdateRunning() && Bootloader && !Bootloader->IsBusy())
            BootloaderTick();
        return;
    }
    RunGuarded([this] { MonitorTick(); });
    RunDeferredWork();
}

void TFormMain::MonitorTick()
{
    // No operation runs here (the guard sees to that), so destroying an object is safe; IsBusy
    // is checked all the same, since destroying a busy object would pull it from under its caller.
    HostMessageThisTick = false;
    const bool hadDisplay = Display != nullptr;
    if (Display) {
        Display->FindDevices();
        if (Display->DeviceCount() == 0 && !Display->IsBusy()) {
            Display.reset();
            ListBoxFiles->clear();
            LabelOpenError->hide();
            UnitIdentity.clear();
            IdentityRead = false;
            ListingEnd = 0;
            CommandSummary.clear();
        }
    }
    if (!hadDisplay) {
        Display = std::make_unique<QXDisplay>(Host);
        Display->FindDevices();
        if (Display->DeviceCount() <= 0)
            Display.reset();
        else
            RefreshFileList(TabFolder());
    }
    if (!Bootloader)
        Bootloader = std::make_unique<QXDisplay>(Host);
    Bootloader->FindBootDevices();
    // The update is not busy on the object while it pumps between steps, yet still needs it.
    if (Bootloader->DeviceCount() == 0 && !Bootloader->IsBusy() && !FirmwareUpdateRunning())
        Bootloader.reset();
    // A search of the bus that met no failure lets the next failure be shown again.
    if (!HostMessageThisTick)
        HostMessagesShown.clear();
    SetActionStates();
}

void TFormMain::BootloaderTick()
{
    Bootloader->FindBootDevices();
    SetActionStates();
}

void TFormMain::SetActionStates()
{
    const bool display = Display != nullptr && !Busy;
    ActionUpdateFirmware->setEnabled(Bootloader != nullptr && !Busy);
    ActionRefreshFileList->setEnabled(display);
    ActionGetDevInfo->setEnabled(display);
    ActionGetFiles->setEnabled(display);
    ActionGetNewFiles->setEnabled(display);
    ActionSendFiles->setEnabled(display);
    ActionDeleteFiles->setEnabled(display);
    ActionExportLogFile->setEnabled(!Busy);
    ActionViewLogFile->setEnabled(!Busy);
    ActionViewUnitLog->setEnabled(display && TabControl1->currentIndex() == 1);
    csvfileexportoptions1->setEnabled(!Busy);
    ShowUnitState();
}

void TFormMain::SetBusyLook(bool busy)
{
    Busy = busy;
    // The tab stays on the folder being worked on; the list under the panel is out of reach.
    TabControl1->setEnabled(!busy);
    ListBoxFiles->setEnabled(!busy);
    SetActionStates();
}

void TFormMain::ShowUnitState()
{
    QString text;
    const bool boot = Bootloader && Bootloader->DeviceCount() > 0;
    if (Display) {
        text = UnitIdentity.isEmpty() ? QStringLiteral("Unit connected") : QStringLiteral("Unit ") + UnitIdentity;
        if (ListingEnd != 0)
            text += QStringLiteral(". File list incomplete: ") + QString::fromStdString(ListingFailureReason(ListingEnd));
    } else if (boot) {
        text = QStringLiteral("Unit in bootloader mode: use Update Firmware");
    } else {
        text = QStringLiteral("No unit connected");
    }
    if (!CommandSummary.isEmpty())
        text += QStringLiteral(". ") + CommandSummary;
    LabelUnitState->setText(text);
    ButtonStatusUpdate->setVisible(boot && !Display);
}

void TFormMain::ReadUnitIdentity()
{
    if (IdentityRead || !Display)
        return;
    IdentityRead = true;
    DISPLAY_INFO info{};
    DISPLAY_IDENTITY identity{};
    if (Display->GetDeviceInfo(info) != 0 || Display->ReadDeviceIdentity(info.AppStart, identity) != 0)
        return;
    // The serial number is 8-bit text on the unit; Latin-1 keeps every byte as one character.
    UnitIdentity = QStringLiteral("%1, firmware %2")
                       .arg(QString::fromLatin1(identity.Serial()),
                            QString::fromStdString(FormatVersionNumber(info.FirmwareVersion)));
}

void TFormMain::ShowHostMessage(const std::string& text, const std::string& caption)
{
    HostMessageThisTick = true;
    const std::string key = caption + '\n' + text;
    for (const std::string& shown : HostMessagesShown) {
        if (shown == key)
            return;
    }
    HostMessagesShown.push_back(key);
    Services.ShowMessage(this, QString::fromLocal8Bit(text.c_str()), QString::fromLocal8Bit(caption.c_str()));
}

QString TFormMain::TabFolder() const
{
    return QStringLiteral("A:\\") + TabControl1->tabText(TabControl1->currentIndex());
}

void TFormMain::TabControl1Change()
{
    SetActionStates();
    // The tab shows the new folder at once; its listing waits for a running command to end.
    if (CommandDepth > 0) {
        // The files shown are the old folder's until the new listing: shown none meanwhile.
        TabDeferred = true;
        ListBoxFiles->clear();
        LabelOpenError->hide();
        return;
    }
    RunGuarded([this] { RefreshFileList(TabFolder()); });
    RunDeferredWork();
}

void TFormMain::ActionRefreshFileListExecute()
{
    RunCommand([this] { RefreshFileList(DevicePath); });
}

void TFormMain::RefreshFileList(const QString& folder)
{
    CommandScope scope(*this);
    ListBoxFiles->clear();
    LabelOpenError->hide();
    if (!Display) {
        DevicePath.clear();
        return;
    }
    DevicePath = folder;
    if (!Display->IsOpen()) {
        if (Display->OpenByIndex(0, 0) != 0) {
            // The list stays empty; the reason is shown over it, since a unit the user cannot
            // open (no udev rule, say) would otherwise look like an empty card.
            ShowOpenError(QString::fromStdString(Host.LastErrorText()));
            return;
        }
    }
    UnitCommand command(*Display);
    if (command.Result != 0) {
        ShowOpenError(QString::fromStdString(UnitHoldFailure(*Display, command.Result)));
        return;
    }
    ProgressBarTotal->setValue(0);
    ProgressBarCurrent->setValue(0);
    uint32_t end = 0;
    {
        ProgressScope panel(*this);
        end = ListUnitFolder(*Display, DevicePath.toStdString(),
                             [](const FILE_ENTRY& entry) { AddFileListEntry(nullptr, entry); });
    }
    ListingEnd = end;
    // The entries that arrived stay listed; the user learns that more may be missing.
    if (end != 0)
        ShowListingCutShort(end);
    else
        ReadUnitIdentity();
    ShowUnitState();
}

void TFormMain::ShowListingCutShort(uint32_t code)
{
    LabelOpenError->setText(QStringLiteral("The list may be incomplete: %1.")
                                .arg(QString::fromStdString(ListingFailureReason(code))));
    // At the list's foot, as tall as its wrapped lines need. A list too small to hold it whole
    // (the window at its minimum size) shows no part of it: the status line carries the same
    // note, wrapped.
    const QRect area = ListBoxFiles->viewport()->rect();
    const int height = std::max(3 * ItemHeight, LabelOpenError->heightForWidth(area.width()));
    LabelOpenError->setGeometry(area.x(), area.bottom() + 1 - height, area.width(), height);
    LabelOpenError->setVisible(height <= area.height());
}

void TFormMain::AddFileListEntry(const char* /*folder*/, const FILE_ENTRY& entry)
{
    TFormMain* form = FormMain;
    if (!form)
        return;
    form->LabelStatus->setText(QStringLiteral("Refreshing File List Please Wait..."));
    if (!entry.IsFolder()) {
        const QString name = QString::fromStdString(UnitEntryName(entry));
        form->LabelCurrentFile->setText(name);
        form->AddFileItem(name, entry.Size());
    }
    QCoreApplication::processEvents();
}

void TFormMain::AddFileItem(const QString& name, uint32_t size)
{
    auto* item = new FileListItem(name);
    item->setData(Qt::UserRole, QVariant::fromValue<quint32>(size));
    item->setSizeHint(QSize(0, ItemHeight));
    ListBoxFiles->addItem(item);
}

uint32_t TFormMain::ItemSize(const QListWidgetItem* item) { return item->data(Qt::UserRole).value<quint32>(); }

void TFormMain::ShowOpenError(const QString& text)
{
    LabelOpenError->setText(QStringLiteral("The unit is connected but cannot be opened.\n\n") + text);
    LabelOpenError->setGeometry(ListBoxFiles->viewport()->rect());
    LabelOpenError->show();
}

// ---- window events

void TFormMain::closeEvent(QCloseEvent* event)
{
    // Closing in the middle of a command would end the run under it: close once it has returned.
    if (CommandDepth > 0) {
        event->ignore();
        if (CloseDeferred)
            return;
        // A command with its panel up can be stopped; a listing or tick without one ends soon.
        if (Busy && !Services.Confirm(this, QStringLiteral("A command is running. Cancel it and close the window?"),
                                      ApplicationTitle))
            return;
        CancelRequested = true;
        CloseDeferred = true;
        StopConversions = true;
        return;
    }
    QMainWindow::closeEvent(event);
}

void TFormMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    event->acceptProposedAction();
    WMDropFiles(paths);
}

bool TFormMain::event(QEvent* event)
{
    const bool handled = QMainWindow::event(event);
    // Once the window manager has framed the window, the outer size stored by the last run can be
    // met exactly; without this the window would grow by its frame on every run.
    if (PendingOuterSize.isValid() && isVisible() && windowState() == Qt::WindowNoState &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
        const QSize frame = frameGeometry().size() - size();
        if (!frame.isNull()) {
            const QSize wanted = PendingOuterSize - frame;
            PendingOuterSize = QSize();
            resize(wanted);
        }
    }
    return handled;
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ListBoxFiles->viewport()) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            // Runs whether the action is enabled or not, as a double-click always did.
            ActionGetFilesExecute();
            return true;
        }
        if (event->type() == QEvent::Resize)
            LabelOpenError->setGeometry(ListBoxFiles->viewport()->rect());
    }
    return QMainWindow::eventFilter(watched, event);
}
