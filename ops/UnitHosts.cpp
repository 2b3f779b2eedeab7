#include "UnitHosts.h"

#include <optional>

#include "CardSeed.h"
#include "PathText.h"
#include "SimHost.h"
#if defined(TESSALY_HAVE_WINDOWS_HOST)
#include "WindowsHidHost.h"
#elif defined(TESSALY_HAVE_HIDAPI)
#include "HidapiHost.h"
#endif

namespace {

UnitHostChoice SimulatedHost(const UnitHostRequest& request)
{
    UnitHostChoice choice;
    std::optional<sim::SimOptions> options = sim::SimOptions::FromEnvironment(&choice.Error);
    if (!options)
        return choice;
    if (!request.CardFolder.empty())
        options->Unit.CardFolder = PathFromUtf8(request.CardFolder);
    options->StartInBootloader = request.StartInBootloader;
    if (!SeedSimCard(options->Unit.CardFolder, choice.Error)) {
        choice.Error = Utf8FromPath(options->Unit.CardFolder) + ": " + choice.Error;
        return choice;
    }
    auto simulated = std::make_unique<sim::SimHost>(std::move(*options));
    choice.Simulator = simulated.get();
    choice.Host = std::move(simulated);
    return choice;
}

} // namespace

UnitHostChoice OpenUnitHost(const UnitHostRequest& request)
{
    if (request.Simulate)
        return SimulatedHost(request);
    UnitHostChoice choice;
#if defined(TESSALY_HAVE_WINDOWS_HOST)
    choice.Host = std::make_unique<WindowsHidHost>();
#elif defined(TESSALY_HAVE_HIDAPI)
    choice.Host = std::make_unique<HidapiHost>();
#else
    choice.Error = "this build has no USB support; use --simulate";
#endif
    return choice;
}
