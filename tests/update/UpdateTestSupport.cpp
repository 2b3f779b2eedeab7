#include "UpdateTestSupport.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "FirmwareImage.h"

namespace updatetest {

std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed;
    for (uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>((state >> 24) % 0xFF); // never 0xFF
    }
    return bytes;
}

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

} // namespace

std::vector<uint8_t> Package(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& sections, size_t cut)
{
    std::vector<uint8_t> out;
    Put32(out, 0x396B389C);
    Put32(out, 0);
    Put32(out, 16);
    Put32(out, 0);
    for (const auto& [type, data] : sections) {
        Put32(out, type);
        Put32(out, 1);
        Put32(out, 0);
        Put32(out, static_cast<uint32_t>(data.size()));
    }
    out.resize(out.size() + 16, 0);
    for (const auto& section : sections)
        out.insert(out.end(), section.second.begin(), section.second.end());
    out.resize(out.size() - cut);
    return out;
}

void RecordingUi::SetStatus(const std::string& text)
{
    Statuses.push_back(text);
    if (OnStatus)
        OnStatus(text);
}

void RecordingUi::SetFile(const std::string& text)
{
    Files.push_back(text);
    if (OnFile)
        OnFile(text);
}

void RecordingUi::Pump()
{
    ++Pumps;
    if (OnPump)
        OnPump();
}

std::optional<std::string> RecordingUi::ChooseImageFile()
{
    ++Choices;
    return Chosen;
}

int RecordingUi::Calls() const
{
    return static_cast<int>(Statuses.size() + Files.size() + Messages.size() + Bars.size() + Panel.size()) + Pumps +
           Choices;
}

BootRig::BootRig(const std::function<void(sim::SimOptions&)>& configure)
{
    sim::SimOptions options;
    options.StartInBootloader = true;
    options.Unit.CardFolder = Folder.Path() / "card";
    if (configure)
        configure(options);
    Host = std::make_unique<sim::SimHost>(std::move(options));
    Boot = std::make_unique<QXDisplay>(*Host);
    Boot->FindBootDevices();
}

BootRig::~BootRig()
{
    Boot.reset(); // before the host it uses
}

FirmwareUpdateResult BootRig::Run(RecordingUi& ui)
{
    return RunFirmwareUpdate(Boot.get(), *Host, ui);
}

bool BootRig::ListedInNormalMode()
{
    QXDisplay normal(*Host);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    do {
        normal.FindDevices();
        if (normal.DeviceCount() == 1)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

void BootRig::SetFaults(const std::string& plan)
{
    std::string error;
    const std::optional<sim::FaultPlan> parsed = sim::FaultPlan::Parse(plan, &error);
    if (!parsed)
        throw std::runtime_error("fault plan: " + error);
    Host->SetFaultPlan(*parsed);
}

void BootRig::SetChip(uint32_t chipId, uint32_t addressUnit, uint32_t appStart)
{
    Host->WithUnit([&](sim::SimulatedUnit& unit) { unit.SetChip(chipId, addressUnit, appStart); });
}

} // namespace updatetest
