#pragma once
// The points of an XY (scatter) view of a display log: at each instant of a time grid within a
// range, the value of an X channel, a Y channel and, when asked, a colour channel. The grid is
// either the CSV conversion's rows at an export interval (the same instants and values as the
// CSV) or every sample instant of the X channel. No Qt.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

class DispLogFile;

enum class XYGrid {
    ExportInterval, // the conversion's instants: running sums of the interval from 0, below the duration
    SamplesOfX,     // the time of every sample of X that has a finite value
};

struct XYRequest {
    uint32_t X = 0;
    uint32_t Y = 0;
    bool HasColour = false;
    uint32_t Colour = 0;
    double From = -std::numeric_limits<double>::infinity();
    double To = std::numeric_limits<double>::infinity();
    XYGrid Grid = XYGrid::ExportInterval;
    float Interval = 1.0f; // seconds, for XYGrid::ExportInterval
};

// A point is made at each instant where X and Y both have a finite value; its colour value is NaN
// where the colour channel has none.
struct XYPoints {
    std::vector<float> X;
    std::vector<float> Y;
    std::vector<float> Colour; // empty without a colour channel
    // Least and greatest of each, over the points (of the finite colour values); meaningless
    // without points (or colour values).
    float MinX = 0, MaxX = 0, MinY = 0, MaxY = 0, MinColour = 0, MaxColour = 0;
    bool HasColourValue = false;
    [[nodiscard]] size_t Count() const { return X.size(); }
};

// Instants an XY view visits at most: beyond that it is refused (a picture of more points says
// nothing more, and the look-ups would take seconds).
constexpr uint64_t MaxXYInstants = 20'000'000;

// Fills out with the points of the request. Empty on success, else why nothing was collected, as
// a sentence (an interval that is not a positive number, too many instants, a channel that is not
// in the log).
std::string CollectXYPoints(const DispLogFile& log, const XYRequest& request, XYPoints& out);
