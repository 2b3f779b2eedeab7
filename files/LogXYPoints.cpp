#include "LogXYPoints.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Displogfile.h"
#include "LogCsv.h"

namespace {

std::string Seconds(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

class Collector {
public:
    Collector(const DispLogFile& log, const XYRequest& request, XYPoints& out) : Log(log), Request(request), Out(out) {}

    void At(double t, float x)
    {
        float y = 0;
        if (!std::isfinite(x) || !Log.GetValueAt(Request.Y, t, y, YCursor) || !std::isfinite(y))
            return;
        Out.X.push_back(x);
        Out.Y.push_back(y);
        if (!Request.HasColour)
            return;
        float colour = 0;
        if (!Log.GetValueAt(Request.Colour, t, colour, ColourCursor) || !std::isfinite(colour))
            colour = std::numeric_limits<float>::quiet_NaN();
        Out.Colour.push_back(colour);
    }

    size_t XCursor = 0;

private:
    const DispLogFile& Log;
    const XYRequest& Request;
    XYPoints& Out;
    size_t YCursor = 0;
    size_t ColourCursor = 0;
};

void FindRanges(XYPoints& out)
{
    if (out.X.empty())
        return;
    const auto [minX, maxX] = std::minmax_element(out.X.begin(), out.X.end());
    const auto [minY, maxY] = std::minmax_element(out.Y.begin(), out.Y.end());
    out.MinX = *minX;
    out.MaxX = *maxX;
    out.MinY = *minY;
    out.MaxY = *maxY;
    for (const float c : out.Colour) {
        if (std::isnan(c))
            continue;
        out.MinColour = out.HasColourValue ? std::min(out.MinColour, c) : c;
        out.MaxColour = out.HasColourValue ? std::max(out.MaxColour, c) : c;
        out.HasColourValue = true;
    }
}

} // namespace

std::string CollectXYPoints(const DispLogFile& log, const XYRequest& request, XYPoints& out)
{
    out = XYPoints{};
    const uint32_t channels = log.GetChannelCount();
    if (request.X >= channels || request.Y >= channels || (request.HasColour && request.Colour >= channels))
        return "The log has no such channel.";
    Collector collect(log, request, out);
    if (request.Grid == XYGrid::SamplesOfX) {
        const size_t samples = log.GetSampleCount(request.X);
        if (samples > MaxXYInstants)
            return "The X channel has " + std::to_string(samples) + " samples: more than " +
                   std::to_string(MaxXYInstants) + " points cannot be shown.";
        for (size_t i = 0; i < samples; ++i) {
            const LogSample sample = log.GetSample(request.X, i);
            if (sample.Valid != 0 && sample.Time >= request.From && sample.Time <= request.To)
                collect.At(sample.Time, sample.Value);
        }
    } else {
        try {
            CheckCsvInterval(request.Interval);
        } catch (const CsvIntervalError& error) {
            return error.what();
        }
        const double duration = log.GetDuration();
        const double step = request.Interval;
        const double last = std::min(request.To, duration);
        // The instants are stepped through from 0 as the conversion steps them, so each is the
        // CSV row's instant to the last bit.
        if (last > 0 && std::ceil(last / step) > static_cast<double>(MaxXYInstants))
            return "The export interval of " + Seconds(step) + " s gives more than " + std::to_string(MaxXYInstants) +
                   " points over " + Seconds(last) + " s: choose a longer interval or a shorter range.";
        for (double t = 0.0; t < duration && t <= request.To; t += step) {
            if (t < request.From)
                continue;
            float x = 0;
            if (log.GetValueAt(request.X, t, x, collect.XCursor))
                collect.At(t, x);
        }
    }
    FindRanges(out);
    return {};
}
