#pragma once
// The file commands on the unit, each rule written once for the window and
// tessaly-cli: list a folder, get a file, send a file, delete a file. The
// front ends choose the files, show progress and report the outcomes.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

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

// Lists `folder` (e.g. "A:\Maps"); `each` gets every entry as it arrives,
// folders included. 0 when the listing ended on the unit's end-of-listing
// reply; otherwise why it was cut short (time-out, failed send, unit gone).
[[nodiscard]] uint32_t ListUnitFolder(QXDisplay& display, const std::string& folder,
                                      const std::function<void(const FILE_ENTRY&)>& each);

// The name comes from the unit (or the user): one that could point outside
// the chosen folder, or that the PC would store under another name, is
// refused before anything is asked for.
[[nodiscard]] FileOutcome CheckNameToGet(const std::string& name);

// Gets the unit's file `name` of `size` bytes (as listed) into `localFile`:
// the name is checked first (one that would leave the destination folder is
// refused unasked), the blocks are streamed into a temporary file beside the
// destination, and the file is put in place only when every byte arrived.
// A failure leaves no file behind and an older file of that name as it was.
[[nodiscard]] FileOutcome GetUnitFile(QXDisplay& display, const std::string& folder, const std::string& name,
                                      uint32_t size, const std::filesystem::path& localFile,
                                      ProgressCallback progress);

// Sends `localFile` to the unit as `name` in `folder`. An empty file, anything
// but a regular file, a file that cannot be read or one too large for the
// unit is refused before anything is sent: the unit's file of that name is
// not touched.
[[nodiscard]] FileOutcome SendLocalFile(QXDisplay& display, const std::string& folder,
                                        const std::filesystem::path& localFile, const std::string& name,
                                        ProgressCallback progress);

// Deletes the unit's file `name` in `folder`.
[[nodiscard]] FileOutcome RemoveUnitFile(QXDisplay& display, const std::string& folder, const std::string& name);
