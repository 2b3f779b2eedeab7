#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "SimHost.h"
#include "SimTestSupport.h"

using namespace sim;
using simtest::Payload;
using Report = std::array<uint8_t, 64>;
using Clock = std::chrono::steady_clock;

namespace {

class HostTest : public ::testing::Test {
protected:
    SimOptions Options(LinkModel link = LinkModel::Instant)
    {
        SimOptions options;
        options.Unit.CardFolder = Card.Path();
        options.Link = link;
        return options;
    }
    // Writes the request's reports through `handle`; true when every one was written.
    static bool Send(HidHandle& handle, uint16_t code, const std::vector<uint8_t>& payload, uint32_t timeoutMs = 100)
    {
        for (const Report& report : simtest::RequestReports(code, payload))
            if (!handle.WriteReport(report.data(), report.size(), timeoutMs))
                return false;
        return true;
    }
    // Reads reports until none comes within `sliceMs`.
    static std::vector<Report> Drain(HidHandle& handle, uint32_t sliceMs = 50)
    {
        std::vector<Report> reports;
        Report report{};
        while (handle.ReadReport(report.data(), report.size(), sliceMs).Status == HidReadStatus::Good)
            reports.push_back(report);
        return reports;
    }
    // A read request for the first `count` bytes of Logs/big.displog.
    std::vector<uint8_t> BigRead(uint32_t count)
    {
        return Payload().Text("A:\\Logs").Text("big.displog").U32(0).U32(count).Finish();
    }

    testsupport::TempFolder Card;
};

} // namespace

// The unit is listed only while plugged, with the vendor id and the product id of its mode;
// it has 64-byte input and output reports and no feature report.
TEST_F(HostTest, EnumerationAndIds)
{
    SimOptions options = Options();
    options.ForeignInterface = true;
    SimHost host(options);
    HidInterfaceList list = host.ListInterfaces();
    EXPECT_EQ(list.Paths, (std::vector<std::string>{SimForeignPath, SimUnitPath}));
    HidAttributes ids;
    ASSERT_TRUE(host.ReadIds(SimUnitPath, ids));
    EXPECT_EQ(ids.VendorId, TESSALY_VENDOR_ID);
    EXPECT_EQ(ids.ProductId, 0x0801);
    ASSERT_TRUE(host.ReadIds(SimForeignPath, ids));
    EXPECT_NE(ids.VendorId, TESSALY_VENDOR_ID);

    auto handle = host.Open(SimUnitPath);
    ASSERT_TRUE(handle);
    HidCaps caps;
    ASSERT_TRUE(handle->GetCaps(caps));
    EXPECT_EQ(caps.InputReportLength, 64);
    EXPECT_EQ(caps.OutputReportLength, 64);
    EXPECT_EQ(caps.FeatureReportLength, 0);

    host.Unplug();
    EXPECT_EQ(host.ListInterfaces().Paths, (std::vector<std::string>{SimForeignPath}));
    EXPECT_FALSE(host.ReadIds(SimUnitPath, ids));
    EXPECT_FALSE(host.Open(SimUnitPath));
    EXPECT_FALSE(host.LastErrorText().empty());

    host.RestartInBootloader();
    ASSERT_TRUE(host.ReadIds(SimUnitPath, ids));
    EXPECT_EQ(ids.ProductId, 0x0800);
}

// Every open handle gets its own copy of each input report, as with hidraw.
TEST_F(HostTest, EachHandleGetsACopy)
{
    SimHost host(Options());
    auto reader = host.Open(SimUnitPath);
    auto writer = host.Open(SimUnitPath);
    ASSERT_TRUE(reader && writer);
    ASSERT_TRUE(Send(*writer, 0x4000, {}));
    EXPECT_EQ(Drain(*reader, 10).size(), 1u);
    EXPECT_EQ(Drain(*writer, 10).size(), 1u);
    writer.reset();
    EXPECT_EQ(host.OpenHandles(), 1);
}

// A handle keeps at most 64 unread reports; newer ones are dropped, as the kernel does.
TEST_F(HostTest, UnreadReportsAreBounded)
{
    Card.Write("Logs/big.displog", simtest::Pattern(6000));
    SimOptions options = Options();
    options.Unit.MaxReadBlock = 6000;
    SimHost host(options);
    auto handle = host.Open(SimUnitPath);
    ASSERT_TRUE(Send(*handle, 0x4013, BigRead(6000)));
    // 6005 payload + 4 header bytes take 102 reports; only the first 64 are kept.
    const std::vector<Report> reports = Drain(*handle, 10);
    ASSERT_EQ(reports.size(), 64u);
    EXPECT_EQ(reports[0][7] | reports[0][8] << 8, 6009);
    EXPECT_EQ(host.OverflowDrops(), 102u - 64u);
}

// Unplugging fails every open handle for good; a handle opened after the unit is back works.
TEST_F(HostTest, UnplugFailsOpenHandles)
{
    SimHost host(Options());
    auto old = host.Open(SimUnitPath);
    host.Unplug();
    Report report{};
    EXPECT_EQ(old->ReadReport(report.data(), 64, 10).Status, HidReadStatus::Failed);
    EXPECT_FALSE(old->WriteReport(report.data(), 64, 10));
    host.Plug();
    EXPECT_EQ(old->ReadReport(report.data(), 64, 10).Status, HidReadStatus::Failed);
    auto fresh = host.Open(SimUnitPath);
    ASSERT_TRUE(Send(*fresh, 0x4000, {}));
    EXPECT_EQ(Drain(*fresh, 10).size(), 1u);
}

// A read blocked in its wait notices the unplug at once, not at the end of its time-out.
TEST_F(HostTest, BlockedReadSeesUnplug)
{
    SimHost host(Options());
    auto handle = host.Open(SimUnitPath);
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        host.Unplug();
    });
    Report report{};
    const auto start = Clock::now();
    EXPECT_EQ(handle->ReadReport(report.data(), 64, 5000).Status, HidReadStatus::Failed);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    unplug.join();
}

// FinishUpdate: the bootloader leaves the bus and the unit comes back in normal mode after the
// reboot time, with the programmed bytes still in flash.
TEST_F(HostTest, FinishReturnsInNormalMode)
{
    SimOptions options = Options();
    options.StartInBootloader = true;
    options.RebootMs = 40;
    SimHost host(options);
    auto handle = host.Open(SimUnitPath);
    ASSERT_TRUE(Send(*handle, 0x6002, Payload().U8(0).U32(0x10008000).U32(4).Raw({1, 2, 3, 4}).Finish()));
    EXPECT_EQ(Drain(*handle, 10).size(), 1u);
    ASSERT_TRUE(Send(*handle, 0x6004, {}));
    EXPECT_FALSE(host.IsPlugged());
    Report report{};
    EXPECT_EQ(handle->ReadReport(report.data(), 64, 10).Status, HidReadStatus::Failed);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(host.ListInterfaces().Paths.size(), 1u);
    EXPECT_EQ(host.Mode(), UnitMode::Normal);
    EXPECT_EQ(host.ReadFlash(0x10008000, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
}

// At full speed a reply of 18 reports cannot arrive in less than 18 ms after the 1 ms request.
TEST_F(HostTest, FullSpeedPacesReports)
{
    Card.Write("Logs/big.displog", simtest::Pattern(1024));
    SimHost host(Options(LinkModel::FullSpeed));
    auto handle = host.Open(SimUnitPath);
    const auto start = Clock::now();
    ASSERT_TRUE(Send(*handle, 0x4013, BigRead(1024)));
    std::vector<Report> reports;
    Report report{};
    while (reports.size() < 18 && handle->ReadReport(report.data(), 64, 500).Status == HidReadStatus::Good)
        reports.push_back(report);
    EXPECT_EQ(reports.size(), 18u);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(19));
    EXPECT_EQ(host.Counts().Out, 1u);
    EXPECT_EQ(host.Counts().In, 18u);
}

// drop-in, dup-in and corrupt-in act on the numbered input report only.
TEST_F(HostTest, InputReportFaults)
{
    Card.Write("Logs/big.displog", simtest::Pattern(1024));
    SimHost host(Options());
    auto handle = host.Open(SimUnitPath);
    const std::vector<Report> clean = (Send(*handle, 0x4013, BigRead(1024)), Drain(*handle, 10));
    ASSERT_EQ(clean.size(), 18u);

    host.SetFaultPlan(*FaultPlan::Parse("drop-in=2,dup-in=5,corrupt-in=7:20"));
    ASSERT_TRUE(Send(*handle, 0x4013, BigRead(1024)));
    const std::vector<Report> faulty = Drain(*handle, 10);
    ASSERT_EQ(faulty.size(), 18u); // one lost, one doubled
    EXPECT_EQ(faulty[0], clean[0]);
    EXPECT_EQ(faulty[1], clean[2]);
    EXPECT_EQ(faulty[3], clean[4]);
    EXPECT_EQ(faulty[4], clean[4]);
    EXPECT_EQ(faulty[6][20], clean[6][20] ^ 0xFF);
    EXPECT_EQ(faulty[6][21], clean[6][21]);
}

// delay-in holds an input report back; the reports after it queue behind it.
TEST_F(HostTest, DelayedInputReport)
{
    Card.Write("Logs/big.displog", simtest::Pattern(200));
    SimHost host(Options());
    host.SetFaultPlan(*FaultPlan::Parse("delay-in=2:80"));
    auto handle = host.Open(SimUnitPath);
    ASSERT_TRUE(Send(*handle, 0x4013, BigRead(200)));
    Report report{};
    EXPECT_EQ(handle->ReadReport(report.data(), 64, 10).Status, HidReadStatus::Good);
    EXPECT_EQ(handle->ReadReport(report.data(), 64, 20).Status, HidReadStatus::TimedOut);
    EXPECT_EQ(handle->ReadReport(report.data(), 64, 1000).Status, HidReadStatus::Good);
    EXPECT_EQ(handle->ReadReport(report.data(), 64, 10).Status, HidReadStatus::Good);
}

// Output faults: a dropped report is never answered, a corrupted one fails its checksum, a
// duplicated one-report request is run twice, and a delay beyond the write's time-out fails it.
TEST_F(HostTest, OutputReportFaults)
{
    SimHost host(Options());
    auto handle = host.Open(SimUnitPath);
    const auto remove = Payload().Text("A:\\Maps").Text("none").U8(0).Finish();
    host.SetFaultPlan(*FaultPlan::Parse("drop-out=1,corrupt-out=2,dup-out=3,delay-out=4:300"));
    ASSERT_TRUE(Send(*handle, 0x4014, remove));
    EXPECT_TRUE(Drain(*handle, 10).empty());
    ASSERT_TRUE(Send(*handle, 0x4014, remove));
    auto replies = simtest::Assemble(Drain(*handle, 10));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].Payload[0], StatusBadChecksum);
    ASSERT_TRUE(Send(*handle, 0x4014, remove));
    EXPECT_EQ(simtest::Assemble(Drain(*handle, 10)).size(), 2u);
    EXPECT_FALSE(Send(*handle, 0x4014, remove, 100));
    EXPECT_TRUE(Drain(*handle, 10).empty());
}

// mute-after stops the answers but not the writes; unplug-after takes the unit off the bus.
TEST_F(HostTest, MuteAndUnplugAfter)
{
    SimHost host(Options());
    auto handle = host.Open(SimUnitPath);
    host.SetFaultPlan(*FaultPlan::Parse("mute-after=3"));
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(Send(*handle, 0x4000, {}));
    EXPECT_EQ(Drain(*handle, 10).size(), 1u); // out, in, out: the third crossing mutes
    EXPECT_TRUE(host.IsPlugged());

    host.SetFaultPlan(*FaultPlan::Parse("unplug-after=3"));
    ASSERT_TRUE(Send(*handle, 0x4000, {}));
    ASSERT_TRUE(Send(*handle, 0x4000, {}));
    EXPECT_FALSE(host.IsPlugged());
    Report report{};
    EXPECT_EQ(handle->ReadReport(report.data(), 64, 10).Status, HidReadStatus::Failed);
    host.Plug();
    EXPECT_TRUE(host.IsPlugged());
}

namespace {

// Sets or clears a variable of this process's environment.
void SetVariable(const char* name, const std::string& value)
{
#ifdef _WIN32
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

void ClearVariable(const char* name)
{
#ifdef _WIN32
    ::_putenv_s(name, ""); // an empty value removes the variable
#else
    ::unsetenv(name);
#endif
}

} // namespace

// The tools' settings come from the environment; a bad plan or link name is an error.
TEST_F(HostTest, OptionsFromEnvironment)
{
    SetVariable("TESSALY_SIM_LINK", "full-speed");
    SetVariable("TESSALY_SIM_CARD", Card.Path().string());
    SetVariable(FaultPlanVariable, "drop-in=3");
    auto options = SimOptions::FromEnvironment();
    ASSERT_TRUE(options);
    EXPECT_FALSE(options->EchoTrace);
    EXPECT_EQ(options->Link, LinkModel::FullSpeed);
    EXPECT_EQ(options->Unit.CardFolder, Card.Path());
    EXPECT_EQ(options->Faults.Reports.size(), 1u);
    std::string error;
    SetVariable(FaultPlanVariable, "drop-in=nine");
    EXPECT_FALSE(SimOptions::FromEnvironment(&error));
    EXPECT_EQ(error.rfind("TESSALY_SIM_FAULTS: ", 0), 0u) << error;
    ClearVariable(FaultPlanVariable);
    SetVariable("TESSALY_SIM_LINK", "warp");
    EXPECT_FALSE(SimOptions::FromEnvironment(&error));
    EXPECT_NE(error.find("TESSALY_SIM_LINK"), std::string::npos);
    ClearVariable("TESSALY_SIM_LINK");
    // TESSALY_TRACE sends the trace lines to standard error with the simulated unit as well.
    SetVariable("TESSALY_TRACE", "1");
    options = SimOptions::FromEnvironment();
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->EchoTrace);
    ClearVariable("TESSALY_TRACE");
    ClearVariable("TESSALY_SIM_CARD");
    ClearVariable(FaultPlanVariable);
}

#ifdef _WIN32
// Windows keeps a program's local data under %LOCALAPPDATA%: the simulated card goes there, a
// folder name outside the 8-bit code page included.
TEST_F(HostTest, DefaultCardUnderLocalAppData)
{
    const std::filesystem::path local = Card.Path() / L"Loc\u00E1l \u65E5";
    const std::wstring previous = ::_wgetenv(L"LOCALAPPDATA") ? ::_wgetenv(L"LOCALAPPDATA") : L"";
    ::_wputenv_s(L"LOCALAPPDATA", local.c_str());
    EXPECT_EQ(SimOptions::DefaultCardFolder(), local / "Tessaly" / "sim-card");
    ::_wputenv_s(L"LOCALAPPDATA", previous.c_str());
}
#endif

// Ticks start at the chosen offset, so the wrap of the counter can be reached in a test.
TEST_F(HostTest, TickOffset)
{
    SimOptions options = Options();
    options.TickOffset = 0xFFFFFFF0u;
    SimHost host(options);
    EXPECT_GE(host.Ticks(), 0xFFFFFFF0u);
    host.Pause(30);
    EXPECT_LT(host.Ticks(), 0x1000u);
}
