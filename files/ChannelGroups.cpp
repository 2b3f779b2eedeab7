#include "ChannelGroups.h"

#include <cctype>
#include <string>
#include <vector>

namespace {

struct GroupWords {
    ChannelGroup Group;
    // Whole words of the name (letters and digits between other characters).
    std::vector<std::string_view> Words;
    // Parts of a word, for longer stems ("temp" in "Temperature").
    std::vector<std::string_view> Stems;
};

// In order: the first group with a match wins ("Engine Speed" is engine speed, not road speed).
const GroupWords Table[] = {
    {ChannelGroup::EngineSpeed, {"rpm", "tach"}, {"enginespeed"}},
    {ChannelGroup::Mixture, {"afr", "o2", "ego", "wbo2"}, {"lambda", "airfuel"}},
    {ChannelGroup::Temperature, {"ect", "iat", "clt", "egt", "cht", "mat"}, {"temp"}},
    {ChannelGroup::Pressure, {"kpa", "psi", "bar", "baro"}, {"press", "boost"}},
    {ChannelGroup::ThrottleLoad, {"tps", "load"}, {"throttle"}},
    {ChannelGroup::Voltage, {"v", "vbat", "batt"}, {"volt", "battery", "analog"}},
    {ChannelGroup::GearSpeed, {"gear", "vss", "mph", "kph", "kmh"}, {"speed"}},
};

} // namespace

ChannelGroup ChannelGroupOf(std::string_view name)
{
    std::vector<std::string> words;
    std::string joined; // the letters and digits alone: "Engine Speed" gives "enginespeed"
    std::string word;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            word += lower;
            joined += lower;
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    for (const GroupWords& entry : Table) {
        for (const std::string& w : words)
            for (const std::string_view known : entry.Words)
                if (w == known)
                    return entry.Group;
        for (const std::string_view stem : entry.Stems)
            if (joined.find(stem) != std::string::npos)
                return entry.Group;
    }
    return ChannelGroup::Other;
}
