// The main window's design: actions, menus, buttons, progress panel, timer, caption, and the
// packaging that lets a user open the unit.
#include <fstream>
#include <sstream>

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QTabBar>
#include <QTimer>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "DesignAnchors.h"
#include "HIDDeviceEx.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"

namespace {

class Design : public ::testing::Test, public WindowTest {};

// The seven actions with their captions, shortcuts and enabled states at start.
TEST_F(Design, Actions)
{
    Open();
    struct Row {
        QAction* Action;
        const char* Caption;
        QKeySequence Shortcut;
        bool Enabled;
    } rows[] = {
        {Form->ActionRefreshFileList, "Refresh File List", QKeySequence(Qt::Key_F5), false},
        {Form->ActionDeleteFiles, "Delete Selected Files", QKeySequence(Qt::Key_Delete), false},
        {Form->ActionUpdateFirmware, "Update Firmware", QKeySequence(QStringLiteral("Ctrl+U")), false},
        {Form->ActionGetDevInfo, "Show Device Info", QKeySequence(QStringLiteral("Ctrl+D")), false},
        {Form->ActionGetFiles, "Get Selected Files", QKeySequence(QStringLiteral("Ctrl+G")), false},
        {Form->ActionSendFiles, "Send Files To Device", QKeySequence(QStringLiteral("Ctrl+S")), false},
        {Form->ActionExportLogFile, "Convert Log File(s) to .csv", QKeySequence(QStringLiteral("Ctrl+E")), true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.Action->text(), QString::fromLatin1(row.Caption));
        EXPECT_EQ(row.Action->shortcut(), row.Shortcut) << row.Caption;
        EXPECT_EQ(row.Action->isEnabled(), row.Enabled) << row.Caption;
    }
}

// "Actions" and "Options" in their order; "Simulator" only with the simulated unit.
TEST_F(Design, Menus)
{
    Open();
    const QList<QAction*> items = Form->Actions1->actions();
    ASSERT_EQ(items.size(), 12);
    EXPECT_EQ(Form->Actions1->title(), QStringLiteral("Actions"));
    EXPECT_EQ(items[0], Form->ActionExportLogFile);
    // The log viewer's two commands follow the conversion.
    EXPECT_EQ(items[1], Form->ActionViewLogFile);
    EXPECT_EQ(Form->ActionViewLogFile->shortcut(), QKeySequence(QStringLiteral("Ctrl+L")));
    EXPECT_EQ(items[2], Form->ActionViewUnitLog);
    EXPECT_TRUE(items[3]->isSeparator());
    EXPECT_EQ(items[4], Form->ActionUpdateFirmware);
    EXPECT_TRUE(items[5]->isSeparator());
    EXPECT_EQ(items[6], Form->ActionGetDevInfo);
    EXPECT_EQ(items[7], Form->ActionRefreshFileList);
    EXPECT_EQ(items[8], Form->ActionGetFiles);
    EXPECT_EQ(items[9], Form->ActionSendFiles);
    EXPECT_EQ(items[10], Form->ActionDeleteFiles);
    EXPECT_EQ(Form->Options1->title(), QStringLiteral("Options"));
    ASSERT_EQ(Form->Options1->actions().size(), 1);
    EXPECT_EQ(Form->csvfileexportoptions1->text(), QStringLiteral("Log File Export Options"));
    ASSERT_NE(Form->MenuSimulator, nullptr);
    EXPECT_EQ(Form->menuBar()->actions().size(), 3);
}

TEST_F(Design, NoSimulatorMenuOnRealUnits)
{
    MakeUnit();
    AppEnvironment environment;
    environment.Host = Sim.get(); // a host, but not offered as a simulator
    environment.Settings = &Settings;
    environment.Services = &Services;
    environment.ExecutablePath = Executable;
    TFormMain form(nullptr, environment);
    EXPECT_EQ(form.MenuSimulator, nullptr);
    EXPECT_EQ(form.menuBar()->actions().size(), 2);
}

// The Simulator menu plugs, unplugs, restarts and locks the simulated unit.
TEST_F(Design, SimulatorMenuControlsTheUnit)
{
    MakeUnit(true);
    Open();
    Form->SimulatorPlugged->trigger();
    EXPECT_FALSE(Sim->IsPlugged());
    Form->SimulatorPlugged->trigger();
    EXPECT_TRUE(Sim->IsPlugged());
    Form->SimulatorBootloader->trigger();
    Form->Timer1Timer();
    EXPECT_EQ(Sim->Mode(), sim::UnitMode::Bootloader);
    EXPECT_TRUE(Form->ActionUpdateFirmware->isEnabled());
    Form->SimulatorNormal->trigger();
    EXPECT_EQ(Sim->Mode(), sim::UnitMode::Normal);
    Form->SimulatorCardLocked->trigger();
    EXPECT_TRUE(Sim->CardLocked());
}

// Five buttons at their design places, each showing and following its action; the four lower
// ones keep their distance to the bottom edge when the window grows.
TEST_F(Design, ButtonsFollowTheirActions)
{
    Open();
    EXPECT_EQ(Form->XiButton2->Action(), Form->ActionExportLogFile);
    EXPECT_EQ(Form->ButtonDevInfo->Action(), Form->ActionGetDevInfo);
    EXPECT_EQ(Form->ButtonGetFiles->Action(), Form->ActionGetFiles);
    EXPECT_EQ(Form->ButtonPut->Action(), Form->ActionSendFiles);
    EXPECT_EQ(Form->XiButton1->Action(), Form->ActionDeleteFiles);
    EXPECT_EQ(Form->ButtonGetFiles->Caption(), QStringLiteral("Get Selected Files"));
    EXPECT_FALSE(Form->ButtonGetFiles->isEnabled());
    EXPECT_TRUE(Form->XiButton2->isEnabled());

    Form->show();
    for (int height : {0, 100}) {
        Form->resize(Form->width(), Form->height() + height);
        QCoreApplication::processEvents();
        const int below = Form->QXGradPanel1->height() - 344; // how far the bottom edge moved
        EXPECT_EQ(Form->XiButton2->geometry(), QRect(5, 9, 150, 25));
        EXPECT_EQ(Form->ButtonDevInfo->geometry(), QRect(5, 59 + below, 150, 25));
        EXPECT_EQ(Form->ButtonGetFiles->geometry(), QRect(5, 134 + below, 150, 25));
        EXPECT_EQ(Form->ButtonPut->geometry(), QRect(5, 164 + below, 150, 25));
        EXPECT_EQ(Form->XiButton1->geometry(), QRect(5, 234 + below, 150, 25));
    }
    EXPECT_EQ(Form->QXGradPanel1->width(), 160);

    // At the smallest window the bottom-anchored info button stays clear of the convert button.
    Form->resize(Form->minimumSize());
    QCoreApplication::processEvents();
    EXPECT_GE(Form->ButtonDevInfo->geometry().top(), Form->XiButton2->geometry().bottom() + 1);
    EXPECT_LT(Form->ButtonDevInfo->geometry().bottom(), Form->ButtonGetFiles->geometry().top());
}

// A first run opens with the design's client area below the menu bar, the progress panel at its
// design place, and the button panel on the right.
TEST_F(Design, ClientAreaAtFirstRun)
{
    Open();
    Form->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(Form->centralWidget()->size(), QSize(492, 344));
    EXPECT_EQ(Form->PanelProgress->geometry(), QRect(37, 70, 426, 126));
    EXPECT_EQ(Form->QXGradPanel1->geometry(), QRect(332, 0, 160, 344));
}

// The progress panel is hidden at start and holds its labels and bars; the list allows several
// selected items and sorts them; the timer ticks every second from the start.
TEST_F(Design, ProgressPanelListAndTimer)
{
    Open();
    EXPECT_FALSE(Form->PanelProgress->isVisibleTo(Form.get()));
    EXPECT_EQ(Form->PanelProgress->size(), QSize(426, 126));
    EXPECT_EQ(Form->LabelCurrent->text(), QStringLiteral("Current File:"));
    EXPECT_EQ(Form->LabelTotal->text(), QStringLiteral("Total:"));
    EXPECT_EQ(Form->ProgressBarCurrent->geometry(), QRect(130, 70, 276, 17));
    EXPECT_EQ(Form->ProgressBarTotal->geometry(), QRect(130, 90, 276, 17));
    EXPECT_EQ(Form->ListBoxFiles->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_TRUE(Form->ListBoxFiles->isSortingEnabled());
    EXPECT_EQ(Form->TabControl1->count(), 2);
    EXPECT_EQ(Form->TabControl1->tabText(0), QStringLiteral("Maps"));
    EXPECT_EQ(Form->TabControl1->tabText(1), QStringLiteral("Logs"));
    EXPECT_EQ(Form->TabControl1->currentIndex(), 0);
    EXPECT_EQ(Form->OpenDialog1.Filter,
              QStringLiteral("Korvane Map Files (*.qxm; *.wzm)|*.qxm; *.wzm|Korvane Log Files (*.displog)|*.displog|"
                             "Korvane Firmware Files (*.qxf)|*.qxf|All Files (*.*)|*.*"));
    EXPECT_EQ(Form->Timer1->interval(), 1000);
    Form.reset();
    MakeUnit();
    AppEnvironment environment;
    environment.Host = Sim.get();
    environment.Settings = &Settings;
    environment.Services = &Services;
    environment.ExecutablePath = Executable;
    TFormMain running(nullptr, environment);
    EXPECT_TRUE(running.Timer1->isActive());
}

// The caption is the title, a blank and the executable's version; no version leaves the blank.
TEST_F(Design, Caption)
{
    Open();
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Korvane Tessaly 1.0.4"));
    Close();
    WriteFile(Executable, MakeElf(VersionSectionName, VersionPayload(1, 0, 4, 7)));
    Open();
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Korvane Tessaly 1.0.4 (TEST BUILD 7)"));
    Close();
    WriteFile(Executable, {'#', '!'});
    Open();
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Korvane Tessaly "));
}

// Anchors: an edge keeps its distance, both edges stretch, none keeps the relative centre.
TEST(DesignAnchors, Place)
{
    const QSize design(492, 344);
    const QSize grown(592, 444);
    const QRect rect(37, 70, 426, 126);
    EXPECT_EQ(DesignAnchors::Place(rect, Qt::LeftEdge | Qt::TopEdge, design, grown), rect);
    EXPECT_EQ(DesignAnchors::Place(rect, Qt::RightEdge | Qt::BottomEdge, design, grown), rect.translated(100, 100));
    EXPECT_EQ(DesignAnchors::Place(rect, Qt::LeftEdge | Qt::RightEdge | Qt::TopEdge, design, grown),
              QRect(37, 70, 526, 126));
    const QRect centred = DesignAnchors::Place(rect, {}, design, grown);
    EXPECT_EQ(centred.size(), rect.size());
    EXPECT_NEAR(centred.center().x() / 592.0, rect.center().x() / 492.0, 0.01);
    EXPECT_NEAR(centred.center().y() / 444.0, rect.center().y() / 344.0, 0.01);
}

// The udev rule: the vendor id as sysfs writes it, both product ids, the uaccess tag, and a name
// that sorts before 73-seat-late.rules.
TEST(Packaging, UdevRule)
{
    const std::string path = TESSALY_UDEV_RULE_FILE;
    EXPECT_EQ(path.substr(path.find_last_of('/') + 1), "60-tessaly.rules");
    EXPECT_LT(std::string("60-tessaly.rules"), std::string("73-seat-late.rules"));
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    char vendor[5];
    std::snprintf(vendor, sizeof vendor, "%04x", VendorId);
    for (const char* product : {"0801", "0800"}) {
        const std::string line = std::string("SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"") + vendor +
                                 "\", ATTRS{idProduct}==\"" + product + "\", TAG+=\"uaccess\"";
        EXPECT_NE(text.str().find(line), std::string::npos) << line;
    }
}

} // namespace
