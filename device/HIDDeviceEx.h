#pragma once
// Base class of every USB HID device the tool talks to: enumeration of one
// vendor's interfaces, open/close, the reader thread that assembles framed
// replies into the reply queue, framed and raw output, and the waits that take
// replies out of the queue again.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HidCommand.h"
#include "HidHost.h"
#include "QXList.h"
#include "ResultCodes.h"

// USB vendor id of the unit's maker; set at build time.
constexpr uint16_t VendorId = TESSALY_VENDOR_ID;

constexpr uint32_t WriteCompletionWaitMs = 100; // per output report
constexpr uint32_t ReaderStopWaitMs = 1500;     // in Close
constexpr uint32_t ThreadStartPauseMs = 25;
constexpr uint32_t OpenSettlePauseMs = 100;
constexpr uint32_t BridgeReferenceRate = 19200;
constexpr uint32_t StaleReplyAge = 5000;        // replies older than this are dropped
constexpr uint32_t StatusSliceMs = 100;         // each attempt inside WaitStatus
constexpr uint32_t FirstPauseMs = 100;          // added to the WaitNextReply deadline
constexpr uint8_t StatusSuccess = 0xFF;
constexpr int MaxDeviceRecords = 256;
constexpr size_t DevicePathLength = 288;        // including the terminating NUL
// The reader waits for a report in slices of this length so that it notices a
// stop request long before the 1500 ms that Close grants it.
constexpr uint32_t ReaderSliceMs = 20;
// The unit sends the reports of one message back to back, one per polling
// interval. More than this much silence inside a message means that a report
// was lost: the half-built message is dropped and the next report starts a new
// one, instead of completing the old message with the next reply's bytes.
// Silence is counted only while the reader's reads come back empty, never
// while the reader itself is held up: reports that arrive meanwhile wait in
// the host's queue and are still part of the message.
constexpr uint32_t MessageGapMs = 100;

// A reply code the unit sends and the largest total length (payload + 4) such
// a reply can have. A report that would start a message with a code not in
// the table, or with a total outside 4..MaxTotal, cannot be a start.
struct ReplyShape {
    uint16_t Code = 0;
    uint16_t MaxTotal = 0xFFFF;
};

struct DeviceRecord {
    uint16_t ProductId = 0;
    uint16_t VendorId = 0;
    char Path[DevicePathLength] = {};
};

// True when product id `id` matches the enumeration pattern: equal, 0xFFFF (any),
// 0xFFxx (low bytes equal) or xxFF (high bytes equal).
bool ProductMatches(uint16_t pattern, uint16_t id);

class HIDDeviceEx {
public:
    explicit HIDDeviceEx(HidHost& host);
    virtual ~HIDDeviceEx();
    HIDDeviceEx(const HIDDeviceEx&) = delete;
    HIDDeviceEx& operator=(const HIDDeviceEx&) = delete;

    virtual void FindDevices();
    [[nodiscard]] virtual uint32_t OpenByIndex(int index, uint32_t bridgeRate);
    [[nodiscard]] virtual uint32_t OpenByPath(const char* path, uint32_t bridgeRate);
    virtual uint32_t Close();
    [[nodiscard]] virtual uint32_t SetBridgeRate(uint32_t rate);
    [[nodiscard]] virtual uint32_t WriteRaw(const uint8_t* data, uint32_t length);
    [[nodiscard]] virtual uint32_t WriteCommand(const HID_COMMAND& command);
    [[nodiscard]] virtual uint32_t WriteByte(uint8_t value);
    [[nodiscard]] virtual uint32_t Reopen();

    void FindDevicesById(uint16_t productPattern);
    // The path of the open interface (empty when none was opened).
    const std::string& OpenPath() const { return OpenedPath; }
    // False after a wait ended without its own reply (or a stray reply was
    // seen): a late reply to that request may still arrive, so the link must
    // be brought back in step before the next request can trust its reply.
    bool InStep() const { return !OutOfStep; }
    int DeviceCount() const { return static_cast<int>(FoundPaths.size()); }
    const std::vector<std::string>& DevicePaths() const { return FoundPaths; }
    bool IsOpen() const { return Running.load(); }

    // Reply queue.
    std::unique_ptr<HID_COMMAND> PopReply();
    [[nodiscard]] uint32_t WaitStatus(uint32_t code, uint32_t timeoutMs);
    [[nodiscard]] uint32_t WaitReply(uint32_t code, uint16_t length, uint8_t* output, uint32_t timeoutMs);
    std::unique_ptr<HID_COMMAND> WaitNextReply(uint32_t code, uint32_t timeoutMs, uint32_t& status);
    void FlushReplies();
    // Frees every queued reply; returns how many of them carried `countCode`.
    uint32_t DiscardReplies(uint32_t countCode);
    uint32_t QueuedReplies();
    // Input reports the reader could not place: a continuation with no message
    // under way (it does not start one), or a start with a code the device
    // never sends or an impossible total. Only grows while the object lives.
    uint32_t UnplacedReports() const { return Unplaced.load(); }
    // Runs of such reports with no placed report between them: each is most
    // likely the rest of one reply whose first report was lost, so it counts
    // as a reply that arrived. Only grows.
    uint32_t UnplacedRuns() const { return Runs.load(); }
    // Messages that took, after their first report, a report whose bytes 5-8
    // could start a reply of another code with a short total (a status, the
    // information, an entry): most likely a lost report let that reply's
    // start complete the message. Counted before the message is queued.
    uint32_t SuspectMessages() const { return Suspects.load(); }
    static uint8_t Checksum(const uint8_t* data, size_t count);

    uint16_t ReportMode = 0xFFFF;
    uint32_t BridgeRate = 0;
    uint16_t InputReportLength = 0;
    uint16_t OutputReportLength = 0;

protected:
    // Waits for the reply with `code` and exactly `length` payload bytes,
    // discarding every reply that arrives before it; `counted` grows by those
    // of them that carry `countCode`. The unit answers in order, so once this
    // reply is in, every reply to an earlier request has arrived too.
    [[nodiscard]] uint32_t AwaitInOrder(uint32_t code, uint16_t length, uint32_t timeoutMs, uint32_t countCode,
                                        uint32_t& counted);

    HidHost& Host;
    bool FramedInput = false;
    // Set by a wait that ended without its own reply; cleared by whoever
    // brings the link back in step. Used on the caller's thread only.
    bool OutOfStep = false;
    // Replies with the code of the transfer under way that a wait took (the
    // caller's thread only); NoMarker: no transfer.
    uint32_t TransferCode = NoMarker;
    uint32_t TransferTaken = 0;
    // The replies the device sends; empty: any report may start a message.
    // Set before the device is opened (the reader reads it).
    std::vector<ReplyShape> KnownReplies;
    // True once since the reader last cut a half-built message short or met a
    // report it could not place: a reply was lost or mangled, so the link is
    // out of step. Reading clears it.
    bool TakeReaderAlarm() { return ReaderAlarm.exchange(false); }

private:
    void ReaderMain();
    void AddReport(const uint8_t* report);
    void Deliver();
    void PurgeStaleReplies();
    [[nodiscard]] bool WriteReports(const uint8_t* header, size_t headerLength, const uint8_t* stream,
                                    size_t streamLength, size_t room, bool bridgeCount);
    [[nodiscard]] bool SendBridgeReport(uint32_t rate);
    [[nodiscard]] uint32_t TakeReply(uint32_t code, uint16_t length, uint8_t* output, uint32_t timeoutMs,
                                     bool& strays);
    // Ends the message under way without delivering its bytes; see AddReport.
    void DropHalfBuiltMessage();
    [[nodiscard]] bool CanStart(uint16_t code, uint16_t total) const;
    [[nodiscard]] bool CouldStartOther(uint16_t code, uint16_t total) const;

    // Up while the reader runs: set by OpenByPath before the reader starts,
    // cleared by Close to stop it and by the reader when it ends on its own.
    std::atomic<bool> Running{false};
    std::unique_ptr<HidHandle> ReadHandle;
    std::unique_ptr<HidHandle> WriteHandle;
    std::thread Reader;
    uint16_t FeatureReportLength = 0;

    QXListT<HID_COMMAND> Replies;
    std::condition_variable_any ReplyArrived;
    // Reader exit is signalled under the queue's lock so Close can wait with a time-out.
    bool ReaderEnded = true;

    // Owned by the reader thread while it runs.
    HID_COMMAND Assembly;
    uint32_t Received = 0;
    uint32_t Expected = 0;
    // The message under way began on a report that cut the one before it short.
    bool Restarted = false;
    std::atomic<uint32_t> Unplaced{0};
    std::atomic<uint32_t> Runs{0};
    std::atomic<uint32_t> Suspects{0};
    bool InUnplacedRun = false; // the last report could not be placed
    bool AfterCut = false;      // no report placed since a message was cut
    std::atomic<bool> ReaderAlarm{false};

    std::string OpenedPath;
    DeviceRecord Record;                 // used by Reopen only
    std::vector<std::string> FoundPaths; // kept by the last enumeration
};
