#pragma once
// Progress figures of a transfer of one or more files: the current file's share and bytes, the
// bytes done across the whole selection, the speed and the time left. Front ends feed it the
// bytes done and show FormatTransferFigures; the clock is passed in so the figures can be
// checked without waiting.
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

class TransferMeter {
public:
    using Clock = std::chrono::steady_clock;

    // totalBytes: the sizes of every file of the selection added up.
    explicit TransferMeter(uint64_t totalBytes = 0, Clock::time_point start = Clock::now());

    // A file of `size` bytes begins; the one before it counts as ended.
    void BeginFile(uint64_t size, Clock::time_point now = Clock::now());
    // `done` bytes of the current file are through (never more than its size).
    void Update(uint64_t done, Clock::time_point now = Clock::now());
    // The current file ends, whole or not: what it did not transfer leaves the work still to do.
    void EndFile(Clock::time_point now = Clock::now());

    uint64_t FileSize() const { return CurrentSize; }
    uint64_t FileDone() const { return CurrentDone; }
    uint64_t TotalBytes() const { return Total; }
    // Bytes through across the selection, the current file's included.
    uint64_t TotalDone() const { return Finished + CurrentDone; }
    // 0 to 100; 100 for an empty file.
    int FilePercent() const;
    // Bytes per second over the last few seconds; nothing until a quarter of a second is measured.
    std::optional<double> BytesPerSecond() const;
    // Seconds until the selection is through at that speed.
    std::optional<double> SecondsLeft() const;

private:
    struct Mark {
        Clock::time_point Time;
        uint64_t Done;
    };
    void Record(Clock::time_point now);

    uint64_t Total = 0;
    uint64_t Finished = 0;  // bytes of the files ended, and what those skipped
    uint64_t CurrentSize = 0;
    uint64_t CurrentDone = 0;
    bool InFile = false;
    std::deque<Mark> Marks; // the window the speed is measured over
};

// "512 bytes", "1.5 KB", "590 KB", "12.3 MB" (1 KB = 1024 bytes).
std::string FormatByteCount(uint64_t bytes);
// "0:06", "12:34", "1:02:03".
std::string FormatDuration(double seconds);
// "37%, 220 KB of 590 KB, 61 KB/s, 0:06 left": the speed and time left once they are known.
std::string FormatTransferFigures(const TransferMeter& meter);
