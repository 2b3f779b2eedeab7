#include "ReportWriter.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

struct ReportWriter::State {
    explicit State(SendFunction send) : Send(std::move(send)) {}

    SendFunction Send;
    std::mutex Lock;
    std::condition_variable Changed;
    // Handed over by Write, not yet taken by the thread.
    std::shared_ptr<const std::vector<uint8_t>> Job;
    uint64_t Submitted = 0;
    uint64_t Finished = 0;
    int LastResult = 0;
    std::string LastError;
    bool Stop = false;
    bool Exited = false;
};

ReportWriter::ReportWriter(SendFunction send) : Shared(std::make_shared<State>(std::move(send))) {}

ReportWriter::~ReportWriter()
{
    if (!Thread.joinable())
        return;
    bool exited = false;
    {
        std::unique_lock lock(Shared->Lock);
        Shared->Stop = true;
        Shared->Changed.notify_all();
        exited = Shared->Changed.wait_for(lock, std::chrono::milliseconds(WriterStopWaitMs),
                                          [this] { return Shared->Exited; });
    }
    // Never close a device under a write that is still in the kernel: a stuck
    // writer keeps its own reference to the state and releases it when done.
    if (exited)
        Thread.join();
    else
        Thread.detach();
}

void ReportWriter::Run(std::shared_ptr<State> state)
{
    std::unique_lock lock(state->Lock);
    for (;;) {
        state->Changed.wait(lock, [&] { return state->Stop || state->Job != nullptr; });
        if (state->Stop)
            break;
        // The local reference keeps the bytes alive for as long as the kernel
        // may read them, whoever else has given up on them.
        const std::shared_ptr<const std::vector<uint8_t>> job = std::move(state->Job);
        state->Job.reset();
        lock.unlock();
        std::string error;
        const int result = state->Send(job->data(), job->size(), error);
        lock.lock();
        state->LastResult = result;
        state->LastError = std::move(error);
        ++state->Finished;
        state->Changed.notify_all();
    }
    state->Exited = true;
    state->Changed.notify_all();
}

bool ReportWriter::StartThread()
{
    if (Thread.joinable())
        return true;
    try {
        Thread = std::thread(&ReportWriter::Run, Shared);
    } catch (const std::system_error& error) {
        Failure = std::string("cannot start the writer thread: ") + error.what();
        return false;
    }
    return true;
}

bool ReportWriter::Write(const uint8_t* report, size_t length, uint32_t timeoutMs)
{
    Failure.clear();
    if (!StartThread())
        return false;
    const auto wait = std::chrono::milliseconds(timeoutMs);
    State& state = *Shared;
    std::unique_lock lock(state.Lock);
    if (!state.Changed.wait_for(lock, wait, [&] { return state.Finished == state.Submitted; })) {
        Failure = "an earlier write is still pending";
        return false;
    }
    state.Job = std::make_shared<const std::vector<uint8_t>>(report, report + length);
    const uint64_t mine = ++state.Submitted;
    state.Changed.notify_all();
    if (!state.Changed.wait_for(lock, wait, [&] { return state.Finished >= mine; })) {
        Failure = "write not completed within " + std::to_string(timeoutMs) + " ms";
        return false;
    }
    if (state.LastResult >= 0 && static_cast<size_t>(state.LastResult) == length)
        return true;
    Failure = state.LastResult < 0 ? state.LastError
                                   : "short write: " + std::to_string(state.LastResult) + " of " +
                                         std::to_string(length) + " bytes";
    return false;
}
