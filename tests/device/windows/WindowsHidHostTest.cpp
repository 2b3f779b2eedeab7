// The Windows host against the HID devices the system offers. Under Wine these are its virtual
// devices of vendor 0x845E, which send no report unless input arrives, so a read on them stays
// pending until it is cancelled. Without such devices the device tests are skipped.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "HIDDeviceEx.h"
#include "WindowsHidHost.h"

namespace {

constexpr uint16_t VirtualVendor = 0x845E;

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Message boxes would wait for a click: they are recorded instead, with the trace lines.
class RecordingHost : public WindowsHidHost {
public:
    void ShowMessage(const std::string& text, const std::string& caption) override
    {
        Messages.push_back(caption + ": " + text);
    }
    void Trace(const std::string& line) override
    {
        Traces.push_back(line);
        WindowsHidHost::Trace(line);
    }
    std::vector<std::string> Messages;
    std::vector<std::string> Traces;
};

struct VirtualDevice {
    std::string Path;
    HidAttributes Ids;
};

std::vector<VirtualDevice> VirtualDevices(HidHost& host)
{
    std::vector<VirtualDevice> found;
    for (const std::string& path : host.ListInterfaces().Paths) {
        HidAttributes ids;
        if (host.ReadIds(path, ids) && ids.VendorId == VirtualVendor)
            found.push_back({path, ids});
    }
    return found;
}

class WindowsHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        Devices = VirtualDevices(Host);
        if (Devices.empty())
            GTEST_SKIP() << "no HID device of vendor 0x845E";
    }
    RecordingHost Host;
    std::vector<VirtualDevice> Devices;
};

// Presents the virtual devices to the transport as units: their vendor as the unit's, and room
// in their output report for a request header, which they lack. The transport then enumerates,
// opens and closes them through the Windows host; nothing is ever written to them.
class VirtualUnitHandle : public HidHandle {
public:
    explicit VirtualUnitHandle(std::unique_ptr<HidHandle> inner) : Inner(std::move(inner)) {}
    bool GetAttributes(HidAttributes& out) override
    {
        if (!Inner->GetAttributes(out))
            return false;
        if (out.VendorId == VirtualVendor)
            out.VendorId = VendorId;
        return true;
    }
    bool GetCaps(HidCaps& out) override
    {
        if (!Inner->GetCaps(out))
            return false;
        out.OutputReportLength = std::max<uint16_t>(out.OutputReportLength, 64);
        return true;
    }
    bool GetFeature(uint8_t* report, size_t length) override { return Inner->GetFeature(report, length); }
    bool SetFeature(const uint8_t* report, size_t length) override { return Inner->SetFeature(report, length); }
    bool WriteReport(const uint8_t*, size_t, uint32_t) override { return false; }
    HidReadResult ReadReport(uint8_t* report, size_t length, uint32_t timeoutMs) override
    {
        return Inner->ReadReport(report, length, timeoutMs);
    }

private:
    std::unique_ptr<HidHandle> Inner;
};

class VirtualUnitHost : public RecordingHost {
public:
    bool ReadIds(const std::string& path, HidAttributes& out) override
    {
        if (!RecordingHost::ReadIds(path, out))
            return false;
        if (out.VendorId == VirtualVendor)
            out.VendorId = VendorId;
        return true;
    }
    std::unique_ptr<HidHandle> Open(const std::string& path) override
    {
        std::unique_ptr<HidHandle> inner = RecordingHost::Open(path);
        if (!inner)
            return nullptr;
        return std::make_unique<VirtualUnitHandle>(std::move(inner));
    }
};

} // namespace

// Every present HID interface is listed once, without a failure, and each probe's ids are
// those an open handle reads.
TEST_F(WindowsHost, ListsEachInterfaceOnceWithItsIds)
{
    const HidInterfaceList list = Host.ListInterfaces();
    EXPECT_TRUE(list.SetAvailable);
    EXPECT_EQ(list.EnumErrorText, "");
    EXPECT_EQ(std::set<std::string>(list.Paths.begin(), list.Paths.end()).size(), list.Paths.size());
    EXPECT_TRUE(Host.Messages.empty());
    for (const VirtualDevice& device : Devices) {
        SCOPED_TRACE(device.Path);
        EXPECT_NE(std::find(list.Paths.begin(), list.Paths.end(), device.Path), list.Paths.end());
        std::unique_ptr<HidHandle> handle = Host.Open(device.Path);
        ASSERT_TRUE(handle) << Host.LastErrorText();
        HidAttributes ids;
        ASSERT_TRUE(handle->GetAttributes(ids)) << Host.LastErrorText();
        EXPECT_EQ(ids.VendorId, device.Ids.VendorId);
        EXPECT_EQ(ids.ProductId, device.Ids.ProductId);
    }
}

// The capabilities give the length of the device's input report: a read of that length is
// accepted and waits; one byte less is refused by the system at once.
TEST_F(WindowsHost, CapsGiveTheInputReportLength)
{
    for (const VirtualDevice& device : Devices) {
        SCOPED_TRACE(device.Path);
        std::unique_ptr<HidHandle> handle = Host.Open(device.Path);
        ASSERT_TRUE(handle) << Host.LastErrorText();
        HidCaps caps;
        ASSERT_TRUE(handle->GetCaps(caps)) << Host.LastErrorText();
        ASSERT_GT(caps.InputReportLength, 1);
        std::vector<uint8_t> report(caps.InputReportLength);
        EXPECT_EQ(handle->ReadReport(report.data(), report.size(), ReaderSliceMs).Status, HidReadStatus::TimedOut);
        const HidReadResult shorter = handle->ReadReport(report.data(), report.size() - 1, ReaderSliceMs);
        EXPECT_EQ(shorter.Status, HidReadStatus::Failed);
        EXPECT_NE(shorter.Error, 0u);
    }
}

// A read with nothing to deliver is cancelled at the end of its slice, long before the reader's
// stop time runs out, and the handle reads again afterwards.
TEST_F(WindowsHost, PendingReadIsCancelledAtTheEndOfItsSlice)
{
    std::unique_ptr<HidHandle> handle = Host.Open(Devices.front().Path);
    ASSERT_TRUE(handle) << Host.LastErrorText();
    HidCaps caps;
    ASSERT_TRUE(handle->GetCaps(caps));
    std::vector<uint8_t> report(caps.InputReportLength);
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        const HidReadResult read = handle->ReadReport(report.data(), report.size(), ReaderSliceMs);
        EXPECT_EQ(read.Status, HidReadStatus::TimedOut);
        EXPECT_LT(Since(start), std::chrono::milliseconds(ReaderStopWaitMs));
    }
    handle.reset(); // nothing pending is left to the closed handle
}

// A device without feature reports refuses them with a system error that has a text; a report
// the device has no room for is not written.
TEST_F(WindowsHost, RefusalsCarryTheSystemError)
{
    for (const VirtualDevice& device : Devices) {
        SCOPED_TRACE(device.Path);
        std::unique_ptr<HidHandle> handle = Host.Open(device.Path);
        ASSERT_TRUE(handle);
        HidCaps caps;
        ASSERT_TRUE(handle->GetCaps(caps));
        if (caps.FeatureReportLength == 0) {
            uint8_t feature[8] = {};
            SetLastError(ERROR_SUCCESS);
            EXPECT_FALSE(handle->GetFeature(feature, sizeof feature));
            EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
            EXPECT_NE(Host.LastErrorText(), "");
        }
        std::vector<uint8_t> tooLong(static_cast<size_t>(caps.OutputReportLength) + 1, 0);
        const auto start = Clock::now();
        EXPECT_FALSE(handle->WriteReport(tooLong.data(), tooLong.size(), WriteCompletionWaitMs));
        EXPECT_LT(Since(start), std::chrono::milliseconds(ReaderStopWaitMs));
    }
}

// A path that is not there: no ids, no handle, and the system's reason in LastErrorText.
TEST(WindowsHostPaths, MissingPathIsExplained)
{
    RecordingHost host;
    const std::string missing = "\\\\?\\hid#vid_0000&pid_0000#0&0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    HidAttributes ids;
    EXPECT_FALSE(host.ReadIds(missing, ids));
    const DWORD error = GetLastError();
    EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(host.LastErrorText(), WindowsHidHost::SystemErrorText(error));
    EXPECT_FALSE(host.Open(missing));
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(WindowsHostPaths, SystemErrorTextHasNoLineBreak)
{
    const std::string denied = WindowsHidHost::SystemErrorText(ERROR_ACCESS_DENIED);
    EXPECT_NE(denied, "");
    EXPECT_EQ(denied.find_first_of("\r\n"), std::string::npos);
    EXPECT_NE(denied.back(), ' ');
    // A number the system has no text for is still named.
    EXPECT_EQ(WindowsHidHost::SystemErrorText(0x2BADF00Du), "Error " + std::to_string(0x2BADF00Du));
}

// The transport finds the virtual devices through the host, opens one (two overlapped handles,
// the reader at raised priority) and closes it within the reader's stop time.
TEST(WindowsHostTransport, OpenAndCloseWithinTheStopTime)
{
    VirtualUnitHost host;
    HIDDeviceEx device(host);
    device.FindDevices();
    if (device.DeviceCount() == 0)
        GTEST_SKIP() << "no HID device of vendor 0x845E";
    ASSERT_EQ(device.OpenByIndex(0, 0), 0u);
    EXPECT_TRUE(device.IsOpen());
    const auto start = Clock::now();
    EXPECT_EQ(device.Close(), 0u);
    EXPECT_LT(Since(start), std::chrono::milliseconds(ReaderStopWaitMs));
    EXPECT_FALSE(device.IsOpen());
    const std::vector<std::string> expected = {"+++++ Starting - HIDExReadThread ",
                                               "+++++ PRIORITY CHANGED - HIDExReadThread ",
                                               "+++++ Exiting - HIDExReadThread "};
    EXPECT_EQ(host.Traces, expected);
    EXPECT_TRUE(host.Messages.empty());
}

TEST(WindowsHostThreads, ReaderPriorityIsAboveNormal)
{
    WindowsHidHost host;
    int priority = THREAD_PRIORITY_ERROR_RETURN;
    std::thread reader([&] {
        host.RaiseThreadPriority();
        priority = GetThreadPriority(GetCurrentThread());
    });
    reader.join();
    EXPECT_EQ(priority, THREAD_PRIORITY_ABOVE_NORMAL);
}

// While one thread holds a unit, a holder on another thread waits its time and gets nothing;
// once the first lets go, the unit can be had at once.
TEST(WindowsHostThreads, UnitLockExcludesAnotherThread)
{
    WindowsHidHost host;
    const std::string path = "\\\\?\\hid#lock-test#" + std::to_string(GetCurrentProcessId());
    UnitLockAttempt first = host.LockUnit(path, 0);
    ASSERT_TRUE(first.Lock);
    bool secondGotIt = true;
    std::thread other([&] { secondGotIt = host.LockUnit(path, 100).Lock != nullptr; });
    other.join();
    EXPECT_FALSE(secondGotIt);
    first.Lock.reset();
    bool thirdGotIt = false;
    bool thirdSawUnfinished = true;
    std::thread later([&] {
        UnitLockAttempt third = host.LockUnit(path, 0);
        thirdGotIt = third.Lock != nullptr;
        thirdSawUnfinished = third.PreviousUnfinished;
    });
    later.join();
    EXPECT_TRUE(thirdGotIt);
    EXPECT_FALSE(thirdSawUnfinished);
}

// With TESSALY_TRACE set when the host is made, trace lines also go to stderr, one a line.
TEST(WindowsHostTrace, TraceLinesToStderrOnRequest)
{
    ASSERT_EQ(_putenv("TESSALY_TRACE=1"), 0);
    WindowsHidHost tracing;
    ASSERT_EQ(_putenv("TESSALY_TRACE="), 0); // an empty value removes the variable
    WindowsHidHost quiet;
    ::testing::internal::CaptureStderr();
    tracing.Trace("+++++ Starting - HIDExReadThread ");
    quiet.Trace("+++++ Exiting - HIDExReadThread ");
    std::fflush(stderr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "+++++ Starting - HIDExReadThread \n");
}
