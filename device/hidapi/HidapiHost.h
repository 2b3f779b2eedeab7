#pragma once
// HID host for Linux on hidapi's hidraw backend (hidapi 0.13).
//
// Framing: whatever hidapi does, byte 0 of every report seen through this host
// is the report identifier (0 without numbered reports) and report lengths
// include it. The lengths come from the node's report descriptor in sysfs,
// since hidapi 0.13 gives none.
//
// Threads: hid_init runs in the constructor, before any reader starts, and
// hid_exit in the destructor of the last host. hidapi's global calls
// (enumerate, open, the global error text) are serialised by the host; each
// handle serialises the calls on its own hid_device, since one hidapi handle is
// not to be used by two threads at once (a call replaces the handle's error
// text).
//
// Trace lines go to stderr only when the environment variable TESSALY_TRACE is
// set (to anything) when the host is created.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HidHost.h"
#include "HidrawSupport.h"

class HidapiHost : public HidHost {
public:
    HidapiHost();
    ~HidapiHost() override;
    HidapiHost(const HidapiHost&) = delete;
    HidapiHost& operator=(const HidapiHost&) = delete;

    HidInterfaceList ListInterfaces() override;
    bool ReadIds(const std::string& path, HidAttributes& out) override;
    std::unique_ptr<HidHandle> Open(const std::string& path) override;
    std::string LastErrorText() override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void Trace(const std::string& line) override;
    uint32_t Ticks() override;
    void Pause(uint32_t ms) override;
    void RaiseThreadPriority() override;
    // A lock on the hidraw node itself (LockUnitNode), which excludes every
    // program of every user that opens the unit.
    UnitLockAttempt LockUnit(const std::string& path, uint32_t waitMs) override;

private:
    // Every present HID interface, each path once; false when hidapi is unusable.
    bool Enumerate(std::vector<InterfaceEntry>& entries);

    bool Initialised = false;
    bool TraceEnabled = false;
    std::mutex LibraryLock;
    // Ids of the paths found by the last enumeration, so that the ids of every
    // path of one listing do not each cost a new scan of the bus.
    std::mutex KnownLock;
    std::vector<InterfaceEntry> Known;
};
