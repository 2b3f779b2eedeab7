#pragma once
// Tick steps and tick labels of the viewer's axes.
#include <algorithm>
#include <cmath>

#include <QString>

#include "LogCsv.h"

// 1, 2 or 5 times a power of ten, at least `raw`.
inline double NiceStep(double raw)
{
    if (!(raw > 0) || !std::isfinite(raw))
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= raw)
            return factor * power;
    }
    return 10.0 * power;
}

// A number as the CSV writes it, with 0 to 3 decimals.
inline QString CsvNumberText(double value, int decimals, char separator)
{
    char text[CsvNumberMaxLength];
    const size_t length = FormatCsvNumber(value, decimals, separator, text);
    return QString::fromLatin1(text, static_cast<qsizetype>(length));
}

// The label of a tick at `value` on an axis of ticks `step` apart: as many decimals as the step
// needs, at most `decimals`; a value that is zero but for rounding is written 0.
inline QString TickText(double value, double step, int decimals, char separator)
{
    const int needed = std::clamp(static_cast<int>(-std::floor(std::log10(step))), 0, std::max(decimals, 0));
    return CsvNumberText(std::fabs(value) < step * 1e-9 ? 0.0 : value, needed, separator);
}
