#pragma once
// The file commands on the unit, each rule written once for the window and
// tessaly-cli: list a folder, get a file, send a file, delete a file. Names
// here are UTF-8; they cross to the unit as its bytes (UnitNames.h) only where
// they are handed to QXDisplay. The batches of TransferBatch.h call these.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Qxdisplay.h"

// How one file ended: Code 0 and no Reason when it was done.
struct FileOutcome {
    uint32_t Code = 0;
    std::string Reason; // a short reason for a failure list: the unit's result, or what the PC said

    bool Done() const { return Code == 0; }
};

// A short reason for a failure list, naming the result code: the unit did not
// answer, it refused with its status (a locked card named as such), the user
// cancelled, the link went out of step or the unit went away.
std::string UnitFailureReason(uint32_t code);

// Why a command could not hold the unit: another program has it ("The display unit is in use by
// another Tessaly."), or its lock could not be made (the lock's own sentence and ERR_UNIT_LOCK).
std::string UnitHoldFailure(const QXDisplay& display, uint32_t code);

// Why a listing was not whole: "the unit refused the listing with status
// 0x08", "the listing was cancelled", "the unit stopped answering (ERR_TIMEOUT)".
std::string ListingFailureReason(uint32_t code);

// The name of a listed entry, decoded from the unit's bytes.
std::string UnitEntryName(const FILE_ENTRY& entry);

// Lists `folder` (e.g. "A:\Maps"); `each` gets every entry as it arrives, folders included.
// 0 when the listing ended on the unit's end-of-listing entry and a second reading held the
// same names; otherwise why it was not whole (a refusal with the unit's status, a time-out, a
// failed send, the unit gone, a cancel, replies that did not match, two readings that differ).
[[nodiscard]] uint32_t ListUnitFolder(QXDisplay& display, const std::string& folder,
                                      const std::function<void(const FILE_ENTRY&)>& each);

struct UnitFileInfo {
    std::string Name; // decoded
    uint32_t Size = 0;
};

// The files of `folder` (folders left out), in the unit's order; `end` as ListUnitFolder returns.
std::vector<UnitFileInfo> ListUnitFiles(QXDisplay& display, const std::string& folder, uint32_t& end);

// The name comes from the unit (or the user): one that could point outside
// the chosen folder, that the PC would store under another name, or that the
// unit cannot hold, is refused before anything is asked for.
[[nodiscard]] FileOutcome CheckNameToGet(const std::string& name);

// Gets the unit's file `name` of `size` bytes (as listed) into `localFile`:
// the name is checked first (one that would leave the destination folder is
// refused unasked), the blocks are streamed into a temporary file beside the
// destination, and the file is put in place only when every byte arrived and
// the unit has nothing past the listed size (a file that grew since it was
// listed, a log being written, would otherwise be got short). A failure leaves
// no file behind and an older file of that name as it was.
[[nodiscard]] FileOutcome GetUnitFile(QXDisplay& display, const std::string& folder, const std::string& name,
                                      uint32_t size, const std::filesystem::path& localFile,
                                      ProgressCallback progress);

// Sends `data` to the unit as `name` in `folder`. A send that fails after it
// may have written to the card removes its part again once the link is back in
// step; where that cannot be done the reason says that the file was left
// incomplete. The reason also says when the unit's older copy was deleted first
// (there is no rename: the older copy goes before the new one is written).
[[nodiscard]] FileOutcome SendUnitFile(QXDisplay& display, const std::string& folder, const std::string& name,
                                       const std::vector<uint8_t>& data, ProgressCallback progress);

// Deletes the unit's file `name` in `folder`. A removal whose status is late or
// missing is settled by asking the unit whether the file is still there.
[[nodiscard]] FileOutcome RemoveUnitFile(QXDisplay& display, const std::string& folder, const std::string& name);
