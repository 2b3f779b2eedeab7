// Get, Send, drop and Delete through the window's handlers and the simulated unit, with the
// dialogs answered by the test: status texts, failure messages, what ends up on the PC and on
// the card, and how each command ends when a file fails or the unit goes away.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "LogGenerator.h"
#include "LogPlotData.h"
#include "LogViewerWindow.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Pattern(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(seed + i * 7);
    return bytes;
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QString Hint = QStringLiteral("\n\nVerify SD card is not locked.");

class Transfer : public ::testing::Test, public WindowTest {
protected:
    void SetUp() override
    {
        Dest = Temp.filePath(QStringLiteral("dest"));
        QDir().mkpath(Dest);
        Local = Temp.filePath(QStringLiteral("local"));
        QDir().mkpath(Local);
    }
    // A plugged unit with the card as the test left it, listed on the first tick.
    void Start(int tab = 0)
    {
        MakeUnit(true);
        Open();
        Form->TabControl1->setCurrentIndex(tab);
        Form->Timer1Timer();
        ASSERT_NE(Form->Display, nullptr);
    }
    void PutCardBytes(const QString& folder, const QString& name, const QByteArray& bytes)
    {
        QDir().mkpath(Card + QLatin1Char('/') + folder);
        ASSERT_TRUE(WriteBytes(CardPath(folder, name), bytes));
    }
    QString PutLocal(const QString& name, const QByteArray& bytes)
    {
        const QString path = Local + QLatin1Char('/') + name;
        EXPECT_TRUE(WriteBytes(path, bytes));
        return path;
    }
    void SetFaults(const std::string& text)
    {
        const std::optional<sim::FaultPlan> plan = sim::FaultPlan::Parse(text);
        ASSERT_TRUE(plan.has_value()) << text;
        Sim->SetFaultPlan(*plan);
    }
    // The command has ended: nothing left running, the panel gone, nothing reached the error report.
    void ExpectFinished()
    {
        EXPECT_FALSE(Form->CommandRunning());
        EXPECT_FALSE(Form->PanelProgress->isVisibleTo(Form.get()));
        EXPECT_TRUE(Services.Errors.isEmpty()) << Services.Errors.join(QLatin1Char('|')).toStdString();
    }
    QString DestPath(const QString& name) const { return Dest + QLatin1Char('/') + name; }
    // The status label as the command's first event pump finds it (Send, drop and a failed
    // Delete refresh the list at their end, which puts its own text there).
    QString StatusDuring(const std::function<void()>& command)
    {
        QString status;
        QTimer::singleShot(0, Form.get(), [&] { status = Form->LabelStatus->text(); });
        command();
        return status;
    }

    QString Dest;
    QString Local;
};

// ---- Get Selected Files

// One file gives the singular status text, three the plural; each got file holds the card's bytes,
// the chosen folder is remembered for the tab, and the current-file bar ends at the file's size.
TEST_F(Transfer, GetStatusTextsAndContents)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("a.qxm"), Pattern(2500, 1));
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("b.wzm"), Pattern(10, 2));
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("c.qxm"), Pattern(1024, 3));
    Start();
    Services.ChosenFolder = Dest;

    Select({QStringLiteral("a.qxm")});
    const QString startFolder = Form->MapFilePath;
    Form->ActionGetFiles->setEnabled(true);
    Form->ActionGetFilesExecute();
    EXPECT_EQ(Form->LabelStatus->text(), QStringLiteral("Getting 1 file from device."));
    ASSERT_EQ(Services.FolderRequests.size(), 1);
    EXPECT_EQ(Services.FolderRequests[0], QStringLiteral("Select Destination for your files. | ") + startFolder);
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("a.qxm"))), Pattern(2500, 1));
    EXPECT_EQ(Form->LabelCurrentFile->text(), QStringLiteral("a.qxm"));
    EXPECT_EQ(Form->ProgressBarCurrent->maximum(), 2500);
    EXPECT_EQ(Form->ProgressBarCurrent->value(), 2500);
    EXPECT_EQ(Form->MapFilePath, QDir::toNativeSeparators(Dest));
    EXPECT_FALSE(QFile::exists(DestPath(QStringLiteral("b.wzm"))));

    Select({QStringLiteral("a.qxm"), QStringLiteral("b.wzm"), QStringLiteral("c.qxm")});
    Form->ActionGetFilesExecute();
    EXPECT_EQ(Form->LabelStatus->text(), QStringLiteral("Getting 3 files from device."));
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("b.wzm"))), Pattern(10, 2));
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("c.qxm"))), Pattern(1024, 3));
    // Total counts the bytes of the whole selection.
    EXPECT_EQ(Form->ProgressBarTotal->maximum(), 2500 + 10 + 1024);
    EXPECT_EQ(Form->ProgressBarTotal->value(), 2500 + 10 + 1024);
    EXPECT_EQ(Form->Progress().TotalDone(), 3534u);
    EXPECT_TRUE(Services.Messages.isEmpty()) << Services.Messages.join(QLatin1Char('|')).toStdString();
    // The status line says what was done.
    EXPECT_TRUE(Form->LabelUnitState->text().endsWith(QStringLiteral(". Got 3 files to ") + QDir::toNativeSeparators(Dest)))
        << Form->LabelUnitState->text().toStdString();
    // The list is not refreshed by a get: an item the card lost meanwhile stays listed.
    EXPECT_EQ(ListedNames().size(), 3);
    ExpectFinished();
}

// A cancelled folder choice and an empty selection end the command with nothing changed.
TEST_F(Transfer, GetCancelledOrNothingSelected)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("a.qxm"), Pattern(20, 1));
    Start();
    const QString before = Form->MapFilePath;
    Form->ActionGetFilesExecute();
    EXPECT_TRUE(Services.FolderRequests.isEmpty());
    Select({QStringLiteral("a.qxm")});
    Form->ActionGetFilesExecute();
    EXPECT_EQ(Services.FolderRequests.size(), 1);
    EXPECT_EQ(Form->MapFilePath, before);
    EXPECT_TRUE(QDir(Dest).isEmpty());
    ExpectFinished();
}

// On the Logs tab a got log is converted beside itself while AutoExport is on, also when its
// extension is written in capitals; with AutoExport off only the log arrives.
TEST_F(Transfer, GetLogsAutoExportOnAndOff)
{
    LogSpec spec;
    spec.DurationSeconds = 3.0;
    const std::vector<uint8_t> log = GenerateDispLog(spec);
    const QByteArray bytes(reinterpret_cast<const char*>(log.data()), static_cast<qsizetype>(log.size()));
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("RUN1.DISPLOG"), bytes);
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("run2.displog"), bytes);
    Start(1);
    Services.ChosenFolder = Dest;
    Select({QStringLiteral("RUN1.DISPLOG"), QStringLiteral("run2.displog")});
    Form->ActionGetFilesExecute();
    EXPECT_EQ(Form->LogFilePath, QDir::toNativeSeparators(Dest));
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("RUN1.DISPLOG"))), bytes);
    EXPECT_TRUE(ReadAll(DestPath(QStringLiteral("RUN1.csv"))).startsWith("Time,"));
    EXPECT_TRUE(ReadAll(DestPath(QStringLiteral("run2.csv"))).startsWith("Time,"));

    const QString off = Temp.filePath(QStringLiteral("off"));
    QDir().mkpath(off);
    Services.ChosenFolder = off;
    Form->AutoExport = false;
    Form->ActionGetFilesExecute();
    EXPECT_EQ(QDir(off).entryList(QDir::Files), (QStringList{QStringLiteral("RUN1.DISPLOG"), QStringLiteral("run2.displog")}));
    EXPECT_TRUE(Services.Messages.isEmpty());
    ExpectFinished();
}

// A got log that is no log is still got; that it could not be converted is said.
TEST_F(Transfer, GetLogThatCannotBeConverted)
{
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("junk.displog"), QByteArray("not a log at all"));
    Start(1);
    Services.ChosenFolder = Dest;
    Select({QStringLiteral("junk.displog")});
    Form->ActionGetFilesExecute();
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("junk.displog"))), QByteArray("not a log at all"));
    EXPECT_FALSE(QFile::exists(DestPath(QStringLiteral("junk.csv"))));
    EXPECT_EQ(Services.Messages,
              QStringList{QStringLiteral("Log Export Error: The following log files could not be converted to .csv:\n\n\tjunk.displog: "
                                         "not a display log: bad signature (ERR_FILE_SIG)")});
    ExpectFinished();
}

// A CSV file that cannot be created beside a got log goes to the application's error report with
// the conversion's text; the log itself is got and the command ends normally.
TEST_F(Transfer, GetLogWhoseCsvCannotBeCreated)
{
    LogSpec spec;
    spec.DurationSeconds = 1.0;
    const std::vector<uint8_t> log = GenerateDispLog(spec);
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("run.displog"),
                 QByteArray(reinterpret_cast<const char*>(log.data()), static_cast<qsizetype>(log.size())));
    ASSERT_TRUE(QDir().mkpath(DestPath(QStringLiteral("run.csv/inside"))));
    Start(1);
    Services.ChosenFolder = Dest;
    Select({QStringLiteral("run.displog")});
    Form->ActionGetFilesExecute();
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("run.displog"))).size(), static_cast<qsizetype>(log.size()));
    ASSERT_EQ(Services.Errors.size(), 1);
    EXPECT_TRUE(Services.Errors[0].startsWith(QStringLiteral("Cannot create file \""))) << Services.Errors[0].toStdString();
    EXPECT_TRUE(Services.Messages.isEmpty());
    EXPECT_FALSE(Form->CommandRunning());
    EXPECT_FALSE(Form->PanelProgress->isVisibleTo(Form.get()));
}

// Getting a file that is already in the folder replaces it.
TEST_F(Transfer, GetReplacesExistingFile)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("a.qxm"), Pattern(300, 4));
    ASSERT_TRUE(WriteBytes(DestPath(QStringLiteral("a.qxm")), QByteArray(5000, 'x')));
    Start();
    Services.ChosenFolder = Dest;
    Select({QStringLiteral("a.qxm")});
    Form->ActionGetFilesExecute();
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("a.qxm"))), Pattern(300, 4));
    EXPECT_EQ(QDir(Dest).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("a.qxm")});
    ExpectFinished();
}

// Names the unit reports that would leave the chosen folder, or that the PC would store as
// something else (a device name), are never asked for; they are failed and named, the others got.
TEST_F(Transfer, GetRefusesNamesThatLeaveTheFolder)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("AUX.qxm"), Pattern(10, 5));
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("ok.qxm"), Pattern(10, 6));
    Start();
    // A unit that reported these names would have them in the list like any other.
    Form->ListBoxFiles->addItem(QStringLiteral("..\\..\\evil.qxm"));
    Form->ListBoxFiles->addItem(QStringLiteral("../up.qxm"));
    Services.ChosenFolder = Dest;
    Select({QStringLiteral("AUX.qxm"), QStringLiteral("ok.qxm"), QStringLiteral("..\\..\\evil.qxm"),
            QStringLiteral("../up.qxm")});
    Form->ActionGetFilesExecute();
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("ok.qxm"))), Pattern(10, 6));
    EXPECT_EQ(QDir(Dest).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("ok.qxm")});
    EXPECT_EQ(QDir(Temp.path()).entryList(QStringList{QStringLiteral("*.qxm")}, QDir::Files), QStringList());
    ASSERT_EQ(Services.Messages.size(), 1);
    const QString& message = Services.Messages[0];
    EXPECT_TRUE(message.startsWith(QStringLiteral("File Get Error: The following files could not be got from the device:\n")))
        << message.toStdString();
    for (const char* name : {"AUX.qxm", "..\\..\\evil.qxm", "../up.qxm"})
        EXPECT_TRUE(message.contains(QStringLiteral("\n\t") + QLatin1String(name))) << name;
    EXPECT_FALSE(message.contains(QStringLiteral("ok.qxm")));
    ExpectFinished();
}

// A got file that cannot be written is a failed file: the command goes on to the next file,
// hides its panel, names the file, and a folder of that name in the way is left as it was.
TEST_F(Transfer, GetFileThatCannotBeCreated)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("a.qxm"), Pattern(100, 7));
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("b.qxm"), Pattern(100, 8));
    ASSERT_TRUE(QDir().mkpath(DestPath(QStringLiteral("a.qxm")) + QStringLiteral("/inside")));
    Start();
    Services.ChosenFolder = Dest;
    Select({QStringLiteral("a.qxm"), QStringLiteral("b.qxm")});
    Form->ActionGetFilesExecute();
    EXPECT_TRUE(QFileInfo(DestPath(QStringLiteral("a.qxm")) + QStringLiteral("/inside")).isDir());
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("b.qxm"))), Pattern(100, 8));
    EXPECT_EQ(Services.Messages,
              QStringList{QStringLiteral("File Get Error: The following files could not be got from the device:\n\n\ta.qxm: cannot be written on the PC: Is a directory")});
    ExpectFinished();

    // A chosen folder that does not exist fails every file the same way.
    Services.Messages.clear();
    Services.ChosenFolder = Temp.filePath(QStringLiteral("missing"));
    Form->ActionGetFilesExecute();
    EXPECT_EQ(Services.Messages,
              QStringList{QStringLiteral("File Get Error: The following files could not be got from the device:\n\n\ta.qxm: PC folder not writable: No such file or directory"
                                             "\n\tb.qxm: PC folder not writable: No such file or directory")});
    EXPECT_FALSE(QFileInfo::exists(Temp.filePath(QStringLiteral("missing"))));
    // ... and is not remembered for the next get.
    EXPECT_EQ(Form->MapFilePath, QDir::toNativeSeparators(Dest));
    ExpectFinished();
}

// The unit unplugged in the middle of a get: the file is failed and named, a file of the same
// name already on the PC is left whole, the later files fail too, and the window is ready again.
TEST_F(Transfer, GetWithUnitUnpluggedMidway)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("big.qxm"), Pattern(20000, 9));
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("next.qxm"), Pattern(100, 10));
    ASSERT_TRUE(WriteBytes(DestPath(QStringLiteral("big.qxm")), QByteArray("older copy")));
    Start();
    Services.ChosenFolder = Dest;
    Select({QStringLiteral("big.qxm"), QStringLiteral("next.qxm")});
    SetFaults("unplug-after=60");
    Form->ActionGetFilesExecute();
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("big.qxm"))), QByteArray("older copy"));
    EXPECT_FALSE(QFile::exists(DestPath(QStringLiteral("next.qxm"))));
    EXPECT_EQ(QDir(Dest).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("big.qxm")});
    EXPECT_EQ(Services.Messages,
              QStringList{QStringLiteral("File Get Error: The following files could not be got from the device:\n\n\tbig.qxm: the unit went away (ERR_DEVICE_CLOSED)"
                                             "\n\tnext.qxm: the unit went away (ERR_WRITE_FAILED)")});
    ExpectFinished();
    Form->Timer1Timer();
    EXPECT_EQ(Form->Display, nullptr);
}

// A double-click on the list runs Get Selected Files.
TEST_F(Transfer, DoubleClickGets)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("a.qxm"), Pattern(64, 11));
    Start();
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    Services.ChosenFolder = Dest;
    const QRect rect = Form->ListBoxFiles->visualItemRect(Form->ListBoxFiles->item(0));
    // The first click of a double-click selects the item.
    QTest::mouseClick(Form->ListBoxFiles->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(Form->ListBoxFiles->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(Services.FolderRequests.size(), 1);
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("a.qxm"))), Pattern(64, 11));
}

// ---- Send Files To Device

// Sending from the Maps tab asks with the map filter in the Maps folder; whatever the dialog gives
// is sent, a log file included, into A:\Maps; an empty file is not sent (it would only delete the
// unit's file of that name) and is named; the folder is remembered and the list refreshed.
TEST_F(Transfer, SendFromMapsTab)
{
    Start();
    const QString map = PutLocal(QStringLiteral("street.qxm"), Pattern(3000, 12));
    const QString log = PutLocal(QStringLiteral("run.displog"), Pattern(10, 13));
    const QString empty = PutLocal(QStringLiteral("empty.wzm"), QByteArray());
    Services.ChosenFiles = {map, log, empty};
    const QString startFolder = Form->MapFilePath;
    EXPECT_EQ(StatusDuring([&] { Form->ActionSendFilesExecute(); }), QStringLiteral("Sending 3 files to device."));
    ASSERT_EQ(Services.OpenRequests.size(), 1u);
    EXPECT_EQ(Services.OpenRequests[0].FilterIndex, 1);
    EXPECT_EQ(Services.OpenRequests[0].InitialDir, startFolder);
    EXPECT_TRUE(Services.OpenRequests[0].FileName.isEmpty());
    EXPECT_EQ(ReadAll(CardPath(QStringLiteral("Maps"), QStringLiteral("street.qxm"))), Pattern(3000, 12));
    EXPECT_EQ(ReadAll(CardPath(QStringLiteral("Maps"), QStringLiteral("run.displog"))), Pattern(10, 13));
    EXPECT_EQ(Form->MapFilePath, QDir::toNativeSeparators(Local));
    EXPECT_FALSE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("empty.wzm"))));
    EXPECT_EQ(ListedNames(), (QStringList{QStringLiteral("run.displog"), QStringLiteral("street.qxm")}));
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("File Send Error: The following files could not be sent:   \n"
                                                            "\n\tempty.wzm: empty file")});
    Services.Messages.clear();
    ExpectFinished();

    // One file: the singular text; the Logs tab asks with the log filter.
    Form->TabControl1->setCurrentIndex(1);
    Services.ChosenFiles = {log};
    EXPECT_EQ(StatusDuring([&] { Form->ActionSendFilesExecute(); }), QStringLiteral("Sending 1 file to device."));
    EXPECT_EQ(Services.OpenRequests.back().FilterIndex, 2);
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("run.displog")});
}

// The first failure stops the sending: the failed file and every later one are listed in the
// "File Send Error" message; the local files are untouched.
TEST_F(Transfer, SendStopsAtFirstFailure)
{
    Start();
    const QString a = PutLocal(QStringLiteral("a.qxm"), Pattern(10, 14));
    const QString b = PutLocal(QStringLiteral("b.qxm"), Pattern(2000, 15));
    const QString c = PutLocal(QStringLiteral("c.qxm"), Pattern(10, 16));
    Services.ChosenFiles = {a, b, c};
    SetFaults("status=0x4012:0x04@2");
    Form->ActionSendFilesExecute();
    EXPECT_TRUE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("a.qxm"))));
    EXPECT_FALSE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("c.qxm"))));
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("File Send Error: The following files could not be sent:   \n"
                                                            "\n\tb.qxm: card locked: the unit refused with status 0x04\n\tc.qxm: not tried after the failure above") +
                                             Hint});
    EXPECT_EQ(ReadAll(b), Pattern(2000, 15));
    ExpectFinished();
}

// A chosen file that cannot be read (gone since it was chosen, or a folder) is refused before
// anything is sent, with its reason; it does not stop the other files, and the card's write
// protection is not suggested for it.
TEST_F(Transfer, SendFileThatCannotBeRead)
{
    Start();
    const QString gone = Local + QStringLiteral("/gone.qxm");
    const QString folder = Local + QStringLiteral("/folder.qxm");
    QDir().mkpath(folder);
    const QString good = PutLocal(QStringLiteral("good.qxm"), Pattern(10, 17));
    Services.ChosenFiles = {good, gone, folder};
    Form->ActionSendFilesExecute();
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("File Send Error: The following files could not be sent:   \n"
                                                            "\n\tgone.qxm: No such file or directory\n\tfolder.qxm: not a regular file")});
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("good.qxm")});
    ExpectFinished();
}

// The unit unplugged in the middle of a send: the file is failed and named, the PC's copy is
// whole, the list (refreshed from a unit that is gone) is empty.
TEST_F(Transfer, SendWithUnitUnpluggedMidway)
{
    Start();
    const QString big = PutLocal(QStringLiteral("big.qxm"), Pattern(30000, 18));
    const QString after = PutLocal(QStringLiteral("after.qxm"), Pattern(10, 19));
    Services.ChosenFiles = {big, after};
    SetFaults("unplug-after=100");
    Form->ActionSendFilesExecute();
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("File Send Error: The following files could not be sent:   \n"
                                                            "\n\tbig.qxm: left incomplete on the unit (5,120 of 30,000 bytes): send it again or delete "
                                                            "it; the unit went away (ERR_WRITE_FAILED)"
                                                            "\n\tafter.qxm: not tried after the failure above") +
                                             Hint});
    EXPECT_EQ(ReadAll(big), Pattern(30000, 18));
    EXPECT_EQ(ListedNames(), QStringList());
    ExpectFinished();
}

// Without a unit Send only refreshes the (empty) list.
TEST_F(Transfer, SendWithoutUnit)
{
    MakeUnit(false);
    Open();
    Form->Timer1Timer();
    Form->DevicePath = QStringLiteral("A:\\Maps");
    Form->ActionSendFilesExecute();
    EXPECT_TRUE(Services.OpenRequests.empty());
    EXPECT_TRUE(Form->DevicePath.isEmpty());
    ExpectFinished();
}

// ---- dropped files

// On the Maps tab a map file is sent; a log file and an unrelated file are listed as not sent.
TEST_F(Transfer, DropMixedFilesOnMapsTab)
{
    Start();
    const QString map = PutLocal(QStringLiteral("track.wzm"), Pattern(1500, 20));
    const QString log = PutLocal(QStringLiteral("run.displog"), Pattern(10, 21));
    const QString text = PutLocal(QStringLiteral("notes.txt"), Pattern(10, 22));
    EXPECT_EQ(StatusDuring([&] { Form->WMDropFiles({map, log, text}); }),
              QStringLiteral("Sending 3 dropped files to device."));
    EXPECT_EQ(ReadAll(CardPath(QStringLiteral("Maps"), QStringLiteral("track.wzm"))), Pattern(1500, 20));
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("track.wzm")});
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("File Send Error: The following files could not be sent:   \n"
                                                            "\n\trun.displog: not a map file (.qxm or .wzm)"
                                                            "\n\tnotes.txt: not a map file (.qxm or .wzm)")});
    ExpectFinished();
}

// On the Logs tab only logs are taken; an empty or missing file is not sent; one file is named in
// the singular; every file is tried after a failure.
TEST_F(Transfer, DropOnLogsTab)
{
    Start(1);
    const QString empty = PutLocal(QStringLiteral("empty.displog"), QByteArray());
    const QString log = PutLocal(QStringLiteral("RUN.DisplOG"), Pattern(100, 23));
    Form->WMDropFiles({empty, Local + QStringLiteral("/missing.displog"), log});
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("RUN.DisplOG")});
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("File Send Error: The following files could not be sent:   \n"
                                                            "\n\tempty.displog: empty file\n\tmissing.displog: No such file or directory")});
    Services.Messages.clear();
    EXPECT_EQ(StatusDuring([&] { Form->WMDropFiles({log}); }), QStringLiteral("Sending 1 dropped file to device."));
    EXPECT_TRUE(Services.Messages.isEmpty());
    ExpectFinished();
}

// Without a unit a drop shows nothing and leaves the list empty.
TEST_F(Transfer, DropWithoutUnit)
{
    MakeUnit(false);
    Open();
    Form->Timer1Timer();
    Form->WMDropFiles({PutLocal(QStringLiteral("a.qxm"), Pattern(5, 24))});
    EXPECT_TRUE(Services.Messages.isEmpty());
    EXPECT_EQ(Form->ListBoxFiles->count(), 0);
    ExpectFinished();
}

// ---- Delete Selected Files

// Three selected files where the second fails: the first is deleted, the second and third are
// listed, and the list is rebuilt from the unit.
TEST_F(Transfer, DeleteThreeWhereSecondFails)
{
    for (const char* name : {"a.qxm", "b.qxm", "c.qxm", "d.qxm"})
        PutCardBytes(QStringLiteral("Maps"), QLatin1String(name), Pattern(10, 25));
    Start();
    Select({QStringLiteral("a.qxm"), QStringLiteral("b.qxm"), QStringLiteral("c.qxm")});
    SetFaults("status=0x4014:0x04@2");
    EXPECT_EQ(StatusDuring([&] { Form->ActionDeleteFilesExecute(); }), QStringLiteral("Deleting Selected Files."));
    EXPECT_FALSE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("a.qxm"))));
    EXPECT_TRUE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("b.qxm"))));
    EXPECT_TRUE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("c.qxm"))));
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("File Deletion Error: The following files could not be deleted:\n"
                                                            "\n\tb.qxm: card locked: the unit refused with status 0x04\n\tc.qxm: not tried after the failure above") +
                                             Hint});
    EXPECT_EQ(ListedNames(), (QStringList{QStringLiteral("b.qxm"), QStringLiteral("c.qxm"), QStringLiteral("d.qxm")}));
    ExpectFinished();
}

// All deleted: the items leave the list without a new listing (a file that appeared on the card
// meanwhile is not shown); nothing selected changes nothing.
TEST_F(Transfer, DeleteAllAndNothing)
{
    for (const char* name : {"a.qxm", "b.qxm", "c.qxm"})
        PutCardBytes(QStringLiteral("Maps"), QLatin1String(name), Pattern(10, 26));
    Start();
    Select({});
    Form->ActionDeleteFilesExecute();
    EXPECT_EQ(ListedNames().size(), 3);
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("new.qxm"), Pattern(10, 27));
    Select({QStringLiteral("a.qxm"), QStringLiteral("c.qxm")});
    Form->ActionDeleteFilesExecute();
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("b.qxm")});
    EXPECT_FALSE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("a.qxm"))));
    EXPECT_FALSE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("c.qxm"))));
    EXPECT_TRUE(Services.Messages.isEmpty());
    ExpectFinished();
}

// A locked card refuses the first deletion: every selected file is listed.
TEST_F(Transfer, DeleteOnLockedCard)
{
    for (const char* name : {"a.qxm", "b.qxm"})
        PutCardBytes(QStringLiteral("Maps"), QLatin1String(name), Pattern(10, 28));
    Start();
    Sim->SetCardLocked(true);
    Select({QStringLiteral("a.qxm"), QStringLiteral("b.qxm")});
    Form->ActionDeleteFilesExecute();
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("File Deletion Error: The following files could not be deleted:\n"
                                                            "\n\ta.qxm: card locked: the unit refused with status 0x04\n\tb.qxm: not tried after the failure above") +
                                             Hint});
    EXPECT_EQ(ListedNames().size(), 2);
}

// The unit unplugged during the second deletion: it and the rest are listed as not deleted, the list
// (rebuilt from a unit that is gone) is empty, and the next tick drops the unit.
TEST_F(Transfer, DeleteWithUnitUnpluggedMidway)
{
    for (const char* name : {"a.qxm", "b.qxm", "c.qxm"})
        PutCardBytes(QStringLiteral("Maps"), QLatin1String(name), Pattern(10, 29));
    Start();
    Select({QStringLiteral("a.qxm"), QStringLiteral("b.qxm"), QStringLiteral("c.qxm")});
    // Gone as soon as the removal of the second file has reached it (after the first file was
    // asked for, deleted and confirmed): that deletion is done, but never confirmed, so it counts
    // as failed.
    SetFaults("unplug-after=9");
    Form->ActionDeleteFilesExecute();
    EXPECT_FALSE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("a.qxm"))));
    EXPECT_FALSE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("b.qxm"))));
    EXPECT_TRUE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("c.qxm"))));
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("File Deletion Error: The following files could not be deleted:\n"
                                                            "\n\tb.qxm: the unit went away (ERR_DEVICE_CLOSED)\n\tc.qxm: not tried after the failure above") +
                                             Hint});
    EXPECT_EQ(ListedNames(), QStringList());
    ExpectFinished();
    Form->Timer1Timer();
    EXPECT_EQ(Form->Display, nullptr);
}

// A tick during a get waits for it: the object the get uses is not taken from under it.
TEST_F(Transfer, TickDuringGetIsDeferred)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("a.qxm"), Pattern(5000, 30));
    Start();
    Services.ChosenFolder = Dest;
    Select({QStringLiteral("a.qxm")});
    bool kept = false;
    QTimer::singleShot(0, [&] {
        Sim->Unplug();
        Form->Timer1Timer();
        kept = Form->Display != nullptr;
        Form->ActionDeleteFilesExecute();
    });
    Form->ActionGetFilesExecute();
    EXPECT_TRUE(kept);
    EXPECT_EQ(Form->RefusedCommands(), 1);
    EXPECT_EQ(Form->Display, nullptr);
    ExpectFinished();
}

} // namespace

// A listing the unit stops answering keeps the entries that arrived and says, over the list, that
// it may be incomplete; the next whole listing takes the notice away.
TEST_F(Transfer, ListingCutShortIsShown)
{
    for (const char* name : {"a.qxm", "b.qxm", "c.qxm"})
        PutCardBytes(QStringLiteral("Maps"), QLatin1String(name), Pattern(10, 30));
    Start();
    // Laid out at its first-run size, where the list holds the note.
    Form->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(ListedNames().size(), 3);
    SetFaults("mute-after=3");
    Form->RefreshFileList(Form->DevicePath);
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("a.qxm")});
    EXPECT_TRUE(Form->LabelOpenError->isVisibleTo(Form.get()));
    EXPECT_TRUE(Form->LabelOpenError->text().contains(QStringLiteral("incomplete"))) << Form->LabelOpenError->text().toStdString();
    SetFaults("");
    Form->RefreshFileList(Form->DevicePath);
    EXPECT_EQ(ListedNames().size(), 3);
    EXPECT_FALSE(Form->LabelOpenError->isVisibleTo(Form.get()));
}

// A listing the unit refuses is not taken for a whole one: the note over the list and the status
// line give the unit's status. Each is shown whole or not at all, also at the window's minimum
// size, where the list is too small for the note and the status line wraps.
TEST_F(Transfer, RefusedListingIsShownWhole)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("a.qxm"), Pattern(10, 30));
    Start();
    Form->show();
    QCoreApplication::processEvents();
    SetFaults("status=0x4010:0x08");
    Form->RefreshFileList(Form->DevicePath);
    EXPECT_TRUE(ListedNames().isEmpty());
    EXPECT_EQ(Form->LabelOpenError->text(),
              QStringLiteral("The list may be incomplete: the unit refused the listing with status 0x08."));
    EXPECT_TRUE(Form->LabelOpenError->isVisibleTo(Form.get()));
    const QString note = QStringLiteral("File list incomplete: the unit refused the listing with status 0x08");
    EXPECT_TRUE(Form->LabelUnitState->text().contains(note)) << Form->LabelUnitState->text().toStdString();

    Form->resize(Form->minimumSize());
    QCoreApplication::processEvents();
    Form->RefreshFileList(Form->DevicePath);
    QCoreApplication::processEvents();
    const QLabel* over = Form->LabelOpenError;
    if (over->isVisibleTo(Form.get())) {
        EXPECT_GE(over->height(), over->heightForWidth(over->width()));
        EXPECT_TRUE(Form->ListBoxFiles->viewport()->rect().contains(over->geometry()));
    }
    const QLabel* status = Form->LabelUnitState;
    EXPECT_TRUE(status->text().contains(note));
    EXPECT_GE(status->height(), status->heightForWidth(status->width())) << status->text().toStdString();
}

// The status line notes a listing cut short, and a whole listing takes the note away.
TEST_F(Transfer, ListingCutShortInStatusLine)
{
    for (const char* name : {"a.qxm", "b.qxm", "c.qxm"})
        PutCardBytes(QStringLiteral("Maps"), QLatin1String(name), Pattern(10, 30));
    Start();
    SetFaults("mute-after=3");
    Form->RefreshFileList(Form->DevicePath);
    EXPECT_TRUE(Form->LabelUnitState->text().contains(QStringLiteral("File list incomplete")))
        << Form->LabelUnitState->text().toStdString();
    SetFaults("");
    Form->RefreshFileList(Form->DevicePath);
    EXPECT_FALSE(Form->LabelUnitState->text().contains(QStringLiteral("incomplete")));
}

// Cancel on the progress panel, for every command that shows it.
class Cancel : public Transfer {
protected:
    // Clicks Cancel once `when` holds, checked at every pass of the event loop while the command
    // runs; `atClick` then holds the bytes of the current file done at that moment.
    void CancelWhen(std::function<bool()> when)
    {
        auto* poll = new QTimer(Form.get());
        poll->setInterval(0);
        QObject::connect(poll, &QTimer::timeout, Form.get(), [this, poll, when = std::move(when)] {
            if (!Form->PanelProgress->isVisibleTo(Form.get()) || !when())
                return;
            poll->stop();
            Figures = Form->LabelFigures->text();
            AtClick = Form->Progress().FileDone();
            EXPECT_FALSE(Form->ActionGetFiles->isEnabled());
            EXPECT_FALSE(Form->ActionExportLogFile->isEnabled());
            EXPECT_FALSE(Form->TabControl1->isEnabled());
            QTest::mouseClick(Form->ButtonCancel, Qt::LeftButton);
        });
        poll->start();
    }
    QString Figures;
    uint64_t AtClick = 0;
};

// A 590 KB get on the full-speed link shows its percent, speed and time left; Cancel ends it
// within one block of the click, leaves no file, keeps the older copy, and says what was got.
TEST_F(Cancel, GetStopsWithinABlockAndLeavesNoFile)
{
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("early.displog"), Pattern(300, 1));
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("long.displog"), Pattern(590 * 1024, 2));
    ASSERT_TRUE(WriteBytes(DestPath(QStringLiteral("long.displog")), QByteArray("older copy")));
    MakeUnit(true, [](sim::SimOptions& options) { options.Link = sim::LinkModel::FullSpeed; });
    Open();
    Form->TabControl1->setCurrentIndex(1);
    Form->Timer1Timer();
    Form->AutoExport = false;
    Services.ChosenFolder = Dest;
    Select({QStringLiteral("early.displog"), QStringLiteral("long.displog")});
    CancelWhen([this] { return Form->Progress().FileDone() >= 40 * 1024 && Form->Progress().FileSize() > 300; });
    Form->ActionGetFilesExecute();

    EXPECT_TRUE(Figures.contains(QStringLiteral("%, "))) << Figures.toStdString();
    EXPECT_TRUE(Figures.contains(QStringLiteral("KB/s"))) << Figures.toStdString();
    EXPECT_TRUE(Figures.contains(QStringLiteral(" left"))) << Figures.toStdString();
    EXPECT_TRUE(Figures.contains(QStringLiteral("of 590 KB"))) << Figures.toStdString();
    EXPECT_LE(Form->Progress().TotalDone(), 300 + AtClick + 1024);
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("long.displog"))), QByteArray("older copy"));
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("early.displog"))), Pattern(300, 1));
    EXPECT_EQ(QDir(Dest).entryList(QDir::Files | QDir::Hidden).size(), 2);
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("Korvane Tessaly: Get cancelled.\n\nGot:\n\tearly.displog"
                                                            "\n\nNot got:\n\tlong.displog: cancelled")});
    ExpectFinished();
    EXPECT_TRUE(Form->ActionGetFiles->isEnabled());
    EXPECT_TRUE(Form->TabControl1->isEnabled());
}

// A send cancelled mid-file is reported as not sent, and no part of it stays on the card; a
// send cancelled before its first block keeps the unit's older file.
TEST_F(Cancel, SendLeavesNoPartOnTheCard)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("keep.qxm"), Pattern(50, 3));
    Start();
    Services.ChosenFiles = {PutLocal(QStringLiteral("big.qxm"), Pattern(20000, 4)),
                            PutLocal(QStringLiteral("keep.qxm"), Pattern(60, 5))};
    CancelWhen([this] { return Form->Progress().FileDone() >= 5000; });
    Form->ActionSendFilesExecute();
    EXPECT_FALSE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("big.qxm"))));
    EXPECT_EQ(ReadAll(CardPath(QStringLiteral("Maps"), QStringLiteral("keep.qxm"))), Pattern(50, 3));
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("Korvane Tessaly: Send cancelled.\n\nSent: none"
                                                            "\n\nNot sent:\n\tbig.qxm: cancelled; the part sent was removed from the unit"
                                                            "\n\tkeep.qxm: cancelled")});
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("keep.qxm")});
    ExpectFinished();

    // Cancelled before the first block: the unit's file of that name is not touched.
    Services.Messages.clear();
    Services.ChosenFiles = {PutLocal(QStringLiteral("keep.qxm"), Pattern(60, 6))};
    CancelWhen([] { return true; });
    Form->ActionSendFilesExecute();
    EXPECT_EQ(ReadAll(CardPath(QStringLiteral("Maps"), QStringLiteral("keep.qxm"))), Pattern(50, 3));
    ExpectFinished();
}

// Delete and the listing stop between two files or entries; each says what it did.
TEST_F(Cancel, DeleteAndListingStopBetweenItems)
{
    for (const char* name : {"a.qxm", "b.qxm", "c.qxm"})
        PutCardBytes(QStringLiteral("Maps"), QLatin1String(name), Pattern(10, 7));
    Start();
    Select({QStringLiteral("a.qxm"), QStringLiteral("b.qxm"), QStringLiteral("c.qxm")});
    int deletedAtClick = -1;
    CancelWhen([&] {
        deletedAtClick = 3 - static_cast<int>(QDir(Card + QStringLiteral("/Maps")).entryList(QDir::Files).size());
        return deletedAtClick == 1;
    });
    Form->ActionDeleteFilesExecute();
    EXPECT_EQ(ListedNames(), (QStringList{QStringLiteral("b.qxm"), QStringLiteral("c.qxm")}));
    EXPECT_TRUE(QFileInfo::exists(CardPath(QStringLiteral("Maps"), QStringLiteral("b.qxm"))));
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("Korvane Tessaly: Delete cancelled.\n\nDeleted:\n\ta.qxm"
                                                            "\n\nNot deleted:\n\tb.qxm: cancelled\n\tc.qxm: cancelled")});
    ExpectFinished();

    CancelWhen([this] { return Form->ListBoxFiles->count() == 1; });
    Form->ActionRefreshFileListExecute();
    EXPECT_EQ(ListedNames().size(), 1);
    EXPECT_TRUE(Form->LabelOpenError->text().contains(QStringLiteral("cancelled")));
    EXPECT_TRUE(Form->LabelUnitState->text().contains(QStringLiteral("listing was cancelled")));
}

// A tab switched while a transfer runs shows no files of the old folder, then its own listing.
TEST_F(Cancel, TabSwitchDuringTransferShowsNoOldFiles)
{
    PutCardBytes(QStringLiteral("Maps"), QStringLiteral("a.qxm"), Pattern(5000, 8));
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("run.displog"), Pattern(10, 9));
    Start();
    Services.ChosenFolder = Dest;
    Select({QStringLiteral("a.qxm")});
    int shownDuring = -1;
    QTimer::singleShot(0, Form.get(), [&] {
        Form->TabControl1->setCurrentIndex(1);
        shownDuring = Form->ListBoxFiles->count();
    });
    Form->ActionGetFilesExecute();
    EXPECT_EQ(shownDuring, 0);
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("run.displog")});
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("a.qxm"))), Pattern(5000, 8));
}

// "View Selected Log" gets the log of the Logs tab to a temporary file and opens a viewer on it;
// "View Log File" opens the chosen logs on the PC, starting in the log folder.
TEST_F(Transfer, ViewLogsFromTheUnitAndThePc)
{
    LogSpec spec;
    spec.DurationSeconds = 2.0;
    const std::vector<uint8_t> log = GenerateDispLog(spec);
    const QByteArray bytes(reinterpret_cast<const char*>(log.data()), static_cast<qsizetype>(log.size()));
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("run.displog"), bytes);
    Start(1);
    EXPECT_TRUE(Form->ActionViewUnitLog->isEnabled());
    Select({QStringLiteral("run.displog")});
    Form->ActionViewUnitLogExecute();
    QList<LogViewerWindow*> viewers = Form->findChildren<LogViewerWindow*>();
    ASSERT_EQ(viewers.size(), 1);
    EXPECT_TRUE(viewers[0]->Path().endsWith(QStringLiteral("/run.displog")));
    EXPECT_EQ(viewers[0]->Data().ChannelCount(), 8u);
    EXPECT_TRUE(Services.Messages.isEmpty());
    ExpectFinished();

    Services.ChosenFiles = {PutLocal(QStringLiteral("local.displog"), bytes)};
    Form->ActionViewLogFileExecute();
    ASSERT_EQ(Services.OpenRequests.size(), 1u);
    EXPECT_EQ(Services.OpenRequests[0].FilterIndex, 2);
    EXPECT_EQ(Services.OpenRequests[0].InitialDir, Form->LogFilePath);
    EXPECT_EQ(Form->findChildren<LogViewerWindow*>().size(), 2);

    // Only a log of the unit's Logs folder can be viewed from the list.
    Form->TabControl1->setCurrentIndex(0);
    EXPECT_FALSE(Form->ActionViewUnitLog->isEnabled());
}

// Get New Files gets only what the tab's working folder lacks: a file held already (same name and
// size) is not asked for, one of another size is got again with the older copy kept as NAME.1.
TEST_F(Transfer, GetNewFilesGetsOnlyWhatThePcLacks)
{
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("a.displog"), Pattern(1200, 1));
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("b.displog"), Pattern(900, 2));
    PutCardBytes(QStringLiteral("Logs"), QStringLiteral("c.displog"), Pattern(700, 3));
    Start(1);
    Form->AutoExport = false;
    Form->LogFilePath = Dest;
    ASSERT_TRUE(WriteBytes(DestPath(QStringLiteral("a.displog")), Pattern(1200, 1)));
    ASSERT_TRUE(WriteBytes(DestPath(QStringLiteral("b.displog")), Pattern(10, 9)));
    Sim->ResetCounts();
    Form->ActionGetNewFiles->trigger();
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("b.displog"))), Pattern(900, 2));
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("b.displog.1"))), Pattern(10, 9));
    EXPECT_EQ(ReadAll(DestPath(QStringLiteral("c.displog"))), Pattern(700, 3));
    EXPECT_TRUE(Services.Messages.isEmpty()) << Services.Messages.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(Form->LabelUnitState->text().contains(QStringLiteral("Got 2 files new to ")))
        << Form->LabelUnitState->text().toStdString();
    // Only the two files were read from the unit: a second run gets nothing.
    const QDateTime before = QFileInfo(DestPath(QStringLiteral("c.displog"))).lastModified();
    Form->ActionGetNewFiles->trigger();
    EXPECT_TRUE(Form->LabelUnitState->text().contains(QStringLiteral("Got 0 files new to ")));
    EXPECT_EQ(QFileInfo(DestPath(QStringLiteral("c.displog"))).lastModified(), before);
    EXPECT_FALSE(QFile::exists(DestPath(QStringLiteral("c.displog.1"))));
    ExpectFinished();
}
