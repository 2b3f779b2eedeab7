// Writes a realistic display log for the script tests: the simulator's generator with samples
// without value, dropped samples, a channel that starts late and one that stops early, samples
// before the first time stamp, a fragment after the last record, a data offset beyond the header
// and a tick counter that wraps through 2^32.
//
//     tessaly_make_displog OUT.displog FORMAT SECONDS CHANNELS SEED
#include <cstdio>
#include <cstdlib>
#include <string>

#include "LogGenerator.h"

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fputs("usage: tessaly_make_displog OUT.displog FORMAT SECONDS CHANNELS SEED\n", stderr);
        return 2;
    }
    LogSpec spec;
    spec.Format = std::atoi(argv[2]);
    spec.DurationSeconds = std::atof(argv[3]);
    const auto channels = static_cast<size_t>(std::atoi(argv[4]));
    spec.Seed = static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10));
    if ((spec.Format != 1 && spec.Format != 2) || spec.DurationSeconds <= 0 || channels < 3) {
        std::fputs("tessaly_make_displog: format 1 or 2, a positive duration, at least 3 channels\n", stderr);
        return 2;
    }
    spec.CycleHz = 25;
    spec.TickRate = 1000;
    spec.FirstCounter = 0xFFFFFFFFu - 4000; // wraps 4 s in
    spec.DataOffset = 20;
    spec.LeadingSamples = 5;
    spec.TrailingBytes = 3;
    spec.NoValueProbability = 0.04;
    spec.DropProbability = 0.03;
    spec.Channels = RealisticChannels(spec.Format, channels);
    spec.Channels[1].StartSeconds = spec.DurationSeconds * 0.6;
    spec.Channels[2].StopSeconds = spec.DurationSeconds * 0.3;
    if (!WriteDispLog(argv[1], spec)) {
        std::fprintf(stderr, "tessaly_make_displog: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
