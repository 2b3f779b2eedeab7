#pragma once
// One program at a time talks to a unit. Every open handle on a HID interface
// gets its own copy of every input report, so two programs working on one unit
// at once would take each other's replies. A command holds the unit's lock for
// as long as it runs; another program waits for it a short while, then gives up.
#include <cstdint>
#include <memory>
#include <string>

// How long a command waits for a unit that another program holds. Long enough
// for the other program to finish a listing or a short command, short enough
// for a window that waits on its own thread.
constexpr uint32_t UnitLockWaitMs = 2000;

// Shown when the lock cannot be had.
constexpr const char* UnitInUseText = "The display unit is in use by another Tessaly.";

// Held while it exists.
class UnitLock {
public:
    virtual ~UnitLock() = default;
};

struct UnitLockAttempt {
    std::unique_ptr<UnitLock> Lock; // null: another program holds the unit
    // The program that held the lock before ended in the middle of a command
    // (it was killed or crashed): replies to its requests may still arrive.
    bool PreviousUnfinished = false;
};

// A lock that excludes other processes (and other holders in this process):
// on a file named after `key` in the user's runtime folder, an advisory lock
// on POSIX systems, the file opened without sharing on Windows. Waits up to
// waitMs.
UnitLockAttempt LockUnitFile(const std::string& key, uint32_t waitMs);

// The folder of the lock files ($XDG_RUNTIME_DIR/tessaly, or a private folder
// under the system's temporary folder; on Windows "tessaly" in the user's
// temporary folder), UTF-8.
std::string UnitLockFolder();
