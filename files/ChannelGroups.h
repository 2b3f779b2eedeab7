#pragma once
// The kinds of channel a log holds, by the channel's name as the CSV header writes it: the
// viewer's automatic plots put one kind in a plot, on one scale.
#include <string_view>

enum class ChannelGroup {
    EngineSpeed, // RPM
    Mixture,     // air-fuel ratio and lambda
    Temperature,
    Pressure,
    ThrottleLoad, // throttle position and load
    Voltage,      // battery and analog inputs
    GearSpeed,    // gear and road speed
    Other,
};

// The kind of the channel named `name` (any case); Other when no word of the table is in it.
ChannelGroup ChannelGroupOf(std::string_view name);
