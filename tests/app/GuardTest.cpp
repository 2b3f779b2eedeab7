// Events are let through while the window lists or transfers. The window must never destroy a
// device object under a running operation, nor start a second device command inside a first.
#include <QListWidget>
#include <QTabBar>
#include <QTimer>
#include <QAction>

#include <gtest/gtest.h>

#include "AppTestSupport.h"

namespace {

class Guard : public ::testing::Test, public WindowTest {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 6; ++i)
            PutCardFile(QStringLiteral("Maps"), QStringLiteral("map%1.qxm").arg(i), 100 + i);
        PutCardFile(QStringLiteral("Logs"), QStringLiteral("run.displog"), 9);
        MakeUnit(true);
        Open();
    }
    // Runs `during` from the event pumping of the first listed entry.
    static void DuringListing(std::function<void()> during) { QTimer::singleShot(0, std::move(during)); }
};

// A tick that finds the unit gone in the middle of a listing leaves the busy object alone; the
// object goes as soon as the listing has returned.
TEST_F(Guard, TickFindingUnitGoneDuringListing)
{
    bool ran = false;
    bool displayKept = false;
    bool wasBusy = false;
    DuringListing([&] {
        ran = true;
        Sim->Unplug();
        Form->Timer1Timer();
        displayKept = Form->Display != nullptr;
        wasBusy = displayKept && Form->Display->IsBusy();
    });
    Form->Timer1Timer();
    ASSERT_TRUE(ran);
    EXPECT_TRUE(displayKept);
    EXPECT_TRUE(wasBusy);
    // The deferred tick ran once the listing returned.
    EXPECT_EQ(Form->Display, nullptr);
    EXPECT_EQ(Form->ListBoxFiles->count(), 0);
    EXPECT_FALSE(Form->ActionRefreshFileList->isEnabled());
    EXPECT_FALSE(Form->CommandRunning());
}

// Commands pressed while a listing runs are refused: the listing completes undisturbed, and the
// device never sees a nested operation.
TEST_F(Guard, SecondCommandDuringListingIsRefused)
{
    DuringListing([&] {
        Form->ActionRefreshFileListExecute();
        Form->ActionGetFilesExecute();
        Form->ActionDeleteFilesExecute();
    });
    Form->Timer1Timer();
    EXPECT_EQ(Form->RefusedCommands(), 3);
    EXPECT_EQ(ListedNames().size(), 6);
    // Once the listing is over, commands run again.
    Form->ActionRefreshFileListExecute();
    EXPECT_EQ(Form->RefusedCommands(), 3);
    EXPECT_EQ(ListedNames().size(), 6);
}

// A tab switch during a listing is not lost: the new tab's folder is listed right after.
TEST_F(Guard, TabSwitchDuringListingListsAfterwards)
{
    DuringListing([&] { Form->TabControl1->setCurrentIndex(1); });
    Form->Timer1Timer();
    EXPECT_EQ(Form->DevicePath, QStringLiteral("A:\\Logs"));
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("run.displog")});
    EXPECT_EQ(Form->RefusedCommands(), 0);
}

// Closing the window during a listing asks; on Yes the listing stops at the next entry and the
// window closes once it has returned; on No nothing changes.
TEST_F(Guard, CloseDuringListingWaitsForIt)
{
    Form->show();
    bool closedAtOnce = true;
    Services.ConfirmAnswer = false;
    DuringListing([&] { closedAtOnce = Form->close(); });
    Form->Timer1Timer();
    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(Services.Questions.size(), 1);
    EXPECT_EQ(ListedNames().size(), 6);
    EXPECT_TRUE(Form->isVisible());

    Services.ConfirmAnswer = true;
    Form->ActionRefreshFileListExecute(); // the listing the next close interrupts
    DuringListing([&] { closedAtOnce = Form->close(); });
    Form->ActionRefreshFileListExecute();
    EXPECT_FALSE(closedAtOnce);
    EXPECT_LT(ListedNames().size(), 6);
    EXPECT_FALSE(Form->isVisible());
}

// Ticks keep arriving while a listing runs: each is run once after it, not nested in it.
TEST_F(Guard, TicksDuringListingRunOnceAfterwards)
{
    int nestedTicks = 0;
    DuringListing([&] {
        for (int i = 0; i < 3; ++i) {
            Form->Timer1Timer();
            ++nestedTicks;
        }
    });
    Form->Timer1Timer();
    EXPECT_EQ(nestedTicks, 3);
    ASSERT_NE(Form->Display, nullptr);
    EXPECT_EQ(ListedNames().size(), 6);
    EXPECT_FALSE(Form->CommandRunning());
}

} // namespace
