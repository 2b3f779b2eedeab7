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
#include <QTemporaryFile>

#include "FirmwareUpdate.h"
#include "LogCsv.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"
#include "LogConversion.h"
#include "LogViewerWindow.h"
#include "UnitDevInfo.h"
#include "UnitDisplayMain.h"
#include "UnitExportOptions.h"
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

// True when a file can be created in `folder`; else `reason` says what the PC answered.
bool FolderTakesFiles(const QString& folder, QString& reason)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".tessaly-XXXXXX")));
    if (probe.open())
        return true;
    reason = probe.errorString();
    return false;
}

const QString UnitInUseMessage = QString::fromLatin1(UnitInUseText);

QString FileNameOf(const QString& path) { return QFileInfo(path).fileName(); }

// A path on the PC as the file system spells it.
std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Names and folders on the unit are 8-bit text: Latin-1 maps each character to one byte.
QByteArray UnitText(const QString& text) { return text.toLatin1(); }

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

void TFormMain::ShowTransferProgress(const char* /*folder*/, const char* name, uint32_t total, uint32_t done)
{
    if (TFormMain* form = FormMain)
        form->OnTransferProgress(name, total, done);
}

void TFormMain::OnTransferProgress(const char* name, uint32_t total, uint32_t done)
{
    LabelCurrentFile->setText(QString::fromLatin1(name));
    SetBar(ProgressBarCurrent, done, total);
    Meter.Update(done);
    SetBar(ProgressBarTotal, Meter.TotalDone(), Meter.TotalBytes());
    QString figures = QString::fromStdString(FormatTransferFigures(Meter));
    if (Meter.TotalBytes() > Meter.FileSize())
        figures += QStringLiteral("; total %1 of %2")
                       .arg(QString::fromStdString(FormatByteCount(Meter.TotalDone())),
                            QString::fromStdString(FormatByteCount(Meter.TotalBytes())));
    LabelFigures->setText(figures);
    QCoreApplication::processEvents();
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
    Services.ShowMessage(this, UnitInUseMessage, caption);
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
    // A folder the PC does not let us write is named as such before the unit is asked for
    // anything, and not remembered for the next get.
    QString unwritable;
    if (!FolderTakesFiles(folder, unwritable)) {
        QString failed;
        for (const SelectedFile& file : files)
            failed += FailureLine(file.Name, QStringLiteral("PC folder not writable: ") + unwritable);
        Services.ShowMessage(this, QStringLiteral("The following files could not be got from the device:\n") + failed,
                             GetErrorCaption);
        return;
    }
    remembered = QDir::toNativeSeparators(folder);

    const int count = static_cast<int>(files.size());
    LabelStatus->setText((count > 1 ? QStringLiteral("Getting %1 files from device.")
                                    : QStringLiteral("Getting %1 file from device."))
                             .arg(count));
    uint64_t totalBytes = 0;
    for (const SelectedFile& file : files)
        totalBytes += file.Size;
    Meter = TransferMeter(totalBytes);
    SetBar(ProgressBarTotal, 0, totalBytes);
    QString failed;
    QString notConverted;
    QStringList got;
    bool cancelled = false;
    {
        UnitCommand command(*Display);
        if (!UnitHeld(command, GetErrorCaption))
            return;
        ProgressScope panel(*this);
        const QByteArray devicePath = UnitText(DevicePath);
        for (const SelectedFile& file : files) {
            if (CancelRequested) {
                cancelled = true;
                failed += FailureLine(file.Name);
                continue;
            }
            Meter.BeginFile(file.Size);
            const FileOutcome outcome = GetOneFile(devicePath, folder, file, notConverted);
            Meter.EndFile();
            if (outcome.Done()) {
                got << file.Name;
            } else {
                cancelled = cancelled || outcome.Code == ERR_CANCELLED;
                failed += FailureLine(file.Name, QString::fromStdString(outcome.Reason));
            }
        }
    }
    // A file the unit did not deliver, a name that would leave the folder and a file that could
    // not be written are all named with the reason, so no missing file passes for a got one.
    if (cancelled)
        ShowCancelReport(QStringLiteral("Get"), QStringLiteral("Got:"), got, QStringLiteral("Not got:"), failed);
    else if (!failed.isEmpty())
        Services.ShowMessage(this, QStringLiteral("The following files could not be got from the device:\n") + failed,
                             GetErrorCaption);
    if (!notConverted.isEmpty())
        ShowNotConverted(notConverted);
}

FileOutcome TFormMain::GetOneFile(const QByteArray& devicePath, const QString& folder, const SelectedFile& file,
                                  QString& notConverted)
{
    // The name comes from the unit: one that could point outside the chosen folder, or that the
    // PC would store under another name, is refused before anything is asked for.
    // Streamed into a temporary file and put in place only when whole: a failed or cancelled get
    // leaves an older file of the same name as it was, and memory stays bounded whatever size
    // was listed.
    const QString localPath = QDir(folder).filePath(file.Name);
    FileOutcome outcome = GetUnitFile(*Display, devicePath.toStdString(), UnitText(file.Name).toStdString(), file.Size,
                                      LocalPath(localPath), ShowTransferProgress);
    if (!outcome.Done())
        return outcome;
    if (AutoExport && HasExtension(localPath, QStringLiteral("displog"))) {
        // The file was put in place just now; the window reacts before the conversion starts.
        QCoreApplication::processEvents();
        if (ConvertLog(localPath) == Conversion::Failed)
            notConverted += FailureLine(file.Name);
    }
    return outcome;
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
    SendFiles(files, true, {});
}

void TFormMain::SendFiles(const QStringList& paths, bool stopAtFailure,
                          const std::function<QString(const QString&)>& refuse)
{
    uint64_t totalBytes = 0;
    for (const QString& path : paths)
        totalBytes += static_cast<uint64_t>(std::max<qint64>(0, QFileInfo(path).size()));
    Meter = TransferMeter(totalBytes);
    SetBar(ProgressBarTotal, 0, totalBytes);
    UnitCommand command(*Display);
    if (!UnitHeld(command, SendErrorCaption))
        return;
    QString failed;
    QStringList sent;
    bool cancelled = false;
    {
        ProgressScope panel(*this);
        const QByteArray devicePath = UnitText(DevicePath);
        // Chosen files: after a file that failed, the rest are not tried (the card is likely
        // locked or full, or the unit gone). Dropped files are each tried.
        bool failing = false;
        for (const QString& path : paths) {
            const QString name = FileNameOf(path);
            if (CancelRequested) {
                cancelled = true;
                failed += FailureLine(name);
                continue;
            }
            if (failing) {
                failed += FailureLine(name, QStringLiteral("not tried after the failure above"));
                continue;
            }
            QCoreApplication::processEvents();
            if (const QString refused = refuse ? refuse(path) : QString(); !refused.isEmpty()) {
                failed += FailureLine(name, refused);
                continue;
            }
            Meter.BeginFile(static_cast<uint64_t>(std::max<qint64>(0, QFileInfo(path).size())));
            const FileOutcome outcome = PutLocalFile(*Display, devicePath, path);
            Meter.EndFile();
            if (outcome.Done()) {
                sent << name;
                continue;
            }
            if (outcome.Code == ERR_CANCELLED)
                cancelled = true;
            else
                failing = stopAtFailure;
            failed += FailureLine(name, QString::fromStdString(outcome.Reason));
        }
    }
    if (cancelled)
        ShowCancelReport(QStringLiteral("Send"), QStringLiteral("Sent:"), sent, QStringLiteral("Not sent:"), failed);
    else if (!failed.isEmpty())
        Services.ShowMessage(this,
                             QStringLiteral("The following files could not be sent:   \n") + failed + CardLockedHint,
                             SendErrorCaption);
}

FileOutcome TFormMain::PutLocalFile(QXDisplay& device, const QByteArray& folder, const QString& path)
{
    // An empty file, anything but a regular file, and a file the unit could not hold (sizes travel
    // in 32 bits) are not sent: an empty one would only delete the unit's file of that name. One
    // that cannot be read is a failed file like any other.
    return SendLocalFile(device, folder.toStdString(), LocalPath(path), UnitText(QFileInfo(path).fileName()).toStdString(),
                         ShowTransferProgress);
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
    const bool maps = TabControl1->currentIndex() == 0;
    // A dropped file goes to the folder of the tab shown, so only that folder's kind is taken.
    SendFiles(paths, false, [maps](const QString& path) {
        if (maps && !HasExtension(path, QStringLiteral("qxm")) && !HasExtension(path, QStringLiteral("wzm")))
            return QStringLiteral("not a map file (.qxm or .wzm)");
        if (!maps && !HasExtension(path, QStringLiteral("displog")))
            return QStringLiteral("not a log file (.displog)");
        return QString();
    });
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
    SetBar(ProgressBarTotal, 0, files.size());
    QString failed;
    QStringList deleted;
    bool cancelled = false;
    bool failing = false;
    {
        UnitCommand command(*Display);
        if (!UnitHeld(command, DeletionErrorCaption))
            return;
        ProgressScope panel(*this);
        const QByteArray devicePath = UnitText(DevicePath);
        for (size_t k = 0; k < files.size(); ++k) {
            QCoreApplication::processEvents();
            if (CancelRequested) {
                cancelled = true;
                failed += FailureLine(files[k].Name);
                continue;
            }
            if (failing) {
                failed += FailureLine(files[k].Name, QStringLiteral("not tried after the failure above"));
                continue;
            }
            LabelCurrentFile->setText(files[k].Name);
            SetBar(ProgressBarTotal, k, files.size());
            const FileOutcome outcome =
                RemoveUnitFile(*Display, devicePath.toStdString(), UnitText(files[k].Name).toStdString());
            if (outcome.Done()) {
                deleted << files[k].Name;
            } else {
                failing = true;
                failed += FailureLine(files[k].Name, QString::fromStdString(outcome.Reason));
            }
        }
    }
    if (cancelled)
        ShowCancelReport(QStringLiteral("Delete"), QStringLiteral("Deleted:"), deleted, QStringLiteral("Not deleted:"),
                         failed);
    else if (failing)
        Services.ShowMessage(this,
                             QStringLiteral("The following files could not be deleted:\n") + failed + CardLockedHint,
                             DeletionErrorCaption);
    if (failing) {
        RefreshFileList(DevicePath);
        return;
    }
    // Removed by name, not by selection: the user may have selected other items meanwhile.
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
    for (const QString& file : files) {
        switch (ConvertLog(file)) {
        case Conversion::Done:
            break;
        case Conversion::Failed:
            failed += FailureLine(FileNameOf(file));
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
}

TFormMain::Conversion TFormMain::ConvertLog(const QString& source)
{
    CsvOptions options;
    options.DecimalSeparator = RegionalCsvSeparator();
    // Called after each megabyte of text: long logs keep the window live.
    options.Progress = [](uint64_t, uint64_t) { QCoreApplication::processEvents(); };
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
    default: return Conversion::Failed;
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
    Meter = TransferMeter(file.Size);
    SetBar(ProgressBarTotal, 0, file.Size);
    FileOutcome outcome;
    const QString localPath = QDir(ViewedLogs->path()).filePath(file.Name);
    {
        UnitCommand command(*Display);
        if (!UnitHeld(command, GetErrorCaption))
            return;
        ProgressScope panel(*this);
        Meter.BeginFile(file.Size);
        outcome = GetUnitFile(*Display, UnitText(DevicePath).toStdString(), UnitText(file.Name).toStdString(),
                              file.Size, LocalPath(localPath), ShowTransferProgress);
        Meter.EndFile();
    }
    if (outcome.Code == ERR_CANCELLED)
        return;
    if (!outcome.Done()) {
        Services.ShowMessage(this,
                             QStringLiteral("The following files could not be got from the device:\n") +
                                 FailureLine(file.Name, QString::fromStdString(outcome.Reason)),
                             GetErrorCaption);
        return;
    }
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
