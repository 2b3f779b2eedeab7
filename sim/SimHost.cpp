#include "SimHost.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

#include "PathText.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;
using Report = std::array<uint8_t, UnitReportLength>;

// Trace lines and messages kept for inspection; older ones are dropped.
constexpr size_t MaxKeptLines = 1000;
constexpr uint32_t FullSpeedRebootMs = 500;
constexpr uint32_t FullSpeedEraseMs = 30;
constexpr auto FullSpeedSlot = std::chrono::milliseconds(1);
constexpr uint32_t NoDeviceError = ENODEV;

thread_local std::string LastError;

struct PendingReport {
    Report Bytes;
    Clock::time_point Arrival;
    uint64_t Number = 0; // input report number since the fault plan was set
};

void Keep(std::deque<std::string>& lines, std::string line)
{
    if (lines.size() == MaxKeptLines)
        lines.pop_front();
    lines.push_back(std::move(line));
}

} // namespace

// Reports on their way to one handle, and the ones that arrived unread.
struct HandleQueue {
    uint64_t Generation = 0;
    bool Foreign = false;
    std::deque<PendingReport> InFlight; // in order of arrival
    std::deque<PendingReport> Ready;
    uint64_t HeldFor = 0; // the report a hold-in fault held this handle's reader for
};

struct SimHost::State {
    struct Leave {
        Clock::time_point At;
        std::optional<UnitMode> ComeBackIn; // none: stays off the bus
    };

    explicit State(SimOptions options) : Options(std::move(options)), Unit(Options.Unit) {}

    bool Valid(const HandleQueue& queue) const { return Plugged && queue.Generation == Generation; }
    uint64_t LinkMs(Clock::time_point t) const
    {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(t - Start).count());
    }
    Clock::duration Slot() const
    {
        return Options.Link == LinkModel::FullSpeed ? Clock::duration(FullSpeedSlot) : Clock::duration::zero();
    }

    void LeaveBus()
    {
        Plugged = false;
        ++Generation;
        for (HandleQueue* queue : Handles) {
            queue->InFlight.clear();
            queue->Ready.clear();
        }
        Changed.notify_all();
    }

    void PlugIn(UnitMode mode)
    {
        Unit.PowerUp(mode);
        Plugged = true;
        ReturnAt.reset();
        Changed.notify_all();
    }

    // Applies the events whose time has come: a scheduled departure, a return.
    void Advance(Clock::time_point now)
    {
        if (Departure && now >= Departure->At) {
            const Leave leave = *Departure;
            Departure.reset();
            LeaveBus();
            if (leave.ComeBackIn) {
                ReturnAt = leave.At + std::chrono::milliseconds(RebootMs);
                ReturnMode = *leave.ComeBackIn;
            }
        }
        if (!Plugged && ReturnAt && now >= *ReturnAt)
            PlugIn(ReturnMode);
    }

    // Moves reports that have arrived by `now` into the handle's buffer. Only
    // reads empty the buffer, so admitting late still drops exactly the
    // reports that found it full when they arrived.
    void Admit(HandleQueue& queue, Clock::time_point now)
    {
        while (!queue.InFlight.empty() && queue.InFlight.front().Arrival <= now) {
            if (queue.Ready.size() >= HandleReportLimit)
                ++Overflows;
            else
                queue.Ready.push_back(queue.InFlight.front());
            queue.InFlight.pop_front();
        }
    }

    std::optional<ReportFault> FaultFor(FaultDirection direction, uint64_t number, FaultKind kind) const
    {
        for (const ReportFault& fault : Plan.Reports)
            if (fault.Direction == direction && fault.Report == number && fault.Kind == kind)
                return fault;
        return std::nullopt;
    }

    // One more report crossed the link at `at`; mute or unplug when the plan says so.
    void CountCrossing(Clock::time_point at)
    {
        ++CrossedSincePlan;
        if (Plan.MuteAfter != 0 && CrossedSincePlan >= Plan.MuteAfter)
            Muted = true;
        if (Plan.UnplugAfter != 0 && CrossedSincePlan == Plan.UnplugAfter) {
            Departure = Leave{at, std::nullopt};
            Doomed = true;
        }
    }

    // Sends the unit's answer, starting when the request was received at `ready`.
    void Transmit(const UnitAnswer& answer, Clock::time_point ready)
    {
        Clock::time_point t = ready + std::chrono::milliseconds(answer.BusyMs);
        for (const Report& original : answer.Reports) {
            if (Muted || Doomed)
                break;
            const uint64_t number = ++InSincePlan;
            ++Totals.In;
            Report bytes = original;
            if (const auto corrupt = FaultFor(FaultDirection::In, number, FaultKind::Corrupt))
                bytes[corrupt->Value] ^= 0xFF;
            const auto delay = FaultFor(FaultDirection::In, number, FaultKind::Delay);
            Clock::time_point start = std::max(t, InFreeAt);
            if (delay)
                start += std::chrono::milliseconds(delay->Value);
            const int copies = FaultFor(FaultDirection::In, number, FaultKind::Duplicate) ? 2 : 1;
            const bool drop = FaultFor(FaultDirection::In, number, FaultKind::Drop).has_value();
            for (int copy = 0; copy < copies; ++copy) {
                const Clock::time_point arrival = start + Slot();
                InFreeAt = start = arrival;
                if (drop)
                    continue;
                for (HandleQueue* queue : Handles) {
                    if (!Valid(*queue))
                        continue;
                    // Admitting here too keeps a handle that is never read (the
                    // transport's write handle) at its 64-report bound.
                    Admit(*queue, Clock::now());
                    queue->InFlight.push_back({bytes, arrival, number});
                }
            }
            CountCrossing(InFreeAt);
            t = InFreeAt;
        }
        if (answer.Finished && !Doomed)
            Departure = Leave{ready, UnitMode::Normal};
        // Waking the readers for a report that brought no answer would cost a
        // context switch per output report.
        if (!answer.Reports.empty() || answer.Finished || Doomed)
            Changed.notify_all();
    }

    std::mutex Mutex;
    std::condition_variable Changed;
    SimOptions Options;
    SimulatedUnit Unit;
    uint32_t RebootMs = 0;
    Clock::time_point Start = Clock::now();
    bool Plugged = false;
    uint64_t Generation = 1;
    std::optional<Leave> Departure;
    std::optional<Clock::time_point> ReturnAt;
    UnitMode ReturnMode = UnitMode::Normal;
    Clock::time_point OutFreeAt{};
    Clock::time_point InFreeAt{};
    std::set<HandleQueue*> Handles;

    FaultPlan Plan;
    uint64_t OutSincePlan = 0;
    uint64_t InSincePlan = 0;
    uint64_t CrossedSincePlan = 0;
    bool Muted = false;
    bool Doomed = false; // an unplug-after fault has fired; nothing more crosses
    LinkCounts Totals;
    uint64_t Overflows = 0;

    std::deque<std::string> TraceKept;
    std::deque<std::string> MessagesKept;
};

namespace {

class SimHandle : public HidHandle {
public:
    // The caller holds the state's lock, so the handle joins the unit's current power cycle.
    SimHandle(std::shared_ptr<SimHost::State> state, bool foreign) : Shared(std::move(state))
    {
        Queue.Generation = Shared->Generation;
        Queue.Foreign = foreign;
        Shared->Handles.insert(&Queue);
    }
    ~SimHandle() override
    {
        std::lock_guard lock(Shared->Mutex);
        Shared->Handles.erase(&Queue);
    }
    SimHandle(const SimHandle&) = delete;
    SimHandle& operator=(const SimHandle&) = delete;

    bool GetAttributes(HidAttributes& out) override
    {
        std::lock_guard lock(Shared->Mutex);
        Shared->Advance(Clock::now());
        if (Queue.Foreign) {
            out = {SimForeignVendorId, SimForeignProductId};
            return true;
        }
        if (!Shared->Valid(Queue))
            return Gone();
        out.VendorId = Shared->Unit.Settings().VendorId;
        out.ProductId = Shared->Unit.Mode() == UnitMode::Normal ? UnitNormalProductId : UnitBootProductId;
        return true;
    }

    bool GetCaps(HidCaps& out) override
    {
        out = {static_cast<uint16_t>(UnitReportLength), static_cast<uint16_t>(UnitReportLength), 0};
        return true;
    }

    // The unit has no feature report.
    bool GetFeature(uint8_t*, size_t) override { return false; }
    bool SetFeature(const uint8_t*, size_t) override { return false; }

    bool WriteReport(const uint8_t* report, size_t length, uint32_t timeoutMs) override
    {
        std::unique_lock lock(Shared->Mutex);
        SimHost::State& s = *Shared;
        const Clock::time_point now = Clock::now();
        s.Advance(now);
        if (Queue.Foreign)
            return true;
        if (!s.Valid(Queue))
            return Gone();
        if (length != UnitReportLength)
            return false;

        const uint64_t number = ++s.OutSincePlan;
        ++s.Totals.Out;
        Report bytes{};
        std::copy_n(report, UnitReportLength, bytes.begin());
        if (const auto corrupt = s.FaultFor(FaultDirection::Out, number, FaultKind::Corrupt))
            bytes[corrupt->Value] ^= 0xFF;
        Clock::time_point start = std::max(now, s.OutFreeAt);
        if (const auto delay = s.FaultFor(FaultDirection::Out, number, FaultKind::Delay))
            start += std::chrono::milliseconds(delay->Value);
        const auto timeout = std::chrono::milliseconds(timeoutMs);
        if (start - now > timeout) {
            // The unit does not take the report in time: the write is cancelled.
            lock.unlock();
            std::this_thread::sleep_until(now + timeout);
            return false;
        }
        const Clock::time_point received = start + s.Slot();
        s.OutFreeAt = received;
        if (start > now) {
            lock.unlock();
            std::this_thread::sleep_until(start);
            lock.lock();
            s.Advance(Clock::now());
            if (!s.Valid(Queue))
                return Gone();
        }
        if (s.Doomed)
            return true;
        s.CountCrossing(received);
        if (!s.FaultFor(FaultDirection::Out, number, FaultKind::Drop)) {
            const int copies = s.FaultFor(FaultDirection::Out, number, FaultKind::Duplicate) ? 2 : 1;
            for (int copy = 0; copy < copies; ++copy)
                s.Transmit(s.Unit.ReceiveReport(bytes.data(), bytes.size(), s.LinkMs(received)), received);
        }
        if (const auto intruder = s.FaultFor(FaultDirection::Out, number, FaultKind::Intrude))
            s.Transmit(s.Unit.ExecuteAgain(static_cast<uint16_t>(intruder->Value)), received);
        s.Advance(Clock::now());
        return true;
    }

    HidReadResult ReadReport(uint8_t* report, size_t length, uint32_t timeoutMs) override
    {
        std::unique_lock lock(Shared->Mutex);
        SimHost::State& s = *Shared;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const Clock::time_point now = Clock::now();
            s.Advance(now);
            if (!Queue.Foreign && !s.Valid(Queue)) {
                Gone();
                return {HidReadStatus::Failed, NoDeviceError};
            }
            s.Admit(Queue, now);
            if (!Queue.Ready.empty()) {
                const uint64_t number = Queue.Ready.front().Number;
                if (const auto hold = s.FaultFor(FaultDirection::In, number, FaultKind::Hold);
                    hold && Queue.HeldFor != number) {
                    // A reader that the scheduler keeps waiting: the reports
                    // go on arriving meanwhile.
                    Queue.HeldFor = number;
                    lock.unlock();
                    std::this_thread::sleep_for(std::chrono::milliseconds(hold->Value));
                    lock.lock();
                    continue;
                }
                const Report bytes = Queue.Ready.front().Bytes;
                Queue.Ready.pop_front();
                std::copy_n(bytes.begin(), std::min(length, bytes.size()), report);
                return {length == bytes.size() ? HidReadStatus::Good : HidReadStatus::Incomplete, 0};
            }
            if (now >= deadline)
                return {HidReadStatus::TimedOut, 0};
            Clock::time_point wake = deadline;
            if (!Queue.InFlight.empty())
                wake = std::min(wake, Queue.InFlight.front().Arrival);
            if (s.Departure)
                wake = std::min(wake, s.Departure->At);
            s.Changed.wait_until(lock, wake);
        }
    }

private:
    static bool Gone()
    {
        LastError = "The device is not connected.";
        return false;
    }

    std::shared_ptr<SimHost::State> Shared;
    HandleQueue Queue;
};

std::filesystem::path FolderFromEnvironment(const char* variable)
{
#ifdef _WIN32
    // The environment's UTF-16 text: a folder outside the 8-bit code page keeps its name.
    const std::wstring name(variable, variable + std::char_traits<char>::length(variable));
    const wchar_t* value = ::_wgetenv(name.c_str());
#else
    const char* value = std::getenv(variable);
#endif
    return value && *value ? std::filesystem::path(value) : std::filesystem::path();
}

} // namespace

std::filesystem::path SimOptions::DefaultCardFolder()
{
#ifdef _WIN32
    // The user's local application data, where Windows programs keep what is not roamed.
    if (auto local = FolderFromEnvironment("LOCALAPPDATA"); !local.empty())
        return local / "Tessaly" / "sim-card";
#endif
    if (auto data = FolderFromEnvironment("XDG_DATA_HOME"); !data.empty())
        return data / "tessaly" / "sim-card";
    if (auto home = FolderFromEnvironment("HOME"); !home.empty())
        return home / ".local" / "share" / "tessaly" / "sim-card";
    return std::filesystem::current_path() / "tessaly-sim-card";
}

std::optional<SimOptions> SimOptions::FromEnvironment(std::string* error)
{
    SimOptions options;
    auto plan = FaultPlan::FromEnvironment(error);
    if (!plan)
        return std::nullopt;
    options.Faults = *plan;
    if (const char* link = std::getenv("TESSALY_SIM_LINK"); link && *link) {
        const std::string text = link;
        if (text == "full-speed") {
            options.Link = LinkModel::FullSpeed;
        } else if (text != "instant") {
            if (error)
                *error = "TESSALY_SIM_LINK: \"" + text + "\" is neither instant nor full-speed";
            return std::nullopt;
        }
    }
    options.FlashOut = FolderFromEnvironment("TESSALY_SIM_FLASH");
    // The transport's trace lines go to standard error with the simulated unit too.
    options.EchoTrace = std::getenv("TESSALY_TRACE") != nullptr;
    options.Unit.CardFolder = FolderFromEnvironment("TESSALY_SIM_CARD");
    if (options.Unit.CardFolder.empty())
        options.Unit.CardFolder = DefaultCardFolder();
    return options;
}

SimHost::SimHost(SimOptions options)
{
    const bool fullSpeed = options.Link == LinkModel::FullSpeed;
    if (!options.EraseMs)
        options.EraseMs = fullSpeed ? FullSpeedEraseMs : 0;
    options.Unit.EraseMs = *options.EraseMs;
    Shared = std::make_shared<State>(std::move(options));
    State& s = *Shared;
    s.RebootMs = s.Options.RebootMs.value_or(fullSpeed ? FullSpeedRebootMs : 0);
    s.Plan = s.Options.Faults;
    s.Unit.SetStatusFaults(s.Plan.Statuses);
    s.Unit.SetFlashFaults(s.Plan.Flash);
    s.Unit.PowerUp(s.Options.StartInBootloader ? UnitMode::Bootloader : UnitMode::Normal);
    s.Plugged = s.Options.StartPlugged;
}

SimHost::~SimHost()
{
    // Handles still open keep the state alive but see the unit gone.
    std::lock_guard lock(Shared->Mutex);
    Shared->Departure.reset();
    Shared->ReturnAt.reset();
    Shared->LeaveBus();
    if (!Shared->Options.FlashOut.empty()) {
        const std::vector<uint8_t>& flash = Shared->Unit.Flash();
        std::ofstream(Shared->Options.FlashOut, std::ios::binary)
            .write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
    }
}

HidInterfaceList SimHost::ListInterfaces()
{
    std::lock_guard lock(Shared->Mutex);
    Shared->Advance(Clock::now());
    HidInterfaceList list;
    if (Shared->Options.ForeignInterface)
        list.Paths.push_back(SimForeignPath);
    if (Shared->Plugged)
        list.Paths.push_back(SimUnitPath);
    return list;
}

bool SimHost::ReadIds(const std::string& path, HidAttributes& out)
{
    auto handle = Open(path);
    return handle && handle->GetAttributes(out);
}

std::unique_ptr<HidHandle> SimHost::Open(const std::string& path)
{
    std::lock_guard lock(Shared->Mutex);
    Shared->Advance(Clock::now());
    const bool foreign = path == SimForeignPath && Shared->Options.ForeignInterface;
    if (!foreign && (path != SimUnitPath || !Shared->Plugged)) {
        LastError = "The system cannot find the file specified.";
        return nullptr;
    }
    return std::make_unique<SimHandle>(Shared, foreign);
}

std::string SimHost::LastErrorText()
{
    return LastError;
}

void SimHost::ShowMessage(const std::string& text, const std::string& caption)
{
    std::lock_guard lock(Shared->Mutex);
    if (Shared->Options.EchoTrace)
        std::cerr << "[" << caption << "] " << text << '\n';
    Keep(Shared->MessagesKept, caption + ": " + text);
}

void SimHost::Trace(const std::string& line)
{
    std::lock_guard lock(Shared->Mutex);
    if (Shared->Options.EchoTrace)
        std::cerr << line << '\n';
    Keep(Shared->TraceKept, line);
}

uint32_t SimHost::Ticks()
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Shared->Start);
    return static_cast<uint32_t>(static_cast<uint64_t>(elapsed.count()) + Shared->Options.TickOffset);
}

void SimHost::Pause(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

UnitLockAttempt SimHost::LockUnit(const std::string& path, uint32_t waitMs)
{
    std::error_code error;
    std::filesystem::path card = CardFolder();
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(card, error);
    // In the card folder: whoever reaches the card reaches its unit, and no other user's folder
    // is involved.
    return LockUnitFileInsideFolder(Utf8FromPath(error ? card : canonical), "sim:" + path, waitMs);
}

void SimHost::Plug()
{
    std::lock_guard lock(Shared->Mutex);
    Shared->Advance(Clock::now());
    Shared->Departure.reset();
    if (!Shared->Plugged)
        Shared->PlugIn(Shared->ReturnAt ? Shared->ReturnMode : Shared->Unit.Mode());
}

void SimHost::Unplug()
{
    std::lock_guard lock(Shared->Mutex);
    Shared->Departure.reset();
    Shared->ReturnAt.reset();
    Shared->LeaveBus();
}

void SimHost::Restart(UnitMode mode)
{
    std::lock_guard lock(Shared->Mutex);
    const Clock::time_point now = Clock::now();
    Shared->Departure = State::Leave{now, mode};
    Shared->Advance(now);
}

bool SimHost::IsPlugged()
{
    std::lock_guard lock(Shared->Mutex);
    Shared->Advance(Clock::now());
    return Shared->Plugged;
}

UnitMode SimHost::Mode()
{
    std::lock_guard lock(Shared->Mutex);
    Shared->Advance(Clock::now());
    return Shared->Unit.Mode();
}

void SimHost::SetCardLocked(bool locked)
{
    std::lock_guard lock(Shared->Mutex);
    Shared->Unit.Card().SetLocked(locked);
}

bool SimHost::CardLocked()
{
    std::lock_guard lock(Shared->Mutex);
    return Shared->Unit.Card().IsLocked();
}

void SimHost::SetFaultPlan(const FaultPlan& plan)
{
    std::lock_guard lock(Shared->Mutex);
    State& s = *Shared;
    s.Plan = plan;
    s.OutSincePlan = s.InSincePlan = s.CrossedSincePlan = 0;
    s.Muted = s.Doomed = false;
    s.Unit.SetStatusFaults(plan.Statuses);
    s.Unit.SetFlashFaults(plan.Flash);
}

std::filesystem::path SimHost::CardFolder()
{
    std::lock_guard lock(Shared->Mutex);
    return Shared->Unit.Card().Root();
}

std::string SimHost::ScreenText()
{
    std::lock_guard lock(Shared->Mutex);
    return Shared->Unit.ScreenText();
}

std::vector<std::string> SimHost::ScreenHistory()
{
    std::lock_guard lock(Shared->Mutex);
    return Shared->Unit.ScreenHistory();
}

std::vector<ProgramRecord> SimHost::ProgramLog()
{
    std::lock_guard lock(Shared->Mutex);
    return Shared->Unit.ProgramLog();
}

std::vector<EraseRecord> SimHost::EraseLog()
{
    std::lock_guard lock(Shared->Mutex);
    return Shared->Unit.EraseLog();
}

std::vector<uint8_t> SimHost::ReadFlash(uint32_t address, uint32_t length)
{
    std::lock_guard lock(Shared->Mutex);
    const std::vector<uint8_t>& flash = Shared->Unit.Flash();
    if (address < UnitFlashBase || address - UnitFlashBase > flash.size())
        return {};
    const size_t at = address - UnitFlashBase;
    const size_t count = std::min<size_t>(length, flash.size() - at);
    return {flash.begin() + static_cast<ptrdiff_t>(at), flash.begin() + static_cast<ptrdiff_t>(at + count)};
}

void SimHost::WithUnit(const std::function<void(SimulatedUnit&)>& action)
{
    std::lock_guard lock(Shared->Mutex);
    action(Shared->Unit);
}

LinkCounts SimHost::Counts()
{
    std::lock_guard lock(Shared->Mutex);
    return Shared->Totals;
}

void SimHost::ResetCounts()
{
    std::lock_guard lock(Shared->Mutex);
    Shared->Totals = {};
    Shared->Overflows = 0;
}

uint64_t SimHost::OverflowDrops()
{
    std::lock_guard lock(Shared->Mutex);
    return Shared->Overflows;
}

int SimHost::OpenHandles()
{
    std::lock_guard lock(Shared->Mutex);
    return static_cast<int>(Shared->Handles.size());
}

std::vector<std::string> SimHost::TraceLines()
{
    std::lock_guard lock(Shared->Mutex);
    return {Shared->TraceKept.begin(), Shared->TraceKept.end()};
}

std::vector<std::string> SimHost::Messages()
{
    std::lock_guard lock(Shared->Mutex);
    return {Shared->MessagesKept.begin(), Shared->MessagesKept.end()};
}

} // namespace sim
