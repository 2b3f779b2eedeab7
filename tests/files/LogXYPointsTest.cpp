// The XY view's points: at the CSV's rows they are the CSV's values, at X's samples they are X's
// samples, and requests that cannot be met are refused with a reason.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CsvText.h"
#include "Displogfile.h"
#include "LogBytes.h"
#include "LogCsv.h"
#include "LogGenerator.h"
#include "LogXYPoints.h"
#include "TempFolder.h"

namespace {

std::string Written(float value, int decimals)
{
    char text[CsvNumberMaxLength];
    return std::string(text, FormatCsvNumber(value, decimals, '.', text));
}

} // namespace

TEST(LogXYPoints, AtTheExportIntervalThePointsAreTheCsvRows)
{
    TempFolder folder;
    LogSpec spec;
    spec.DurationSeconds = 30;
    spec.CycleHz = 20;
    spec.NoValueProbability = 0.05;
    spec.Seed = 5;
    spec.Channels = RealisticChannels(2, 6);
    const std::string path = folder.File("xy.displog");
    ASSERT_TRUE(WriteDispLog(path, spec));
    const std::string csv = folder.File("xy.csv");
    ASSERT_EQ(ConvertLogFileToCsv(path, csv, 0.1f), 0u);
    DispLogFile log;
    ASSERT_EQ(log.Open(path), 0u);

    XYRequest request;
    request.X = 2;
    request.Y = 0;
    request.HasColour = true;
    request.Colour = 3;
    request.From = 5.05; // between two rows, so the rows' printed times decide alike
    request.To = 20.05;
    request.Interval = 0.1f;
    XYPoints points;
    ASSERT_EQ(CollectXYPoints(log, request, points), "");

    std::vector<std::string> expectX, expectY, expectColour;
    const std::vector<std::string> lines = csvtext::SplitLines(ReadText(csv));
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> fields = csvtext::SplitFields(lines[i]);
        const double t = std::stod(fields[0]);
        if (t < request.From || t > request.To || fields[1 + request.X] == "NAN" || fields[1 + request.Y] == "NAN")
            continue;
        expectX.push_back(fields[1 + request.X]);
        expectY.push_back(fields[1 + request.Y]);
        expectColour.push_back(fields[1 + request.Colour]);
    }
    ASSERT_GT(expectX.size(), 100u);
    ASSERT_EQ(points.Count(), expectX.size());
    ASSERT_EQ(points.Colour.size(), expectX.size());
    char pattern[16];
    auto decimals = [&](uint32_t channel) {
        (void)log.GetChannelFormat(channel, pattern, sizeof pattern);
        return DecimalsOfPattern(pattern);
    };
    size_t withoutColour = 0;
    for (size_t i = 0; i < points.Count(); ++i) {
        EXPECT_EQ(Written(points.X[i], decimals(request.X)), expectX[i]) << i;
        EXPECT_EQ(Written(points.Y[i], decimals(request.Y)), expectY[i]) << i;
        if (std::isnan(points.Colour[i])) {
            ++withoutColour;
            EXPECT_EQ(expectColour[i], "NAN") << i;
        } else {
            EXPECT_EQ(Written(points.Colour[i], decimals(request.Colour)), expectColour[i]) << i;
        }
        EXPECT_TRUE(points.X[i] >= points.MinX && points.X[i] <= points.MaxX);
    }
    EXPECT_TRUE(points.HasColourValue);
    EXPECT_LT(withoutColour, points.Count());
}

TEST(LogXYPoints, AtTheSamplesOfXEachFiniteSampleInRangeIsAPoint)
{
    // X at 0, 1, 2, 3 s (the one at 2 s without value), Y from 0 to 3 s rising by 10 a second.
    const LogBytes bytes = LogBytes(2, 1000)
                               .TimeStamp(0)
                               .Sample(0x01000101, 1.0f)
                               .Sample(0x03000101, 0.0f)
                               .TimeStamp(1000)
                               .Sample(0x01000101, 2.0f)
                               .TimeStamp(2000)
                               .NoValue(0x01000101)
                               .TimeStamp(3000)
                               .Sample(0x01000101, 4.0f)
                               .Sample(0x03000101, 30.0f);
    DispLogFile log;
    ASSERT_EQ(log.OpenFromBytes(bytes.Bytes.data(), bytes.Bytes.size()), 0u);
    XYRequest request;
    request.X = 0;
    request.Y = 1;
    request.Grid = XYGrid::SamplesOfX;
    XYPoints points;
    ASSERT_EQ(CollectXYPoints(log, request, points), "");
    // The sample at 3 s is Y's last: the reader gives no value at a channel's last instant.
    EXPECT_EQ(points.X, (std::vector<float>{1.0f, 2.0f}));
    EXPECT_EQ(points.Y, (std::vector<float>{0.0f, 10.0f}));
    EXPECT_TRUE(points.Colour.empty());

    request.From = 0.5;
    request.To = 1.0;
    ASSERT_EQ(CollectXYPoints(log, request, points), "");
    EXPECT_EQ(points.X, (std::vector<float>{2.0f}));

    request.Grid = XYGrid::ExportInterval;
    request.Interval = 0.0f;
    EXPECT_NE(CollectXYPoints(log, request, points).find("positive number"), std::string::npos);
    request.Interval = 1e-7f;
    request.From = 0;
    request.To = 1e9;
    EXPECT_NE(CollectXYPoints(log, request, points).find("more than"), std::string::npos);
    EXPECT_EQ(points.Count(), 0u);
    request.Interval = 1.0f;
    request.Y = 7;
    EXPECT_EQ(CollectXYPoints(log, request, points), "The log has no such channel.");
}
