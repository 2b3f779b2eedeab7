#include "HIDDeviceEx.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>

#include "ByteOrder.h"

namespace {

constexpr size_t FramedHeaderLength = 5; // report id + marker
constexpr size_t FirstPayloadOffset = 9; // id, marker, code, total length
constexpr size_t BridgeFeatureLength = 6;
constexpr uint8_t BridgeFeatureCommand = 3;

using Lock = std::unique_lock<std::recursive_mutex>;

std::chrono::milliseconds Until(uint32_t now, uint32_t deadline)
{
    return std::chrono::milliseconds(static_cast<uint32_t>(deadline - now));
}

} // namespace

bool ProductMatches(uint16_t pattern, uint16_t id)
{
    if (pattern == id || pattern == 0xFFFF)
        return true;
    if ((pattern & 0xFF00) == 0xFF00 && (pattern & 0x00FF) == (id & 0x00FF))
        return true;
    if ((pattern & 0x00FF) == 0x00FF && (pattern & 0xFF00) == (id & 0xFF00))
        return true;
    return false;
}

HIDDeviceEx::HIDDeviceEx(HidHost& host) : Host(host) {}

HIDDeviceEx::~HIDDeviceEx()
{
    Close();
    FlushReplies();
}

uint8_t HIDDeviceEx::Checksum(const uint8_t* data, size_t count) { return ::Checksum(data, count); }

void HIDDeviceEx::FindDevices() { FindDevicesById(0xFFFF); }

void HIDDeviceEx::FindDevicesById(uint16_t productPattern)
{
    FoundPaths.clear();
    HidInterfaceList list = Host.ListInterfaces();
    if (!list.SetAvailable) {
        Host.Message("SetupDiGetClassDevs: PnpHandle Failure", "SetupDiGetClassDevs Failure");
        return;
    }
    for (const std::string& path : list.Paths) {
        if (FoundPaths.size() >= static_cast<size_t>(MaxDeviceRecords))
            break;
        // A path that does not fit the record could only be opened truncated,
        // that is as another path: leave it out.
        if (path.size() >= DevicePathLength)
            continue;
        HidAttributes ids;
        if (!Host.ReadIds(path, ids))
            continue;
        if (ids.VendorId == VendorId && ProductMatches(productPattern, ids.ProductId))
            FoundPaths.push_back(path);
    }
    if (!list.EnumErrorText.empty())
        Host.Message(list.EnumErrorText, "EnumInterface Failure");
}

uint32_t HIDDeviceEx::OpenByIndex(int index, uint32_t bridgeRate)
{
    if (index < 0 || index >= DeviceCount())
        return ERR_NO_PATH;
    const std::string path = FoundPaths[static_cast<size_t>(index)];
    return OpenByPath(path.c_str(), bridgeRate);
}

uint32_t HIDDeviceEx::OpenByPath(const char* path, uint32_t bridgeRate)
{
    Close();
    uint32_t result = 0;
    [&] {
        if (path == nullptr) {
            result = ERR_NO_PATH;
            return;
        }
        ReadHandle = Host.Open(path);
        WriteHandle = Host.Open(path);
        if (!ReadHandle || !WriteHandle) {
            Close();
            result = ERR_PORT_FAILURE;
            return;
        }
        HidAttributes ids;
        if (!ReadHandle->GetAttributes(ids) || ids.VendorId != VendorId) {
            Close();
            result = ERR_UNKNOWN_DEV;
            return;
        }
        HidCaps caps;
        // Framed replies need the 9-byte first-report header and every request
        // needs room behind its 5-byte header: a device with smaller reports
        // cannot be this unit.
        const bool capsOk = ReadHandle->GetCaps(caps) && caps.OutputReportLength > FramedHeaderLength &&
                            caps.InputReportLength > (FramedInput ? FirstPayloadOffset : 1);
        if (!capsOk) {
            Close();
            result = ERR_UNKNOWN_DEV;
            return;
        }
        InputReportLength = caps.InputReportLength;
        OutputReportLength = caps.OutputReportLength;
        FeatureReportLength = caps.FeatureReportLength;

        if (FeatureReportLength == BridgeFeatureLength) {
            ReportMode = 0;
        } else {
            ReportMode = 0xFFFF;
            if (FeatureReportLength >= 3) {
                std::vector<uint8_t> feature(FeatureReportLength, 0);
                if (ReadHandle->GetFeature(feature.data(), feature.size()))
                    ReportMode = GetLE16(&feature[1]);
            }
        }
        if (bridgeRate != 0 && ReportMode == 0 && SendBridgeReport(bridgeRate))
            BridgeRate = bridgeRate;

        {
            Lock lock(Replies.LockObject());
            ReaderEnded = false;
        }
        // The flag is up before the thread runs, so that IsOpen is true as
        // soon as OpenByPath returns, however late the reader is scheduled.
        Running = true;
        try {
            Reader = std::thread(&HIDDeviceEx::ReaderMain, this);
        } catch (const std::system_error& error) {
            Running = false;
            {
                Lock lock(Replies.LockObject());
                ReaderEnded = true;
            }
            Host.Message(error.what(), "CreateThread Failure");
            Host.Pause(1000);
            Close();
            result = ERR_ALLOC_FAIL;
            return;
        }
        Host.Pause(ThreadStartPauseMs);
        Host.Trace("+++++ PRIORITY CHANGED - HIDExReadThread ");
        OpenedPath = path;
    }();
    Host.Pause(OpenSettlePauseMs);
    if (result != 0)
        Close();
    return result;
}

uint32_t HIDDeviceEx::Close()
{
    if (Reader.joinable()) {
        Running = false;
        {
            Lock lock(Replies.LockObject());
            const bool ended = ReplyArrived.wait_for(lock, std::chrono::milliseconds(ReaderStopWaitMs),
                                                     [this] { return ReaderEnded; });
            if (!ended)
                Host.Trace("+++++ Reader did not stop in time - HIDExReadThread ");
        }
        // The reader reads in short slices and so always ends; joining even a
        // late one keeps it from ever touching handles that are gone.
        Reader.join();
    }
    Running = false;
    ReadHandle.reset();
    WriteHandle.reset();
    Assembly.Clear();
    Received = 0;
    Expected = 0;
    Restarted = false;
    FlushReplies();
    return 0;
}

bool HIDDeviceEx::SendBridgeReport(uint32_t rate)
{
    std::vector<uint8_t> report(std::max<size_t>(FeatureReportLength, BridgeFeatureLength), 0);
    SetLE32(&report[1], rate);
    report[5] = BridgeFeatureCommand;
    HidHandle* handle = WriteHandle ? WriteHandle.get() : ReadHandle.get();
    return handle != nullptr && handle->SetFeature(report.data(), report.size());
}

uint32_t HIDDeviceEx::SetBridgeRate(uint32_t rate)
{
    if (!ReadHandle)
        return ERR_DEVICE_CLOSED;
    if (rate != 0) {
        (void)SendBridgeReport(rate);
        BridgeRate = rate;
    }
    return 0;
}

bool HIDDeviceEx::WriteReports(const uint8_t* header, size_t headerLength, const uint8_t* stream,
                               size_t streamLength, size_t room, bool bridgeCount)
{
    std::vector<uint8_t> report(OutputReportLength);
    const size_t dataOffset = headerLength + (bridgeCount ? 1 : 0);
    size_t position = 0;
    while (position < streamLength) {
        const size_t count = std::min(room, streamLength - position);
        std::fill(report.begin(), report.end(), 0);
        std::memcpy(report.data(), header, headerLength);
        if (bridgeCount)
            report[headerLength] = static_cast<uint8_t>(count);
        std::memcpy(report.data() + dataOffset, stream + position, count);
        if (!WriteHandle->WriteReport(report.data(), report.size(), WriteCompletionWaitMs))
            return false;
        position += count;
    }
    return true;
}

uint32_t HIDDeviceEx::WriteCommand(const HID_COMMAND& command)
{
    if (!IsOpen())
        return ERR_WRITE_FAILED;
    if (!WriteHandle)
        return ERR_PORT_FAILURE;
    const uint32_t length = std::min<uint32_t>(command.Length, static_cast<uint32_t>(command.Data.size()));
    std::vector<uint8_t> stream;
    stream.reserve(length + 4);
    AppendLE16(stream, static_cast<uint16_t>(command.Code));
    AppendLE16(stream, static_cast<uint16_t>(length + 4));
    stream.insert(stream.end(), command.Data.begin(), command.Data.begin() + length);

    uint8_t header[FramedHeaderLength] = {static_cast<uint8_t>(command.ReportId)};
    size_t headerLength = 1;
    if (command.Magic != NoMarker) {
        SetLE32(&header[1], command.Magic);
        headerLength = FramedHeaderLength;
    }
    const size_t room = OutputReportLength - headerLength;
    if (!WriteReports(header, headerLength, stream.data(), stream.size(), room, false))
        return ERR_WRITE_FAILED;
    return 0;
}

uint32_t HIDDeviceEx::WriteRaw(const uint8_t* data, uint32_t length)
{
    if (!IsOpen())
        return ERR_WRITE_FAILED;
    if (!WriteHandle)
        return ERR_PORT_FAILURE;
    const uint8_t header[2] = {0, 0};
    bool written;
    if (ReportMode != 0) {
        written = WriteReports(header, 1, data, length, OutputReportLength - 1u, false);
    } else {
        // A serial bridge slower than the reference rate gets proportionally
        // fewer bytes per report, so that its buffer never overflows.
        size_t room = OutputReportLength - 3u;
        if (BridgeRate < BridgeReferenceRate)
            room = std::max<size_t>(1, room * BridgeRate / BridgeReferenceRate);
        written = WriteReports(header, 2, data, length, room, true);
    }
    return written ? 0 : ERR_WRITE_FAILED;
}

uint32_t HIDDeviceEx::WriteByte(uint8_t value) { return WriteRaw(&value, 1); }

uint32_t HIDDeviceEx::Reopen()
{
    return OpenByPath(Record.Path[0] != '\0' ? Record.Path : nullptr, 0);
}

void HIDDeviceEx::ReaderMain()
{
    Assembly.Clear();
    Received = 0;
    Expected = 0;
    Restarted = false;
    InUnplacedRun = false;
    AfterCut = false;
    Host.Trace("+++++ Starting - HIDExReadThread ");
    Host.RaiseThreadPriority();
    std::vector<uint8_t> report(InputReportLength);
    // Start of the run of empty reads under way, if any.
    bool silent = false;
    uint32_t silentSince = 0;
    while (Running) {
        const uint32_t before = Host.Ticks();
        const HidReadResult read = ReadHandle->ReadReport(report.data(), report.size(), ReaderSliceMs);
        if (read.Status == HidReadStatus::Failed) {
            Host.Trace("+++++ Failed Read " + std::to_string(read.Error) + " - HIDExReadThread ");
            break;
        }
        if (read.Status == HidReadStatus::TimedOut) {
            if (!silent) {
                silent = true;
                silentSince = before;
            }
            if (Expected != 0 && static_cast<uint32_t>(Host.Ticks() - silentSince) > MessageGapMs)
                DropHalfBuiltMessage();
            // A waiter's deadline is on the host's clock, which need not run with the wall
            // clock its wait is timed by: after each quiet slice it looks at the time again.
            Lock lock(Replies.LockObject());
            ReplyArrived.notify_all();
        } else {
            silent = false;
        }
        if (read.Status == HidReadStatus::Good)
            AddReport(report.data());
        PurgeStaleReplies();
    }
    Host.Trace("+++++ Exiting - HIDExReadThread ");
    Running = false;
    Lock lock(Replies.LockObject());
    ReaderEnded = true;
    ReplyArrived.notify_all();
}

// Placing a framed report. Reports carry no sequence number, so a lost one
// shows only in what comes next:
// - While a message is under way, a report whose bytes 5-8 repeat that
//   message's start header (same code, same total length) is taken as the
//   start of the next reply: the unit sends replies back to back, and the one
//   after a reply of the same shape (a duplicated request's second answer, the
//   next block) would otherwise complete the half-built message with its own
//   bytes. The cut message is queued with its code and no payload: it answered
//   a request, so the count of replies stays true, but nothing of it is
//   usable. A false alarm needs four payload bytes that equal the header at
//   one of the few offsets where a report's bytes 5-8 fall; for a read it
//   costs one retried block.
// - With no message under way, a report whose bytes 5-8 name a code the unit
//   never sends or an impossible total cannot start one: it is the rest of a
//   message whose start was lost or swallowed by another. It is dropped and
//   counted (UnplacedReports), and whatever the caller took around it is
//   suspect. A run of them is counted once more (UnplacedRuns): it is the rest
//   of one reply, which the count of replies must not miss.
// - While a message is under way, a report whose bytes 5-8 could start a short
//   reply of another code (a status, the information, an entry) is still taken
//   as payload, but the message is suspect (SuspectMessages): a lost report
//   may have let another reply's start complete it. Random payload bytes look
//   like such a start about once in 10^6 reports.
// Either way the link is out of step (TakeReaderAlarm).
void HIDDeviceEx::AddReport(const uint8_t* report)
{
    if (!FramedInput) {
        Assembly.Time = Host.Ticks();
        Assembly.ReportId = report[0];
        Assembly.Magic = NoMarker;
        Assembly.Code = NoMarker;
        Assembly.Length = InputReportLength - 1u;
        Assembly.Data.assign(report + 1, report + InputReportLength);
        Deliver();
        return;
    }
    const uint32_t now = Host.Ticks();
    const bool continuingRun = InUnplacedRun;
    InUnplacedRun = false;
    const uint16_t code = GetLE16(report + 5);
    const uint16_t total = GetLE16(report + 7);
    bool restart = false;
    if (Expected != 0 && code == Assembly.Code && total == Expected + 4) {
        DropHalfBuiltMessage();
        restart = true;
    }
    size_t offset = 5;
    if (Expected == 0) {
        if (!CanStart(code, total)) {
            ++Unplaced;
            // The rest of a message that was just cut was counted with it.
            if (!continuingRun && !AfterCut)
                ++Runs;
            InUnplacedRun = true;
            ReaderAlarm = true;
            return;
        }
        Expected = total > 4 ? total - 4u : 0;
        Received = 0;
        Restarted = restart;
        Assembly.Time = now;
        Assembly.ReportId = report[0];
        Assembly.Magic = GetLE32(report + 1);
        Assembly.Code = code;
        Assembly.Length = Expected;
        Assembly.Data.assign(Expected, 0);
        offset = FirstPayloadOffset;
    } else if (CouldStartOther(code, total)) {
        ++Suspects;
    }
    AfterCut = false;
    if (Received < Expected) {
        const size_t count = std::min<size_t>(InputReportLength - offset, Expected - Received);
        std::memcpy(Assembly.Data.data() + Received, report + offset, count);
        Received += static_cast<uint32_t>(count);
    }
    if (Received >= Expected) {
        Expected = 0;
        Restarted = false;
        Deliver();
    }
}

bool HIDDeviceEx::CanStart(uint16_t code, uint16_t total) const
{
    if (KnownReplies.empty())
        return true;
    if (total < 4)
        return false;
    return std::any_of(KnownReplies.begin(), KnownReplies.end(),
                       [&](const ReplyShape& shape) { return shape.Code == code && total <= shape.MaxTotal; });
}

bool HIDDeviceEx::CouldStartOther(uint16_t code, uint16_t total) const
{
    // Replies whose total can be anything (memory and block reads) are left
    // out: random payload bytes would look like their start once in 2^16.
    return code != Assembly.Code && total >= 4 &&
           std::any_of(KnownReplies.begin(), KnownReplies.end(), [&](const ReplyShape& shape) {
               return shape.Code == code && shape.MaxTotal != 0xFFFF && total <= shape.MaxTotal;
           });
}

void HIDDeviceEx::DropHalfBuiltMessage()
{
    // A message that began by cutting another short and never completed was
    // most likely a false start inside that other reply: it is not counted
    // again. Every other half-built message was a reply whose tail was lost.
    if (!Restarted) {
        auto cut = std::make_unique<HID_COMMAND>();
        cut->Time = Host.Ticks();
        cut->ReportId = Assembly.ReportId;
        cut->Magic = Assembly.Magic;
        cut->Code = Assembly.Code;
        Lock lock(Replies.LockObject());
        Replies.Append(std::move(cut));
        ReplyArrived.notify_all();
    }
    Host.Trace("+++++ Reply cut short - HIDExReadThread ");
    ReaderAlarm = true;
    AfterCut = true;
    Expected = 0;
    Received = 0;
    Restarted = false;
    Assembly.Clear();
}

void HIDDeviceEx::Deliver()
{
    // A serial bridge marks reports without data by a zero count byte; such
    // messages, and those too short to carry the count, are not replies.
    if (ReportMode == 0 && (Assembly.Length < 3 || Assembly.Data[2] == 0))
        return;
    auto reply = std::make_unique<HID_COMMAND>(std::move(Assembly));
    Assembly.Clear();
    Lock lock(Replies.LockObject());
    Replies.Append(std::move(reply));
    ReplyArrived.notify_all();
}

void HIDDeviceEx::PurgeStaleReplies()
{
    Lock lock(Replies.LockObject());
    if (Replies.Count() == 0)
        return;
    const uint32_t now = Host.Ticks();
    while (HID_COMMAND* head = Replies.First()) {
        if (static_cast<uint32_t>(now - head->Time) <= StaleReplyAge)
            break;
        Replies.PopFront();
    }
}

std::unique_ptr<HID_COMMAND> HIDDeviceEx::PopReply()
{
    Lock lock(Replies.LockObject());
    return Replies.PopFront();
}

uint32_t HIDDeviceEx::QueuedReplies()
{
    Lock lock(Replies.LockObject());
    return Replies.Count();
}

void HIDDeviceEx::FlushReplies()
{
    Lock lock(Replies.LockObject());
    Replies.RemoveAll();
}

uint32_t HIDDeviceEx::DiscardReplies(uint32_t countCode)
{
    Lock lock(Replies.LockObject());
    uint32_t count = 0;
    while (std::unique_ptr<HID_COMMAND> reply = Replies.PopFront())
        count += reply->Code == countCode ? 1 : 0;
    return count;
}

uint32_t HIDDeviceEx::TakeReply(uint32_t code, uint16_t length, uint8_t* output, uint32_t timeoutMs, bool& strays)
{
    if (!IsOpen())
        return ERR_DEVICE_CLOSED;
    const uint32_t deadline = Host.Ticks() + timeoutMs;
    Lock lock(Replies.LockObject());
    for (;;) {
        const uint32_t now = Host.Ticks();
        if (!TickBefore(now, deadline))
            return ERR_TIMEOUT;
        bool before = false;
        for (HID_COMMAND* item = Replies.First(); item != nullptr; item = Replies.Next()) {
            if (item->Code != code || item->Length != length) {
                before = true;
                continue;
            }
            // Replies queued ahead of this one answer no request of ours.
            strays = strays || before;
            std::unique_ptr<HID_COMMAND> taken = Replies.RemoveCurrent();
            TransferTaken += taken->Code == TransferCode ? 1 : 0;
            if (taken->Length == 0)
                return ERR_COMMAND_ERR;
            std::memcpy(output, taken->Data.data(), length);
            return 0;
        }
        // Nothing more can arrive from a reader that has ended (unit gone).
        if (ReaderEnded)
            return ERR_DEVICE_CLOSED;
        ReplyArrived.wait_for(lock, Until(now, deadline));
    }
}

uint32_t HIDDeviceEx::WaitReply(uint32_t code, uint16_t length, uint8_t* output, uint32_t timeoutMs)
{
    bool strays = false;
    const uint32_t result = TakeReply(code, length, output, timeoutMs, strays);
    if (result != 0 || strays)
        OutOfStep = true;
    return result;
}

uint32_t HIDDeviceEx::WaitStatus(uint32_t code, uint32_t timeoutMs)
{
    if (!IsOpen()) {
        OutOfStep = true;
        return ERR_DEVICE_CLOSED;
    }
    const uint32_t deadline = Host.Ticks() + timeoutMs;
    uint32_t result = ERR_TIMEOUT;
    bool strays = false;
    while (result != 0 && TickBefore(Host.Ticks(), deadline)) {
        uint8_t status[2] = {};
        result = TakeReply(code, 2, status, StatusSliceMs, strays);
        if (result == 0) {
            if (strays)
                OutOfStep = true;
            // A refusal is a reply of its own: the link stays in step.
            if (status[0] != StatusSuccess)
                return StatusOffset + status[0];
            return 0;
        }
        if (result == ERR_DEVICE_CLOSED)
            break;
    }
    OutOfStep = true;
    return result;
}

std::unique_ptr<HID_COMMAND> HIDDeviceEx::WaitNextReply(uint32_t code, uint32_t timeoutMs, uint32_t& status)
{
    if (!IsOpen()) {
        OutOfStep = true;
        status = ERR_DEVICE_CLOSED;
        return nullptr;
    }
    // The deadline keeps the first 100 ms pause of the polling design, but a
    // reply that is already there (or arrives) is taken at once.
    const uint32_t deadline = Host.Ticks() + FirstPauseMs + timeoutMs;
    Lock lock(Replies.LockObject());
    for (;;) {
        while (std::unique_ptr<HID_COMMAND> reply = Replies.PopFront()) {
            if (reply->Code == code) {
                TransferTaken += code == TransferCode ? 1 : 0;
                status = 0;
                return reply;
            }
            // A reply of another code answers no request of ours.
            OutOfStep = true;
        }
        const uint32_t now = Host.Ticks();
        if (!TickBefore(now, deadline) || ReaderEnded) {
            OutOfStep = true;
            status = !TickBefore(now, deadline) ? ERR_TIMEOUT : ERR_DEVICE_CLOSED;
            return nullptr;
        }
        ReplyArrived.wait_for(lock, Until(now, deadline));
    }
}

uint32_t HIDDeviceEx::AwaitInOrder(uint32_t code, uint16_t length, uint32_t timeoutMs, uint32_t countCode,
                                   uint32_t& counted)
{
    if (!IsOpen())
        return ERR_DEVICE_CLOSED;
    const uint32_t deadline = Host.Ticks() + timeoutMs;
    Lock lock(Replies.LockObject());
    for (;;) {
        while (std::unique_ptr<HID_COMMAND> reply = Replies.PopFront()) {
            if (reply->Code == code && reply->Length == length)
                return 0;
            counted += reply->Code == countCode ? 1 : 0;
        }
        const uint32_t now = Host.Ticks();
        if (ReaderEnded)
            return ERR_DEVICE_CLOSED;
        if (!TickBefore(now, deadline))
            return ERR_TIMEOUT;
        ReplyArrived.wait_for(lock, Until(now, deadline));
    }
}
