#pragma once
// The scripted HID host of the tests: one or more fake interfaces whose
// written reports are recorded and whose input reports are queued by the
// test, either up front or from a responder that sees every write.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HidHost.h"

using Report = std::vector<uint8_t>;

// Input reports of one framed reply: id 0, marker, code, total length, then the
// payload from byte 9 in the first report and from byte 5 in every later one.
std::vector<Report> FrameReply(uint16_t code, const std::vector<uint8_t>& payload, size_t reportLength = 64);

struct FakeInterface {
    HidAttributes Ids{0, 0};
    HidCaps Caps{64, 64, 0};
    std::vector<uint8_t> Feature; // answer to GetFeature (empty: fails)
};

class FakeHost : public HidHost {
public:
    // Tick counter = steady milliseconds + TickOffset, so tests can start it near 2^32.
    explicit FakeHost(uint32_t tickOffset = 0);

    void AddInterface(const std::string& path, FakeInterface iface);
    void RemoveInterface(const std::string& path);

    // Queues input reports for every open read handle.
    void Inject(const std::vector<Report>& reports);
    void Inject(const Report& report) { Inject(std::vector<Report>{report}); }
    // Makes every open handle fail from now on, as an unplugged device does.
    void Unplug(uint32_t error = 19);

    // Called on each written report (after it is recorded), on the writer's thread.
    std::function<void(FakeHost&, const Report&)> Responder;
    // Number of reports accepted before writes start to fail (-1: never).
    int WritesBeforeFailure = -1;
    // The read after the next delivered report first waits this long, as a
    // reader that the scheduler keeps waiting; reports queue up meanwhile.
    std::atomic<uint32_t> HoldAfterNextReport{0};

    std::vector<Report> Written();
    std::vector<Report> FeaturesSet();
    std::vector<std::string> Traces();
    std::vector<std::string> Messages();
    int PauseCalls();
    // Moves the tick counter forward at once.
    void AdvanceTicks(uint32_t ms) { TickOffset += ms; }
    int OpenHandles();
    bool ReadPending(); // a read handle is blocked in ReadReport

    HidInterfaceList ListInterfaces() override;
    bool ReadIds(const std::string& path, HidAttributes& out) override;
    std::unique_ptr<HidHandle> Open(const std::string& path) override;
    std::string LastErrorText() override { return "fake error"; }
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void Trace(const std::string& line) override;
    uint32_t Ticks() override;
    void Pause(uint32_t ms) override;

    HidInterfaceList NextList; // returned by ListInterfaces when Override is set
    bool OverrideList = false;

private:
    friend class FakeHandle;
    std::mutex Mutex;
    std::condition_variable InputArrived;
    std::map<std::string, FakeInterface> Interfaces;
    std::vector<std::string> Order;
    std::vector<class FakeHandle*> Handles;
    std::vector<Report> WrittenReports;
    std::vector<Report> Features;
    std::vector<std::string> TraceLines;
    std::vector<std::string> MessageLines;
    int Pauses = 0;
    int Reading = 0;
    std::atomic<uint32_t> TickOffset;
    const std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
};
