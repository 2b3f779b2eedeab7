#pragma once
// The unit's commands of tessaly-cli: devices, info, ls, get, put, rm.
#include <string>
#include <vector>

#include "HidHost.h"

// True for the words RunDeviceCommand understands.
bool IsDeviceCommand(const std::string& command);

// Runs one command against the first unit `host` finds; returns the exit code
// (0 done, 1 failed, 2 bad arguments).
// With `json` the command prints one JSON document on standard output (its facts as the text
// gives them) and its messages on standard error.
int RunDeviceCommand(HidHost& host, const std::string& command, const std::vector<std::string>& args,
                     bool json = false);
