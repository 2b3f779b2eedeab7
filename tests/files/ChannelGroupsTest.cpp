// The kind of a channel comes from the words of its CSV name; the first kind of the table that
// matches wins, and whole words keep short names from matching inside others.
#include <gtest/gtest.h>

#include "ChannelGroups.h"

TEST(ChannelGroups, KindFromTheNamesWords)
{
    const struct {
        const char* Name;
        ChannelGroup Group;
    } cases[] = {
        {"TVX RPM", ChannelGroup::EngineSpeed},        {"Engine Speed", ChannelGroup::EngineSpeed},
        {"LQR Lambda 1", ChannelGroup::Mixture},       {"LQR AFR 2", ChannelGroup::Mixture},
        {"Coolant Temperature", ChannelGroup::Temperature}, {"IAT", ChannelGroup::Temperature},
        {"Oil Pressure", ChannelGroup::Pressure},      {"MAP kPa", ChannelGroup::Pressure},
        {"TVX TPS", ChannelGroup::ThrottleLoad},       {"Throttle Position", ChannelGroup::ThrottleLoad},
        {"Battery", ChannelGroup::Voltage},            {"LQR Analog 1", ChannelGroup::Voltage},
        {"TVX Speed", ChannelGroup::GearSpeed},        {"TVX Gear", ChannelGroup::GearSpeed},
        {"TVX Map Num", ChannelGroup::Other},          {"TVX Ign Adv Cyl 1", ChannelGroup::Other},
        {"Tapestry", ChannelGroup::Other}, // "tps" only as a word
        {"", ChannelGroup::Other},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChannelGroupOf(c.Name), c.Group) << c.Name;
}
