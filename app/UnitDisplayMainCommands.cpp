// The main window's commands: file transfers, device information, log export options and
// conversion, and the firmware update. Each runs inside the window's command guard.
#include <climits>
#include <filesystem>
#include <optional>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QTabBar>
#include <QTemporaryDir>

#include "FirmwareUpdate.h"
#include "LogCsv.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"
#include "LogConversion.h"
#include "LogViewerWindow.h"
#include "UnitDevInfo.h"
#include "UnitDisplayMain.h"
#include "UnitExportOptions.h"
#include "TransferBatch.h"
#include "UnitFiles.h"

namespace {

constexpr int ModalResultOk = 1;

const QString SendErrorCaption = QStringLiteral("File Send Error");
const QString DeletionErrorCaption = QStringLiteral("File Deletion Error");
const QString GetErrorCaption = QStringLiteral("File Get Error");
const QString ExportErrorCaption = QStringLiteral("Log Export Error");
const QString CardLockedHint = QStringLiteral("\n\nVerify SD card is not locked.");

QString FailureLine(const QString& name) { return QStringLiteral("\n\t") + name; }
// A failure list's line with the reason: "LOG001.displog: time-out: the unit did not answer".
QString FailureLine(const QString& name, const QString& reason)
{
    return reason.isEmpty() ? FailureLine(name) : FailureLine(name) + QStringLiteral(": ") + reason;
}


QString FileNameOf(const QString& path) { return QFileInfo(path).fileName(); }

// A path on the PC as the file system spells it.
std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// A folder on the PC for the status line, the home folder shown as "~".
QString ShownFolder(const QString& folder)
{
    const QString native = QDir::toNativeSeparators(QDir::cleanPath(folder));
    const QString home = QDir::toNativeSeparators(QDir::homePath());
    if (native == home)
        return QStringLiteral("~");
    if (native.startsWith(home + QDir::separator()))
        return QStringLiteral("~") + native.mid(home.size());
    return native;
}

// "1 file", "3 files".
QString Files(size_t count)
{
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

// The failure list of a batch: every file not done, with its reason.
QString NotDoneList(const BatchReport& report)
{
    QString list;
    for (const BatchFileOutcome& file : report.Files) {
        if (file.Result != FileResult::Done)
            list += FailureLine(QString::fromStdString(file.Name), QString::fromStdString(file.Reason));
    }
    return list;
}

QStringList DoneNames(const BatchReport& report)
{
    QStringList names;
    for (const BatchFileOutcome& file : report.Files) {
        if (file.Result == FileResult::Done)
            names << QString::fromStdString(file.Name);
    }
    return names;
}

// The card's write protection is worth a hint only when the unit itself failed a file.
bool UnitFailed(const BatchReport& report) { return report.Count(FileResult::Failed) != 0; }

bool HasExtension(const QString& path, const QString& extension)
{
    return QFileInfo(path).suffix().compare(extension, Qt::CaseInsensitive) == 0;
}

// A bar takes an int; byte counts of up to 4 GiB are halved until they fit, so the bar keeps its
// proportion. An empty range would turn the bar into a busy indicator, so it becomes 0 of 1.
void SetBar(QProgressBar* bar, uint64_t position, uint64_t maximum)
{
    while (maximum > static_cast<uint64_t>(INT_MAX)) {
        maximum >>= 1;
        position >>= 1;
    }
    bar->setRange(0, maximum == 0 ? 1 : static_cast<int>(maximum));
    bar->setValue(static_cast<int>(std::min(position, maximum)));
}

// Sets a dialog's global reference for as long as the dialog is shown.
template <typename Form>
class GlobalFormScope {
public:
    GlobalFormScope(Form*& global, Form* form) : Global(global) { Global = form; }
    ~GlobalFormScope() { Global = nullptr; }
    GlobalFormScope(const GlobalFormScope&) = delete;
    GlobalFormScope& operator=(const GlobalFormScope&) = delete;

private:
    Form*& Global;
};

} // namespace

TFormMain::ProgressScope::ProgressScope(TFormMain& form) : Form(form)
{
    Form.CancelRequested = false;
    Form.PanelProgress->show();
    Form.PanelProgress->raise();
    Form.ButtonCancel->show();
    Form.LabelFigures->clear();
    Form.SetBusyLook(true);
    if (Form.Display) {
        Device = Form.Display.get();
        Device->SetCancelCheck([&form] { return form.CancelRequested; });
    }
}

TFormMain::ProgressScope::~ProgressScope()
{
    if (Device)
        Device->SetCancelCheck({});
    Form.ButtonCancel->hide();
    Form.PanelProgress->hide();
    Form.SetBusyLook(false);
}

// The firmware update's front end on the window: the progress panel's labels and bars, the
// window's events between steps, the file dialog and the message box.
class TFormMain::WindowUpdateUi : public FirmwareUpdateUi {
public:
    explicit WindowUpdateUi(TFormMain& form) : Form(form) {}

    void SetStatus(const std::string& text) override { Form.LabelStatus->setText(QString::fromStdString(text)); }
    void SetFile(const std::string& text) override { Form.LabelCurrentFile->setText(QString::fromStdString(text)); }
    void ShowProgressPanel(bool visible) override
    {
        Form.PanelProgress->setVisible(visible);
        Form.ButtonCancel->setVisible(visible);
        Form.LabelFigures->clear();
        Form.SetBusyLook(visible);
        if (visible)
            Form.PanelProgress->raise();
    }
    void SetBars(uint32_t position, uint32_t maximum) override
    {
        SetBar(Form.ProgressBarCurrent, position, maximum);
        SetBar(Form.ProgressBarTotal, position, maximum);
    }
    void Pump() override { QCoreApplication::processEvents(); }
    // A close asked for while the update runs waits for it; the update ends early on it.
    bool IsTerminating() override { return Form.CloseDeferred; }
    bool IsCancelled() override { return Form.CancelRequested; }
    std::optional<std::string> ChooseImageFile() override
    {
        Form.OpenDialog1.FilterIndex = 3;
        Form.OpenDialog1.FileName.clear();
        Form.OpenDialog1.InitialDir = QFileInfo(Form.ExecutablePath).absolutePath();
        const QStringList chosen = Form.Services.OpenFiles(&Form, Form.OpenDialog1);
        if (chosen.isEmpty())
            return std::nullopt;
        return LocalPath(chosen.first());
    }
    void ShowMessage(const std::string& text) override
    {
        Form.Services.ShowMessage(&Form, QString::fromStdString(text), ApplicationTitle);
    }

private:
    TFormMain& Form;
};

// ---- progress

// A batch on the window: the progress panel's labels and bars with the window's events between
// blocks, Cancel heard between blocks, and (for a get) each log converted once it is got.
class TFormMain::WindowBatch : public BatchObserver {
public:
    WindowBatch(TFormMain& form, QString convertIn = {}) : Form(form), ConvertIn(std::move(convertIn)) {}

    void FileBegins(const std::string& name, uint64_t) override
    {
        Form.LabelCurrentFile->setText(QString::fromStdString(name));
    }
    void Progress(const TransferMeter& meter) override { Form.ShowTransferFigures(meter); }
    bool StopRequested() override { return Form.CancelRequested; }
    void FileEnded(const BatchFileOutcome& outcome) override
    {
        if (outcome.Result != FileResult::Done || ConvertIn.isEmpty())
            return;
        const QString localPath = QDir(ConvertIn).filePath(QString::fromStdString(outcome.Name));
        if (!HasExtension(localPath, QStringLiteral("displog")))
            return;
        // The file was put in place just now; the window reacts before the conversion starts.
        QCoreApplication::processEvents();
        switch (Form.ConvertLog(localPath)) {
        case Conversion::Done: ++Converted; break;
        case Conversion::Failed: NotConverted += FailureLine(QString::fromStdString(outcome.Name), Form.LastConversionReason); break;
        case Conversion::Reported: break;
        }
    }

    int Converted = 0;
    QString NotConverted;

private:
    TFormMain& Form;
    QString ConvertIn; // the get's destination when logs are converted on the way
};

void TFormMain::ShowTransferFigures(const TransferMeter& meter)
{
    Meter = meter;
    SetBar(ProgressBarCurrent, Meter.FileDone(), Meter.FileSize());
    SetBar(ProgressBarTotal, Meter.TotalDone(), Meter.TotalBytes());
    QString figures = QString::fromStdString(FormatTransferFigures(Meter));
    if (Meter.TotalBytes() > Meter.FileSize())
        figures += QStringLiteral("; total %1 of %2")
                       .arg(QString::fromStdString(FormatByteCount(Meter.TotalDone())),
                            QString::fromStdString(FormatByteCount(Meter.TotalBytes())));
    LabelFigures->setText(figures);
    QCoreApplication::processEvents();
}

void TFormMain::ShowCommandSummary(const QString& text)
{
    CommandSummary = text;
    ShowUnitState();
}

std::vector<TFormMain::SelectedFile> TFormMain::SelectedFiles() const
{
    std::vector<SelectedFile> files;
    for (int row = 0; row < ListBoxFiles->count(); ++row) {
        const QListWidgetItem* item = ListBoxFiles->item(row);
        if (item->isSelected())
            files.push_back({item->text(), ItemSize(item)});
    }
    return files;
}

QString& TFormMain::TabLocalFolder() { return TabControl1->currentIndex() == 0 ? MapFilePath : LogFilePath; }

void TFormMain::ShowCancelReport(const QString& what, const QString& doneHeading, const QStringList& done,
                                 const QString& notDoneHeading, const QString& notDone)
{
    QString text = what + QStringLiteral(" cancelled.");
    QString doneList;
    for (const QString& name : done)
        doneList += FailureLine(name);
    text += QStringLiteral("\n\n") + doneHeading + (doneList.isEmpty() ? QStringLiteral(" none") : doneList);
    text += QStringLiteral("\n\n") + notDoneHeading + (notDone.isEmpty() ? QStringLiteral(" none") : notDone);
    Services.ShowMessage(this, text, ApplicationTitle);
}

// ---- Get Selected Files

bool TFormMain::UnitHeld(const UnitCommand& command, const QString& caption)
{
    if (command.Result == 0)
        return true;
    Services.ShowMessage(this, QString::fromStdString(UnitHoldFailure(command.Display, command.Result)), caption);
    return false;
}

void TFormMain::ActionGetFilesExecute()
{
    RunCommand([this] { GetSelectedFiles(); });
}

void TFormMain::GetSelectedFiles()
{
    if (!Display)
        return;
    if (!Display->IsOpen())
        (void)Display->OpenByIndex(0, 0);
    const std::vector<SelectedFile> files = SelectedFiles();
    if (files.empty())
        return;
    QString& remembered = TabLocalFolder();
    const QString folder =
        Services.SelectFolder(this, QStringLiteral("Select Destination for your files."), remembered);
    if (folder.isEmpty())
        return;

    const int count = static_cast<int>(files.size());
    LabelStatus->setText((count > 1 ? QStringLiteral("Getting %1 files from device.")
                                    : QStringLiteral("Getting %1 file from device."))
                             .arg(count));
    std::vector<GetItem> items;
    for (const SelectedFile& file : files)
        items.push_back({file.Name.toStdString(), file.Size});
    BatchReport report;
    WindowBatch batch(*this, AutoExport ? folder : QString());
    {
        UnitCommand command(*Display);
        if (!UnitHeld(command, GetErrorCaption))
            return;
        ProgressScope panel(*this);
        report = GetUnitFiles(*Display, DevicePath.toStdString(), items, LocalPath(folder), batch);
    }
    // A folder the PC does not let us write is not remembered for the next get.
    const bool unwritable = !report.Files.empty() && report.Files.front().Result == FileResult::Failed &&
                            report.Files.front().Code == ERR_FILE_WRITE && report.Count(FileResult::Done) == 0 &&
                            report.Files.front().Reason.rfind("PC folder not writable", 0) == 0;
    if (!unwritable)
        remembered = QDir::toNativeSeparators(folder);
    // A file the unit did not deliver, a name that would leave the folder and a file that could
    // not be written are all named with the reason, so no missing file passes for a got one.
    if (report.Stopped)
        ShowCancelReport(QStringLiteral("Get"), QStringLiteral("Got:"), DoneNames(report), QStringLiteral("Not got:"),
                         NotDoneList(report));
    else if (!report.AllDone())
        Services.ShowMessage(this,
                             QStringLiteral("The following files could not be got from the device:\n") + NotDoneList(report),
                             GetErrorCaption);
    if (!batch.NotConverted.isEmpty())
        ShowNotConverted(batch.NotConverted);
    if (const size_t got = report.Count(FileResult::Done); got != 0) {
        QString summary = QStringLiteral("Got %1 to %2").arg(Files(got), ShownFolder(folder));
        if (batch.Converted != 0)
            summary += batch.Converted == 1 ? QStringLiteral("; 1 CSV file written")
                                            : QStringLiteral("; %1 CSV files written").arg(batch.Converted);
        ShowCommandSummary(summary);
    }
}

// ---- Get New Files

void TFormMain::ActionGetNewFilesExecute()
{
    RunCommand([this] { GetNewFiles(); });
}

void TFormMain::GetNewFiles()
{
    if (!Display)
        return;
    if (!Display->IsOpen())
        (void)Display->OpenByIndex(0, 0);
    const QString folder = TabLocalFolder();
    LabelStatus->setText(QStringLiteral("Getting new files from device."));
    BatchReport report;
    WindowBatch batch(*this, AutoExport ? folder : QString());
    {
        UnitCommand command(*Display);
        if (!UnitHeld(command, GetErrorCaption))
            return;
        ProgressScope panel(*this);
        report = SyncUnitFolder(*Display, DevicePath.toStdString(), LocalPath(folder), false, batch);
    }
    if (report.Stopped)
        ShowCancelReport(QStringLiteral("Get"), QStringLiteral("Got:"), DoneNames(report), QStringLiteral("Not got:"),
                         NotDoneList(report));
    else if (!report.AllDone())
        Services.ShowMessage(this,
                             QStringLiteral("The following files could not be got from the device:\n") + NotDoneList(report),
                             GetErrorCaption);
    if (!batch.NotConverted.isEmpty())
        ShowNotConverted(batch.NotConverted);
    QString summary = QStringLiteral("Got %1 new to %2, %3 already there")
                          .arg(Files(report.Count(FileResult::Done)), ShownFolder(folder))
                          .arg(report.Count(FileResult::Held));
    if (batch.Converted != 0)
        summary += batch.Converted == 1 ? QStringLiteral("; 1 CSV file written")
                                        : QStringLiteral("; %1 CSV files written").arg(batch.Converted);
    ShowCommandSummary(summary);
}

// ---- Send Files To Device

void TFormMain::ActionSendFilesExecute()
{
    RunCommand([this] {
        SendChosenFiles();
        RefreshFileList(DevicePath);
    });
}

void TFormMain::SendChosenFiles()
{
    if (!Display)
        return;
    if (!Display->IsOpen() && Display->OpenByIndex(0, 0) != 0)
        return;
    OpenDialog1.FilterIndex = TabControl1->currentIndex() + 1;
    OpenDialog1.FileName.clear();
    QString& remembered = TabLocalFolder();
    OpenDialog1.InitialDir = remembered;
    const QStringList files = Services.OpenFiles(this, OpenDialog1);
    if (files.isEmpty())
        return;
    remembered = QDir::toNativeSeparators(QFileInfo(files.first()).absolutePath());

    const auto count = files.size();
    LabelStatus->setText(
        (count > 1 ? QStringLiteral("Sending %1 files to device.") : QStringLiteral("Sending %1 file to device."))
            .arg(count));
    SendFiles(files, false);
}

void TFormMain::SendFiles(const QStringList& paths, bool dropped)
{
    std::vector<std::filesystem::path> files;
    for (const QString& path : paths)
        files.push_back(LocalPath(path));
    UnitCommand command(*Display);
    if (!UnitHeld(command, SendErrorCaption))
        return;
    BatchReport report;
    {
        ProgressScope panel(*this);
        WindowBatch batch(*this);
        report = SendLocalFiles(*Display, DevicePath.toStdString(), files, dropped ? SendKind::Dropped : SendKind::Chosen,
                                batch);
    }
    if (report.Stopped)
        ShowCancelReport(QStringLiteral("Send"), QStringLiteral("Sent:"), DoneNames(report), QStringLiteral("Not sent:"),
                         NotDoneList(report));
    else if (!report.AllDone())
        Services.ShowMessage(this,
                             QStringLiteral("The following files could not be sent:   \n") + NotDoneList(report) +
                                 (UnitFailed(report) ? CardLockedHint : QString()),
                             SendErrorCaption);
    if (const size_t sent = report.Count(FileResult::Done); sent != 0)
        ShowCommandSummary(QStringLiteral("Sent %1 to %2").arg(Files(sent), DevicePath));
}

// ---- dropped files

void TFormMain::WMDropFiles(const QStringList& paths)
{
    RunCommand([this, paths] {
        SendDroppedFiles(paths);
        RefreshFileList(DevicePath);
    });
}

void TFormMain::SendDroppedFiles(const QStringList& paths)
{
    if (!Display)
        return;
    if (!Display->IsOpen())
        (void)Display->OpenByIndex(0, 0);
    const auto count = paths.size();
    LabelStatus->setText((count > 1 ? QStringLiteral("Sending %1 dropped files to device.")
                                    : QStringLiteral("Sending %1 dropped file to device."))
                             .arg(count));
    // A dropped file goes to the folder of the tab shown, so only that folder's kind is taken.
    SendFiles(paths, true);
}

// ---- Delete Selected Files

void TFormMain::ActionDeleteFilesExecute()
{
    RunCommand([this] { DeleteSelectedFiles(); });
}

void TFormMain::DeleteSelectedFiles()
{
    if (!Display)
        return;
    if (!Display->IsOpen())
        (void)Display->OpenByIndex(0, 0);
    const std::vector<SelectedFile> files = SelectedFiles();
    LabelStatus->setText(QStringLiteral("Deleting Selected Files."));
    std::vector<std::string> names;
    for (const SelectedFile& file : files)
        names.push_back(file.Name.toStdString());
    BatchReport report;
    {
        UnitCommand command(*Display);
        if (!UnitHeld(command, DeletionErrorCaption))
            return;
        ProgressScope panel(*this);
        WindowBatch batch(*this);
        report = RemoveUnitFiles(*Display, DevicePath.toStdString(), names, batch);
    }
    const bool failing = UnitFailed(report);
    if (report.Stopped)
        ShowCancelReport(QStringLiteral("Delete"), QStringLiteral("Deleted:"), DoneNames(report),
                         QStringLiteral("Not deleted:"), NotDoneList(report));
    else if (failing)
        Services.ShowMessage(this,
                             QStringLiteral("The following files could not be deleted:\n") + NotDoneList(report) +
                                 CardLockedHint,
                             DeletionErrorCaption);
    if (const size_t deleted = report.Count(FileResult::Done); deleted != 0)
        ShowCommandSummary(QStringLiteral("Deleted %1 from %2").arg(Files(deleted), DevicePath));
    if (failing) {
        RefreshFileList(DevicePath);
        return;
    }
    // Removed by name, not by selection: the user may have selected other items meanwhile.
    const QStringList deleted = DoneNames(report);
    for (int row = ListBoxFiles->count() - 1; row >= 0; --row) {
        if (deleted.contains(ListBoxFiles->item(row)->text()))
            delete ListBoxFiles->takeItem(row);
    }
}

// ---- Show Device Info

void TFormMain::ActionGetDevInfoExecute()
{
    RunCommand([this] { ShowDeviceInfo(); });
}

void TFormMain::ShowDeviceInfo()
{
    // The list refresh opens the unit; this command does not.
    if (!Display)
        return;
    DISPLAY_INFO info{};
    DISPLAY_IDENTITY identity{};
    UnitCommand command(*Display);
    if (!UnitHeld(command, ApplicationTitle))
        return;
    uint32_t result = Display->GetDeviceInfo(info);
    if (result == 0)
        result = Display->ReadDeviceIdentity(info.AppStart, identity);
    if (result != 0) {
        Services.ShowMessage(this, QStringLiteral("Error Getting Production or Device Info."), ApplicationTitle);
        return;
    }
    auto dialog = std::make_unique<TFormDevInfo>(this);
    GlobalFormScope<TFormDevInfo> global(FormDevInfo, dialog.get());
    dialog->ShowIdentity(info, identity);
    (void)Services.ExecDialog(*dialog);
}

// ---- Log File Export Options

void TFormMain::csvfileexportoptions1Click()
{
    RunCommand([this] { EditExportOptions(); });
}

void TFormMain::EditExportOptions()
{
    auto dialog = std::make_unique<TFormExportOptions>(this);
    GlobalFormScope<TFormExportOptions> global(FormExportOptions, dialog.get());
    dialog->ComboBoxInterval->setEditText(FormatExportInterval(ExportInterval));
    dialog->ComboBoxAutoExport->setCurrentIndex(AutoExport ? 0 : 1);
    if (Services.ExecDialog(*dialog) != ModalResultOk)
        return;
    ExportInterval = ParseExportInterval(dialog->ComboBoxInterval->currentText());
    // The field is editable: what counts is the text it holds, whether picked or typed.
    AutoExport = dialog->ComboBoxAutoExport->currentText().trimmed().compare(dialog->ComboBoxAutoExport->itemText(0),
                                                                           Qt::CaseInsensitive) == 0;
}

// ---- Convert Log File(s) to .csv

void TFormMain::ActionExportLogFileExecute()
{
    RunCommand([this] { ConvertChosenLogs(); });
}

QStringList TFormMain::ChooseLogFiles()
{
    OpenDialog1.FilterIndex = 2;
    OpenDialog1.FileName.clear();
    OpenDialog1.InitialDir = LogFilePath;
    return Services.OpenFiles(this, OpenDialog1);
}

void TFormMain::ConvertChosenLogs()
{
    const QStringList files = ChooseLogFiles();
    if (files.isEmpty())
        return;
    QString failed;
    bool reported = false;
    int converted = 0;
    for (const QString& file : files) {
        switch (ConvertLog(file)) {
        case Conversion::Done:
            ++converted;
            break;
        case Conversion::Failed:
            failed += FailureLine(FileNameOf(file), LastConversionReason);
            break;
        case Conversion::Reported:
            reported = true;
            break;
        }
    }
    if (!failed.isEmpty())
        ShowNotConverted(failed);
    else if (!reported)
        Services.ShowMessage(this, QStringLiteral("Display Log Files Exported."), ApplicationTitle);
    LogFilePath = QDir::toNativeSeparators(QFileInfo(files.first()).absolutePath());
    if (converted != 0)
        ShowCommandSummary((converted == 1 ? QStringLiteral("1 CSV file written in %1")
                                           : QStringLiteral("%1 CSV files written in %2").arg(converted))
                               .arg(ShownFolder(LogFilePath)));
}

TFormMain::Conversion TFormMain::ConvertLog(const QString& source)
{
    CsvOptions options;
    options.DecimalSeparator = RegionalCsvSeparator();
    // Called after each megabyte of text: long logs keep the window live.
    options.Progress = [](uint64_t, uint64_t) { QCoreApplication::processEvents(); };
    // And while the log is read, so Cancel and close are heard during a long read too.
    options.Reading = [] { QCoreApplication::processEvents(); };
    options.Stop = &StopConversions;
    const float interval = static_cast<float>(CorrectedExportInterval(ExportInterval));
    const ConversionOutcome outcome = ::ConvertLog(LocalPath(source), interval, options);
    switch (outcome.End) {
    case ConversionEnd::Converted: return Conversion::Done;
    case ConversionEnd::WriteFailed:
        // "Cannot create file ..." and "Stream write error" go to the application's error report.
        Services.ShowError(this, QString::fromLocal8Bit(outcome.Text.c_str()));
        return Conversion::Reported;
    // The window is closing: nothing more to say.
    case ConversionEnd::Stopped: return Conversion::Reported;
    default:
        LastConversionReason = QString::fromStdString(ConversionFailureReason(outcome));
        return Conversion::Failed;
    }
}

void TFormMain::ShowNotConverted(const QString& failureList)
{
    Services.ShowMessage(this, QStringLiteral("The following log files could not be converted to .csv:\n") + failureList,
                         ExportErrorCaption);
}

// ---- Log viewer

void TFormMain::ActionViewLogFileExecute()
{
    RunCommand([this] { ViewChosenLogs(); });
}

void TFormMain::ViewChosenLogs()
{
    for (const QString& file : ChooseLogFiles())
        OpenViewer(file);
}

void TFormMain::OpenViewer(const QString& path)
{
    ViewerOptions options;
    options.ExportInterval = CorrectedExportInterval(ExportInterval);
    options.DecimalSeparator = RegionalCsvSeparator();
    options.SaveFolder = LogFilePath;
    (void)OpenLogViewer(path, this, Services, options);
}

void TFormMain::ActionViewUnitLogExecute()
{
    RunCommand([this] { ViewSelectedUnitLog(); });
}

void TFormMain::ViewSelectedUnitLog()
{
    if (!Display || TabControl1->currentIndex() != 1)
        return;
    if (!Display->IsOpen())
        (void)Display->OpenByIndex(0, 0);
    const std::vector<SelectedFile> files = SelectedFiles();
    if (files.empty())
        return;
    if (!ViewedLogs) {
        ViewedLogs = std::make_unique<QTemporaryDir>();
        if (!ViewedLogs->isValid()) {
            Services.ShowMessage(this, QStringLiteral("The following files could not be got from the device:\n") +
                                           FailureLine(files.front().Name, ViewedLogs->errorString()),
                                 GetErrorCaption);
            ViewedLogs.reset();
            return;
        }
    }
    const SelectedFile& file = files.front();
    LabelStatus->setText(QStringLiteral("Getting %1 file from device.").arg(1));
    BatchReport report;
    {
        UnitCommand command(*Display);
        if (!UnitHeld(command, GetErrorCaption))
            return;
        ProgressScope panel(*this);
        WindowBatch batch(*this);
        report = GetUnitFiles(*Display, DevicePath.toStdString(), {{file.Name.toStdString(), file.Size}},
                              LocalPath(ViewedLogs->path()), batch);
    }
    if (report.Stopped)
        return;
    if (!report.AllDone()) {
        Services.ShowMessage(this, QStringLiteral("The following files could not be got from the device:\n") +
                                       NotDoneList(report),
                             GetErrorCaption);
        return;
    }
    const QString localPath = QDir(ViewedLogs->path()).filePath(file.Name);
    OpenViewer(localPath);
}

// ---- Update Firmware

void TFormMain::ActionUpdateFirmwareExecute()
{
    RunCommand([this] {
        CancelRequested = false;
        WindowUpdateUi ui(*this);
        // Everything the run has to say it has said on the window; a second run is refused by
        // the guard before it gets here.
        (void)RunFirmwareUpdate(Bootloader.get(), Host, ui);
    });
}
