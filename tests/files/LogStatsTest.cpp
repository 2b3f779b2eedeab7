// Statistics over a time range: every sample in the range is counted, only finite values make the
// least, greatest and mean; the command prints them per channel, as text or JSON.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "Displogfile.h"
#include "LogBytes.h"
#include "LogGenerator.h"
#include "LogStats.h"
#include "StatsCommand.h"

namespace {

// One channel ("LQR Lambda 1") at 0, 1, 2 and 3 s: 1; 3 and one without value; NaN and 5; 7.
const LogBytes Ranged = LogBytes(2, 1000)
                            .TimeStamp(0)
                            .Sample(0x01000101, 1.0f)
                            .TimeStamp(1000)
                            .Sample(0x01000101, 3.0f)
                            .NoValue(0x01000101)
                            .TimeStamp(2000)
                            .Sample(0x01000101, NAN)
                            .Sample(0x01000101, 5.0f)
                            .TimeStamp(3000)
                            .Sample(0x01000101, 7.0f);

struct CommandRun {
    int ExitCode;
    std::string Errors;
    std::string Output;
};

CommandRun Stats(const std::vector<std::string>& args, bool json = false)
{
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const int code = RunStatsCommand(args, json);
    std::string output = testing::internal::GetCapturedStdout();
    return {code, testing::internal::GetCapturedStderr(), std::move(output)};
}

} // namespace

TEST(LogStats, RangeIsInclusiveAndOnlyFiniteValuesCount)
{
    DispLogFile log;
    ASSERT_EQ(log.OpenFromBytes(Ranged.Bytes.data(), Ranged.Bytes.size()), 0u);
    const std::vector<ChannelStats> whole = LogChannelStats(log, {});
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].Name, "LQR Lambda 1");
    EXPECT_EQ(whole[0].Decimals, 3);
    EXPECT_EQ(whole[0].Count, 6u);
    EXPECT_EQ(whole[0].Finite, 4u);
    EXPECT_EQ(whole[0].Min, 1.0);
    EXPECT_EQ(whole[0].Max, 7.0);
    EXPECT_EQ(whole[0].Mean, 4.0);

    const ChannelStats middle = LogChannelStats(log, {1.0, 2.0})[0];
    EXPECT_EQ(middle.Count, 4u);
    EXPECT_EQ(middle.Finite, 2u);
    EXPECT_EQ(middle.Min, 3.0);
    EXPECT_EQ(middle.Max, 5.0);
    EXPECT_EQ(middle.Mean, 4.0);

    const ChannelStats between = LogChannelStats(log, {2.5, 2.9})[0];
    EXPECT_EQ(between.Count, 0u);
    EXPECT_EQ(between.Finite, 0u);
}

// The text has a header line and one line per channel, values with the channel's decimals; a
// named channel that is not in the log, and a range that ends before it starts, are refused.
TEST(StatsCommand, PrintsTheRangeOfNamedChannels)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("ranged.displog"), Ranged.Bytes));
    const std::string path = folder.File("ranged.displog");
    const CommandRun text = Stats({path, "--from", "1", "--to", "2", "--channel", "LQR Lambda 1"});
    EXPECT_EQ(text.ExitCode, 0) << text.Errors;
    EXPECT_EQ(text.Output, "channel\tcount\tmin\tmax\tmean\nLQR Lambda 1\t4\t3.000\t5.000\t4.000\n");

    const CommandRun empty = Stats({path, "--from", "2.5", "--to", "2.9"});
    EXPECT_EQ(empty.Output, "channel\tcount\tmin\tmax\tmean\nLQR Lambda 1\t0\tNAN\tNAN\tNAN\n");

    const CommandRun json = Stats({path, "--to", "1"}, true);
    ASSERT_EQ(json.ExitCode, 0);
    const nlohmann::json document = nlohmann::json::parse(json.Output);
    EXPECT_EQ(document["channels"][0]["name"], "LQR Lambda 1");
    EXPECT_EQ(document["channels"][0]["count"], 3);
    EXPECT_EQ(document["channels"][0]["mean"], 2.0);
    EXPECT_EQ(document["to"], 1.0);

    const CommandRun unknown = Stats({path, "--channel", "RPM"});
    EXPECT_EQ(unknown.ExitCode, 1);
    EXPECT_NE(unknown.Errors.find("no channel \"RPM\" in the log"), std::string::npos) << unknown.Errors;
    EXPECT_EQ(Stats({path, "--from", "3", "--to", "1"}).ExitCode, 2);
    EXPECT_EQ(Stats({path, "--from", "soon"}).ExitCode, 2);
    EXPECT_EQ(Stats({folder.File("missing.displog")}).ExitCode, 1);
}
