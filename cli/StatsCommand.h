#pragma once
// tessaly-cli stats FILE.displog [--from S] [--to S] [--channel NAME]...
#include <string>
#include <vector>

// args are the words after "stats". Prints a header line "channel<TAB>count<TAB>min<TAB>max<TAB>mean"
// and a line per channel over the raw samples whose time lies in [from, to] (with `json`, one
// JSON document instead). Returns 0, 1 when the log cannot be read or names no such channel,
// 2 for a usage error, 130 or 143 when SIGINT or SIGTERM stopped the reading.
int RunStatsCommand(const std::vector<std::string>& args, bool json);
