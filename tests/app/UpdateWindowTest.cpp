// Update Firmware through the window: the image dialog, the panel's texts and the message box,
// the unit afterwards, and the monitor and other commands while the update pumps events.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTimer>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "FirmwareUpdate.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"

namespace {

constexpr uint32_t AppStart = 0x10008000;

std::vector<uint8_t> Image(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + 5);
    return bytes;
}

class UpdateWindow : public ::testing::Test, public WindowTest {
protected:
    void SetUp() override
    {
        PutCardFile(QStringLiteral("Maps"), QStringLiteral("street.qxm"), 10);
        MakeUnit(true, [](sim::SimOptions& options) { options.StartInBootloader = true; });
        Open();
        Form->Timer1Timer();
        ASSERT_NE(Form->Bootloader, nullptr);
        ASSERT_TRUE(Form->ActionUpdateFirmware->isEnabled());
    }
    QString WriteImage(const QString& name, const std::vector<uint8_t>& bytes)
    {
        const QString path = Temp.filePath(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    // Runs `action` once, from the first pump after the status label reads `status`.
    void WhenStatus(const QString& status, std::function<void()> action)
    {
        auto* timer = new QTimer(Form.get());
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, Form.get(), [this, timer, status, action] {
            if (Form->LabelStatus->text() == status) {
                timer->stop();
                action();
            }
        });
        timer->start();
    }
};

// Cancelling the image dialog ends with "bin buffer error" and ERR_BUFFER_UNDER; the dialog was
// opened in the executable's folder on the firmware filter. Nothing was erased.
TEST_F(UpdateWindow, CancelImageDialog)
{
    Form->ActionUpdateFirmware->trigger();
    ASSERT_EQ(Services.OpenRequests.size(), 1u);
    EXPECT_EQ(Services.OpenRequests[0].FilterIndex, 3);
    EXPECT_EQ(Services.OpenRequests[0].InitialDir, QFileInfo(Executable).absolutePath());
    EXPECT_EQ(Form->LabelStatus->text(), QStringLiteral("bin buffer error"));
    // The code's name, then what it means.
    ASSERT_EQ(Services.Messages.size(), 1);
    EXPECT_TRUE(Services.Messages[0].startsWith(QStringLiteral("Korvane Tessaly: ERR_BUFFER_UNDER\n\nNo firmware image was chosen")))
        << Services.Messages[0].toStdString();
    EXPECT_FALSE(Form->PanelProgress->isVisibleTo(Form.get()));
    EXPECT_TRUE(Sim->EraseLog().empty());
    EXPECT_EQ(Sim->Mode(), sim::UnitMode::Bootloader);
    EXPECT_FALSE(FirmwareUpdateRunning());
}

// A plain image that cannot be read ends the same way.
TEST_F(UpdateWindow, UnreadablePlainImage)
{
    const QString folder = Temp.filePath(QStringLiteral("firmware.bin"));
    QDir().mkpath(folder);
    Services.ChosenFiles = {folder};
    Form->ActionUpdateFirmwareExecute();
    EXPECT_EQ(Form->LabelStatus->text(), QStringLiteral("bin buffer error"));
    ASSERT_EQ(Services.Messages.size(), 1);
    EXPECT_TRUE(Services.Messages[0].startsWith(QStringLiteral("Korvane Tessaly: ERR_BUFFER_UNDER\n\nThe firmware image could not be read")))
        << Services.Messages[0].toStdString();
    EXPECT_TRUE(Sim->EraseLog().empty());
}

// A .bin image end to end: the flash holds exactly the image at AppStart, read back and compared,
// the verification's last progress text is on the panel and the unit's screen, the window says so,
// and the unit comes back in normal mode and is listed.
TEST_F(UpdateWindow, PlainImageEndToEnd)
{
    const std::vector<uint8_t> image = Image(6144);
    Services.ChosenFiles = {WriteImage(QStringLiteral("fw.bin"), image)};
    Form->ActionUpdateFirmwareExecute();
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("Korvane Tessaly: Firmware updated and verified.")});
    EXPECT_EQ(Sim->ReadFlash(AppStart, 6144), image);
    EXPECT_EQ(Sim->ReadFlash(AppStart + 6144, 4), std::vector<uint8_t>(4, 0xFF));
    EXPECT_EQ(Form->LabelStatus->text(), QStringLiteral("Firmware updated and verified."));
    EXPECT_EQ(Form->LabelCurrentFile->text(), QStringLiteral("Verifying: 100%"));
    EXPECT_EQ(Sim->ScreenHistory().back(), "Verifying: 100%");
    EXPECT_EQ(Form->ProgressBarTotal->value(), 6144);
    EXPECT_FALSE(Form->PanelProgress->isVisibleTo(Form.get()));
    EXPECT_FALSE(Form->CommandRunning());

    Form->Timer1Timer();
    EXPECT_EQ(Sim->Mode(), sim::UnitMode::Normal);
    EXPECT_EQ(Form->Bootloader, nullptr);
    ASSERT_NE(Form->Display, nullptr);
    EXPECT_EQ(ListedNames(), QStringList{QStringLiteral("street.qxm")});
    EXPECT_FALSE(Form->ActionUpdateFirmware->isEnabled());
}

// While the update pumps, ticks go on enumerating on the bootloader object, every command looks
// disabled, and a second update or any other command is refused all the same.
TEST_F(UpdateWindow, MonitorAndCommandsDuringUpdate)
{
    const std::vector<uint8_t> image = Image(9216);
    Services.ChosenFiles = {WriteImage(QStringLiteral("fw.bin"), image)};
    bool kept = false;
    int refusedDuring = 0;
    WhenStatus(QStringLiteral("Sending file to device..."), [&] {
        Form->Timer1Timer();
        // The object stays; every command looks disabled while the progress panel is up.
        kept = Form->Bootloader != nullptr && !Form->ActionUpdateFirmware->isEnabled() &&
               !Form->ActionExportLogFile->isEnabled() && Form->ButtonCancel->isVisibleTo(Form.get());
        Form->ActionUpdateFirmwareExecute();
        Form->ActionExportLogFileExecute();
        refusedDuring = Form->RefusedCommands();
    });
    Form->ActionUpdateFirmwareExecute();
    EXPECT_TRUE(kept);
    EXPECT_EQ(refusedDuring, 2);
    EXPECT_EQ(Services.OpenRequests.size(), 1u);
    EXPECT_EQ(Sim->ReadFlash(AppStart, 9216), image);
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("Korvane Tessaly: Firmware updated and verified.")});
}

// The unit pulled out while the image is sent: the tick that no longer finds it leaves the
// bootloader object to the update, which ends with its failure shown; the object goes with the
// next tick after it.
TEST_F(UpdateWindow, UnitGoneDuringUpdate)
{
    Services.ChosenFiles = {WriteImage(QStringLiteral("fw.bin"), Image(30720))};
    bool kept = false;
    WhenStatus(QStringLiteral("Sending file to device..."), [&] {
        Sim->Unplug();
        Form->Timer1Timer();
        kept = Form->Bootloader != nullptr;
    });
    Form->ActionUpdateFirmwareExecute();
    EXPECT_TRUE(kept);
    ASSERT_EQ(Services.Messages.size(), 1);
    EXPECT_NE(Services.Messages[0], QStringLiteral("Korvane Tessaly: ERR_BUFFER_UNDER"));
    EXPECT_FALSE(Form->PanelProgress->isVisibleTo(Form.get()));
    EXPECT_FALSE(FirmwareUpdateRunning());
    // The deferred tick has run once the update returned.
    EXPECT_EQ(Form->Bootloader, nullptr);
    EXPECT_FALSE(Form->ActionUpdateFirmware->isEnabled());
}

// Closing the window during the update stops it between blocks; the window closes once it has
// returned, and a half-written image is not handed to the unit as its firmware.
TEST_F(UpdateWindow, CloseDuringUpdate)
{
    Form->show();
    Services.ChosenFiles = {WriteImage(QStringLiteral("fw.bin"), Image(30720))};
    bool closedAtOnce = true;
    WhenStatus(QStringLiteral("Sending file to device..."), [&] { closedAtOnce = Form->close(); });
    Form->ActionUpdateFirmwareExecute();
    EXPECT_FALSE(closedAtOnce);
    EXPECT_FALSE(Form->isVisible());
    EXPECT_LT(Sim->ProgramLog().size(), 10u);
    EXPECT_EQ(Sim->Mode(), sim::UnitMode::Bootloader);
}

} // namespace

// The Cancel button stops the update between steps: the unit stays in its bootloader with
// what was programmed, the end of the update is not sent, and the message says so.
TEST_F(UpdateWindow, CancelWhileProgramming)
{
    Services.ChosenFiles = {WriteImage(QStringLiteral("fw.bin"), Image(9216))};
    bool shown = false;
    WhenStatus(QStringLiteral("Sending file to device..."), [&] {
        shown = Form->ButtonCancel->isVisibleTo(Form.get());
        emit Form->ButtonCancel->clicked();
    });
    Form->ActionUpdateFirmwareExecute();
    EXPECT_TRUE(shown);
    EXPECT_LT(Sim->ProgramLog().size(), 3u);
    ASSERT_EQ(Services.Messages.size(), 1);
    EXPECT_TRUE(Services.Messages[0].contains(QStringLiteral("Update cancelled"))) << Services.Messages[0].toStdString();
    EXPECT_FALSE(Form->ButtonCancel->isVisibleTo(Form.get()));
    Form->Timer1Timer();
    EXPECT_EQ(Sim->Mode(), sim::UnitMode::Bootloader);
}
