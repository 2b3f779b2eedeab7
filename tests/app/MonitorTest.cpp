// The connection monitor and the file list, through the real window and the simulated unit.
#include <QListWidget>
#include <QProgressBar>
#include <QTabBar>
#include <QTimer>
#include <QLabel>
#include <QDir>
#include <QFile>
#include <QAction>
#include <QStatusBar>
#include <QTest>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "TestHosts.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"

namespace {

class Monitor : public ::testing::Test, public WindowTest {
protected:
    // The five commands that follow `Display`.
    std::vector<QAction*> DeviceActions() const
    {
        return {Form->ActionRefreshFileList, Form->ActionGetDevInfo, Form->ActionGetFiles, Form->ActionSendFiles,
                Form->ActionDeleteFiles};
    }
    void ExpectDeviceActions(bool enabled) const
    {
        for (QAction* action : DeviceActions())
            EXPECT_EQ(action->isEnabled(), enabled) << action->text().toStdString();
    }
};

// Without a unit only the Convert command is enabled and the list stays empty.
TEST_F(Monitor, StartWithNoUnit)
{
    MakeUnit(false);
    Open();
    Form->Timer1Timer();
    EXPECT_EQ(Form->Display, nullptr);
    EXPECT_EQ(Form->Bootloader, nullptr);
    EXPECT_FALSE(Form->ActionUpdateFirmware->isEnabled());
    ExpectDeviceActions(false);
    EXPECT_TRUE(Form->ActionExportLogFile->isEnabled());
    EXPECT_EQ(Form->ListBoxFiles->count(), 0);
    EXPECT_TRUE(Form->DevicePath.isEmpty());
    EXPECT_EQ(Form->LabelUnitState->text(), QStringLiteral("No unit connected"));
}

// The first tick that finds a unit opens it and lists the selected tab's folder, sorted, each item
// carrying its size; the progress panel is gone again afterwards.
TEST_F(Monitor, PlugInWithLogsTabSelectedListsLogs)
{
    PutCardFile(QStringLiteral("Logs"), QStringLiteral("RUN2.displog"), 3000);
    PutCardFile(QStringLiteral("Logs"), QStringLiteral("old.displog"), 17);
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("Street.qxm"), 10);
    MakeUnit(false);
    Open();
    Form->Timer1Timer();
    Form->TabControl1->setCurrentIndex(1);
    Sim->Plug();
    Form->Timer1Timer();

    ASSERT_NE(Form->Display, nullptr);
    EXPECT_TRUE(Form->Display->IsOpen());
    EXPECT_EQ(Form->DevicePath, QStringLiteral("A:\\Logs"));
    EXPECT_EQ(ListedNames(), (QStringList{QStringLiteral("old.displog"), QStringLiteral("RUN2.displog")}));
    EXPECT_EQ(TFormMain::ItemSize(Form->ListBoxFiles->item(0)), 17u);
    EXPECT_EQ(TFormMain::ItemSize(Form->ListBoxFiles->item(1)), 3000u);
    ExpectDeviceActions(true);
    EXPECT_FALSE(Form->ActionUpdateFirmware->isEnabled());
    EXPECT_FALSE(Form->PanelProgress->isVisibleTo(Form.get()));
    EXPECT_EQ(Form->LabelStatus->text(), QStringLiteral("Refreshing File List Please Wait..."));
    EXPECT_EQ(Form->LabelCurrentFile->text(), QStringLiteral("RUN2.displog"));
    // Listed whole: the status line names the unit by serial number and firmware version.
    EXPECT_EQ(Form->LabelUnitState->text(), QStringLiteral("Unit QX-SIM-000123, firmware 1.2.3"));
    EXPECT_TRUE(Form->statusBar()->isVisibleTo(Form.get()));

    Sim->Unplug();
    Form->Timer1Timer();
    EXPECT_EQ(Form->LabelUnitState->text(), QStringLiteral("No unit connected"));
}

// While the unit stays, a tick neither lists again nor touches the list.
TEST_F(Monitor, LaterTicksDoNotRelist)
{
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("a.qxm"), 1);
    MakeUnit(true);
    Open();
    Form->Timer1Timer();
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("b.qxm"), 1);
    Form->Timer1Timer();
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("a.qxm")});
}

// The tick after the unit left destroys the object, clears the list and disables the commands;
// the folder shown is kept until the next refresh.
TEST_F(Monitor, UnplugDropsTheUnit)
{
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("a.qxm"), 1);
    MakeUnit(true);
    Open();
    Form->Timer1Timer();
    ASSERT_EQ(Form->ListBoxFiles->count(), 1);
    Sim->Unplug();
    Form->Timer1Timer();
    EXPECT_EQ(Form->Display, nullptr);
    EXPECT_EQ(Form->ListBoxFiles->count(), 0);
    EXPECT_EQ(Form->DevicePath, QStringLiteral("A:\\Maps"));
    ExpectDeviceActions(false);
    EXPECT_TRUE(Form->ActionExportLogFile->isEnabled());
}

// A unit waiting in its bootloader enables only "Update Firmware" beside Convert; back in its
// normal firmware it is listed again.
TEST_F(Monitor, UnitInBootloader)
{
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("a.qxm"), 1);
    MakeUnit(true);
    Sim->RestartInBootloader();
    Open();
    Form->Timer1Timer();
    EXPECT_EQ(Form->Display, nullptr);
    ASSERT_NE(Form->Bootloader, nullptr);
    EXPECT_TRUE(Form->ActionUpdateFirmware->isEnabled());
    ExpectDeviceActions(false);
    EXPECT_EQ(Form->ListBoxFiles->count(), 0);
    // The status line says so, with the firmware update a click away.
    EXPECT_EQ(Form->LabelUnitState->text(), QStringLiteral("Unit in bootloader mode: use Update Firmware"));
    EXPECT_TRUE(Form->ButtonStatusUpdate->isVisibleTo(Form.get()));
    EXPECT_TRUE(Form->ButtonStatusUpdate->isEnabled());
    EXPECT_EQ(Form->ButtonStatusUpdate->Action(), Form->ActionUpdateFirmware);

    Sim->Restart(sim::UnitMode::Normal);
    Form->Timer1Timer();
    EXPECT_EQ(Form->Bootloader, nullptr);
    ASSERT_NE(Form->Display, nullptr);
    EXPECT_FALSE(Form->ActionUpdateFirmware->isEnabled());
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("a.qxm")});
    EXPECT_FALSE(Form->ButtonStatusUpdate->isVisibleTo(Form.get()));
}

// The transport's message boxes (a bus that cannot be searched) reach the window's own message
// boxes: once, not on every tick, and again after a search that went well.
TEST_F(Monitor, EnumerationFailuresReachTheWindowOnce)
{
    class NoBusHost : public ForwardingHost {
    public:
        using ForwardingHost::ForwardingHost;
        HidInterfaceList ListInterfaces() override
        {
            if (Broken) {
                HidInterfaceList none;
                none.SetAvailable = false;
                return none;
            }
            return Inner.ListInterfaces();
        }
        bool Broken = true;
    };
    MakeUnit(true);
    NoBusHost& host = UseHost(std::make_unique<NoBusHost>(*Sim));
    Open();
    const QStringList once{QStringLiteral("SetupDiGetClassDevs Failure: SetupDiGetClassDevs: PnpHandle Failure")};
    Form->Timer1Timer();
    Form->Timer1Timer();
    EXPECT_EQ(Services.Messages, once);
    EXPECT_TRUE(Sim->Messages().empty());
    EXPECT_EQ(Form->LabelUnitState->text(), QStringLiteral("No unit connected"));

    host.Broken = false;
    Form->Timer1Timer();
    EXPECT_NE(Form->Display, nullptr);
    host.Broken = true;
    Form->Timer1Timer();
    EXPECT_EQ(Services.Messages.size(), 2);
    Close();
}

// Switching tabs without a unit empties the list and the folder shown.
TEST_F(Monitor, TabSwitchWithoutUnit)
{
    MakeUnit(false);
    Open();
    Form->DevicePath = QStringLiteral("A:\\Maps");
    Form->ListBoxFiles->addItem(QStringLiteral("left over"));
    Form->TabControl1->setCurrentIndex(1);
    EXPECT_TRUE(Form->DevicePath.isEmpty());
    EXPECT_EQ(Form->ListBoxFiles->count(), 0);
}

// With a unit, a tab switch lists the other folder.
TEST_F(Monitor, TabSwitchListsTheOtherFolder)
{
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("a.qxm"), 1);
    PutCardFile(QStringLiteral("Logs"), QStringLiteral("r.displog"), 1);
    MakeUnit(true);
    Open();
    Form->Timer1Timer();
    Form->TabControl1->setCurrentIndex(1);
    EXPECT_EQ(Form->DevicePath, QStringLiteral("A:\\Logs"));
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("r.displog")});
}

// F5 lists the same folder again and shows what changed on the card meanwhile.
TEST_F(Monitor, RefreshAfterFilesChanged)
{
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("a.qxm"), 1);
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("b.qxm"), 1);
    MakeUnit(true);
    Open();
    Form->Timer1Timer();
    ASSERT_EQ(ListedNames().size(), 2);
    QFile::remove(Card + QStringLiteral("/Maps/a.qxm"));
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("c.qxm"), 44);
    Form->ActionRefreshFileList->trigger();
    EXPECT_EQ(Form->DevicePath, QStringLiteral("A:\\Maps"));
    EXPECT_EQ(ListedNames(), (QStringList{QStringLiteral("b.qxm"), QStringLiteral("c.qxm")}));
    EXPECT_EQ(TFormMain::ItemSize(Form->ListBoxFiles->item(1)), 44u);
}

// The shortcut reaches the command from anywhere in the window, the file list included.
TEST_F(Monitor, F5KeyRefreshes)
{
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("a.qxm"), 1);
    MakeUnit(true);
    Open();
    Form->show();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    Form->Timer1Timer();
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("b.qxm"), 1);
    Form->ListBoxFiles->setFocus();
    QTest::keyClick(Form->ListBoxFiles, Qt::Key_F5);
    EXPECT_EQ(ListedNames(), (QStringList{QStringLiteral("a.qxm"), QStringLiteral("b.qxm")}));
}

// Sub-folders are left out; every file is listed whatever its extension, sorted by name without
// regard to case.
TEST_F(Monitor, FoldersAndOddExtensions)
{
    QDir().mkpath(Card + QStringLiteral("/Maps/Old Maps"));
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("zeta.QXM"), 5);
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("Alpha.bin"), 6);
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("beta.txt"), 7);
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("NOEXT"), 8);
    MakeUnit(true);
    Open();
    Form->Timer1Timer();
    EXPECT_EQ(ListedNames(), (QStringList{QStringLiteral("Alpha.bin"), QStringLiteral("beta.txt"),
                                          QStringLiteral("NOEXT"), QStringLiteral("zeta.QXM")}));
}

// A unit that is present but cannot be opened leaves the list empty and the commands enabled,
// and says why over the list: for a permission denial, the host's text names the udev rule.
TEST_F(Monitor, UnitThatCannotBeOpened)
{
    PutCardFile(QStringLiteral("Maps"), QStringLiteral("a.qxm"), 1);
    MakeUnit(true);
    UseHost(std::make_unique<DenyingHost>(*Sim));
    Open();
    Form->Timer1Timer();
    ASSERT_NE(Form->Display, nullptr);
    EXPECT_FALSE(Form->Display->IsOpen());
    EXPECT_EQ(Form->ListBoxFiles->count(), 0);
    ExpectDeviceActions(true);
    EXPECT_TRUE(Form->LabelOpenError->isVisibleTo(Form.get()));
    EXPECT_TRUE(Form->LabelOpenError->text().contains(QStringLiteral("60-tessaly.rules")))
        << Form->LabelOpenError->text().toStdString();
    EXPECT_TRUE(Services.Messages.isEmpty());

    // Once the unit leaves, the explanation goes with it.
    Sim->Unplug();
    Form->Timer1Timer();
    EXPECT_FALSE(Form->LabelOpenError->isVisibleTo(Form.get()));
}

} // namespace
