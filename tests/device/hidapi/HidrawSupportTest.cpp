// The hidraw pieces of the hidapi host that need no device.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "HidapiHost.h"
#include "HidrawSupport.h"
#include "ReportDescriptor.h"
#include "TempFolder.h"

// Only a /dev/hidrawN node maps to its descriptor in sysfs; nothing else can
// steer the read to another file.
TEST(ReportDescriptorPath, HidrawNodesOnly)
{
    EXPECT_EQ(ReportDescriptorPath("/dev/hidraw3"), "/sys/class/hidraw/hidraw3/device/report_descriptor");
    EXPECT_EQ(ReportDescriptorPath("/dev/hidraw12"), "/sys/class/hidraw/hidraw12/device/report_descriptor");
    EXPECT_FALSE(ReportDescriptorPath("/dev/hidraw").has_value());
    EXPECT_FALSE(ReportDescriptorPath("/dev/hidraw3/../../etc").has_value());
    EXPECT_FALSE(ReportDescriptorPath("/dev/usb/hiddev0").has_value());
    EXPECT_FALSE(ReportDescriptorPath("hidraw3").has_value());
    EXPECT_FALSE(ReportDescriptorPath("1-1:1.0").has_value());
}

// The descriptor file is read whole, up to the kernel's own limit.
TEST(ReadDescriptorFile, WholeFileUpToTheLimit)
{
    const std::vector<uint8_t> mouse = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0};
    const testsupport::TempFolder folder;
    EXPECT_EQ(ReadDescriptorFile(folder.Write("small", mouse)), mouse);

    const std::string atLimit = folder.Write("at-limit", std::vector<uint8_t>(MaxReportDescriptorBytes, 0xC0));
    ASSERT_TRUE(ReadDescriptorFile(atLimit).has_value());
    EXPECT_EQ(ReadDescriptorFile(atLimit)->size(), MaxReportDescriptorBytes);

    const std::string tooLong = folder.Write("too-long", std::vector<uint8_t>(MaxReportDescriptorBytes + 1, 0xC0));
    EXPECT_FALSE(ReadDescriptorFile(tooLong).has_value());
    EXPECT_FALSE(ReadDescriptorFile("/nonexistent/report_descriptor").has_value());
}

// Without numbered reports hidapi's data goes behind byte 0 and a full report
// is one byte shorter than the length; with numbered reports hidapi fills all.
TEST(InputFraming, UnnumberedReportsArePrefixedWithZero)
{
    const InputPlacement unnumbered = PlaceInput(false, 65);
    EXPECT_EQ(unnumbered.Offset, 1u);
    EXPECT_EQ(unnumbered.Length, 64u);
    EXPECT_EQ(MapReadResult(64, 0, false, 65).Status, HidReadStatus::Good);
    EXPECT_EQ(MapReadResult(63, 0, false, 65).Status, HidReadStatus::Incomplete);

    const InputPlacement numbered = PlaceInput(true, 65);
    EXPECT_EQ(numbered.Offset, 0u);
    EXPECT_EQ(numbered.Length, 65u);
    EXPECT_EQ(MapReadResult(65, 0, true, 65).Status, HidReadStatus::Good);
    EXPECT_EQ(MapReadResult(64, 0, true, 65).Status, HidReadStatus::Incomplete);
}

// 0 is an idle slice; -1 is a failure carrying errno, except a signal, which
// the reader just retries, and a hang-up without errno, which is an unplug.
TEST(InputFraming, ReadResults)
{
    EXPECT_EQ(MapReadResult(0, 0, false, 65).Status, HidReadStatus::TimedOut);
    const HidReadResult io = MapReadResult(-1, EIO, false, 65);
    EXPECT_EQ(io.Status, HidReadStatus::Failed);
    EXPECT_EQ(io.Error, static_cast<uint32_t>(EIO));
    EXPECT_EQ(MapReadResult(-1, EINTR, false, 65).Status, HidReadStatus::TimedOut);
    const HidReadResult hangUp = MapReadResult(-1, 0, true, 65);
    EXPECT_EQ(hangUp.Status, HidReadStatus::Failed);
    EXPECT_EQ(hangUp.Error, static_cast<uint32_t>(ENODEV));
}

// hidraw lists a node once per top-level usage (a keyboard with media keys
// twice): the list keeps each path once, in first-seen order, with its ids.
TEST(InterfaceList, EachPathOnce)
{
    std::vector<InterfaceEntry> entries;
    AddInterface(entries, "/dev/hidraw0", 0x046D, 0xC31C);
    AddInterface(entries, "/dev/hidraw0", 0x046D, 0xC31C);
    AddInterface(entries, "/dev/hidraw2", 0x16D0, 0x0801);
    AddInterface(entries, "/dev/hidraw0", 0x046D, 0xC31C);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Path, "/dev/hidraw0");
    EXPECT_EQ(entries[1].Path, "/dev/hidraw2");
    const InterfaceEntry* unit = FindInterface(entries, "/dev/hidraw2");
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->Ids.VendorId, 0x16D0);
    EXPECT_EQ(unit->Ids.ProductId, 0x0801);
    EXPECT_EQ(FindInterface(entries, "/dev/hidraw1"), nullptr);
}

// A unit the user may not open says how to fix it: the udev rule.
TEST(OpenFailureText, PermissionPointsToTheUdevRule)
{
    EXPECT_EQ(OpenFailureText("/dev/hidraw3", EACCES, "hidapi text"),
              "Permission denied opening /dev/hidraw3: install the udev rule 60-tessaly.rules (see README) "
              "and plug the unit in again");
    EXPECT_EQ(OpenFailureText("/dev/hidraw3", ENOENT, "hidapi text"),
              "No such file or directory opening /dev/hidraw3");
    EXPECT_EQ(OpenFailureText("/dev/hidraw3", 0, "hidapi text"), "hidapi text");
    EXPECT_EQ(OpenFailureText("/dev/hidraw3", 0, ""), "Cannot open /dev/hidraw3");
}

// On this machine without the unit: a path that is not there opens to null
// with a reason naming it, and has no ids.
TEST(HidapiHost, MissingPathFailsWithAReason)
{
    HidapiHost host;
    EXPECT_EQ(host.Open("/dev/hidraw-tessaly-missing"), nullptr);
    EXPECT_EQ(host.LastErrorText(), "No such file or directory opening /dev/hidraw-tessaly-missing");
    HidAttributes ids;
    EXPECT_FALSE(host.ReadIds("/dev/hidraw-tessaly-missing", ids));
}

// The tick counter counts milliseconds across a pause.
TEST(HidapiHost, TicksCountMilliseconds)
{
    HidapiHost host;
    const uint32_t before = host.Ticks();
    host.Pause(20);
    EXPECT_GE(static_cast<uint32_t>(host.Ticks() - before), 20u);
}
