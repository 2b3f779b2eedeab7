#pragma once
// HID host for Windows on the HID class driver and the device-setup services.
//
// Listing: every present interface of the HID class (SetupDi). Probe: the path opened without
// overlapped I/O, its attributes read, closed again. Open: one overlapped handle with its own
// manual-reset event; the transport opens one for its reader and one for its writes, and uses
// each from one thread at a time.
//
// Framing: Windows already delivers and takes reports with the report identifier in byte 0 and
// counts it in every report length, as the host interface has it.
//
// Reads and writes end within their time-out: an overlapped request still pending then is
// cancelled on the thread that issued it (CancelIo acts on the calling thread's requests only),
// and its outcome is collected before the call returns, so a report that arrived just as the
// time-out struck is still delivered, and no request outlives its buffer.
//
// Trace lines go to the debug output channel (OutputDebugStringA), and also to stderr when the
// environment variable TESSALY_TRACE is set (to anything) when the host is created.
// Enumeration failures are shown in message boxes (MessageBoxA); a program without a window
// derives from this host and overrides ShowMessage.
#include <cstdint>
#include <memory>
#include <string>

#include "HidHost.h"

class WindowsHidHost : public HidHost {
public:
    WindowsHidHost();

    HidInterfaceList ListInterfaces() override;
    bool ReadIds(const std::string& path, HidAttributes& out) override;
    std::unique_ptr<HidHandle> Open(const std::string& path) override;
    // The system's text (FormatMessageA) of the calling thread's last error.
    std::string LastErrorText() override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void Trace(const std::string& line) override;
    uint32_t Ticks() override;
    void Pause(uint32_t ms) override;
    // THREAD_PRIORITY_ABOVE_NORMAL for the calling thread.
    void RaiseThreadPriority() override;
    // A lock file for the interface path in the user's own temporary folder (LockUnitFile).
    UnitLockAttempt LockUnit(const std::string& path, uint32_t waitMs) override;

    // The system's text for error number `error`, without the line break it ends in.
    static std::string SystemErrorText(uint32_t error);

private:
    bool TraceToStderr = false;
};
