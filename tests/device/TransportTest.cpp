#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "FakeHost.h"
#include "HIDDeviceEx.h"

namespace {

constexpr const char* UnitPath = "fake:unit";

class FramedDevice : public HIDDeviceEx {
public:
    explicit FramedDevice(HidHost& host) : HIDDeviceEx(host) { FramedInput = true; }
    using HIDDeviceEx::TakeReaderAlarm;
};

// A device that names the replies it sends: a block reply of any length and a
// 53-byte information reply.
class KnownRepliesDevice : public FramedDevice {
public:
    explicit KnownRepliesDevice(HidHost& host) : FramedDevice(host) { KnownReplies = {{0x4013, 0xFFFF}, {0x4000, 57}}; }
};

FakeInterface Unit(uint16_t product = 0x0801, HidCaps caps = {64, 64, 0})
{
    FakeInterface iface;
    iface.Ids = {VendorId, product};
    iface.Caps = caps;
    return iface;
}

HID_COMMAND Request(uint16_t code, std::vector<uint8_t> payload = {})
{
    HID_COMMAND command;
    command.Magic = FrameMarker;
    command.Code = code;
    command.Length = static_cast<uint32_t>(payload.size());
    command.Data = std::move(payload);
    return command;
}

// Waits (briefly, bounded) until the reader has queued `count` replies.
bool WaitQueued(HIDDeviceEx& device, uint32_t count)
{
    for (int i = 0; i < 500 && device.QueuedReplies() < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return device.QueuedReplies() >= count;
}

class Transport : public ::testing::Test {
protected:
    void SetUp() override { host.AddInterface(UnitPath, Unit()); }
    void Open(HIDDeviceEx& device)
    {
        device.FindDevices();
        ASSERT_EQ(device.DeviceCount(), 1);
        ASSERT_EQ(device.OpenByIndex(0, 0), 0u);
        ASSERT_TRUE(device.IsOpen());
    }
    FakeHost host;
};

} // namespace

TEST_F(Transport, EnumerationKeepsOnlyTheVendorAndPattern)
{
    host.AddInterface("fake:other-vendor", FakeInterface{{0x1234, 0x0801}, {64, 64, 0}, {}});
    host.AddInterface("fake:boot", Unit(0x0800));
    HIDDeviceEx device(host);
    device.FindDevicesById(0x0801);
    ASSERT_EQ(device.DeviceCount(), 1);
    EXPECT_EQ(device.DevicePaths()[0], UnitPath);
    device.FindDevicesById(0x08FF);
    EXPECT_EQ(device.DeviceCount(), 2);
    device.FindDevices();
    EXPECT_EQ(device.DeviceCount(), 2);
}

TEST_F(Transport, EnumerationFailuresShowTheirMessages)
{
    HIDDeviceEx device(host);
    host.OverrideList = true;
    host.NextList.SetAvailable = false;
    device.FindDevices();
    EXPECT_EQ(device.DeviceCount(), 0);
    host.NextList = HidInterfaceList{true, {UnitPath}, "The device is not ready."};
    device.FindDevices();
    // What was found before the listing broke off is kept.
    EXPECT_EQ(device.DeviceCount(), 1);
    const auto messages = host.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "SetupDiGetClassDevs Failure: SetupDiGetClassDevs: PnpHandle Failure");
    EXPECT_EQ(messages[1], "EnumInterface Failure: The device is not ready.");
}

TEST_F(Transport, OpenByIndexOutsideFoundPathsLeavesOpenDeviceAlone)
{
    HIDDeviceEx device(host);
    Open(device);
    EXPECT_EQ(device.OpenByIndex(1, 0), ERR_NO_PATH);
    EXPECT_EQ(device.OpenByIndex(-1, 0), ERR_NO_PATH);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.OpenByPath(nullptr, 0), ERR_NO_PATH);
    EXPECT_FALSE(device.IsOpen());
}

TEST_F(Transport, OpenRefusesOtherVendorAndMissingPath)
{
    host.AddInterface("fake:other-vendor", FakeInterface{{0x1234, 0x0801}, {64, 64, 0}, {}});
    HIDDeviceEx device(host);
    EXPECT_EQ(device.OpenByPath("fake:other-vendor", 0), ERR_UNKNOWN_DEV);
    EXPECT_EQ(device.OpenByPath("fake:absent", 0), ERR_PORT_FAILURE);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(host.OpenHandles(), 0);
}

TEST_F(Transport, OpenTracesAndCloseStopsTheReader)
{
    {
        HIDDeviceEx device(host);
        Open(device);
        EXPECT_EQ(host.OpenHandles(), 2); // a read and a write handle
        EXPECT_EQ(device.Close(), 0u);
        EXPECT_FALSE(device.IsOpen());
        EXPECT_EQ(host.OpenHandles(), 0);
    }
    const auto traces = host.Traces();
    const std::vector<std::string> expected = {"+++++ Starting - HIDExReadThread ",
                                               "+++++ PRIORITY CHANGED - HIDExReadThread ",
                                               "+++++ Exiting - HIDExReadThread "};
    EXPECT_EQ(traces, expected);
}

TEST_F(Transport, ReportModeFromFeatureReport)
{
    FakeInterface featured = Unit();
    featured.Caps.FeatureReportLength = 3;
    featured.Feature = {0, 0x34, 0x12};
    host.AddInterface("fake:featured", featured);
    HIDDeviceEx device(host);
    ASSERT_EQ(device.OpenByPath("fake:featured", 0), 0u);
    EXPECT_EQ(device.ReportMode, 0x1234);
    ASSERT_EQ(device.OpenByPath(UnitPath, 0), 0u);
    EXPECT_EQ(device.ReportMode, 0xFFFF);
}

// A feature report of exactly 6 bytes marks a serial bridge; a rate given at
// open is sent in the bridge feature report.
TEST_F(Transport, SerialBridgeGetsRateAndCountedReports)
{
    FakeInterface bridge = Unit();
    bridge.Caps.FeatureReportLength = 6;
    host.AddInterface("fake:bridge", bridge);
    HIDDeviceEx device(host);
    ASSERT_EQ(device.OpenByPath("fake:bridge", 9600), 0u);
    EXPECT_EQ(device.ReportMode, 0);
    EXPECT_EQ(device.BridgeRate, 9600u);
    const auto features = host.FeaturesSet();
    ASSERT_EQ(features.size(), 1u);
    EXPECT_EQ(features[0], (Report{0, 0x80, 0x25, 0, 0, 3}));

    // At half the reference rate a report carries half of its 61 bytes of room.
    std::vector<uint8_t> data(100);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i + 1);
    ASSERT_EQ(device.WriteRaw(data.data(), 100), 0u);
    const auto written = host.Written();
    ASSERT_EQ(written.size(), 4u); // 30 + 30 + 30 + 10
    EXPECT_EQ(written[0][0], 0);
    EXPECT_EQ(written[0][1], 0);
    EXPECT_EQ(written[0][2], 30);
    EXPECT_EQ(written[0][3], 1);
    EXPECT_EQ(written[0][32], 30);
    EXPECT_EQ(written[0][33], 0);
    EXPECT_EQ(written[3][2], 10);
    EXPECT_EQ(written[3][12], 100);
}

TEST_F(Transport, WriteRawWithoutBridgeUsesWholeReport)
{
    HIDDeviceEx device(host);
    Open(device);
    ASSERT_EQ(device.WriteByte(0x5A), 0u);
    const auto written = host.Written();
    ASSERT_EQ(written.size(), 1u);
    Report expected(64, 0);
    expected[1] = 0x5A;
    EXPECT_EQ(written[0], expected);
    EXPECT_EQ(device.SetBridgeRate(1200), 0u);
    device.Close();
    EXPECT_EQ(device.SetBridgeRate(1200), ERR_DEVICE_CLOSED);
}

// A request without payload is one report: id, marker, code, total length 4.
TEST_F(Transport, CommandWithoutPayloadIsOneReport)
{
    HIDDeviceEx device(host);
    Open(device);
    ASSERT_EQ(device.WriteCommand(Request(0x4000)), 0u);
    const auto written = host.Written();
    ASSERT_EQ(written.size(), 1u);
    Report expected(64, 0);
    const uint8_t head[] = {0x00, 0x55, 0xAA, 0xAA, 0x55, 0x00, 0x40, 0x04, 0x00};
    std::copy(std::begin(head), std::end(head), expected.begin());
    EXPECT_EQ(written[0], expected);
}

// Each report carries at most 59 stream bytes: a 3086-byte stream takes 53.
TEST_F(Transport, LongRequestIsCutInto59ByteReports)
{
    HIDDeviceEx device(host);
    Open(device);
    std::vector<uint8_t> payload(3082);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(device.WriteCommand(Request(0x6002, payload)), 0u);
    const auto written = host.Written();
    ASSERT_EQ(written.size(), 53u);
    std::vector<uint8_t> stream;
    for (const Report& report : written) {
        ASSERT_EQ(report.size(), 64u);
        EXPECT_EQ(Report(report.begin(), report.begin() + 5), (Report{0, 0x55, 0xAA, 0xAA, 0x55}));
        stream.insert(stream.end(), report.begin() + 5, report.end());
    }
    EXPECT_EQ(stream[0], 0x02);
    EXPECT_EQ(stream[1], 0x60);
    EXPECT_EQ(stream[2] | (stream[3] << 8), 3086);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), stream.begin() + 4));
    // The last report is zero-filled after the stream's end.
    EXPECT_TRUE(std::all_of(stream.begin() + 3086, stream.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(Transport, UnframedRequestHasOneByteHeader)
{
    HIDDeviceEx device(host);
    Open(device);
    HID_COMMAND raw = Request(0x1234, {9});
    raw.Magic = NoMarker;
    ASSERT_EQ(device.WriteCommand(raw), 0u);
    const auto written = host.Written();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(Report(written[0].begin(), written[0].begin() + 7), (Report{0, 0x34, 0x12, 5, 0, 9, 0}));
}

// The first report that is not written ends the command; nothing is retried.
TEST_F(Transport, FailedReportEndsCommand)
{
    HIDDeviceEx device(host);
    EXPECT_EQ(device.WriteCommand(Request(0x4000)), ERR_WRITE_FAILED); // not open
    Open(device);
    host.WritesBeforeFailure = 2;
    EXPECT_EQ(device.WriteCommand(Request(0x6002, std::vector<uint8_t>(500))), ERR_WRITE_FAILED);
    EXPECT_EQ(host.Written().size(), 2u);
}

TEST_F(Transport, ReplyAssembledFromSeveralReports)
{
    FramedDevice device(host);
    Open(device);
    std::vector<uint8_t> payload(1029);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i);
    const auto reports = FrameReply(0x4013, payload);
    // 55 bytes in the first report, 59 in each later one.
    ASSERT_EQ(reports.size(), 18u);
    host.Inject(reports);
    uint32_t status = 1;
    auto reply = device.WaitNextReply(0x4013, 1000, status);
    ASSERT_TRUE(reply);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(reply->Length, 1029u);
    EXPECT_EQ(reply->Data, payload);
    EXPECT_EQ(reply->Magic, FrameMarker);
}

// Trailing bytes of the last report beyond the expected length are ignored,
// and a message of total length 4 or less has no payload.
TEST_F(Transport, ShortAndEmptyMessages)
{
    FramedDevice device(host);
    Open(device);
    auto reports = FrameReply(0x4000, {1, 2, 3});
    std::fill(reports[0].begin() + 12, reports[0].end(), 0xEE);
    host.Inject(reports);
    Report empty(64, 0xCC);
    empty[5] = 0x11;
    empty[6] = 0x40;
    empty[7] = 2; // total length below 4
    empty[8] = 0;
    host.Inject(empty);
    ASSERT_TRUE(WaitQueued(device, 2));
    auto first = device.PopReply();
    EXPECT_EQ(first->Data, (std::vector<uint8_t>{1, 2, 3}));
    auto second = device.PopReply();
    EXPECT_EQ(second->Code, 0x4011u);
    EXPECT_EQ(second->Length, 0u);
    EXPECT_TRUE(second->Data.empty());
}

// A reply that lost a report is dropped once the reports pause, so the next
// reply is assembled from its own reports and not glued onto the old one. The
// cut reply is queued with its code and no payload: it answered a request.
TEST_F(Transport, LostReportDoesNotSpoilTheNextReply)
{
    FramedDevice device(host);
    Open(device);
    std::vector<uint8_t> payload(1029, 0x11);
    auto broken = FrameReply(0x4013, payload);
    broken.erase(broken.begin() + 3); // lost on the way
    host.Inject(broken);
    std::this_thread::sleep_for(std::chrono::milliseconds(MessageGapMs + 150));
    std::fill(payload.begin(), payload.end(), 0x22);
    host.Inject(FrameReply(0x4013, payload));
    uint32_t status = 1;
    auto cut = device.WaitNextReply(0x4013, 1000, status);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->Length, 0u);
    auto reply = device.WaitNextReply(0x4013, 1000, status);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Data, payload);
    EXPECT_EQ(device.QueuedReplies(), 0u);
    EXPECT_TRUE(device.TakeReaderAlarm());
    EXPECT_FALSE(device.TakeReaderAlarm());
}

// Issue 21: with no pause between them (a duplicated request's two answers,
// USB full speed), a report that repeats the start header of the message
// under way (same code, same total) starts the next reply. Wherever the
// report was lost, the first reply is cut (queued without payload) and the
// second arrives whole, never the first glued to the second's bytes.
TEST_F(Transport, RepeatedStartHeaderCutsTheHalfBuiltReply)
{
    FramedDevice device(host);
    Open(device);
    std::vector<uint8_t> first(1029, 0x11);
    std::vector<uint8_t> second(1029, 0x22);
    for (const size_t lost : {1u, 9u, 17u}) {
        auto broken = FrameReply(0x4013, first);
        broken.erase(broken.begin() + static_cast<long>(lost));
        host.Inject(broken);
        host.Inject(FrameReply(0x4013, second));
        ASSERT_TRUE(WaitQueued(device, 2));
        auto cut = device.PopReply();
        EXPECT_EQ(cut->Code, 0x4013u);
        EXPECT_EQ(cut->Length, 0u);
        auto whole = device.PopReply();
        EXPECT_EQ(whole->Data, second) << "report " << lost << " lost";
        EXPECT_TRUE(device.TakeReaderAlarm());
    }
    // A reply of another shape does not cut the message under way: its bytes
    // are payload (here the message then completes with them).
    auto shortReply = FrameReply(0x4013, std::vector<uint8_t>(100, 0x33));
    auto broken = FrameReply(0x4013, first);
    broken.pop_back();
    host.Inject(broken);
    host.Inject(shortReply);
    ASSERT_TRUE(WaitQueued(device, 1));
    EXPECT_EQ(device.PopReply()->Length, 1029u);
}

// A false start inside a reply (payload bytes that happen to equal the start
// header) costs that reply, but the half message it begins is not counted as
// one more reply when it never completes.
TEST_F(Transport, FalseStartIsNotCountedTwice)
{
    FramedDevice device(host);
    Open(device);
    std::vector<uint8_t> payload(1029, 0x44);
    // Bytes 5-8 of the fourth report carry 13 40 09 04.
    const size_t at = 55 + 2 * 59;
    payload[at] = 0x13;
    payload[at + 1] = 0x40;
    payload[at + 2] = 0x09;
    payload[at + 3] = 0x04;
    host.Inject(FrameReply(0x4013, payload));
    std::this_thread::sleep_for(std::chrono::milliseconds(MessageGapMs + 150));
    ASSERT_TRUE(WaitQueued(device, 1));
    EXPECT_EQ(device.PopReply()->Length, 0u);
    EXPECT_EQ(device.QueuedReplies(), 0u);
}

// With no message under way, a report whose bytes 5-8 name a reply the device
// never sends, or an impossible total, cannot start one: it is dropped and
// counted, and the replies after it are assembled as usual.
TEST_F(Transport, ReportThatCannotStartAMessageIsCounted)
{
    KnownRepliesDevice device(host);
    Open(device);
    auto withHeader = [](uint16_t code, uint16_t total) {
        Report report(64, 0x5A);
        report[0] = 0;
        report[1] = 0x55;
        report[2] = 0xAA;
        report[3] = 0xAA;
        report[4] = 0x55;
        report[5] = static_cast<uint8_t>(code);
        report[6] = static_cast<uint8_t>(code >> 8);
        report[7] = static_cast<uint8_t>(total);
        report[8] = static_cast<uint8_t>(total >> 8);
        return report;
    };
    host.Inject(withHeader(0x5A5A, 0x5A5A)); // unknown code
    host.Inject(withHeader(0x4000, 58));     // longer than the information reply
    host.Inject(withHeader(0x4013, 3));      // shorter than the header
    host.Inject(FrameReply(0x4000, std::vector<uint8_t>(53, 7)));
    ASSERT_TRUE(WaitQueued(device, 1));
    EXPECT_EQ(device.UnplacedReports(), 3u);
    EXPECT_EQ(device.PopReply()->Length, 53u);
    EXPECT_TRUE(device.TakeReaderAlarm());
}

// A reader held up by a busy PC is not silence: the reports that wait in the
// host's queue meanwhile still complete the message they belong to.
TEST_F(Transport, HeldUpReaderKeepsTheReplyWhole)
{
    FramedDevice device(host);
    Open(device);
    std::vector<uint8_t> payload(1029);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i * 7);
    host.HoldAfterNextReport = 300;
    host.Inject(FrameReply(0x4013, payload));
    uint32_t status = 1;
    auto reply = device.WaitNextReply(0x4013, 1000, status);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Data, payload);
    EXPECT_EQ(device.QueuedReplies(), 0u);
}

TEST_F(Transport, IncompleteReportIsSkipped)
{
    FramedDevice device(host);
    Open(device);
    host.Inject(Report(10, 0));
    host.Inject(FrameReply(0x4000, {7}));
    ASSERT_TRUE(WaitQueued(device, 1));
    EXPECT_EQ(device.PopReply()->Data, (std::vector<uint8_t>{7}));
    EXPECT_TRUE(device.IsOpen());
}

TEST_F(Transport, RawInputIsOneMessagePerReport)
{
    HIDDeviceEx device(host);
    Open(device);
    Report report(64, 0);
    report[0] = 3;
    report[1] = 0x42;
    host.Inject(report);
    ASSERT_TRUE(WaitQueued(device, 1));
    auto reply = device.PopReply();
    EXPECT_EQ(reply->Code, NoMarker);
    EXPECT_EQ(reply->Magic, NoMarker);
    EXPECT_EQ(reply->ReportId, 3u);
    EXPECT_EQ(reply->Length, 63u);
    EXPECT_EQ(reply->Data[0], 0x42);
}

// A reply with the right code but one byte too long never satisfies the wait
// and stays queued until the purge finds it stale.
TEST_F(Transport, WaitReplyMatchesExactLength)
{
    FramedDevice device(host);
    Open(device);
    host.Inject(FrameReply(0x4000, std::vector<uint8_t>(54, 1)));
    ASSERT_TRUE(WaitQueued(device, 1));
    uint8_t out[53] = {};
    EXPECT_EQ(device.WaitReply(0x4000, 53, out, 50), ERR_TIMEOUT);
    EXPECT_EQ(device.QueuedReplies(), 1u);
    host.Inject(FrameReply(0x4000, std::vector<uint8_t>(53, 2)));
    EXPECT_EQ(device.WaitReply(0x4000, 53, out, 1000), 0u);
    EXPECT_EQ(out[52], 2);
    EXPECT_EQ(device.QueuedReplies(), 1u);
}

TEST_F(Transport, WaitReplyOnEmptyMatchIsCommandError)
{
    FramedDevice device(host);
    Open(device);
    host.Inject(FrameReply(0x4000, {}));
    ASSERT_TRUE(WaitQueued(device, 1));
    EXPECT_EQ(device.WaitReply(0x4000, 0, nullptr, 100), ERR_COMMAND_ERR);
    EXPECT_EQ(device.QueuedReplies(), 0u);
}

TEST_F(Transport, WaitStatusReturnsFailureByteAtOnce)
{
    FramedDevice device(host);
    Open(device);
    host.Inject(FrameReply(0x4012, {0x03, 0}));
    const uint32_t before = host.Ticks();
    EXPECT_EQ(device.WaitStatus(0x4012, 5000), 0x10000003u);
    // Well before the 5000 ms time-out.
    EXPECT_LT(host.Ticks() - before, 2500u);
    host.Inject(FrameReply(0x4012, {0xFF, 0}));
    EXPECT_EQ(device.WaitStatus(0x4012, 1000), 0u);
    EXPECT_EQ(device.WaitStatus(0x4012, 150), ERR_TIMEOUT);
}

TEST_F(Transport, WaitNextReplyDiscardsOtherCodes)
{
    FramedDevice device(host);
    Open(device);
    host.Inject(FrameReply(0x4011, {1}));
    host.Inject(FrameReply(0x4000, {2}));
    host.Inject(FrameReply(0x4013, {3}));
    host.Inject(FrameReply(0x4011, {4}));
    ASSERT_TRUE(WaitQueued(device, 4));
    uint32_t status = 1;
    auto reply = device.WaitNextReply(0x4013, 1000, status);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Data[0], 3);
    // The two replies before it were dropped; the one after it stays.
    EXPECT_EQ(device.QueuedReplies(), 1u);
    EXPECT_EQ(device.PopReply()->Data[0], 4);
}

// A queued reply is taken without the 100 ms first pause of a polling wait,
// while the deadline still allows 100 ms + the time-out.
TEST_F(Transport, WaitNextReplyTakesQueuedReplyWithoutPausing)
{
    FramedDevice device(host);
    Open(device);
    host.Inject(FrameReply(0x4010, {5}));
    ASSERT_TRUE(WaitQueued(device, 1));
    const int pausesBefore = host.PauseCalls();
    uint32_t status = 1;
    EXPECT_TRUE(device.WaitNextReply(0x4010, 0, status));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(host.PauseCalls(), pausesBefore);
    // With a time-out of 0 a reply arriving within the first 100 ms is still taken.
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        host.Inject(FrameReply(0x4010, {6}));
    });
    auto reply = device.WaitNextReply(0x4010, 0, status);
    late.join();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Data[0], 6);
    EXPECT_FALSE(device.WaitNextReply(0x4010, 0, status));
    EXPECT_EQ(status, ERR_TIMEOUT);
}

TEST_F(Transport, WaitsOnClosedDevice)
{
    FramedDevice device(host);
    uint8_t out[2];
    EXPECT_EQ(device.WaitReply(0x4000, 2, out, 100), ERR_DEVICE_CLOSED);
    EXPECT_EQ(device.WaitStatus(0x4000, 100), ERR_DEVICE_CLOSED);
    uint32_t status = 0;
    EXPECT_FALSE(device.WaitNextReply(0x4000, 100, status));
    EXPECT_EQ(status, ERR_DEVICE_CLOSED);
}

// An unplugged device ends the reader with a trace line; the waits then see a
// closed device instead of waiting out their time-outs.
TEST_F(Transport, UnplugEndsReader)
{
    FramedDevice device(host);
    Open(device);
    host.Unplug(19);
    for (int i = 0; i < 500 && device.IsOpen(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(device.IsOpen());
    const auto traces = host.Traces();
    EXPECT_NE(std::find(traces.begin(), traces.end(), "+++++ Failed Read 19 - HIDExReadThread "), traces.end());
    EXPECT_EQ(device.WaitStatus(0x4012, 1000), ERR_DEVICE_CLOSED);
    EXPECT_EQ(device.WriteCommand(Request(0x4000)), ERR_WRITE_FAILED);
    // Closing after the reader ended on its own is clean.
    EXPECT_EQ(device.Close(), 0u);
    EXPECT_EQ(host.OpenHandles(), 0);
}

TEST_F(Transport, CloseFlushesQueue)
{
    FramedDevice device(host);
    Open(device);
    host.Inject(FrameReply(0x4000, {1}));
    ASSERT_TRUE(WaitQueued(device, 1));
    device.Close();
    EXPECT_EQ(device.QueuedReplies(), 0u);
    EXPECT_EQ(device.PopReply(), nullptr);
}

// Stale replies are dropped from the head after 5000 ms; the age is taken in
// 32-bit arithmetic, so a reply stamped just before the counter wraps is kept.
TEST(TransportPurge, StaleRepliesDroppedAcrossTickWrap)
{
    FakeHost host(0xFFFFFFFFu - 300); // wraps 300 ms after the test starts
    host.AddInterface(UnitPath, Unit());
    FramedDevice device(host);
    device.FindDevices();
    ASSERT_EQ(device.OpenByIndex(0, 0), 0u);
    // Open pauses 125 ms; stamp a reply before the wrap.
    host.Inject(FrameReply(0x4000, {1}));
    ASSERT_TRUE(WaitQueued(device, 1));
    const uint32_t stamped = host.Ticks();
    while (host.Ticks() - stamped < 600) // crosses the wrap; purges run every slice
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LT(host.Ticks(), stamped); // the counter has wrapped
    EXPECT_EQ(device.QueuedReplies(), 1u);
    // Once it is more than 5000 ms old the next purge drops it.
    host.AdvanceTicks(5000);
    for (int i = 0; i < 500 && device.QueuedReplies() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(device.QueuedReplies(), 0u);
}

// A message under way that takes a report whose bytes 5-8 could start a short
// reply of another code (here another program's status) is suspect: a lost
// report may have let that reply's start complete it. It is still assembled
// as the framing says, but counted before it is queued; random payload and
// a header of the message's own code are not suspect.
TEST_F(Transport, ForeignShortStartInsideAMessageIsSuspect)
{
    KnownRepliesDevice device(host);
    Open(device);
    std::vector<uint8_t> payload(1029, 0x11);
    host.Inject(FrameReply(0x4013, payload));
    ASSERT_TRUE(WaitQueued(device, 1));
    EXPECT_EQ(device.SuspectMessages(), 0u);
    (void)device.PopReply();
    auto broken = FrameReply(0x4013, payload);
    broken.erase(broken.begin() + 4);
    host.Inject(broken);
    host.Inject(FrameReply(0x4000, std::vector<uint8_t>(53, 0))); // completes the message
    ASSERT_TRUE(WaitQueued(device, 1));
    EXPECT_EQ(device.SuspectMessages(), 1u);
    EXPECT_EQ(device.PopReply()->Length, 1029u);
}
