#include "HidapiHost.h"

#include <hidapi.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "ReportDescriptor.h"
#include "ReportWriter.h"

namespace {

// Text of the last failure of this host on the calling thread, as the
// interface promises ("the last system error on the calling thread").
thread_local std::string LastError;

void SetLastError(std::string text)
{
    LastError = std::move(text);
}

// hid_exit frees hidapi's global state, so only the last host may call it.
std::mutex InstanceLock;
int Instances = 0;

// One hid_device, closed when its last owner lets go: the handle, or a writer
// thread whose write the kernel still holds after the handle is gone.
struct HidDevice {
    explicit HidDevice(hid_device* device) : Device(device) {}
    ~HidDevice() { hid_close(Device); }
    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;

    // Serialises every call on Device: the reader or writer thread and the
    // caller's feature requests may meet on one handle. A feature request on a
    // write handle whose write is stuck waits for it; the USB core ends such a
    // transfer within its 5 s time-out, or at once when the unit is unplugged.
    std::mutex Lock;
    hid_device* const Device;
};

std::string DeviceErrorText(const char* call, hid_device* device)
{
    return std::string(call) + ": " + NarrowText(hid_error(device));
}

class HidapiHandle : public HidHandle {
public:
    HidapiHandle(std::shared_ptr<HidDevice> device, std::optional<HidAttributes> ids,
                 std::optional<ReportDescriptorInfo> layout)
        : Device(std::move(device)), Ids(ids), Layout(std::move(layout))
    {
    }

    bool GetAttributes(HidAttributes& out) override
    {
        if (!Ids) {
            SetLastError("the interface is no longer listed by the system");
            return false;
        }
        out = *Ids;
        return true;
    }

    bool GetCaps(HidCaps& out) override
    {
        if (!Layout) {
            SetLastError("the report descriptor of the interface cannot be read");
            return false;
        }
        out.InputReportLength = Layout->InputReportLength;
        out.OutputReportLength = Layout->OutputReportLength;
        out.FeatureReportLength = Layout->FeatureReportLength;
        return true;
    }

    // Only a whole report counts: the caller reads fields out of its
    // zero-filled buffer, and a short answer would pass zeros for data.
    bool GetFeature(uint8_t* report, size_t length) override
    {
        std::lock_guard lock(Device->Lock);
        const int got = hid_get_feature_report(Device->Device, report, length);
        if (got < 0 || static_cast<size_t>(got) != length) {
            SetLastError(DeviceErrorText("hid_get_feature_report", Device->Device));
            return false;
        }
        return true;
    }

    bool SetFeature(const uint8_t* report, size_t length) override
    {
        std::lock_guard lock(Device->Lock);
        const int sent = hid_send_feature_report(Device->Device, report, length);
        if (sent < 0 || static_cast<size_t>(sent) != length) {
            SetLastError(DeviceErrorText("hid_send_feature_report", Device->Device));
            return false;
        }
        return true;
    }

    // hid_write takes the report identifier in byte 0, as the caller's report
    // has it, also on a device without numbered reports (identifier 0).
    bool WriteReport(const uint8_t* report, size_t length, uint32_t timeoutMs) override
    {
        if (!Writer) {
            // The write handle gets its writer with its first report; the read
            // handle never writes and so never starts one.
            Writer = std::make_unique<ReportWriter>(
                [device = Device](const uint8_t* data, size_t size, std::string& error) {
                    std::lock_guard lock(device->Lock);
                    const int written = hid_write(device->Device, data, size);
                    if (written < 0)
                        error = DeviceErrorText("hid_write", device->Device);
                    return written;
                });
        }
        if (!Writer->Write(report, length, timeoutMs)) {
            SetLastError(Writer->FailureText());
            return false;
        }
        return true;
    }

    // The kernel keeps only 64 unread reports per handle and drops newer ones,
    // so this returns as soon as one report is there and the reader comes back
    // at once; only an idle device uses up the slice.
    HidReadResult ReadReport(uint8_t* report, size_t length, uint32_t timeoutMs) override
    {
        const bool numbered = Layout && Layout->NumberedReports;
        const InputPlacement place = PlaceInput(numbered, length);
        if (report == nullptr || place.Length == 0) {
            SetLastError("no room for an input report");
            return {HidReadStatus::Failed, static_cast<uint32_t>(EINVAL)};
        }
        if (place.Offset == 1)
            report[0] = 0;
        const int slice = static_cast<int>(std::min<uint32_t>(timeoutMs, INT_MAX));
        std::lock_guard lock(Device->Lock);
        errno = 0;
        const int returned = hid_read_timeout(Device->Device, report + place.Offset, place.Length, slice);
        const int error = errno;
        const HidReadResult result = MapReadResult(returned, error, numbered, length);
        if (result.Status == HidReadStatus::Failed)
            SetLastError(DeviceErrorText("hid_read_timeout", Device->Device));
        return result;
    }

private:
    std::shared_ptr<HidDevice> Device;
    std::optional<HidAttributes> Ids;
    std::optional<ReportDescriptorInfo> Layout;
    // Declared last so that it stops (or is left to its stuck write) before
    // this handle gives up its share of Device.
    std::unique_ptr<ReportWriter> Writer;
};

std::optional<ReportDescriptorInfo> ReadLayout(const std::string& path)
{
    const std::optional<std::string> descriptorPath = ReportDescriptorPath(path);
    if (!descriptorPath)
        return std::nullopt;
    const std::optional<std::vector<uint8_t>> bytes = ReadDescriptorFile(*descriptorPath);
    if (!bytes)
        return std::nullopt;
    return ParseReportDescriptor(*bytes);
}

} // namespace

HidapiHost::HidapiHost()
{
    {
        std::lock_guard lock(InstanceLock);
        ++Instances;
    }
    Initialised = hid_init() == 0;
    TraceEnabled = std::getenv("TESSALY_TRACE") != nullptr;
}

HidapiHost::~HidapiHost()
{
    std::lock_guard lock(InstanceLock);
    if (--Instances == 0)
        hid_exit();
}

bool HidapiHost::Enumerate(std::vector<InterfaceEntry>& entries)
{
    if (!Initialised)
        return false;
    entries.clear();
    {
        std::lock_guard lock(LibraryLock);
        // Null means no HID interface at all as well as failure; hidapi 0.13
        // does not tell them apart, and an empty bus is the common case.
        hid_device_info* all = hid_enumerate(0, 0);
        for (const hid_device_info* info = all; info != nullptr; info = info->next) {
            if (info->path != nullptr)
                AddInterface(entries, info->path, info->vendor_id, info->product_id);
        }
        hid_free_enumeration(all);
    }
    std::lock_guard lock(KnownLock);
    Known = entries;
    return true;
}

HidInterfaceList HidapiHost::ListInterfaces()
{
    HidInterfaceList list;
    std::vector<InterfaceEntry> entries;
    if (!Enumerate(entries)) {
        list.SetAvailable = false;
        SetLastError("hid_init failed");
        return list;
    }
    for (InterfaceEntry& entry : entries)
        list.Paths.push_back(std::move(entry.Path));
    return list;
}

bool HidapiHost::ReadIds(const std::string& path, HidAttributes& out)
{
    {
        std::lock_guard lock(KnownLock);
        if (const InterfaceEntry* entry = FindInterface(Known, path)) {
            out = entry->Ids;
            return true;
        }
    }
    std::vector<InterfaceEntry> entries;
    if (Enumerate(entries)) {
        if (const InterfaceEntry* entry = FindInterface(entries, path)) {
            out = entry->Ids;
            return true;
        }
    }
    SetLastError("No HID interface at " + path);
    return false;
}

std::unique_ptr<HidHandle> HidapiHost::Open(const std::string& path)
{
    hid_device* raw = nullptr;
    std::string failure;
    {
        std::lock_guard lock(LibraryLock);
        raw = hid_open_path(path.c_str());
        if (raw == nullptr)
            failure = NarrowText(hid_error(nullptr));
    }
    if (raw == nullptr) {
        // hidapi formats its errno into text after freeing memory, so errno is
        // not reliable here; access() tells a missing node from a forbidden one.
        const int error = access(path.c_str(), R_OK | W_OK) == 0 ? 0 : errno;
        SetLastError(OpenFailureText(path, error, failure));
        return nullptr;
    }
    auto device = std::make_shared<HidDevice>(raw);

    // A fresh listing, not the last one: a node number freed by an unplugged
    // device may have been given to another device since.
    std::optional<HidAttributes> ids;
    std::vector<InterfaceEntry> entries;
    if (Enumerate(entries)) {
        if (const InterfaceEntry* entry = FindInterface(entries, path))
            ids = entry->Ids;
    }
    return std::make_unique<HidapiHandle>(std::move(device), ids, ReadLayout(path));
}

std::string HidapiHost::LastErrorText()
{
    if (!LastError.empty())
        return LastError;
    return std::strerror(errno);
}

// This host has no window; the window supplies its own message boxes by
// deriving from or wrapping the host.
void HidapiHost::ShowMessage(const std::string& text, const std::string& caption)
{
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void HidapiHost::Trace(const std::string& line)
{
    if (TraceEnabled)
        std::fprintf(stderr, "%s\n", line.c_str());
}

UnitLockAttempt HidapiHost::LockUnit(const std::string& path, uint32_t waitMs)
{
    // hidraw paths are device nodes; a path of another backend gets a lock file.
    if (path.rfind("/dev/", 0) == 0)
        return LockUnitNode(path, waitMs);
    return LockUnitFile(path, waitMs);
}

uint32_t HidapiHost::Ticks()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void HidapiHost::Pause(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Threads under Linux's normal policy differ only in their nice value, and
// setpriority on a thread id sets it for that thread alone; one step below the
// current value stands for "above normal". An unprivileged user may not lower
// it (that needs CAP_SYS_NICE or an RLIMIT_NICE allowance): the reader then runs
// at normal priority, which it can afford because it drains reports at once.
void HidapiHost::RaiseThreadPriority()
{
    const int savedErrno = errno;
    const pid_t thread = gettid();
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (current != -1 || errno == 0)
        (void)setpriority(PRIO_PROCESS, static_cast<id_t>(thread), current - 1);
    errno = savedErrno;
}
