#include "LogRangeCsv.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "LocalFiles.h"
#include "LogCsv.h"
#include "LogPlotData.h"

namespace {

std::string IntervalText(double interval)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", interval);
    return text;
}

void AppendNumber(std::string& line, double value, int decimals, char separator)
{
    char text[CsvNumberMaxLength];
    const size_t length = FormatCsvNumber(value, decimals, separator, text);
    AppendCsvField(line, std::string_view(text, length));
}

} // namespace

namespace {

CsvColumns AllOrGiven(const LogPlotData& data, const CsvColumns& columns)
{
    if (!columns.empty())
        return columns;
    CsvColumns all(data.ChannelCount());
    for (size_t c = 0; c < all.size(); ++c)
        all[c] = c;
    return all;
}

} // namespace

std::string CsvHeaderLine(const LogPlotData& data, const CsvColumns& columns)
{
    std::string header = "Time";
    for (const size_t c : AllOrGiven(data, columns)) {
        header += ',';
        AppendCsvField(header, data.ChannelName(c));
    }
    header += "\r\n";
    return header;
}

uint64_t WriteRangeCsv(const LogPlotData& data, double from, double to, float interval, char separator,
                       const std::function<void(std::string_view)>& sink, const CsvColumns& given)
{
    const CsvColumns columns = AllOrGiven(data, given);
    if (!std::isfinite(interval) || interval <= 0.0f)
        throw CsvIntervalError("The export interval must be a positive number of seconds, not " +
                               IntervalText(interval) + ".");
    const double duration = data.Duration();
    const double step = interval;
    const double last = std::min(to, duration);
    const size_t channels = columns.size();
    // The instants up to the end of the range are stepped through from 0, as the conversion does:
    // bounded like the conversion's rows, and every step moves t on.
    if (last > 0 && std::ceil(last / step) * (static_cast<double>(channels) + 1.0) > static_cast<double>(MaxCsvFields))
        throw CsvIntervalError("The export interval of " + IntervalText(step) + " s is too small for " +
                               IntervalText(last) + " s with " + std::to_string(channels) +
                               " channels: it would give more than " + std::to_string(MaxCsvFields) + " values.");

    sink(CsvHeaderLine(data, columns));
    constexpr size_t PieceSize = size_t{1} << 20;
    std::string piece;
    piece.reserve(PieceSize + 4096);
    std::vector<size_t> cursors(channels, 0);
    uint64_t rows = 0;
    for (double t = 0.0; t < duration && t <= to; t += step) {
        if (t < from)
            continue;
        AppendNumber(piece, t, 3, separator);
        for (size_t i = 0; i < channels; ++i) {
            const size_t c = columns[i];
            piece += ',';
            float value = 0.0f;
            if (data.Log().GetValueAt(static_cast<uint32_t>(c), t, value, cursors[i]))
                AppendNumber(piece, value, data.ChannelDecimals(c), separator);
            else
                piece += "NAN";
        }
        piece += "\r\n";
        ++rows;
        if (piece.size() >= PieceSize) {
            sink(piece);
            piece.clear();
        }
    }
    if (!piece.empty())
        sink(piece);
    return rows;
}

std::string SaveRangeCsv(const LogPlotData& data, const std::string& destination, double from, double to,
                         float interval, char separator, const CsvColumns& columns)
{
    ReplacingFile file(destination);
    if (!file.Open())
        return "Cannot create file \"" + destination + "\". " + file.ErrorText();
    bool written = true;
    try {
        (void)WriteRangeCsv(data, from, to, interval, separator, [&](std::string_view text) {
            if (written && !file.Write(text.data(), text.size()))
                written = false;
        }, columns);
    } catch (const CsvIntervalError& error) {
        return error.what();
    }
    if (!written || !file.Flush())
        return "Stream write error: " + destination + ": " + file.ErrorText();
    if (!file.Commit())
        return "Cannot create file \"" + destination + "\". " + file.ErrorText();
    return {};
}
