// Display log reader under arbitrary bytes: open, ask every question the CSV
// conversion asks and check the answers against the reader's own rules, then
// convert the same bytes from a file to CSV.
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "Displogfile.h"
#include "FuzzSupport.h"
#include "LogCsv.h"
#include "ResultCodes.h"

namespace {

bool SameAnswer(bool okA, float a, bool okB, float b)
{
    return okA == okB && (!okA || std::memcmp(&a, &b, sizeof a) == 0);
}

void AskNames(const DispLogFile& log, uint32_t id)
{
    char buffer[16];
    for (size_t size : {size_t{0}, size_t{1}, size_t{5}, sizeof buffer}) {
        std::memset(buffer, 'x', sizeof buffer);
        (void)log.NameForId(id, buffer, size);
        if (size > 0)
            Check(std::memchr(buffer, 0, size) != nullptr);
        std::memset(buffer, 'x', sizeof buffer);
        (void)log.FormatForId(id, buffer, size);
        if (size > 0)
            Check(std::memchr(buffer, 0, size) != nullptr);
    }
}

// Converts the input, written to a file, at about 50 rows over the log's
// duration; the file open must agree with the memory open.
void Convert(const uint8_t* data, size_t size, uint32_t memoryResult, double duration)
{
    static const std::string base =
        (std::filesystem::temp_directory_path() / ("tessaly-fuzz-" + std::to_string(::getpid()))).string();
    const std::string source = base + ".displog";
    std::FILE* out = std::fopen(source.c_str(), "wb");
    if (out == nullptr)
        return;
    const bool written = std::fwrite(data, 1, size, out) == size;
    std::fclose(out);
    if (!written)
        return;
    const float interval = std::isfinite(duration) && duration > 0 ? static_cast<float>(duration / 50) : 1.0f;
    try {
        Check(ConvertLogFileToCsv(source, base + ".csv", interval) == memoryResult);
    } catch (const std::exception&) {
        // Refused intervals and unwritable outputs are reported by exception.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DispLogFile log;
    const uint32_t result = log.OpenFromBytes(data, size);
    Check(result == 0 || result == ERR_FILE_READ || result == ERR_FILE_SIG);
    const uint32_t channels = log.GetChannelCount();
    if (result != 0)
        Check(channels == 0);

    const double duration = log.GetDuration();
    const double times[] = {-1.0, 0.0, duration / 3, duration / 2, duration, duration + 1.0, NAN};
    uint32_t id = 0xDEADBEEF;
    Check(!log.GetChannelId(channels, id) && id == 0xDEADBEEF);
    float unused = 0;
    Check(!log.GetValueAt(channels, 0.0, unused));

    // Channels and samples are bounded by the records the input can hold.
    size_t samples = 0;
    for (uint32_t index = 0; index < channels; ++index) {
        Check(log.GetChannelId(index, id));
        const size_t count = log.GetSampleCount(index);
        Check(count != 0);
        Check(log.GetSample(index, 0).Identifier == id);
        samples += count;
        AskNames(log, id);
        char format[8];
        Check(log.GetChannelFormat(index, format, sizeof format) == log.FormatForId(id, format, sizeof format));

        // The cursor look-up gives the same answer as the plain one, in a walk
        // through the times as the conversion does it.
        size_t cursor = 0;
        for (double t : times) {
            float plain = 0;
            float walked = 0;
            const bool okPlain = log.GetValueAt(index, t, plain);
            const bool okWalked = log.GetValueAt(index, t, walked, cursor);
            Check(SameAnswer(okPlain, plain, okWalked, walked));
        }
        for (size_t i = 0; i < count; ++i) {
            const LogSample sample = log.GetSample(index, i);
            Check(sample.Identifier == id);
            Check(sample.Valid == (std::bit_cast<uint32_t>(sample.Value) != 0xFFFFFFFFu ? 1 : 0));
            float value = 0;
            (void)log.GetValueAt(index, sample.Time, value);
        }
    }
    Check(samples <= size / 6);
    // Every record is counted once: as a time stamp, as a sample before the first one, or as a
    // sample held. A log with samples has a time axis exactly when it spans some time.
    const DispLogRecordCounts& counts = log.GetRecordCounts();
    Check(counts.TimeStamps + counts.EarlySamples + samples <= size / 6);
    const std::string problem = log.TimeAxisProblem();
    if (channels != 0)
        Check(problem.empty() == (duration > 0));
    else
        Check(problem.empty() == (counts.EarlySamples == 0));
    if (SampledForFileWork(data, size))
        Convert(data, size, result, duration);
    return 0;
}
