#include "WindowsHidHost.h"

#include <windows.h>

#include <setupapi.h>

// hidsdi.h brings the usage types hidpi.h needs; neither declares C linkage itself.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// How long a cancelled request may take to come back. The HID class driver completes a
// cancelled read or write at once; a request that is still not back after this long is left
// to the driver together with its buffer and event (see IoBlock).
constexpr DWORD CancelWaitMs = 1000;

// Keeps the calling thread's last error across clean-up calls, so that LastErrorText still
// tells why the operation failed.
class ErrorKeeper {
public:
    ErrorKeeper() : Error(GetLastError()) {}
    ~ErrorKeeper() { SetLastError(Error); }
    ErrorKeeper(const ErrorKeeper&) = delete;
    ErrorKeeper& operator=(const ErrorKeeper&) = delete;

private:
    DWORD Error;
};

// What an overlapped request needs until the system is done with it: the OVERLAPPED block,
// the data and the completion event (unnamed, manual-reset, created signalled).
struct IoBlock {
    OVERLAPPED Overlapped{};
    std::vector<uint8_t> Data;

    IoBlock() { Overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr); }
    ~IoBlock()
    {
        if (Overlapped.hEvent != nullptr)
            CloseHandle(Overlapped.hEvent);
    }
    IoBlock(const IoBlock&) = delete;
    IoBlock& operator=(const IoBlock&) = delete;

    bool Usable() const { return Overlapped.hEvent != nullptr; }
};

enum class IoOutcome {
    Done,      // completed; Transferred holds the byte count
    TimedOut,  // still pending at the time-out, cancelled and back
    Failed,    // failed; the thread's last error tells why
    Abandoned, // cancelled but not back: the block now belongs to the driver
};

struct IoResult {
    IoOutcome Outcome = IoOutcome::Failed;
    DWORD Transferred = 0;
};

// Collects a request that ReadFile or WriteFile (`started`) left pending: waits up to
// timeoutMs, then cancels it and waits for it to come back.
IoResult Finish(HANDLE device, IoBlock& block, BOOL started, uint32_t timeoutMs)
{
    IoResult result;
    if (started) {
        result.Outcome = GetOverlappedResult(device, &block.Overlapped, &result.Transferred, FALSE)
                             ? IoOutcome::Done
                             : IoOutcome::Failed;
        return result;
    }
    if (GetLastError() != ERROR_IO_PENDING)
        return result;
    if (WaitForSingleObject(block.Overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
        CancelIo(device);
        if (WaitForSingleObject(block.Overlapped.hEvent, CancelWaitMs) != WAIT_OBJECT_0) {
            result.Outcome = IoOutcome::Abandoned;
            SetLastError(ERROR_OPERATION_ABORTED);
            return result;
        }
    }
    if (GetOverlappedResult(device, &block.Overlapped, &result.Transferred, FALSE)) {
        // A request that completed while it was being cancelled did its work: it counts.
        result.Outcome = IoOutcome::Done;
    } else if (GetLastError() == ERROR_OPERATION_ABORTED) {
        result.Outcome = IoOutcome::TimedOut;
    }
    {
        ErrorKeeper keep;
        ResetEvent(block.Overlapped.hEvent);
    }
    return result;
}

class WindowsHidHandle : public HidHandle {
public:
    explicit WindowsHidHandle(HANDLE device) : Device(device) {}
    ~WindowsHidHandle() override { CloseHandle(Device); }
    WindowsHidHandle(const WindowsHidHandle&) = delete;
    WindowsHidHandle& operator=(const WindowsHidHandle&) = delete;

    // Made with the handle, so that a handle whose event cannot be had is never handed out.
    bool Prepare()
    {
        Block = std::make_unique<IoBlock>();
        return Block->Usable();
    }

    bool GetAttributes(HidAttributes& out) override
    {
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!HidD_GetAttributes(Device, &attributes))
            return false;
        out.VendorId = attributes.VendorID;
        out.ProductId = attributes.ProductID;
        return true;
    }

    bool GetCaps(HidCaps& out) override
    {
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!HidD_GetPreparsedData(Device, &preparsed))
            return false;
        HIDP_CAPS caps{};
        const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
        HidD_FreePreparsedData(preparsed);
        if (status != HIDP_STATUS_SUCCESS) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        out.InputReportLength = caps.InputReportByteLength;
        out.OutputReportLength = caps.OutputReportByteLength;
        out.FeatureReportLength = caps.FeatureReportByteLength;
        return true;
    }

    bool GetFeature(uint8_t* report, size_t length) override
    {
        if (report == nullptr || length == 0 || length > ULONG_MAX) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        return HidD_GetFeature(Device, report, static_cast<ULONG>(length)) != FALSE;
    }

    bool SetFeature(const uint8_t* report, size_t length) override
    {
        if (report == nullptr || length == 0 || length > ULONG_MAX) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        // HidD_SetFeature takes a writable buffer.
        std::vector<uint8_t> copy(report, report + length);
        return HidD_SetFeature(Device, copy.data(), static_cast<ULONG>(copy.size())) != FALSE;
    }

    bool WriteReport(const uint8_t* report, size_t length, uint32_t timeoutMs) override
    {
        if (report == nullptr || length == 0 || length > MAXDWORD) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        if (!Renew())
            return false;
        Block->Data.assign(report, report + length);
        const BOOL started = WriteFile(Device, Block->Data.data(), static_cast<DWORD>(length), nullptr,
                                       &Block->Overlapped);
        const IoResult result = Finish(Device, *Block, started, timeoutMs);
        if (result.Outcome == IoOutcome::Abandoned)
            Abandon();
        if (result.Outcome == IoOutcome::TimedOut)
            SetLastError(WAIT_TIMEOUT);
        if (result.Outcome != IoOutcome::Done)
            return false;
        if (result.Transferred != length) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        return true;
    }

    HidReadResult ReadReport(uint8_t* report, size_t length, uint32_t timeoutMs) override
    {
        if (report == nullptr || length == 0 || length > MAXDWORD) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return {HidReadStatus::Failed, ERROR_INVALID_PARAMETER};
        }
        if (!Renew())
            return {HidReadStatus::Failed, GetLastError()};
        Block->Data.assign(length, 0);
        const BOOL started = ReadFile(Device, Block->Data.data(), static_cast<DWORD>(length), nullptr,
                                      &Block->Overlapped);
        const IoResult result = Finish(Device, *Block, started, timeoutMs);
        switch (result.Outcome) {
        case IoOutcome::Done:
            if (result.Transferred != length)
                return {HidReadStatus::Incomplete, 0};
            std::memcpy(report, Block->Data.data(), length);
            return {HidReadStatus::Good, 0};
        case IoOutcome::TimedOut:
            return {HidReadStatus::TimedOut, 0};
        case IoOutcome::Abandoned:
            Abandon();
            return {HidReadStatus::Failed, ERROR_OPERATION_ABORTED};
        case IoOutcome::Failed:
            break;
        }
        return {HidReadStatus::Failed, GetLastError()};
    }

private:
    // A new block after one was left to the driver (or could not be made).
    bool Renew()
    {
        if (Block && Block->Usable())
            return true;
        return Prepare();
    }

    // The driver still holds the request: its OVERLAPPED block and data must stay where they
    // are for as long as it does, which may be after this handle is gone. The block is left
    // allocated for good; this happens only with a driver that ignores cancellation.
    void Abandon()
    {
        (void)Block.release();
    }

    HANDLE Device;
    std::unique_ptr<IoBlock> Block;
};

HANDLE OpenPath(const std::string& path, DWORD flags)
{
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

} // namespace

WindowsHidHost::WindowsHidHost() : TraceToStderr(std::getenv("TESSALY_TRACE") != nullptr) {}

std::string WindowsHidHost::SystemErrorText(uint32_t error)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (length != 0 && text != nullptr)
        result.assign(text, length);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    if (result.empty())
        result = "Error " + std::to_string(error);
    return result;
}

HidInterfaceList WindowsHidHost::ListInterfaces()
{
    HidInterfaceList list;
    GUID hidClass{};
    HidD_GetHidGuid(&hidClass);
    HDEVINFO set = SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        list.SetAvailable = false;
        return list;
    }
    // Texts of details that could not be read; shown once the set is let go.
    std::vector<std::string> detailFailures;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA member{};
        member.cbSize = sizeof member;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &member)) {
            const DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_ITEMS)
                list.EnumErrorText = SystemErrorText(error);
            break;
        }
        DWORD size = 0;
        (void)SetupDiGetDeviceInterfaceDetailA(set, &member, nullptr, 0, &size, nullptr);
        constexpr size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        if (size <= pathOffset) {
            detailFailures.push_back(SystemErrorText(GetLastError()));
            continue;
        }
        // DWORD elements give the detail record the alignment it needs.
        std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &member, detail, size, nullptr, nullptr)) {
            detailFailures.push_back(SystemErrorText(GetLastError()));
            continue;
        }
        // The path ends at its NUL, and never beyond the bytes the system said it wrote.
        const char* path = detail->DevicePath;
        const std::string text(path, strnlen(path, size - pathOffset));
        if (!text.empty() && std::find(list.Paths.begin(), list.Paths.end(), text) == list.Paths.end())
            list.Paths.push_back(text);
    }
    SetupDiDestroyDeviceInfoList(set);
    for (const std::string& failure : detailFailures)
        Message(failure, "EnumInterface Failure");
    return list;
}

bool WindowsHidHost::ReadIds(const std::string& path, HidAttributes& out)
{
    HANDLE probe = OpenPath(path, 0);
    if (probe == INVALID_HANDLE_VALUE)
        return false;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    const bool read = HidD_GetAttributes(probe, &attributes) != FALSE;
    {
        ErrorKeeper keep;
        CloseHandle(probe);
    }
    if (!read)
        return false;
    out.VendorId = attributes.VendorID;
    out.ProductId = attributes.ProductID;
    return true;
}

std::unique_ptr<HidHandle> WindowsHidHost::Open(const std::string& path)
{
    HANDLE device = OpenPath(path, FILE_FLAG_OVERLAPPED);
    if (device == INVALID_HANDLE_VALUE)
        return nullptr;
    auto handle = std::make_unique<WindowsHidHandle>(device);
    if (!handle->Prepare()) {
        ErrorKeeper keep;
        handle.reset();
        return nullptr;
    }
    return handle;
}

std::string WindowsHidHost::LastErrorText() { return SystemErrorText(GetLastError()); }

void WindowsHidHost::ShowMessage(const std::string& text, const std::string& caption)
{
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

void WindowsHidHost::Trace(const std::string& line)
{
    OutputDebugStringA(line.c_str());
    if (TraceToStderr)
        std::fprintf(stderr, "%s\n", line.c_str());
}

uint32_t WindowsHidHost::Ticks() { return GetTickCount(); }

void WindowsHidHost::Pause(uint32_t ms) { Sleep(ms); }

void WindowsHidHost::RaiseThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL); }

UnitLockAttempt WindowsHidHost::LockUnit(const std::string& path, uint32_t waitMs)
{
    return LockUnitFile(path, waitMs);
}
