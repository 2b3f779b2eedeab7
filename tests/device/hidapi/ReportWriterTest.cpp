// The writer thread behind WriteReport: a write the kernel holds too long counts
// as not written, keeps its own copy of the bytes, and holds up neither the next
// report for longer than its wait nor the handle's destruction.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ReportWriter.h"

namespace {

// A fake kernel: records every report it is given and, while closed, holds
// each write until it is opened.
struct FakeKernel {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Open = true;
    int Result = -2; // -2: the whole length
    std::vector<std::vector<uint8_t>> Written;
    int Started = 0;

    int Send(const uint8_t* report, size_t length, std::string& error)
    {
        std::unique_lock lock(Lock);
        ++Started;
        Changed.wait(lock, [this] { return Open; });
        // Read the bytes only now, after the caller may have given up on them.
        Written.emplace_back(report, report + length);
        if (Result == -1)
            error = "Broken pipe";
        return Result == -2 ? static_cast<int>(length) : Result;
    }

    void SetOpen(bool open)
    {
        std::lock_guard lock(Lock);
        Open = open;
        Changed.notify_all();
    }

    std::vector<std::vector<uint8_t>> Reports()
    {
        std::lock_guard lock(Lock);
        return Written;
    }

    int StartedCount()
    {
        std::lock_guard lock(Lock);
        return Started;
    }
};

ReportWriter::SendFunction SendTo(const std::shared_ptr<FakeKernel>& kernel)
{
    return [kernel](const uint8_t* report, size_t length, std::string& error) {
        return kernel->Send(report, length, error);
    };
}

// Waits up to two seconds for a condition another thread brings about.
template <typename Condition>
bool Eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

constexpr uint32_t Generous = 2000; // a wait that a healthy write never needs
constexpr uint32_t Short = 20;      // a wait that a held write always exceeds

} // namespace

// A write that completes with the whole report is written, byte for byte.
TEST(ReportWriter, CompletedWriteIsWritten)
{
    auto kernel = std::make_shared<FakeKernel>();
    ReportWriter writer(SendTo(kernel));
    const std::vector<uint8_t> report = {0x00, 0x55, 0xAA, 0xAA, 0x55, 0x00, 0x40, 0x04, 0x00};
    EXPECT_TRUE(writer.Write(report.data(), report.size(), Generous));
    const auto written = kernel->Reports();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], report);
}

// Fewer bytes than the report, or an error, is not written.
TEST(ReportWriter, ShortOrFailedWriteIsNotWritten)
{
    auto kernel = std::make_shared<FakeKernel>();
    ReportWriter writer(SendTo(kernel));
    const std::vector<uint8_t> report(65, 0x11);
    kernel->Result = 64;
    EXPECT_FALSE(writer.Write(report.data(), report.size(), Generous));
    EXPECT_NE(writer.FailureText().find("64 of 65"), std::string::npos);
    kernel->Result = -1;
    EXPECT_FALSE(writer.Write(report.data(), report.size(), Generous));
    EXPECT_EQ(writer.FailureText(), "Broken pipe");
}

// A write still in the kernel after the wait counts as not written, and the
// kernel later reads the report as it was, not the caller's reused buffer.
TEST(ReportWriter, LateWriteIsNotWrittenAndKeepsItsBytes)
{
    auto kernel = std::make_shared<FakeKernel>();
    kernel->Open = false;
    ReportWriter writer(SendTo(kernel));
    std::vector<uint8_t> buffer(65, 0xA5);
    EXPECT_FALSE(writer.Write(buffer.data(), buffer.size(), Short));
    std::fill(buffer.begin(), buffer.end(), 0x00);
    kernel->SetOpen(true);
    ASSERT_TRUE(Eventually([&] { return kernel->Reports().size() == 1; }));
    EXPECT_EQ(kernel->Reports()[0], std::vector<uint8_t>(65, 0xA5));
}

// While the earlier write is stuck, the next report is not handed to the kernel
// at all: the call fails after its own wait.
TEST(ReportWriter, NextWriteFailsWhileTheEarlierOneIsStuck)
{
    auto kernel = std::make_shared<FakeKernel>();
    kernel->Open = false;
    ReportWriter writer(SendTo(kernel));
    const std::vector<uint8_t> first(9, 0x01);
    const std::vector<uint8_t> second(9, 0x02);
    EXPECT_FALSE(writer.Write(first.data(), first.size(), Short));
    EXPECT_FALSE(writer.Write(second.data(), second.size(), Short));
    EXPECT_EQ(writer.FailureText(), "an earlier write is still pending");
    EXPECT_EQ(kernel->StartedCount(), 1);
    kernel->SetOpen(true);
    EXPECT_TRUE(writer.Write(second.data(), second.size(), Generous));
    const auto written = kernel->Reports();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[1], second);
}

// An earlier write that finishes within the next call's wait lets that call go on.
TEST(ReportWriter, NextWriteWaitsForALateOneThatFinishes)
{
    auto kernel = std::make_shared<FakeKernel>();
    kernel->Open = false;
    ReportWriter writer(SendTo(kernel));
    const std::vector<uint8_t> first(9, 0x01);
    const std::vector<uint8_t> second(9, 0x02);
    EXPECT_FALSE(writer.Write(first.data(), first.size(), Short));
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        kernel->SetOpen(true);
    });
    EXPECT_TRUE(writer.Write(second.data(), second.size(), Generous));
    opener.join();
    const auto written = kernel->Reports();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0], first);
    EXPECT_EQ(written[1], second);
}

// Destroying the writer does not wait for a stuck write; what the send function
// keeps alive (the device in the host) is released once that write returns.
TEST(ReportWriter, DestructionLeavesAStuckWriteBehind)
{
    auto kernel = std::make_shared<FakeKernel>();
    kernel->Open = false;
    auto released = std::make_shared<std::atomic<bool>>(false);
    struct Device {
        std::shared_ptr<std::atomic<bool>> Released;
        ~Device() { *Released = true; }
    };
    auto device = std::make_shared<Device>();
    device->Released = released;
    {
        ReportWriter writer([kernel, device](const uint8_t* report, size_t length, std::string& error) {
            return kernel->Send(report, length, error);
        });
        device.reset();
        const std::vector<uint8_t> report(9, 0x01);
        EXPECT_FALSE(writer.Write(report.data(), report.size(), Short));
    }
    EXPECT_FALSE(released->load());
    kernel->SetOpen(true);
    EXPECT_TRUE(Eventually([&] { return released->load(); }));
}

// An idle writer stops and releases its send function at once.
TEST(ReportWriter, IdleWriterReleasesOnDestruction)
{
    auto kernel = std::make_shared<FakeKernel>();
    {
        ReportWriter writer(SendTo(kernel));
        const std::vector<uint8_t> report(9, 0x01);
        EXPECT_TRUE(writer.Write(report.data(), report.size(), Generous));
    }
    EXPECT_EQ(kernel.use_count(), 1);
}
