// Show Device Info, Log File Export Options and Convert Log File(s) to .csv through the window's
// handlers; the dialogs are driven by the test's script in place of the user.
#include <algorithm>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "PlatformServices.h"
#include "LogGenerator.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"
#include "TestHosts.h"
#include "UnitDevInfo.h"
#include "UnitExportOptions.h"

namespace {

// Sets the default locale for one test.
class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(QLocale::c()); }
};

class Dialogs : public ::testing::Test, public WindowTest {
protected:
    struct DevInfoSeen {
        QString Serial, Key, Firmware, Bootloader;
        int Result = -1;
    };
    // Runs Show Device Info and presses "Close" in the dialog.
    DevInfoSeen ShowDevInfo()
    {
        DevInfoSeen seen;
        Services.DialogScript = [&](QDialog& dialog) {
            EXPECT_EQ(&dialog, FormDevInfo);
            seen.Serial = FormDevInfo->EditSerialNumber->text();
            seen.Key = FormDevInfo->EditDeviceKey->text();
            seen.Firmware = FormDevInfo->EditFirmwareVersion->text();
            seen.Bootloader = FormDevInfo->EditBootloaderVersion->text();
            dialog.show();
            FormDevInfo->QXGradButton1->Click();
            seen.Result = dialog.result();
            return dialog.result();
        };
        Form->ActionGetDevInfoExecute();
        return seen;
    }
    // Runs the export options with the interval text and the auto-convert choice set, closed
    // with the button `button` (1 OK, 2 Cancel).
    void EditOptions(const QString& interval, const QString& autoExport, int button, QString* shown = nullptr)
    {
        Services.DialogScript = [&](QDialog& dialog) {
            EXPECT_EQ(&dialog, FormExportOptions);
            if (shown)
                *shown = FormExportOptions->ComboBoxInterval->currentText();
            if (!interval.isNull())
                FormExportOptions->ComboBoxInterval->setEditText(interval);
            if (!autoExport.isNull())
                FormExportOptions->ComboBoxAutoExport->setCurrentText(autoExport);
            dialog.show();
            (button == 1 ? FormExportOptions->QXGradButton1 : FormExportOptions->QXGradButton2)->Click();
            return dialog.result();
        };
        Form->csvfileexportoptions1->trigger();
        EXPECT_EQ(FormExportOptions, nullptr);
    }
    QString WriteLog(const QString& name, double seconds = 2.0)
    {
        QDir().mkpath(Temp.filePath(QStringLiteral("logs")));
        const QString path = Temp.filePath(QStringLiteral("logs/") + name);
        LogSpec spec;
        spec.DurationSeconds = seconds;
        EXPECT_TRUE(WriteDispLog(path.toStdString(), spec));
        return path;
    }
    QByteArray ReadAll(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

// ---- Show Device Info

// The dialog shows the unit's serial number, its key as 16 upper-case hexadecimal digits in
// stored order, and both versions; "Close" ends it with OK and the global reference is gone.
TEST_F(Dialogs, DeviceInfoContents)
{
    MakeUnit(true);
    Open();
    Form->Timer1Timer();
    const DevInfoSeen seen = ShowDevInfo();
    EXPECT_EQ(seen.Serial, QStringLiteral("QX-SIM-000123"));
    EXPECT_EQ(seen.Key, QStringLiteral("51582D53494D4B31"));
    EXPECT_EQ(seen.Firmware, QStringLiteral("1.2.3"));
    EXPECT_EQ(seen.Bootloader, QStringLiteral("1.0.0"));
    EXPECT_EQ(seen.Result, 1);
    EXPECT_EQ(FormDevInfo, nullptr);
    EXPECT_TRUE(Services.Messages.isEmpty());
    EXPECT_FALSE(Form->CommandRunning());
}

// A serial number that fills its 24 bytes, key bytes needing a leading zero and letters, and a
// firmware version with a test-build byte.
TEST_F(Dialogs, DeviceInfoEdgeValues)
{
    MakeUnit(true, [](sim::SimOptions& options) {
        options.Unit.DeviceKey = {0x00, 0x0F, 0xA0, 0xFF, 0x10, 0x9B, 0xC3, 0x07};
        options.Unit.FirmwareVersion = 0x02010003;
        options.Unit.BootloaderVersion = 0x01020305;
    });
    // A serial number without its NUL, as a unit may hold it in flash.
    Sim->WithUnit([](sim::SimulatedUnit& unit) {
        const std::string serial = "ABCDEFGHIJKLMNOPQRSTUVWX";
        const size_t at = unit.Settings().AppStart - sim::UnitFlashBase - sim::UnitIdentityOffset;
        std::copy(serial.begin(), serial.end(), unit.Flash().begin() + static_cast<long>(at));
    });
    Open();
    Form->Timer1Timer();
    const DevInfoSeen seen = ShowDevInfo();
    EXPECT_EQ(seen.Serial, QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWX"));
    EXPECT_EQ(seen.Key, QStringLiteral("000FA0FF109BC307"));
    EXPECT_EQ(seen.Firmware, QStringLiteral("2.1.0 (TEST BUILD 3)"));
    EXPECT_EQ(seen.Bootloader, QStringLiteral("1.2.3 (TEST BUILD 5)"));
}

// Any failing request gives the one message and no dialog: a failed identity read, and a unit that
// is present but was never opened (the command does not open it).
TEST_F(Dialogs, DeviceInfoFailures)
{
    MakeUnit(true);
    Open();
    Form->Timer1Timer();
    Sim->SetFaultPlan(*sim::FaultPlan::Parse("status=0x4001:0x03"));
    Form->ActionGetDevInfoExecute();
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("Korvane Tessaly: Error Getting Production or Device Info.")});
    EXPECT_EQ(Services.DialogsShown, 0);
    Close();

    UseHost(std::make_unique<DenyingHost>(*Sim));
    Sim->SetFaultPlan({});
    Services.Messages.clear();
    Open();
    Form->Timer1Timer();
    ASSERT_NE(Form->Display, nullptr);
    Form->ActionGetDevInfoExecute();
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("Korvane Tessaly: Error Getting Production or Device Info.")});
    EXPECT_EQ(Services.DialogsShown, 0);
    Close();
}

// The dialog's design: frameless, 352 x 193, one gradient panel with a lowered inner bevel, the
// captions right-aligned, the fields read-only, "Close" at the bottom.
TEST_F(Dialogs, DeviceInfoDesign)
{
    TFormDevInfo dialog(nullptr);
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(dialog.size(), QSize(352, 193));
    EXPECT_EQ(dialog.QXGradPanel1->geometry(), QRect(0, 0, 352, 193));
    EXPECT_EQ(dialog.QXGradPanel1->BevelInner(), bvLowered);
    EXPECT_EQ(dialog.QXGradPanel1->font().family(), QStringLiteral("Arial"));
    EXPECT_TRUE(dialog.QXGradPanel1->font().bold());
    const struct {
        QLabel* Label;
        const char* Text;
        QRect Rect;
    } labels[] = {{dialog.LabelSerialNumber, "Serial Number:", {15, 22, 140, 20}},
                  {dialog.Label1, "Device Key:", {15, 52, 140, 20}},
                  {dialog.Label2, "Firmware Version:", {15, 82, 140, 20}},
                  {dialog.Label3, "Bootloader Version", {15, 112, 140, 20}}};
    for (const auto& row : labels) {
        EXPECT_EQ(row.Label->text(), QLatin1String(row.Text));
        EXPECT_EQ(row.Label->geometry(), row.Rect) << row.Text;
        EXPECT_EQ(row.Label->alignment(), Qt::AlignRight | Qt::AlignVCenter) << row.Text;
    }
    int top = 20;
    for (QLineEdit* field : {dialog.EditSerialNumber, dialog.EditDeviceKey, dialog.EditFirmwareVersion,
                             dialog.EditBootloaderVersion}) {
        EXPECT_TRUE(field->isReadOnly());
        EXPECT_EQ(field->geometry(), QRect(162, top, 184, 24));
        top += 30;
    }
    EXPECT_EQ(dialog.QXGradButton1->Caption(), QStringLiteral("Close"));
    EXPECT_EQ(dialog.QXGradButton1->geometry(), QRect(131, 162, 100, 25));
}

// ---- Log File Export Options

// The menu item is there to use; the field shows the interval as stored (0.25 as 0.25, 1 as 1.0),
// the choice follows AutoExport; "0.5" with OK stores 0.5, "No" with OK turns conversion off.
TEST_F(Dialogs, ExportOptionsOk)
{
    Open();
    EXPECT_TRUE(Form->csvfileexportoptions1->isEnabled());
    QString shown;
    EditOptions(QString(), QString(), 1, &shown);
    EXPECT_EQ(shown, QStringLiteral("1.0"));
    EXPECT_DOUBLE_EQ(Form->ExportInterval, 1.0);
    EXPECT_TRUE(Form->AutoExport);

    Form->ExportInterval = 0.25;
    EditOptions(QString(), QString(), 1, &shown);
    EXPECT_EQ(shown, QStringLiteral("0.25"));
    EXPECT_DOUBLE_EQ(Form->ExportInterval, 0.25);

    EditOptions(QStringLiteral("0.5"), QStringLiteral("No"), 1);
    EXPECT_DOUBLE_EQ(Form->ExportInterval, 0.5);
    EXPECT_FALSE(Form->AutoExport);

    // The dialog shows "No" for a conversion that is off; choosing "Yes" turns it on again.
    Services.DialogScript = [](QDialog&) {
        EXPECT_EQ(FormExportOptions->ComboBoxAutoExport->currentIndex(), 1);
        return 0;
    };
    Form->csvfileexportoptions1->trigger();
    EditOptions(QString(), QStringLiteral("Yes"), 1);
    EXPECT_TRUE(Form->AutoExport);
    EXPECT_FALSE(Form->CommandRunning());
}

// Cancel changes nothing.
TEST_F(Dialogs, ExportOptionsCancel)
{
    Open();
    Form->ExportInterval = 0.1;
    EditOptions(QStringLiteral("0.5"), QStringLiteral("No"), 2);
    EXPECT_DOUBLE_EQ(Form->ExportInterval, 0.1);
    EXPECT_TRUE(Form->AutoExport);
}

// A word, 0, a negative number or "nan" in the field gives 1.0; no text confirmed with OK ever
// leaves an interval that a conversion could not step through.
TEST_F(Dialogs, ExportOptionsUnusableIntervals)
{
    Open();
    for (const char* text : {"fast", "0", "-0.5", "nan", "inf", ""}) {
        Form->ExportInterval = 0.5;
        EditOptions(QLatin1String(text), QString(), 1);
        EXPECT_DOUBLE_EQ(Form->ExportInterval, 1.0) << text;
    }
    EditOptions(QStringLiteral("1e-9"), QString(), 1);
    EXPECT_DOUBLE_EQ(Form->ExportInterval, MinExportInterval);
    EditOptions(QStringLiteral(" 2.5 "), QString(), 1);
    EXPECT_DOUBLE_EQ(Form->ExportInterval, 2.5);
}

// The dialog's items, buttons and design texts.
TEST_F(Dialogs, ExportOptionsDesign)
{
    TFormExportOptions dialog(nullptr);
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(dialog.size(), QSize(370, 137));
    EXPECT_EQ(dialog.QXGradPanel1->BevelInner(), bvLowered);
    EXPECT_EQ(dialog.LabelSerialNumber->text(), QStringLiteral("Export Time Interval (sec):"));
    EXPECT_EQ(dialog.Label1->text(), QStringLiteral("Auto Convert Log Files:"));
    EXPECT_EQ(dialog.LabelSerialNumber->geometry(), QRect(15, 22, 226, 20));
    EXPECT_EQ(dialog.ComboBoxInterval->geometry(), QRect(245, 20, 100, 24));
    EXPECT_EQ(dialog.ComboBoxAutoExport->geometry(), QRect(245, 50, 100, 24));
    EXPECT_TRUE(dialog.ComboBoxInterval->isEditable());
    EXPECT_TRUE(dialog.ComboBoxAutoExport->isEditable());
    QStringList items;
    for (int i = 0; i < dialog.ComboBoxInterval->count(); ++i)
        items << dialog.ComboBoxInterval->itemText(i);
    EXPECT_EQ(items, (QStringList{QStringLiteral("0.1"), QStringLiteral("0.25"), QStringLiteral("0.5"), QStringLiteral("1")}));
    EXPECT_EQ(dialog.ComboBoxInterval->currentText(), QStringLiteral("1.0"));
    EXPECT_EQ(dialog.ComboBoxAutoExport->currentText(), QStringLiteral("Yes"));
    EXPECT_EQ(dialog.ComboBoxAutoExport->count(), 2);
    EXPECT_EQ(dialog.QXGradButton1->Caption(), QStringLiteral("OK"));
    EXPECT_EQ(dialog.QXGradButton1->geometry(), QRect(86, 97, 100, 25));
    EXPECT_EQ(dialog.QXGradButton2->Caption(), QStringLiteral("Cancel"));
    EXPECT_EQ(dialog.QXGradButton2->geometry(), QRect(196, 97, 100, 25));
}

// The interval text: the fewest decimals that give the number back, at least one.
TEST(ExportInterval, Format)
{
    const QLocale c = QLocale::c();
    EXPECT_EQ(FormatExportInterval(1.0, c), QStringLiteral("1.0"));
    EXPECT_EQ(FormatExportInterval(0.5, c), QStringLiteral("0.5"));
    EXPECT_EQ(FormatExportInterval(0.25, c), QStringLiteral("0.25"));
    EXPECT_EQ(FormatExportInterval(0.1, c), QStringLiteral("0.1"));
    EXPECT_EQ(FormatExportInterval(1500.0, QLocale(QLocale::English)), QStringLiteral("1500.0"));
    EXPECT_EQ(FormatExportInterval(0.25, QLocale(QLocale::German)), QStringLiteral("0,25"));
}

// With a decimal comma both the comma and the point are decimal separators, and a point is
// never taken for grouping.
TEST(ExportInterval, ParseWithRegionalSeparator)
{
    const QLocale german(QLocale::German);
    EXPECT_DOUBLE_EQ(ParseExportInterval(QStringLiteral("0,5"), german), 0.5);
    EXPECT_DOUBLE_EQ(ParseExportInterval(QStringLiteral("0.25"), german), 0.25);
    EXPECT_DOUBLE_EQ(ParseExportInterval(QStringLiteral("1.000"), german), 1.0);
    EXPECT_DOUBLE_EQ(ParseExportInterval(QStringLiteral("1.000,5"), german), 1.0);
    const QLocale english(QLocale::English);
    EXPECT_DOUBLE_EQ(ParseExportInterval(QStringLiteral("0.1"), english), 0.1);
    EXPECT_DOUBLE_EQ(ParseExportInterval(QStringLiteral("1,000"), english), 1.0);
    EXPECT_DOUBLE_EQ(CorrectedExportInterval(-1.0), 1.0);
    EXPECT_DOUBLE_EQ(CorrectedExportInterval(0.0005), MinExportInterval);
}

// With a German number format the dialog shows and reads the comma, its items included.
TEST_F(Dialogs, ExportOptionsWithDecimalComma)
{
    LocaleScope locale{QLocale(QLocale::German)};
    Open();
    Form->ExportInterval = 0.25;
    QString shown;
    QString firstItem;
    Services.DialogScript = [&](QDialog&) {
        shown = FormExportOptions->ComboBoxInterval->currentText();
        firstItem = FormExportOptions->ComboBoxInterval->itemText(0);
        FormExportOptions->ComboBoxInterval->setEditText(QStringLiteral("0,5"));
        return 1;
    };
    Form->csvfileexportoptions1->trigger();
    EXPECT_EQ(shown, QStringLiteral("0,25"));
    EXPECT_EQ(firstItem, QStringLiteral("0,1"));
    EXPECT_DOUBLE_EQ(Form->ExportInterval, 0.5);
}

// ---- Convert Log File(s) to .csv

// Two logs give two CSV files beside them and one message; the next Convert starts in their folder;
// no unit is needed.
TEST_F(Dialogs, ConvertTwoLogs)
{
    Open();
    Form->Timer1Timer();
    ASSERT_EQ(Form->Display, nullptr);
    EXPECT_TRUE(Form->ActionExportLogFile->isEnabled());
    const QString first = WriteLog(QStringLiteral("one.displog"));
    const QString second = WriteLog(QStringLiteral("TWO.DISPLOG"));
    const QString before = Form->LogFilePath;
    Services.ChosenFiles = {first, second};
    Form->ActionExportLogFile->trigger();
    ASSERT_EQ(Services.OpenRequests.size(), 1u);
    EXPECT_EQ(Services.OpenRequests[0].FilterIndex, 2);
    EXPECT_EQ(Services.OpenRequests[0].InitialDir, before);
    EXPECT_TRUE(ReadAll(Temp.filePath(QStringLiteral("logs/one.csv"))).startsWith("Time,"));
    EXPECT_TRUE(ReadAll(Temp.filePath(QStringLiteral("logs/TWO.csv"))).startsWith("Time,"));
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("Korvane Tessaly: Display Log Files Exported.")});
    EXPECT_EQ(Form->LogFilePath, QDir::toNativeSeparators(Temp.filePath(QStringLiteral("logs"))));

    // An existing CSV file is replaced; a cancelled dialog does nothing.
    ASSERT_TRUE(WriteFile(Temp.filePath(QStringLiteral("logs/one.csv")), {'o', 'l', 'd'}));
    Services.ChosenFiles = {first};
    Form->ActionExportLogFileExecute();
    EXPECT_TRUE(ReadAll(Temp.filePath(QStringLiteral("logs/one.csv"))).startsWith("Time,"));
    Services.ChosenFiles.clear();
    Form->ActionExportLogFileExecute();
    EXPECT_EQ(Services.Messages.size(), 2);
}

// The interval steps the rows; the user's decimal comma reaches the numbers.
TEST_F(Dialogs, ConvertUsesIntervalAndRegionalSeparator)
{
    Open();
    const QString log = WriteLog(QStringLiteral("run.displog"), 2.0);
    Services.ChosenFiles = {log};
    Form->ExportInterval = 0.5;
    Form->ActionExportLogFileExecute();
    const QList<QByteArray> rows = ReadAll(Temp.filePath(QStringLiteral("logs/run.csv"))).split('\n');
    ASSERT_GE(rows.size(), 3);
    EXPECT_TRUE(rows[1].startsWith("0.000,")) << rows[1].toStdString();
    EXPECT_TRUE(rows[2].startsWith("0.500,")) << rows[2].toStdString();

    LocaleScope locale{QLocale(QLocale::German)};
    Form->ActionExportLogFileExecute();
    const QList<QByteArray> comma = ReadAll(Temp.filePath(QStringLiteral("logs/run.csv"))).split('\n');
    ASSERT_GE(comma.size(), 3);
    EXPECT_TRUE(comma[2].startsWith("\"0,500\",")) << comma[2].toStdString();
}

// Closing the window during a conversion stops it at its next row: no partial CSV and no temporary
// file are left, and the window closes once the command has returned.
TEST_F(Dialogs, CloseStopsAConversion)
{
    Open();
    const QString log = WriteLog(QStringLiteral("long.displog"), 300.0);
    Services.ChosenFiles = {log};
    Form->ExportInterval = 0.01;
    QTimer::singleShot(0, Form.get(), [&] { Form->close(); });
    Form->ActionExportLogFileExecute();
    EXPECT_EQ(QDir(Temp.filePath(QStringLiteral("logs"))).entryList(QDir::Files), QStringList{QStringLiteral("long.displog")});
    EXPECT_TRUE(Services.Messages.isEmpty()) << Services.Messages.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(Form->isVisible());
}

// A file that is no log is named as not converted, the others are converted; a CSV file that
// cannot be created goes to the application's error report with its text; a log named .csv is
// never replaced by its own conversion.
TEST_F(Dialogs, ConvertFailures)
{
    Open();
    const QString good = WriteLog(QStringLiteral("good.displog"));
    const QString junk = Temp.filePath(QStringLiteral("logs/junk.displog"));
    ASSERT_TRUE(WriteFile(junk, {'n', 'o'}));
    const QString logAsCsv = WriteLog(QStringLiteral("odd.csv"));
    const QByteArray logBytes = ReadAll(logAsCsv);
    Services.ChosenFiles = {junk, good, logAsCsv};
    Form->ActionExportLogFileExecute();
    EXPECT_TRUE(QFile::exists(Temp.filePath(QStringLiteral("logs/good.csv"))));
    EXPECT_EQ(ReadAll(logAsCsv), logBytes);
    EXPECT_EQ(Services.Messages,
              QStringList{QStringLiteral("Log Export Error: The following log files could not be converted to .csv:\n"
                                         "\n\tjunk.displog: cannot be read: the log is cut short or damaged (ERR_FILE_READ)"
                                         "\n\todd.csv: the CSV file would replace the log itself")});

    Services.Messages.clear();
    const QString blocked = WriteLog(QStringLiteral("blocked.displog"));
    ASSERT_TRUE(QDir().mkpath(Temp.filePath(QStringLiteral("logs/blocked.csv/inside"))));
    Services.ChosenFiles = {blocked, good};
    Form->ActionExportLogFileExecute();
    ASSERT_EQ(Services.Errors.size(), 1);
    EXPECT_TRUE(Services.Errors[0].startsWith(QStringLiteral("Cannot create file \""))) << Services.Errors[0].toStdString();
    EXPECT_TRUE(Services.Messages.isEmpty());
    EXPECT_FALSE(Form->CommandRunning());
}

} // namespace

// The Send dialog's filters: Qt must read every pattern of a pair ("*.qxm; *.wzm" is two), and
// "*.*" means every file, one without an extension too. The filter texts read as written.
TEST_F(Dialogs, FileFiltersReadEveryPattern)
{
    Open();
    const QStringList names = QtNameFilters(Form->OpenDialog1.Filter);
    ASSERT_EQ(names.size(), 4);
    const std::vector<QStringList> expected = {{QStringLiteral("*.qxm"), QStringLiteral("*.wzm")},
                                               {QStringLiteral("*.displog")},
                                               {QStringLiteral("*.qxf")},
                                               {QStringLiteral("*")}};
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(names);
    auto* model = dialog.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    for (int i = 0; i < names.size(); ++i) {
        dialog.selectNameFilter(names[i]);
        EXPECT_EQ(model->nameFilters(), expected[static_cast<size_t>(i)]) << names[i].toStdString();
    }
    EXPECT_TRUE(names[0].startsWith(QStringLiteral("Korvane Map Files (*.qxm; *.wzm)")));
}
