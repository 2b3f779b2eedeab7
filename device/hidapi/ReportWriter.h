#pragma once
// Output reports of one handle, sent on a thread of its own. A hidraw write can
// sit in the kernel for seconds (the USB core gives an interrupt OUT transfer up
// to 5 s) while the caller may wait only a short time per report. The caller's
// report is copied into a buffer owned by the writer job, so a write the caller
// gave up on still has valid bytes when the kernel finally takes them.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// A writer still busy this long after its owner let go is stuck in the kernel:
// it is left to finish on its own instead of holding up Close on the window's
// thread. The send function (and whatever it keeps alive, such as the device
// handle) is released on the writer thread once that write returns.
constexpr uint32_t WriterStopWaitMs = 100;

class ReportWriter {
public:
    // Sends one report and returns the bytes written, or -1 with `error` set.
    // Runs on the writer thread only.
    using SendFunction = std::function<int(const uint8_t* report, size_t length, std::string& error)>;

    explicit ReportWriter(SendFunction send);
    ~ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    // True when the whole report was written within timeoutMs. A write the
    // kernel still holds from an earlier call is first given up to timeoutMs
    // to finish; if it does not, this report is not sent and the call fails.
    [[nodiscard]] bool Write(const uint8_t* report, size_t length, uint32_t timeoutMs);

    // Why the last Write failed.
    const std::string& FailureText() const { return Failure; }

private:
    struct State;
    static void Run(std::shared_ptr<State> state);
    [[nodiscard]] bool StartThread();

    std::shared_ptr<State> Shared;
    std::thread Thread;
    std::string Failure;
};
