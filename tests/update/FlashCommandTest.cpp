// tessaly-cli flash against the simulated unit: the same update, on a terminal.
#include <gtest/gtest.h>

#include <csignal>
#include <atomic>
#include <chrono>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "FlashCommand.h"
#include "UpdateTestSupport.h"

using namespace updatetest;

// A package sent through the command ends in normal mode with the image in flash.
TEST(FlashCommand, UpdatesTheUnit)
{
    BootRig rig;
    const std::vector<uint8_t> image = Pattern(7000, 21);
    const std::string path = rig.Folder.Write("fw.qxf", Package({{4, image}}));
    EXPECT_EQ(RunFlashCommand(*rig.Host, {path}), 0);
    EXPECT_EQ(rig.Host->ReadFlash(0x10008000, 7000), image);
    ASSERT_EQ(rig.Host->ProgramLog().size(), 3u);
    EXPECT_EQ(rig.Host->ProgramLog()[0].Flags, 0xC0);
    EXPECT_TRUE(rig.ListedInNormalMode());
}

// Failures end with a non-zero exit code and leave the unit untouched.
TEST(FlashCommand, Failures)
{
    BootRig rig;
    EXPECT_EQ(RunFlashCommand(*rig.Host, {}), 2);
    EXPECT_EQ(RunFlashCommand(*rig.Host, {"a.bin", "b.bin"}), 2);
    EXPECT_EQ(RunFlashCommand(*rig.Host, {(rig.Folder.Path() / "missing.bin").string()}), 1);
    EXPECT_TRUE(rig.Host->EraseLog().empty());
    EXPECT_EQ(rig.Host->Mode(), sim::UnitMode::Bootloader);
}

// A unit running its normal firmware is not updated.
TEST(FlashCommand, UnitNotInBootloader)
{
    BootRig rig([](sim::SimOptions& options) { options.StartInBootloader = false; });
    const std::string path = rig.Folder.Write("fw.bin", Pattern(3072));
    EXPECT_EQ(RunFlashCommand(*rig.Host, {path}), 1);
    EXPECT_TRUE(rig.Host->EraseLog().empty());
}

// A block that keeps failing makes the command fail.
TEST(FlashCommand, FailedBlock)
{
    BootRig rig;
    rig.SetFaults("status=0x6002:0x05");
    const std::string path = rig.Folder.Write("fw.bin", Pattern(3072));
    EXPECT_EQ(RunFlashCommand(*rig.Host, {path}), 1);
    EXPECT_TRUE(rig.Host->ProgramLog().empty());
}

#ifndef _WIN32
namespace {

// Runs the command on a full-speed link and sends `signal` to the process once the first block
// is in flash; the command's exit code.
int FlashStoppedBy(BootRig& rig, int signal, size_t imageSize)
{
    const std::string path = rig.Folder.Write("fw.bin", Pattern(imageSize, 5));
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        while (!done && rig.Host->ProgramLog().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!done)
            ::kill(::getpid(), signal);
    });
    const int exit = RunFlashCommand(*rig.Host, {path});
    done = true;
    stopper.join();
    return exit;
}

void UseFullSpeed(sim::SimOptions& options)
{
    options.Link = sim::LinkModel::FullSpeed;
}

} // namespace

// SIGTERM during programming stops between blocks as Ctrl+C does: the image is not handed over,
// the unit stays in its bootloader, and the exit code is the shell's for SIGTERM.
TEST(FlashCommand, TerminationSignalStopsBetweenBlocks)
{
    BootRig rig(UseFullSpeed);
    const size_t imageSize = 16 * 3072;
    EXPECT_EQ(FlashStoppedBy(rig, SIGTERM, imageSize), 143);
    EXPECT_GE(rig.Host->ProgramLog().size(), 1u);
    EXPECT_LT(rig.Host->ProgramLog().size(), 16u);
    EXPECT_EQ(rig.Host->Mode(), sim::UnitMode::Bootloader);
    EXPECT_TRUE(rig.Host->IsPlugged());
}

TEST(FlashCommand, InterruptSignalStopsBetweenBlocks)
{
    BootRig rig(UseFullSpeed);
    EXPECT_EQ(FlashStoppedBy(rig, SIGINT, 16 * 3072), 130);
    EXPECT_LT(rig.Host->ProgramLog().size(), 16u);
    EXPECT_EQ(rig.Host->Mode(), sim::UnitMode::Bootloader);
}
#endif
