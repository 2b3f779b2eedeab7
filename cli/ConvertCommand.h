#pragma once
// tessaly-cli convert FILE.displog... [--interval SECONDS] [--decimal-separator C]
#include <optional>
#include <string>
#include <vector>

// args are the words after "convert". Writes FILE.csv beside each log, as the window's Convert
// command does; returns the process exit code: 0 when every log was converted, 1 when one or more
// failed (each reported on standard error), 2 for a usage error (nothing converted).
int RunConvertCommand(const std::vector<std::string>& args);

// A number as the command line writes it ("0.5", "1e-3"): the whole text, else none.
std::optional<double> ParseNumber(const std::string& text);
