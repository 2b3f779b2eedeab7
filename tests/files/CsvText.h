#pragma once
// The CSV of a log as the tests read it: its lines, each line's fields, and the full conversion of
// a log with gaps of every kind to compare a cut or a view with.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LogBytes.h"
#include "LogCsv.h"
#include "LogGenerator.h"

namespace csvtext {

inline std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The fields of a CSV line, quotes removed.
inline std::vector<std::string> SplitFields(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// A log with samples without value, dropped samples and channels that start late and stop early,
// so that the CSV holds NAN fields of every kind.
inline LogSpec GappyLog(int format)
{
    LogSpec spec;
    spec.Format = format;
    spec.DurationSeconds = 30;
    spec.CycleHz = 20;
    spec.NoValueProbability = 0.05;
    spec.DropProbability = 0.05;
    spec.Seed = 7;
    spec.Channels = RealisticChannels(format, 6);
    spec.Channels[1].StartSeconds = 8.0;
    spec.Channels[2].StopSeconds = 21.0;
    return spec;
}

struct Converted {
    std::vector<std::string> Lines;
    std::vector<double> Times; // the instant of each data line, summed as the conversion sums
};

inline Converted ConvertWithTheConverter(const TempFolder& folder, const std::string& log, float interval,
                                  char separator = '.')
{
    const std::string csv = (folder.Folder() / "full.csv").string();
    CsvOptions options;
    options.DecimalSeparator = separator;
    EXPECT_EQ(ConvertLogFileToCsv(log, csv, interval, options), 0u);
    Converted converted;
    converted.Lines = SplitLines(ReadText(csv));
    double t = 0.0;
    for (size_t row = 1; row < converted.Lines.size(); ++row, t += interval)
        converted.Times.push_back(t);
    return converted;
}

} // namespace csvtext
