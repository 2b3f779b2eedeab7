#pragma once
// Which HID host a front end talks to, chosen and opened in one place for the window and
// tessaly-cli: the simulated unit when asked for, else the platform's host (the Win32 host on
// Windows, hidapi elsewhere).
#include <memory>
#include <string>

#include "HidHost.h"

namespace sim {
class SimHost;
}

struct UnitHostChoice {
    std::unique_ptr<HidHost> Host;     // null when none could be made; Error says why
    sim::SimHost* Simulator = nullptr; // the simulated unit, when that is the host
    std::string Error;
};

struct UnitHostRequest {
    bool Simulate = false;
    // The simulated unit's card folder, UTF-8; empty: $TESSALY_SIM_CARD, else the default.
    std::string CardFolder;
    // The simulated unit starts in its bootloader (a firmware update), as a real unit is put
    // there by hand before one.
    bool StartInBootloader = false;
};

// A new card folder is seeded with a few map and log files.
UnitHostChoice OpenUnitHost(const UnitHostRequest& request);
