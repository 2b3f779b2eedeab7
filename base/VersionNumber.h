#pragma once
#include <cstdint>
#include <string>

// Text of a packed version number as the unit reports it: the three high bytes
// as decimals joined by points, and " (TEST BUILD n)" when the lowest byte n is not 0.
std::string FormatVersionNumber(uint32_t version);
