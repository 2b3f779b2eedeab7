#include "FakeHost.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

class FakeHandle : public HidHandle {
public:
    FakeHandle(FakeHost& host, std::string path, FakeInterface iface)
        : Host(host), Path(std::move(path)), Iface(std::move(iface))
    {
    }
    ~FakeHandle() override
    {
        std::lock_guard lock(Host.Mutex);
        std::erase(Host.Handles, this);
    }

    bool GetAttributes(HidAttributes& out) override
    {
        out = Iface.Ids;
        return true;
    }
    bool GetCaps(HidCaps& out) override
    {
        out = Iface.Caps;
        return true;
    }
    bool GetFeature(uint8_t* report, size_t length) override
    {
        if (Iface.Feature.size() != length)
            return false;
        std::memcpy(report, Iface.Feature.data(), length);
        return true;
    }
    bool SetFeature(const uint8_t* report, size_t length) override
    {
        std::lock_guard lock(Host.Mutex);
        Host.Features.emplace_back(report, report + length);
        return true;
    }
    bool WriteReport(const uint8_t* report, size_t length, uint32_t) override
    {
        Report copy(report, report + length);
        {
            std::lock_guard lock(Host.Mutex);
            if (Gone)
                return false;
            if (Host.WritesBeforeFailure == 0)
                return false;
            if (Host.WritesBeforeFailure > 0)
                --Host.WritesBeforeFailure;
            Host.WrittenReports.push_back(copy);
        }
        if (Host.Responder)
            Host.Responder(Host, copy);
        return true;
    }
    HidReadResult ReadReport(uint8_t* report, size_t length, uint32_t timeoutMs) override
    {
        if (const uint32_t hold = std::exchange(HoldPending, 0); hold != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(hold));
        std::unique_lock lock(Host.Mutex);
        ++Host.Reading;
        Host.InputArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [this] { return Gone || !Input.empty(); });
        --Host.Reading;
        if (Gone)
            return {HidReadStatus::Failed, Error};
        if (Input.empty())
            return {HidReadStatus::TimedOut, 0};
        Report next = std::move(Input.front());
        Input.pop_front();
        if (next.size() < length)
            return {HidReadStatus::Incomplete, 0};
        std::memcpy(report, next.data(), length);
        HoldPending = Host.HoldAfterNextReport.exchange(0);
        return {HidReadStatus::Good, 0};
    }

    FakeHost& Host;
    std::string Path;
    FakeInterface Iface;
    std::deque<Report> Input;
    uint32_t HoldPending = 0; // used by the reading thread only
    bool Gone = false;
    uint32_t Error = 0;
};

std::vector<Report> FrameReply(uint16_t code, const std::vector<uint8_t>& payload, size_t reportLength)
{
    std::vector<Report> reports;
    const uint16_t total = static_cast<uint16_t>(payload.size() + 4);
    size_t position = 0;
    bool first = true;
    do {
        Report report(reportLength, 0);
        report[1] = 0x55;
        report[2] = 0xAA;
        report[3] = 0xAA;
        report[4] = 0x55;
        size_t offset = 5;
        if (first) {
            report[5] = static_cast<uint8_t>(code);
            report[6] = static_cast<uint8_t>(code >> 8);
            report[7] = static_cast<uint8_t>(total);
            report[8] = static_cast<uint8_t>(total >> 8);
            offset = 9;
        }
        const size_t count = std::min(reportLength - offset, payload.size() - position);
        std::copy_n(payload.begin() + static_cast<long>(position), count, report.begin() + static_cast<long>(offset));
        position += count;
        first = false;
        reports.push_back(std::move(report));
    } while (position < payload.size());
    return reports;
}

FakeHost::FakeHost(uint32_t tickOffset) : TickOffset(tickOffset) {}

void FakeHost::AddInterface(const std::string& path, FakeInterface iface)
{
    std::lock_guard lock(Mutex);
    Interfaces[path] = std::move(iface);
    Order.push_back(path);
}

void FakeHost::RemoveInterface(const std::string& path)
{
    std::lock_guard lock(Mutex);
    Interfaces.erase(path);
    std::erase(Order, path);
}

void FakeHost::Inject(const std::vector<Report>& reports)
{
    std::lock_guard lock(Mutex);
    for (FakeHandle* handle : Handles)
        handle->Input.insert(handle->Input.end(), reports.begin(), reports.end());
    InputArrived.notify_all();
}

void FakeHost::Unplug(uint32_t error)
{
    std::lock_guard lock(Mutex);
    for (FakeHandle* handle : Handles) {
        handle->Gone = true;
        handle->Error = error;
    }
    Interfaces.clear();
    Order.clear();
    InputArrived.notify_all();
}

std::vector<Report> FakeHost::Written()
{
    std::lock_guard lock(Mutex);
    return WrittenReports;
}

std::vector<Report> FakeHost::FeaturesSet()
{
    std::lock_guard lock(Mutex);
    return Features;
}

std::vector<std::string> FakeHost::Traces()
{
    std::lock_guard lock(Mutex);
    return TraceLines;
}

std::vector<std::string> FakeHost::Messages()
{
    std::lock_guard lock(Mutex);
    return MessageLines;
}

int FakeHost::PauseCalls()
{
    std::lock_guard lock(Mutex);
    return Pauses;
}

int FakeHost::OpenHandles()
{
    std::lock_guard lock(Mutex);
    return static_cast<int>(Handles.size());
}

bool FakeHost::ReadPending()
{
    std::lock_guard lock(Mutex);
    return Reading != 0;
}

HidInterfaceList FakeHost::ListInterfaces()
{
    std::lock_guard lock(Mutex);
    if (OverrideList)
        return NextList;
    HidInterfaceList list;
    list.Paths = Order;
    return list;
}

bool FakeHost::ReadIds(const std::string& path, HidAttributes& out)
{
    std::lock_guard lock(Mutex);
    auto found = Interfaces.find(path);
    if (found == Interfaces.end())
        return false;
    out = found->second.Ids;
    return true;
}

std::unique_ptr<HidHandle> FakeHost::Open(const std::string& path)
{
    std::lock_guard lock(Mutex);
    auto found = Interfaces.find(path);
    if (found == Interfaces.end())
        return nullptr;
    auto handle = std::make_unique<FakeHandle>(*this, path, found->second);
    Handles.push_back(handle.get());
    return handle;
}

void FakeHost::ShowMessage(const std::string& text, const std::string& caption)
{
    std::lock_guard lock(Mutex);
    MessageLines.push_back(caption + ": " + text);
}

void FakeHost::Trace(const std::string& line)
{
    std::lock_guard lock(Mutex);
    TraceLines.push_back(line);
}

uint32_t FakeHost::Ticks()
{
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start);
    return static_cast<uint32_t>(elapsed.count()) + TickOffset;
}

void FakeHost::Pause(uint32_t ms)
{
    {
        std::lock_guard lock(Mutex);
        ++Pauses;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
