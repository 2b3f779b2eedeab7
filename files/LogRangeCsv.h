#pragma once
// The CSV of a time range of a log opened for viewing: the full conversion's header of the chosen
// columns and exactly its rows whose instants lie in the range (WriteCsvCut, files/LogCsv.h), so
// a range export is a cut out of the full CSV.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class LogPlotData;

// The channels of a range export, in column order; empty: every channel of the log.
using CsvColumns = std::vector<size_t>;

// The header line (with CR LF) the full conversion writes for this log, of the given columns.
std::string CsvHeaderLine(const LogPlotData& data, const CsvColumns& columns = {});

// Writes the header and every row of the full conversion at `interval` whose time t satisfies
// from <= t <= to, in pieces to sink. The instants are the conversion's: running sums of the
// single-precision interval from 0, below the log's duration. Throws CsvIntervalError for an
// interval that is not a positive number or that would give more than MaxCsvFields fields.
// Only the given columns are written, each as the conversion writes it. Returns the number of
// rows written.
uint64_t WriteRangeCsv(const LogPlotData& data, double from, double to, float interval, char separator,
                       const std::function<void(std::string_view)>& sink, const CsvColumns& columns = {});

// The same into a file, created or replaced only by a complete file. Empty on success, else the
// text to show (the conversion's texts: "Cannot create file ..." and the like).
std::string SaveRangeCsv(const LogPlotData& data, const std::string& destination, double from, double to,
                         float interval, char separator, const CsvColumns& columns = {});
