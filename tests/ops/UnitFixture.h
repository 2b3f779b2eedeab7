#pragma once
// A simulated unit whose card holds Maps/Street.qxm (3000 bytes) and an empty Logs folder, opened,
// with a PC folder beside it: the ground the operations' tests stand on.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "Qxdisplay.h"
#include "SimHost.h"
#include "TempFolder.h"

namespace testsupport {

inline std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed, uint8_t step = 31)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * step + seed);
    return bytes;
}

class UnitFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        Card.Write("Maps/Street.qxm", Street);
        Card.Write("Logs/.keep", {});
        sim::SimOptions options;
        options.Unit.CardFolder = Card.Path();
        Host = std::make_unique<sim::SimHost>(options);
        Display = std::make_unique<QXDisplay>(*Host);
        Display->FindDevices();
        ASSERT_EQ(Display->OpenByIndex(0, 0), 0u);
    }
    void TearDown() override
    {
        Display.reset();
        Host.reset();
    }
    void SetFaults(const char* text) { Host->SetFaultPlan(*sim::FaultPlan::Parse(text)); }

    const std::vector<uint8_t> Street = PatternBytes(3000, 1);
    TempFolder Card;
    TempFolder Local;
    std::unique_ptr<sim::SimHost> Host;
    std::unique_ptr<QXDisplay> Display;
};

} // namespace testsupport
