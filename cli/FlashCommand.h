#pragma once
// tessaly-cli flash IMAGE: the firmware update of the window, run on a terminal.
#include <string>
#include <vector>

#include "HidHost.h"

// Finds the unit in its bootloader and sends IMAGE (a ".bin" image or a
// firmware package) to it. Returns the exit code: 0 done, 1 failed, 2 bad
// arguments, 130 or 143 stopped by SIGINT or SIGTERM (between blocks: the unit
// stays in its bootloader).
int RunFlashCommand(HidHost& host, const std::vector<std::string>& args);
