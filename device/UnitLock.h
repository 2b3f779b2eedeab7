#pragma once
// One program at a time talks to a unit. Every open handle on a HID interface
// gets its own copy of every input report, so two programs working on one unit
// at once would take each other's replies. A command holds the unit's lock for
// as long as it runs; another program waits for it a short while, then gives up.
//
// No lock lives in a folder that other users can write to: a folder there could
// be made, owned or redirected by another user before us. On Linux the unit's
// own device node is locked; elsewhere the lock file sits in a folder that is
// checked to be the user's own (or, for the simulated unit, in its card folder).
#include <cstdint>
#include <memory>
#include <string>

#include "ResultCodes.h"

// How long a command waits for a unit that another program holds. Long enough
// for the other program to finish a listing or a short command, short enough
// for a window that waits on its own thread.
constexpr uint32_t UnitLockWaitMs = 2000;

// Shown when another program holds the unit (ERR_DEVICE_IN_USE). A lock that
// could not be made at all is shown with its own reason instead (Failure).
constexpr const char* UnitInUseText = "The display unit is in use by another Tessaly.";

// Held while it exists.
class UnitLock {
public:
    virtual ~UnitLock() = default;
};

struct UnitLockAttempt {
    std::unique_ptr<UnitLock> Lock; // null: see Failure
    // The program that held the lock before ended in the middle of a command
    // (it was killed or crashed): replies to its requests may still arrive.
    bool PreviousUnfinished = false;
    // Empty when the lock was had, or when another program holds the unit.
    // Otherwise the lock could not be made, and this sentence says where and
    // why, e.g. "cannot lock the display unit: the lock folder /tmp/tessaly-1000
    // belongs to another user (user id 1001); set XDG_RUNTIME_DIR or TMPDIR to a
    // folder of your own".
    std::string Failure;

    // 0 when locked, ERR_DEVICE_IN_USE when another program holds the unit,
    // ERR_UNIT_LOCK when the lock could not be made (Failure says why).
    [[nodiscard]] uint32_t Result() const
    {
        if (Lock)
            return 0;
        return Failure.empty() ? ERR_DEVICE_IN_USE : ERR_UNIT_LOCK;
    }
};

// The Failure of the last lock attempt made on the calling thread by one of the
// functions below (empty when it locked or found the unit in use). For callers
// that only see the result code of a command that took the lock for them.
std::string LastUnitLockFailure();

// A lock that excludes other processes (and other holders in this process) on
// the file "unit-<hash of key>.lock" in UnitLockFolder(): an advisory lock on
// POSIX systems, the file opened without sharing on Windows. The folder is made
// when missing; it is refused unless it is a folder, not a link, owned by the
// user with no access for anyone else (POSIX). Waits up to waitMs.
UnitLockAttempt LockUnitFile(const std::string& key, uint32_t waitMs);
// The same in a given folder, with the same checks.
UnitLockAttempt LockUnitFileIn(const std::string& folder, const std::string& key, uint32_t waitMs);

// Locks the unit's device node itself (POSIX): an advisory lock on a descriptor
// of the node, which every program that opens the unit meets, whatever its
// user, and which needs no folder. Whether the previous holder finished is kept
// in UnitLockFolder() when that folder passes the checks of LockUnitFile; when it
// does not, the previous holder counts as unfinished (the caller then brings
// the link in step first, which costs one round trip). On Windows: LockUnitFile.
UnitLockAttempt LockUnitNode(const std::string& nodePath, uint32_t waitMs);

// A lock on a file inside `folder`, a folder the user chose for the unit (the
// simulated unit's card folder): the folder is not required to be private, the
// file is opened without following a link. The file's name holds a ':', which
// no FAT name can, so the unit never lists it. On Windows, where no file name
// can hold ':', LockUnitFile with the folder in the key.
UnitLockAttempt LockUnitFileInsideFolder(const std::string& folder, const std::string& key, uint32_t waitMs);

// The folder of the lock files, UTF-8: $XDG_RUNTIME_DIR/tessaly, else
// $TMPDIR/tessaly-<uid> (or /tmp/tessaly-<uid>); on Windows "tessaly" in the
// user's temporary folder, which lies in the user's own profile.
std::string UnitLockFolder();
