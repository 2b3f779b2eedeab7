// The display's command set and the transport's framed-input assembly under
// arbitrary replies. A fake host stands in for the unit: every output report
// the display writes takes one control byte from the input, which releases
// that many framed messages (taken from the input as 64-byte input reports)
// to the reader thread. The harness picks the commands from the same input.
//
// Input: { op selector, op arguments, per written report: control byte, then
// the input reports released by it (63 bytes each, after the report id) }*.
// Control byte: bit 7 = the write fails; bit 6 = the unit is unplugged once
// the released reports are read; bits 0-1 = messages to release. When the
// input runs out the unit stays connected and silent until the harness ends.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ByteOrder.h"
#include "Qxdisplay.h"

namespace {

constexpr uint16_t ReportLength = 64;
constexpr size_t FirstPayloadOffset = 9;
constexpr size_t LaterPayloadOffset = 5;
// Fake milliseconds that pass on every tick read by the commanding thread, so
// that a wait for a reply that never comes runs out after a few looks. Below
// the shortest wait (100 ms): a wait reads the tick twice before it first looks.
constexpr uint32_t TickStep = 90;
// Real-time guard on the hand-over to the reader; never reached normally.
constexpr auto HandOverLimit = std::chrono::seconds(2);

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : Data(data), Size(size) {}
    bool Empty() const { return Pos >= Size; }
    uint8_t U8() { return Empty() ? 0 : Data[Pos++]; }
    // Little-endian; the bytes past the end of the input read as 0.
    uint16_t U16()
    {
        const uint8_t low = U8();
        return static_cast<uint16_t>(low | U8() << 8);
    }
    uint32_t U32()
    {
        const uint16_t low = U16();
        return low | static_cast<uint32_t>(U16()) << 16;
    }
    // Copies up to `length` bytes; the rest of `out` is left as it is.
    void Take(uint8_t* out, size_t length)
    {
        const size_t count = std::min(length, Size - std::min(Pos, Size));
        std::memcpy(out, Data + Pos, count);
        Pos += count;
    }

private:
    const uint8_t* Data;
    size_t Size;
    size_t Pos = 0;
};

// The unit behind both handles. Input is consumed only on the commanding
// thread (in WriteReport and by the harness), so a run depends on the input alone.
class FakeUnit {
public:
    explicit FakeUnit(Input& input) : In(input), Commander(std::this_thread::get_id()) {}

    uint32_t Ticks()
    {
        if (std::this_thread::get_id() != Commander) {
            std::lock_guard lock(Mutex);
            return Clock;
        }
        return Advance(TickStep);
    }

    uint32_t Advance(uint32_t ms)
    {
        std::lock_guard lock(Mutex);
        const uint32_t now = Clock;
        Clock += ms;
        Changed.notify_all();
        return now;
    }

    bool Write()
    {
        const uint8_t control = In.U8();
        if (control & 0x80)
            return false;
        std::unique_lock lock(Mutex);
        bool released = false;
        for (int i = 0; i < (control & 3); ++i)
            released |= ReleaseMessage();
        if (control & 0x40)
            Unplugged = true;
        Changed.notify_all();
        // Hand the replies over before the display starts waiting for them.
        if (released)
            Changed.wait_for(lock, HandOverLimit, [this] { return Drained || ReaderGone; });
        return true;
    }

    HidReadResult Read(uint8_t* report, size_t length, uint32_t timeoutMs)
    {
        std::unique_lock lock(Mutex);
        if (Pending.empty()) {
            Drained = true;
            Changed.notify_all();
        }
        Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return !Pending.empty() || Unplugged || Clock != SeenClock; });
        if (!Pending.empty()) {
            std::memcpy(report, Pending.front().data(), std::min<size_t>(length, ReportLength));
            Pending.pop_front();
            return {HidReadStatus::Good, 0};
        }
        if (Unplugged) {
            ReaderGone = true;
            Changed.notify_all();
            return {HidReadStatus::Failed, 31};
        }
        // The waiting side has looked at the clock: the read ends at once, as
        // after a quiet slice, so that the waiter looks again and sees its
        // time-out pass.
        SeenClock = Clock;
        return {HidReadStatus::TimedOut, 0};
    }

    void Unplug()
    {
        std::lock_guard lock(Mutex);
        Unplugged = true;
        Changed.notify_all();
    }

private:
    // Queues the input reports of one framed message, as the transport
    // counts them. A message cut off by the end of the input is completed
    // with zeros, so that every later report starts a message of its own.
    bool ReleaseMessage()
    {
        if (In.Empty())
            return false;
        uint32_t expected = 0;
        uint32_t received = 0;
        bool first = true;
        do {
            std::vector<uint8_t> report(ReportLength, 0);
            In.Take(report.data() + 1, ReportLength - 1u);
            if (first)
                expected = std::max(GetLE16(&report[7]), uint16_t{4}) - 4u;
            const size_t room = ReportLength - (first ? FirstPayloadOffset : LaterPayloadOffset);
            received += static_cast<uint32_t>(std::min<size_t>(room, expected - received));
            Pending.push_back(std::move(report));
            Drained = false;
            first = false;
        } while (received < expected);
        return true;
    }

    Input& In;
    const std::thread::id Commander;
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<std::vector<uint8_t>> Pending;
    bool Drained = true;
    bool Unplugged = false;
    bool ReaderGone = false; // a later write may still try to hand reports over
    uint32_t Clock = 1000;
    uint32_t SeenClock = 1000;
};

class FakeHandle : public HidHandle {
public:
    explicit FakeHandle(FakeUnit& unit) : Unit(unit) {}
    bool GetAttributes(HidAttributes& out) override
    {
        out = {VendorId, NormalProductId};
        return true;
    }
    bool GetCaps(HidCaps& out) override
    {
        out = {ReportLength, ReportLength, 0};
        return true;
    }
    bool GetFeature(uint8_t*, size_t) override { return false; }
    bool SetFeature(const uint8_t*, size_t) override { return false; }
    bool WriteReport(const uint8_t*, size_t length, uint32_t) override
    {
        Check(length == ReportLength);
        return Unit.Write();
    }
    HidReadResult ReadReport(uint8_t* report, size_t length, uint32_t timeoutMs) override
    {
        Check(length == ReportLength);
        return Unit.Read(report, length, timeoutMs);
    }

private:
    FakeUnit& Unit;
};

class FakeHost : public HidHost {
public:
    explicit FakeHost(FakeUnit& unit) : Unit(unit) {}
    HidInterfaceList ListInterfaces() override { return {true, {"fuzz"}, {}}; }
    bool ReadIds(const std::string&, HidAttributes& out) override
    {
        out = {VendorId, NormalProductId};
        return true;
    }
    std::unique_ptr<HidHandle> Open(const std::string&) override { return std::make_unique<FakeHandle>(Unit); }
    std::string LastErrorText() override { return "fuzz"; }
    void ShowMessage(const std::string&, const std::string&) override {}
    void Trace(const std::string&) override {}
    uint32_t Ticks() override { return Unit.Ticks(); }
    void Pause(uint32_t ms) override { (void)Unit.Advance(ms); }

private:
    FakeUnit& Unit;
};

void OnEntry(const char*, const FILE_ENTRY& entry)
{
    Check(entry.Bytes.size() >= FileEntryHeaderSize);
    Check(entry.Name().size() <= entry.Bytes.size() - FileEntryHeaderSize);
    (void)entry.Size();
    (void)entry.IsFolder();
}

void OnProgress(const char*, const char*, uint32_t total, uint32_t done) { Check(done <= total); }

const char* const Folder = "A:\\Logs";
const char* const Name = "LOG001.displog";

void RunCommand(QXDisplay& display, Input& in)
{
    switch (in.U8() % 14) {
    case 0: {
        DISPLAY_INFO info;
        (void)display.GetDeviceInfo(info);
        break;
    }
    case 1: {
        DISPLAY_INFO info;
        (void)display.GetBootInfo(info);
        break;
    }
    case 2: {
        DISPLAY_IDENTITY identity;
        if (display.ReadDeviceIdentity(in.U32(), identity) == 0)
            (void)identity.Serial();
        break;
    }
    case 3: {
        const uint32_t address = in.U32();
        std::vector<uint8_t> buffer(in.U16() % 512);
        (void)display.ReadBootMemory(address, static_cast<uint32_t>(buffer.size()), buffer.data());
        break;
    }
    case 4:
        (void)display.ListFiles(Folder, "*.*", OnEntry);
        break;
    case 5:
        if (std::unique_ptr<FILE_ENTRY> entry = display.FileFindFirst(Folder, "*.displog")) {
            OnEntry(Folder, *entry);
            if ((entry = display.FileFindNext()))
                OnEntry(Folder, *entry);
        }
        break;
    case 6: {
        const uint32_t offset = in.U32();
        std::vector<uint8_t> buffer(in.U16() % 2048);
        uint32_t length = static_cast<uint32_t>(buffer.size());
        if (display.ReadFileBlock(Folder, Name, offset, length, buffer.data()) == 0)
            Check(length <= buffer.size());
        break;
    }
    case 7: {
        std::vector<uint8_t> buffer(in.U16() % 4096);
        (void)display.GetFile(Folder, Name, static_cast<uint32_t>(buffer.size()), buffer.data(), OnProgress);
        break;
    }
    case 8: {
        const std::vector<uint8_t> data(in.U16() % 2048, 0x5A);
        (void)display.PutFile(Folder, Name, static_cast<uint32_t>(data.size()), data.data(), OnProgress);
        break;
    }
    case 9:
        (void)display.RemoveFile(Folder, Name);
        break;
    case 10:
        (void)display.ProbeFile(Folder, Name);
        break;
    case 11: {
        const uint8_t flags = in.U8();
        const uint32_t address = in.U32();
        const std::vector<uint8_t> data(in.U16() % 256, 0xA5);
        (void)display.ProgramBlock(flags, address, static_cast<uint32_t>(data.size()), data.data());
        break;
    }
    case 12: {
        const uint32_t index = in.U32();
        (void)display.EraseSector(index, in.U32());
        break;
    }
    default:
        (void)display.ShowText("Sending file to device...");
        (void)display.FinishUpdate();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    FakeUnit unit(in);
    FakeHost host(unit);
    {
        QXDisplay display(host);
        display.FindDevices();
        Check(display.DeviceCount() == 1);
        Check(display.OpenByIndex(0, 0) == 0);
        while (!in.Empty())
            RunCommand(display, in);
        unit.Unplug();
    }
    return 0;
}
