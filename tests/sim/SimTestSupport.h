#pragma once
// Helpers shared by the simulated unit's tests: a card folder that cleans up
// after itself, request reports framed by hand, and reply reassembly.
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <memory>

#include "HidCommand.h"
#include "Qxdisplay.h"
#include "SimHost.h"
#include "SimulatedUnit.h"

namespace simtest {

// A fresh card folder under the system's temporary folder, removed at the end.
class TempCard {
public:
    TempCard();
    ~TempCard();
    TempCard(const TempCard&) = delete;
    TempCard& operator=(const TempCard&) = delete;
    const std::filesystem::path& Path() const { return Root; }
    void WriteFile(const std::string& relative, const std::vector<uint8_t>& bytes) const;
    std::vector<uint8_t> ReadFile(const std::string& relative) const;

private:
    std::filesystem::path Root;
};

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

    TempCard Card;
    std::unique_ptr<sim::SimHost> Host;
    std::unique_ptr<QXDisplay> Display;
};

} // namespace simtest
