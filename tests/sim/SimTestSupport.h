#pragma once
// Helpers shared by the simulated unit's tests: request reports framed by
// hand, reply reassembly, and the display on a unit whose card is a fresh
// temporary folder.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HidCommand.h"
#include "Qxdisplay.h"
#include "SimHost.h"
#include "SimulatedUnit.h"
#include "TempFolder.h"

namespace simtest {

// A request payload: texts with their NUL, little-endian numbers, checksum last.
class Payload {
public:
    Payload& Text(const std::string& text);
    Payload& U8(uint8_t value);
    Payload& U32(uint32_t value);
    Payload& Raw(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> Finish() const;
    std::vector<uint8_t> Bytes;
};

// The 64-byte output reports that carry one request: id 0, marker, then the stream.
std::vector<std::array<uint8_t, 64>> RequestReports(uint16_t code, const std::vector<uint8_t>& payload);

struct Message {
    uint16_t Code = 0;
    std::vector<uint8_t> Payload;
};

// Reassembles reply messages from input reports by the reader's rules.
std::vector<Message> Assemble(const std::vector<std::array<uint8_t, 64>>& reports);

// Sends one request through the unit and reassembles what it answers.
std::vector<Message> Exchange(sim::SimulatedUnit& unit, uint16_t code, const std::vector<uint8_t>& payload);

std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1);

constexpr const char* Maps = "A:\\Maps";
constexpr const char* Logs = "A:\\Logs";

// The real transport and command set (QXDisplay) on a simulated unit whose
// card is a fresh folder.
class SimDisplayTest : public ::testing::Test {
protected:
    void Start(sim::SimOptions options = {})
    {
        options.Unit.CardFolder = Card.Path();
        Host = std::make_unique<sim::SimHost>(std::move(options));
        Display = std::make_unique<QXDisplay>(*Host);
    }
    void TearDown() override
    {
        Display.reset();
        Host.reset();
    }
    // Finds the unit in the given mode and opens it as the window does: index 0, rate 0.
    [[nodiscard]] uint32_t Open(bool boot = false)
    {
        boot ? Display->FindBootDevices() : Display->FindDevices();
        if (Display->DeviceCount() != 1)
            return ERR_NO_PATH;
        return Display->OpenByIndex(0, 0);
    }
    void SetFaults(const char* text) { Host->SetFaultPlan(*sim::FaultPlan::Parse(text)); }

    testsupport::TempFolder Card;
    std::unique_ptr<sim::SimHost> Host;
    std::unique_ptr<QXDisplay> Display;
};

} // namespace simtest
