// The CSV of a time range and chosen columns: the full conversion's header of those columns and
// exactly its rows in the range, each field as the conversion writes it.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "CsvText.h"
#include "LogBytes.h"
#include "LogCsv.h"
#include "LogGenerator.h"
#include "LogPlotData.h"
#include "LogRangeCsv.h"

using namespace csvtext;

// The range CSV is the full conversion's header and exactly its rows whose instants are in
// the range, for either separator.
TEST(LogRangeCsv, IsACutOfTheFullCsv)
{
    TempFolder folder;
    const std::string log = (folder.Folder() / "range.displog").string();
    ASSERT_TRUE(WriteDispLog(log, GappyLog(2)));
    LogPlotData data;
    ASSERT_EQ(data.Open(log), 0u);
    for (const char separator : {'.', ','}) {
        const Converted csv = ConvertWithTheConverter(folder, log, 0.1f, separator);
        for (const auto& [from, to] : {std::pair{0.0, 1e9}, std::pair{4.05, 9.3}, std::pair{-5.0, 0.0},
                                       std::pair{29.5, 40.0}, std::pair{12.0, 11.0}}) {
            std::string text;
            const uint64_t rows = WriteRangeCsv(data, from, to, 0.1f, separator,
                                                [&text](std::string_view piece) { text += piece; });
            std::vector<std::string> expected{csv.Lines.front()};
            for (size_t row = 0; row < csv.Times.size(); ++row) {
                if (csv.Times[row] >= from && csv.Times[row] <= to)
                    expected.push_back(csv.Lines[row + 1]);
            }
            EXPECT_EQ(SplitLines(text), expected) << from << " to " << to;
            EXPECT_EQ(rows, expected.size() - 1);
        }
    }
}

// The fields of a CSV line, split at the commas outside double quotes (a quoted field keeps its
// quotes, so that it compares as the text it was).
std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (const char c : line) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

// Chosen columns in a chosen order (one twice): the header names only those, and each row is the
// full CSV's row of that instant with its fields picked the same way, for either separator.
TEST(LogRangeCsv, ChosenColumnsAreTheFullCsvsColumns)
{
    TempFolder folder;
    const std::string log = (folder.Folder() / "columns.displog").string();
    ASSERT_TRUE(WriteDispLog(log, GappyLog(1)));
    LogPlotData data;
    ASSERT_EQ(data.Open(log), 0u);
    const CsvColumns columns{4, 1, 2, 4};
    for (const char separator : {'.', ','}) {
        const Converted csv = ConvertWithTheConverter(folder, log, 0.05f, separator);
        for (const auto& [from, to] : {std::pair{0.0, 1e9}, std::pair{7.95, 21.05}}) {
            std::string text;
            const uint64_t rows = WriteRangeCsv(data, from, to, 0.05f, separator,
                                                [&text](std::string_view piece) { text += piece; }, columns);
            std::vector<std::string> expected;
            for (size_t row = 0; row < csv.Lines.size(); ++row) {
                if (row != 0 && !(csv.Times[row - 1] >= from && csv.Times[row - 1] <= to))
                    continue;
                const std::vector<std::string> all = Fields(csv.Lines[row]);
                std::string line = all[0];
                for (const size_t c : columns)
                    line += "," + all[c + 1];
                expected.push_back(line);
            }
            ASSERT_GT(expected.size(), 100u);
            EXPECT_EQ(SplitLines(text), expected) << from << " to " << to;
            EXPECT_EQ(rows, expected.size() - 1);
            EXPECT_EQ(CsvHeaderLine(data, columns), expected.front() + "\r\n");
        }
    }
}

// Saved to a file: complete, the same text; an interval that cannot step, or a folder that is
// not there, is refused and leaves no file.
TEST(LogRangeCsv, SavesWholeOrRefuses)
{
    TempFolder folder;
    const std::string log = (folder.Folder() / "save.displog").string();
    ASSERT_TRUE(WriteDispLog(log, GappyLog(2)));
    LogPlotData data;
    ASSERT_EQ(data.Open(log), 0u);
    const std::string csv = (folder.Folder() / "part.csv").string();
    EXPECT_EQ(SaveRangeCsv(data, csv, 2.0, 6.0, 0.5f, '.'), "");
    std::string expected;
    (void)WriteRangeCsv(data, 2.0, 6.0, 0.5f, '.', [&expected](std::string_view piece) { expected += piece; });
    EXPECT_EQ(ReadText(csv), expected);

    const std::string refused = (folder.Folder() / "refused.csv").string();
    EXPECT_NE(SaveRangeCsv(data, refused, 0.0, 10.0, 0.0f, '.'), "");
    EXPECT_NE(SaveRangeCsv(data, refused, 0.0, 10.0, 1e-12f, '.'), "");
    const std::string nowhere = (folder.Folder() / "missing" / "part.csv").string();
    EXPECT_EQ(SaveRangeCsv(data, nowhere, 2.0, 6.0, 0.5f, '.').rfind("Cannot create file \"" + nowhere + "\". ", 0), 0u);
    EXPECT_EQ(FolderEntries(folder.Folder()), (std::vector<std::string>{"part.csv", "save.displog"}));
}
