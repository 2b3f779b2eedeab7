#include "VersionNumber.h"

std::string FormatVersionNumber(uint32_t version)
{
    std::string text = std::to_string(version >> 24) + "." + std::to_string((version >> 16) & 0xFF) + "." +
                       std::to_string((version >> 8) & 0xFF);
    if ((version & 0xFF) != 0)
        text += " (TEST BUILD " + std::to_string(version & 0xFF) + ")";
    return text;
}
