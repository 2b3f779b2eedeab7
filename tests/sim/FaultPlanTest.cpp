#include <gtest/gtest.h>

#include "FaultPlan.h"

using sim::FaultDirection;
using sim::FaultKind;
using sim::FaultPlan;

// Every item of the grammar lands in the plan with its numbers.
TEST(FaultPlanParse, AllItems)
{
    const auto plan = FaultPlan::Parse(
        "drop-in=5, corrupt-in=7, dup-in=3,delay-in=4:300,drop-out=2,corrupt-out=1:12,dup-out=9,"
        "delay-out=6:150,status=0x4012:0x05,status=0x6002:17@2,mute-after=20,unplug-after=40");
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->Reports.size(), 8u);
    EXPECT_EQ(plan->Reports[0].Kind, FaultKind::Drop);
    EXPECT_EQ(plan->Reports[0].Direction, FaultDirection::In);
    EXPECT_EQ(plan->Reports[0].Report, 5u);
    EXPECT_EQ(plan->Reports[1].Kind, FaultKind::Corrupt);
    EXPECT_EQ(plan->Reports[1].Value, sim::DefaultCorruptByte);
    EXPECT_EQ(plan->Reports[3].Kind, FaultKind::Delay);
    EXPECT_EQ(plan->Reports[3].Value, 300u);
    EXPECT_EQ(plan->Reports[4].Direction, FaultDirection::Out);
    EXPECT_EQ(plan->Reports[5].Value, 12u);
    EXPECT_EQ(plan->Reports[7].Value, 150u);
    ASSERT_EQ(plan->Statuses.size(), 2u);
    EXPECT_EQ(plan->Statuses[0].Code, 0x4012);
    EXPECT_EQ(plan->Statuses[0].Status, 0x05);
    EXPECT_EQ(plan->Statuses[0].Occurrence, 0u);
    EXPECT_EQ(plan->Statuses[1].Status, 17);
    EXPECT_EQ(plan->Statuses[1].Occurrence, 2u);
    EXPECT_EQ(plan->MuteAfter, 20u);
    EXPECT_EQ(plan->UnplugAfter, 40u);
}

// A held-up reader and another program's request: hold-in takes its
// milliseconds, intrude its code (device information when none is given).
TEST(FaultPlanParse, HoldAndIntrude)
{
    const auto plan = FaultPlan::Parse("hold-in=3:300,intrude=5,intrude=7:0x4013");
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->Reports.size(), 3u);
    EXPECT_EQ(plan->Reports[0].Kind, FaultKind::Hold);
    EXPECT_EQ(plan->Reports[0].Direction, FaultDirection::In);
    EXPECT_EQ(plan->Reports[0].Value, 300u);
    EXPECT_EQ(plan->Reports[1].Kind, FaultKind::Intrude);
    EXPECT_EQ(plan->Reports[1].Direction, FaultDirection::Out);
    EXPECT_EQ(plan->Reports[1].Report, 5u);
    EXPECT_EQ(plan->Reports[1].Value, sim::DefaultIntruderCode);
    EXPECT_EQ(plan->Reports[2].Value, 0x4013u);
    for (const char* text : {"hold-out=3:300", "hold-in=3", "intrude=0", "intrude=2:0x10000"})
        EXPECT_FALSE(FaultPlan::Parse(text)) << text;
}

// Numbers are decimal unless they start with 0x: "010" is ten, not eight.
TEST(FaultPlanParse, LeadingZeroIsDecimal)
{
    const auto plan = FaultPlan::Parse("drop-in=010");
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->Reports[0].Report, 10u);
}

// An empty text (or one of blanks and commas) is a plan without faults.
TEST(FaultPlanParse, EmptyIsNoFault)
{
    for (const char* text : {"", "  ", ",,"}) {
        const auto plan = FaultPlan::Parse(text);
        ASSERT_TRUE(plan) << text;
        EXPECT_TRUE(plan->Empty()) << text;
    }
}

// Malformed items are refused with a text that names the item.
TEST(FaultPlanParse, RefusesMalformedItems)
{
    for (const char* text : {"drop-in", "drop-in=0", "drop-up=3", "smash-in=3", "delay-in=4", "delay-in=4:x",
                             "corrupt-in=1:64", "drop-in=2:5", "status=0x4012", "status=0x10000:1",
                             "status=0x4012:0x100", "status=0x4012:5@0", "mute-after=0", "unplug-after=-1",
                             "drop-in=5x", "drop-in=-3"}) {
        std::string error;
        EXPECT_FALSE(FaultPlan::Parse(text, &error)) << text;
        EXPECT_NE(error.find("fault plan item"), std::string::npos) << text;
    }
}
