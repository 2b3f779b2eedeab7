#include "LogRangeCsv.h"

#include "LogCsv.h"
#include "LogPlotData.h"

namespace {

std::vector<uint32_t> ChannelsOf(const CsvColumns& columns)
{
    return {columns.begin(), columns.end()};
}

} // namespace

std::string CsvHeaderLine(const LogPlotData& data, const CsvColumns& columns)
{
    return CsvHeaderLine(data.Log(), ChannelsOf(columns));
}

uint64_t WriteRangeCsv(const LogPlotData& data, double from, double to, float interval, char separator,
                       const std::function<void(std::string_view)>& sink, const CsvColumns& columns)
{
    const std::vector<uint32_t> channels = ChannelsOf(columns);
    return WriteCsvCut(data.Log(), interval, separator, CsvCut{channels, from, to}, sink);
}

std::string SaveRangeCsv(const LogPlotData& data, const std::string& destination, double from, double to,
                         float interval, char separator, const CsvColumns& columns)
{
    const std::vector<uint32_t> channels = ChannelsOf(columns);
    try {
        SaveCsvCut(data.Log(), destination, interval, separator, CsvCut{channels, from, to});
    } catch (const CsvWriteError& error) {
        return error.what();
    } catch (const CsvIntervalError& error) {
        return error.what();
    }
    return {};
}
