// Progress figures of a transfer, on a clock the test moves.
#include <gtest/gtest.h>

#include "TransferMeter.h"

namespace {

using namespace std::chrono_literals;

TEST(TransferMeter, FiguresAcrossFilesAndSkippedBytes)
{
    const TransferMeter::Clock::time_point t0{};
    TransferMeter meter(3000, t0);
    meter.BeginFile(1000, t0);
    meter.Update(250, t0 + 100ms);
    EXPECT_EQ(meter.FilePercent(), 25);
    // Too little measured for a speed yet.
    EXPECT_FALSE(meter.BytesPerSecond().has_value());
    EXPECT_EQ(FormatTransferFigures(meter), "25%, 250 bytes of 1000 bytes");

    meter.Update(1000, t0 + 1s);
    ASSERT_TRUE(meter.BytesPerSecond().has_value());
    EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(), 1000.0);
    EXPECT_DOUBLE_EQ(*meter.SecondsLeft(), 2.0);
    EXPECT_EQ(FormatTransferFigures(meter), "100%, 1000 bytes of 1000 bytes, 1000 bytes/s, 0:02 left");

    // The second file fails after 500 of its 1000 bytes: what it did not transfer leaves the work.
    meter.BeginFile(1000, t0 + 1s);
    meter.Update(500, t0 + 1500ms);
    meter.EndFile(t0 + 1500ms);
    EXPECT_EQ(meter.TotalDone(), 1500u);
    EXPECT_EQ(meter.TotalBytes(), 2500u);
    meter.BeginFile(1000, t0 + 1500ms);
    meter.Update(5000, t0 + 2s); // never beyond the file's size
    EXPECT_EQ(meter.FileDone(), 1000u);
    EXPECT_EQ(meter.TotalDone(), 2500u);
    EXPECT_DOUBLE_EQ(*meter.SecondsLeft(), 0.0);
}

// The speed follows the last few seconds, not the whole transfer.
TEST(TransferMeter, SpeedFollowsTheRecentPast)
{
    const TransferMeter::Clock::time_point t0{};
    TransferMeter meter(1'000'000, t0);
    meter.BeginFile(1'000'000, t0);
    for (int s = 1; s <= 10; ++s)
        meter.Update(static_cast<uint64_t>(s) * 1000, t0 + std::chrono::seconds(s));
    for (int s = 11; s <= 20; ++s)
        meter.Update(10'000 + static_cast<uint64_t>(s - 10) * 10'000, t0 + std::chrono::seconds(s));
    ASSERT_TRUE(meter.BytesPerSecond().has_value());
    EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(), 10'000.0);
}

TEST(TransferMeter, Texts)
{
    EXPECT_EQ(FormatByteCount(0), "0 bytes");
    EXPECT_EQ(FormatByteCount(1023), "1023 bytes");
    EXPECT_EQ(FormatByteCount(1536), "1.5 KB");
    EXPECT_EQ(FormatByteCount(590 * 1024), "590 KB");
    EXPECT_EQ(FormatByteCount(uint64_t{12} * 1024 * 1024 + 300 * 1024), "12.2 MB");
    EXPECT_EQ(FormatDuration(0.2), "0:01");
    EXPECT_EQ(FormatDuration(754), "12:34");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

} // namespace
