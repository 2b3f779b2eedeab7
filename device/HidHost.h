#pragma once
// The platform's HID services, as the transport needs them. The hidapi host
// (Linux), a Windows host and the simulated unit implement this interface, so
// the framing, queueing and command logic above never knows which one it uses.
//
// Report framing seen through this interface, whatever the platform: byte 0 of
// every input, output and feature report is the report identifier (0 on a
// device without numbered reports), and every report length includes it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "UnitLock.h"

struct HidAttributes {
    uint16_t VendorId = 0;
    uint16_t ProductId = 0;
};

struct HidCaps {
    uint16_t InputReportLength = 0;
    uint16_t OutputReportLength = 0;
    uint16_t FeatureReportLength = 0;
};

enum class HidReadStatus {
    Good,       // one whole input report of the asked length was delivered
    Incomplete, // a report arrived but was shorter than asked: skip it
    TimedOut,   // nothing arrived within the slice
    Failed,     // the device is gone or the handle broke; Error holds the system error
};

struct HidReadResult {
    HidReadStatus Status = HidReadStatus::TimedOut;
    uint32_t Error = 0;
};

// One open handle on one interface path. A handle is used by one thread at a
// time: the transport opens a read handle for its reader thread and a separate
// write handle for the caller's thread.
class HidHandle {
public:
    virtual ~HidHandle() = default;
    virtual bool GetAttributes(HidAttributes& out) = 0;
    virtual bool GetCaps(HidCaps& out) = 0;
    // One feature report of `length` bytes; byte 0 is the report identifier.
    virtual bool GetFeature(uint8_t* report, size_t length) = 0;
    virtual bool SetFeature(const uint8_t* report, size_t length) = 0;
    // Sends exactly one output report. True when the write completed with the
    // whole report within timeoutMs; a write still pending then counts as not
    // written (the host keeps what it needs alive until the write returns).
    virtual bool WriteReport(const uint8_t* report, size_t length, uint32_t timeoutMs) = 0;
    // Waits up to timeoutMs for one input report of `length` bytes.
    virtual HidReadResult ReadReport(uint8_t* report, size_t length, uint32_t timeoutMs) = 0;
};

struct HidInterfaceList {
    // False when the set of present HID interfaces could not be had at all.
    bool SetAvailable = true;
    // Paths of the present HID interfaces, each once, in enumeration order.
    std::vector<std::string> Paths;
    // Non-empty when the listing broke off early: the system's error text.
    std::string EnumErrorText;
};

class HidHost {
public:
    virtual ~HidHost() = default;
    virtual HidInterfaceList ListInterfaces() = 0;
    // Vendor and product id of a path (opens and closes it).
    virtual bool ReadIds(const std::string& path, HidAttributes& out) = 0;
    // A new handle on the path, or null (LastErrorText tells why).
    virtual std::unique_ptr<HidHandle> Open(const std::string& path) = 0;
    // Text of the last system error on the calling thread.
    virtual std::string LastErrorText() = 0;
    // Modal message box with an OK button (or its stand-in on a host without one).
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    // Where the transport's message boxes go: the front end's own boxes when
    // it set a handler (a window shows them as its other messages), else
    // ShowMessage.
    using MessageHandler = std::function<void(const std::string& text, const std::string& caption)>;
    void SetMessageHandler(MessageHandler handler) { Messages = std::move(handler); }
    void Message(const std::string& text, const std::string& caption)
    {
        if (Messages)
            Messages(text, caption);
        else
            ShowMessage(text, caption);
    }
    // One line to the debug trace channel.
    virtual void Trace(const std::string& line) = 0;
    // Millisecond tick counter; wraps at 2^32.
    virtual uint32_t Ticks() = 0;
    virtual void Pause(uint32_t ms) = 0;
    // Raises the calling thread's priority above normal where the platform allows.
    virtual void RaiseThreadPriority() {}
    // The lock that keeps the unit at `path` to one program (UnitLock.h): had,
    // held by another program, or not to be made (its Failure says why). A
    // host whose units no other program can reach hands out a lock at once.
    virtual UnitLockAttempt LockUnit(const std::string& path, uint32_t waitMs)
    {
        (void)path;
        (void)waitMs;
        UnitLockAttempt attempt;
        attempt.Lock = std::make_unique<UnitLock>();
        return attempt;
    }

private:
    MessageHandler Messages;
};

// True when tick `a` is strictly before tick `b`, across one wrap of the counter.
inline bool TickBefore(uint32_t a, uint32_t b)
{
    return static_cast<int32_t>(a - b) < 0;
}
