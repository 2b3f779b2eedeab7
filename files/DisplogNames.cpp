// Column names and number patterns of the logged channels.
#include "Displogfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

struct NamedId {
    uint32_t Id;
    const char* Name;
    const char* Pattern;
};

// Format 1: the 16-bit identifier names the channel by itself.
constexpr NamedId Format1Channels[] = {
    {0x0001, "TP", "0"},
    {0x0002, "RPM", "0.000"},
    {0x0003, "FUEL", "0"},
    {0x0004, "DUTY", "0"},
    {0x0006, "CURRENT MAP", "0"},
    {0x0007, "CURRENT GEAR", "0"},
    {0x0008, "PRESSURE VOLTS", "0.00"},
    {0x0009, "SPEED", "0.0"},
    {0x0010, "IGN", "0.000"},
    {0x0100, "ANALOG 0", "0.000"},
    {0x0200, "ANALOG 1", "0.000"},
    {0x0300, "RPM", "0.000"},
    {0x0400, "AFR", "0.000"},
    {0x1000, "AFR", "0.000"},
    {0x2000, "LAMBDA", "0.000"},
    {0x3000, "ANALOG", "0.000"},
    {0x4000, "RPM", "0.000"},
};

// Format 2, module kind 1: the whole 16-bit channel field selects the text.
constexpr NamedId LqrChannels[] = {
    {1, "Lambda ", "0.000"},
    {2, "AFR ", "0.000"},
    {3, "Analog  ", "0.000"},
    {4, "RPM ", "0.000"},
};

// Format 2, module kind 5.
constexpr NamedId LqrDualChannels[] = {
    {1, "Lambda 1 ", "0.000"},
    {2, "Lambda 2 ", "0.000"},
    {3, "AFR 1 ", "0.000"},
    {4, "AFR 2 ", "0.000"},
};

// Format 2, module kind 4: bits 8-15 of the identifier select the text.
constexpr NamedId TvxChannels[] = {
    {0x1B, "Map Num ", "0"},
    {0x1C, "RPM ", "0.000"},
    {0x1D, "Speed ", "0.0"},
    {0x1F, "Gear ", "0"},
    {0x2A, "Fuel Duty Cyl 1 ", "0"},
    {0x2B, "Ign Adv Cyl 1 ", "0.000"},
    {0x2E, "Fuel Adj Cyl 1 ", "0"},
    {0x3A, "Fuel Duty Cyl 2 ", "0"},
    {0x3B, "Ign Adv Cyl 2 ", "0.000"},
    {0x3E, "Fuel Adj Cyl 2 ", "0"},
    {0x4A, "Fuel Duty Cyl 3 ", "0"},
    {0x4B, "Ign Adv Cyl 3 ", "0.000"},
    {0x4E, "Fuel Adj Cyl 3 ", "0"},
    {0x5A, "Fuel Duty Cyl 4 ", "0"},
    {0x5B, "Ign Adv Cyl 4 ", "0.000"},
    {0x5E, "Fuel Adj Cyl 4 ", "0"},
    {0x71, "Temp ", "0.0"},
    {0x77, "Pressure ", "0.00"},
    {0xA0, "J1850 RPM ", "0.000"},
    {0xA1, "J1850 Speed ", "0.000"},
    {0xA2, "J1850 Engine Temp ", "0.000"},
    {0xA3, "J1850 Intake Temp ", "0.000"},
    {0xA4, "J1850 Adv Front ", "0.000"},
    {0xA5, "J1850 Adv Rear ", "0.000"},
    {0xA6, "J1850 Bat Volts ", "0.000"},
    {0xA7, "J1850 Idle RPM ", "0.000"},
    {0xA8, "J1850 MAP ", "0.000"},
    {0xA9, "J1850 TPS ", "0.000"},
    {0xAA, "J1850 IAC ", "0.000"},
    {0xAB, "J1850 PW Front ", "0.000"},
    {0xAC, "J1850 PW Rear ", "0.000"},
    {0xAD, "J1850 Accel Enrich ", "0.000"},
    {0xAE, "J1850 Decel Enlean ", "0.000"},
    {0xAF, "J1850 Knock Front ", "0.000"},
    {0xB0, "J1850 Knock Rear ", "0.000"},
    {0xC5, "TPS ", "0"},
    {0xF0, "Ign Adj Cyl 1 ", "0.000"},
    {0xF1, "Ign Adj Cyl 2 ", "0.000"},
    {0xF2, "Ign Adj Cyl 3 ", "0.000"},
    {0xF3, "Ign Adj Cyl 4 ", "0.000"},
};

constexpr const char* DefaultPattern = "0.000";

template <size_t N>
const NamedId* Find(const NamedId (&table)[N], uint32_t id)
{
    const auto* end = table + N;
    const auto* found = std::find_if(table, end, [id](const NamedId& entry) { return entry.Id == id; });
    return found == end ? nullptr : found;
}

// Appends to a caller's buffer without ever passing its end; the text stays terminated.
class BoundedText {
public:
    BoundedText(char* buffer, size_t size) : Buffer(buffer), Size(size)
    {
        if (Size > 0)
            Buffer[0] = '\0';
    }

    void Append(const char* text)
    {
        if (Size == 0)
            return;
        while (*text != '\0' && Length + 1 < Size)
            Buffer[Length++] = *text++;
        Buffer[Length] = '\0';
    }

    template <typename... Args>
    void AppendFormat(const char* format, Args... args)
    {
        char piece[32];
        std::snprintf(piece, sizeof piece, format, args...);
        Append(piece);
    }

private:
    char* Buffer;
    size_t Size;
    size_t Length = 0;
};

struct Format2Parts {
    uint32_t Module;
    uint32_t ChannelField; // bits 8-23, not shifted
    uint32_t Instance;
};

Format2Parts Split(uint32_t id)
{
    return {id >> 24, id & 0x00FFFF00u, id & 0xFFu};
}

// The channel entry of a format-2 identifier, or nullptr where the module lists none.
const NamedId* Format2Channel(uint32_t id)
{
    const Format2Parts parts = Split(id);
    switch (parts.Module) {
    case 1:
        return Find(LqrChannels, parts.ChannelField >> 8);
    case 4:
        return Find(TvxChannels, (id >> 8) & 0xFFu);
    case 5:
        return Find(LqrDualChannels, parts.ChannelField >> 8);
    default:
        return nullptr;
    }
}

} // namespace

bool DispLogFile::NameForId(uint32_t id, char* buffer, size_t size) const
{
    BoundedText text(buffer, size);
    if (Header.FormatTag != Format2Tag) {
        const uint32_t shortId = id & 0xFFFFu;
        if (const NamedId* entry = Find(Format1Channels, shortId)) {
            text.Append(entry->Name);
            return true;
        }
        text.AppendFormat("ID (0x%04X)", shortId);
        return false;
    }

    const Format2Parts parts = Split(id);
    static const char* const ModuleTexts[] = {nullptr, "LQR ", "HZN ", "Ign ", "TVX ", "LQR "};
    const bool known = parts.Module >= 1 && parts.Module <= 5;
    if (known) {
        text.Append(ModuleTexts[parts.Module]);
    } else {
        // A module kind without a text of its own is named by its number, so that its channels
        // stay apart in the header.
        text.AppendFormat("Module %u ", parts.Module);
    }
    const bool hasChannelText = !known || parts.Module == 1 || parts.Module == 4 || parts.Module == 5;
    if (hasChannelText) {
        if (const NamedId* entry = Format2Channel(id))
            text.Append(entry->Name);
        else
            text.AppendFormat("0x%04X ", parts.ChannelField);
    }
    if (parts.Instance != 0)
        text.AppendFormat("%u", parts.Instance);
    return true;
}

bool DispLogFile::FormatForId(uint32_t id, char* buffer, size_t size) const
{
    BoundedText text(buffer, size);
    if (Header.FormatTag != Format2Tag) {
        const NamedId* entry = Find(Format1Channels, id & 0xFFFFu);
        text.Append(entry ? entry->Pattern : DefaultPattern);
        return entry != nullptr;
    }
    const NamedId* entry = Format2Channel(id);
    text.Append(entry ? entry->Pattern : DefaultPattern);
    return true;
}

bool DispLogFile::GetChannelFormat(uint32_t index, char* buffer, size_t size) const
{
    uint32_t id = 0;
    if (!GetChannelId(index, id))
        return false;
    return FormatForId(id, buffer, size);
}
