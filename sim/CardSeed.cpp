#include "CardSeed.h"

#include <random>
#include <vector>

#include "LogGenerator.h"

namespace {

// A map file's content does not matter to the tool: it is copied as it is.
std::vector<uint8_t> MapBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

} // namespace

bool SeedSimCard(const std::filesystem::path& card, std::string& error)
{
    std::error_code failure;
    const auto maps = card / "Maps";
    const auto logs = card / "Logs";
    std::filesystem::create_directories(maps, failure);
    if (!failure)
        std::filesystem::create_directories(logs, failure);
    if (failure) {
        error = failure.message();
        return false;
    }
    if (!std::filesystem::is_empty(maps) || !std::filesystem::is_empty(logs))
        return true;

    bool written = WriteBytes(maps / "Street.qxm", MapBytes(6144, 1)) &&
                   WriteBytes(maps / "Track Day.qxm", MapBytes(9000, 2)) &&
                   WriteBytes(maps / "Dyno.wzm", MapBytes(2500, 3));
    const struct {
        const char* Name;
        int Format;
        double Seconds;
        size_t Channels;
    } runs[] = {{"RUN1.displog", 2, 60, 12}, {"RUN2.displog", 2, 180, 24}, {"Old.displog", 1, 30, 6}};
    uint32_t seed = 10;
    for (const auto& run : runs) {
        LogSpec spec;
        spec.Format = run.Format;
        spec.DurationSeconds = run.Seconds;
        spec.CycleHz = 20;
        spec.Seed = seed++;
        spec.NoValueProbability = 0.01;
        spec.Channels = RealisticChannels(run.Format, run.Channels);
        written = written && WriteDispLog(logs / run.Name, spec);
    }
    if (!written)
        error = "cannot write the sample files";
    return written;
}
