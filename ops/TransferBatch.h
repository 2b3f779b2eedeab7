#pragma once
// The batches of files the window and tessaly-cli run: get, send (chosen or dropped) and delete.
// One loop each, so both front ends decide alike and say the same:
// - local refusals (an empty or unreadable file, anything but a regular file, a name the unit
//   cannot hold, a dropped file that does not belong in the folder) are decided for every file
//   before anything is sent; they are listed with their reasons and skipped;
// - a get tries every file; a send of chosen files and a delete stop at the first failure of
//   the unit and list the rest as not tried; a drop tries every file;
// - a stop request (Cancel, Ctrl+C, SIGTERM) ends the file under way between two blocks and
//   leaves the rest undone.
// The front end passes an observer for progress, stop requests and outcomes, and holds the
// unit (UnitCommand) around the batch.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Qxdisplay.h"
#include "TransferMeter.h"

enum class FileResult {
    Done,
    Refused,   // a local refusal, decided before anything was sent
    Failed,    // the unit's or the PC's failure while the file was worked on
    NotTried,  // after an earlier failure
    Cancelled, // a stop request ended the batch before or during this file
    Held,      // a sync found it on the PC already (same name and size)
};

struct BatchFileOutcome {
    std::string Name; // the name on the unit, UTF-8 (a send's local file name)
    FileResult Result = FileResult::Done;
    uint32_t Code = 0;  // the result code; 0 when done
    std::string Reason; // empty when done
    std::string Note;   // what else happened to a file done ("older copy kept as RUN1.displog.1")
};

class BatchObserver {
public:
    virtual ~BatchObserver() = default;
    // A file is worked on: `size` bytes to move (0 for a removal).
    virtual void FileBegins(const std::string& /*name*/, uint64_t /*size*/) {}
    // After each block (and at a file's start and end): the figures across the batch.
    virtual void Progress(const TransferMeter& /*meter*/) {}
    // Asked between two blocks and between two files.
    virtual bool StopRequested() { return false; }
    // Every file's outcome once it is known, local refusals first.
    virtual void FileEnded(const BatchFileOutcome& /*outcome*/) {}
};

struct BatchReport {
    std::vector<BatchFileOutcome> Files; // local refusals first, then the files in their order
    bool Stopped = false;                // a stop request ended the batch

    size_t Count(FileResult result) const;
    // Every file got, sent or removed (or, in a sync, held already).
    bool AllDone() const { return Count(FileResult::Done) + Count(FileResult::Held) == Files.size(); }
};

// Reasons of the outcomes the batches give themselves.
constexpr const char* NotTriedReason = "not tried after the failure above";
constexpr const char* CancelledReason = "cancelled";

struct GetItem {
    std::string Name; // as listed, decoded
    uint32_t Size = 0;
    // A file of that name on the PC is kept as NAME.1 (NAME.2, ...) instead of being replaced;
    // should the get fail it gets its name back.
    bool KeepOlderCopy = false;
};

// Gets the files into `destination`. A folder the PC does not let us write is reported for
// every file before the unit is asked for anything; temporary files that a killed earlier get
// left there are removed first. A file is got only when every byte came from the unit.
BatchReport GetUnitFiles(QXDisplay& display, const std::string& folder, const std::vector<GetItem>& files,
                         const std::filesystem::path& destination, BatchObserver& observer);

// The same for names given by the user: the folder is listed first for the sizes. A name not
// listed fails ("not in A:\Maps"), or, when the listing was not whole, with the listing's reason.
BatchReport GetNamedUnitFiles(QXDisplay& display, const std::string& folder, const std::vector<std::string>& names,
                              const std::filesystem::path& destination, BatchObserver& observer);

// Gets every file of the unit's `folder` that `destination` does not hold: a file held has the same
// name and size; one of that name with another size is got again and the older copy kept as
// NAME.1, NAME.2, ... Files held are reported Held. With `dryRun` nothing is got: the files that
// would be are reported Done with the note "would be got".
BatchReport SyncUnitFolder(QXDisplay& display, const std::string& folder, const std::filesystem::path& destination,
                           bool dryRun, BatchObserver& observer);

enum class SendKind {
    Chosen,  // chosen in a dialog or on the command line: stop at the first failure of the unit
    Dropped, // dropped on the window: only the folder's kind of file, every file tried
};

// Sends local files to the unit's `folder`, each under its own file name.
BatchReport SendLocalFiles(QXDisplay& display, const std::string& folder,
                           const std::vector<std::filesystem::path>& files, SendKind kind, BatchObserver& observer);

// Deletes the unit's files `names` in `folder`.
BatchReport RemoveUnitFiles(QXDisplay& display, const std::string& folder, const std::vector<std::string>& names,
                            BatchObserver& observer);

// Why a dropped file does not belong in the unit's folder ("not a map file (.qxm or .wzm)"), or
// empty when it does.
std::string DroppedFileRefusal(const std::string& folder, const std::filesystem::path& file);
