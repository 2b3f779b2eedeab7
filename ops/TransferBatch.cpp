#include "TransferBatch.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "LocalFiles.h"
#include "PathText.h"
#include "ResultCodes.h"
#include "UnitFiles.h"
#include "UnitNames.h"

namespace {

// The batch under way on this thread: GetFile and PutFile report through plain functions.
struct BatchRun {
    BatchObserver& Observer;
    TransferMeter Meter;
    BatchReport Report;
};
thread_local BatchRun* currentRun = nullptr;

void ForwardProgress(const char*, const char*, uint32_t, uint32_t done)
{
    if (BatchRun* run = currentRun) {
        run->Meter.Update(done);
        run->Observer.Progress(run->Meter);
    }
}

// Makes `run` the batch of this thread and asks the observer between blocks; undone at the end.
class RunScope {
public:
    RunScope(QXDisplay& display, BatchRun& run) : Display(display), Outer(currentRun)
    {
        currentRun = &run;
        Display.SetCancelCheck([&run] { return run.Observer.StopRequested(); });
    }
    ~RunScope()
    {
        Display.SetCancelCheck({});
        currentRun = Outer;
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    QXDisplay& Display;
    BatchRun* Outer;
};

void Record(BatchRun& run, std::string name, FileResult result, uint32_t code, std::string reason,
            std::string note = {})
{
    BatchFileOutcome outcome{std::move(name), result, code, std::move(reason), std::move(note)};
    run.Observer.FileEnded(outcome);
    run.Report.Files.push_back(std::move(outcome));
}

void RecordOutcome(BatchRun& run, const std::string& name, const FileOutcome& outcome, std::string note = {})
{
    if (outcome.Done())
        Record(run, name, FileResult::Done, 0, {}, std::move(note));
    else if (outcome.Code == ERR_CANCELLED)
        Record(run, name, FileResult::Cancelled, ERR_CANCELLED, outcome.Reason);
    else
        Record(run, name, FileResult::Failed, outcome.Code, outcome.Reason);
}

// Between two files: a stop request leaves this file and the rest undone.
bool StopBefore(BatchRun& run, const std::string& name)
{
    if (!run.Report.Stopped && !run.Observer.StopRequested())
        return false;
    run.Report.Stopped = true;
    Record(run, name, FileResult::Cancelled, ERR_CANCELLED, CancelledReason);
    return true;
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix)
{
    if (text.size() < suffix.size())
        return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<long>(suffix.size()),
                      [](char lower, char c) { return std::tolower(static_cast<unsigned char>(c)) == lower; });
}

// "A:\Maps" and "A:\Logs\": the folder's last name, lower case.
std::string FolderKind(const std::string& folder)
{
    std::string kind = folder;
    while (!kind.empty() && kind.back() == '\\')
        kind.pop_back();
    kind = kind.substr(kind.find_last_of('\\') + 1);
    std::transform(kind.begin(), kind.end(), kind.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return kind;
}

// Renames `file` to the first free NAME.1, NAME.2, ... (`older`); nothing to do when it is not there.
bool SetOlderCopyAside(const std::filesystem::path& file, std::filesystem::path& older, std::string& error)
{
    std::error_code failure;
    if (!std::filesystem::exists(file, failure))
        return true;
    for (int n = 1; n < 10000; ++n) {
        std::filesystem::path candidate = file;
        candidate += ".";
        candidate += std::to_string(n);
        if (std::filesystem::exists(candidate, failure))
            continue;
        std::filesystem::rename(file, candidate, failure);
        if (failure) {
            error = failure.message();
            return false;
        }
        older = candidate;
        return true;
    }
    error = "no free name for it";
    return false;
}

} // namespace

size_t BatchReport::Count(FileResult result) const
{
    return static_cast<size_t>(
        std::count_if(Files.begin(), Files.end(), [result](const BatchFileOutcome& file) { return file.Result == result; }));
}

std::string DroppedFileRefusal(const std::string& folder, const std::filesystem::path& file)
{
    const std::string name = Utf8FromPath(file.filename());
    const std::string kind = FolderKind(folder);
    if (kind == "maps" && !EndsWithNoCase(name, ".qxm") && !EndsWithNoCase(name, ".wzm"))
        return "not a map file (.qxm or .wzm)";
    if (kind == "logs" && !EndsWithNoCase(name, ".displog"))
        return "not a log file (.displog)";
    return {};
}

BatchReport GetUnitFiles(QXDisplay& display, const std::string& folder, const std::vector<GetItem>& files,
                         const std::filesystem::path& destination, BatchObserver& observer)
{
    uint64_t total = 0;
    for (const GetItem& file : files)
        total += file.Size;
    BatchRun run{observer, TransferMeter(total), {}};
    RunScope scope(display, run);
    // Asked before the unit is: a folder the PC does not let us write fails every file alike.
    {
        ReplacingFile probe(destination / ".tessaly-probe");
        if (!probe.Open()) {
            for (const GetItem& file : files)
                Record(run, file.Name, FileResult::Failed, ERR_FILE_WRITE, "PC folder not writable: " + probe.ErrorText());
            return std::move(run.Report);
        }
    }
    RemoveStaleTemporaryFiles(destination);
    for (const GetItem& file : files) {
        if (StopBefore(run, file.Name))
            continue;
        observer.FileBegins(file.Name, file.Size);
        run.Meter.BeginFile(file.Size);
        observer.Progress(run.Meter);
        const std::filesystem::path target = destination / PathFromUtf8(file.Name);
        std::filesystem::path older;
        if (file.KeepOlderCopy) {
            std::string error;
            if (!SetOlderCopyAside(target, older, error)) {
                Record(run, file.Name, FileResult::Failed, ERR_FILE_WRITE, "cannot keep the older copy: " + error);
                continue;
            }
        }
        const FileOutcome outcome = GetUnitFile(display, folder, file.Name, file.Size, target, ForwardProgress);
        run.Meter.EndFile();
        run.Report.Stopped = run.Report.Stopped || outcome.Code == ERR_CANCELLED;
        std::string note;
        if (!older.empty() && outcome.Done()) {
            note = "older copy kept as " + Utf8FromPath(older.filename());
        } else if (!older.empty()) {
            // A failed get leaves no file of that name: the older copy gets its name back.
            std::error_code ignored;
            std::filesystem::rename(older, target, ignored);
        }
        RecordOutcome(run, file.Name, outcome, std::move(note));
    }
    return std::move(run.Report);
}

BatchReport GetNamedUnitFiles(QXDisplay& display, const std::string& folder, const std::vector<std::string>& names,
                              const std::filesystem::path& destination, BatchObserver& observer)
{
    uint32_t end = 0;
    std::map<std::string, uint32_t> sizes;
    for (const UnitFileInfo& file : ListUnitFiles(display, folder, end))
        sizes[file.Name] = file.Size;
    std::vector<GetItem> items;
    BatchReport unlisted;
    for (const std::string& name : names) {
        // A name that could leave the destination is refused as such, listed or not.
        if (FileOutcome checked = CheckNameToGet(name); !checked.Done()) {
            BatchFileOutcome outcome{name, FileResult::Refused, checked.Code, checked.Reason, {}};
            observer.FileEnded(outcome);
            unlisted.Files.push_back(std::move(outcome));
            continue;
        }
        if (const auto found = sizes.find(name); found != sizes.end()) {
            items.push_back({name, found->second});
            continue;
        }
        BatchFileOutcome outcome{name, FileResult::Failed, end != 0 ? end : ERR_FILE_NOT_FOUND,
                                 end != 0 ? ListingFailureReason(end) : "not in " + folder, {}};
        observer.FileEnded(outcome);
        unlisted.Files.push_back(std::move(outcome));
    }
    BatchReport report = GetUnitFiles(display, folder, items, destination, observer);
    report.Files.insert(report.Files.begin(), unlisted.Files.begin(), unlisted.Files.end());
    return report;
}

BatchReport SyncUnitFolder(QXDisplay& display, const std::string& folder, const std::filesystem::path& destination,
                           bool dryRun, BatchObserver& observer)
{
    uint32_t end = 0;
    const std::vector<UnitFileInfo> files = ListUnitFiles(display, folder, end);
    BatchReport held;
    std::vector<GetItem> wanted;
    // A listing that was not whole could make files look new that are not, or hide some: nothing
    // is got, and the reason is given for the folder.
    if (end != 0) {
        BatchFileOutcome outcome{folder, end == ERR_CANCELLED ? FileResult::Cancelled : FileResult::Failed, end,
                                 ListingFailureReason(end), {}};
        observer.FileEnded(outcome);
        held.Files.push_back(std::move(outcome));
        held.Stopped = end == ERR_CANCELLED;
        return held;
    }
    for (const UnitFileInfo& file : files) {
        std::error_code failure;
        const std::filesystem::path local = destination / PathFromUtf8(file.Name);
        const bool present = IsSafeFileName(file.Name) && std::filesystem::is_regular_file(local, failure);
        if (present && std::filesystem::file_size(local, failure) == file.Size && !failure) {
            BatchFileOutcome outcome{file.Name, FileResult::Held, 0, {}, {}};
            observer.FileEnded(outcome);
            held.Files.push_back(std::move(outcome));
            continue;
        }
        if (dryRun) {
            BatchFileOutcome outcome{file.Name, FileResult::Done, 0, {}, "would be got"};
            observer.FileEnded(outcome);
            held.Files.push_back(std::move(outcome));
            continue;
        }
        wanted.push_back({file.Name, file.Size, present});
    }
    if (dryRun)
        return held;
    BatchReport report = GetUnitFiles(display, folder, wanted, destination, observer);
    report.Files.insert(report.Files.begin(), held.Files.begin(), held.Files.end());
    return report;
}

BatchReport SendLocalFiles(QXDisplay& display, const std::string& folder,
                           const std::vector<std::filesystem::path>& files, SendKind kind, BatchObserver& observer)
{
    BatchRun run{observer, TransferMeter(0), {}};
    RunScope scope(display, run);
    // Every local refusal before anything is sent: the user sees them all, and none of them
    // counts as the unit's failure that stops a send.
    struct Accepted {
        std::filesystem::path Path;
        std::string Name;
        uint64_t Size;
    };
    std::vector<Accepted> accepted;
    uint64_t total = 0;
    for (const std::filesystem::path& path : files) {
        const std::string name = Utf8FromPath(path.filename());
        std::string reason = kind == SendKind::Dropped ? DroppedFileRefusal(folder, path) : std::string();
        if (reason.empty())
            reason = UnitNameRefusal(name);
        std::vector<uint8_t> data;
        if (reason.empty() && ReadFileToSend(path, data, reason) == LocalReadResult::Ok) {
            accepted.push_back({path, name, data.size()});
            total += data.size();
            continue;
        }
        Record(run, name, FileResult::Refused, ERR_FILE_READ, reason);
    }
    run.Meter = TransferMeter(total);
    bool failing = false;
    for (const Accepted& file : accepted) {
        if (StopBefore(run, file.Name))
            continue;
        if (failing) {
            Record(run, file.Name, FileResult::NotTried, 0, NotTriedReason);
            continue;
        }
        // Read again: the file may have changed since it was looked at, and only one file is held
        // in memory at a time.
        std::vector<uint8_t> data;
        std::string reason;
        if (ReadFileToSend(file.Path, data, reason) != LocalReadResult::Ok) {
            Record(run, file.Name, FileResult::Refused, ERR_FILE_READ, reason);
            continue;
        }
        observer.FileBegins(file.Name, data.size());
        run.Meter.BeginFile(data.size());
        observer.Progress(run.Meter);
        const FileOutcome outcome = SendUnitFile(display, folder, file.Name, data, ForwardProgress);
        run.Meter.EndFile();
        run.Report.Stopped = run.Report.Stopped || outcome.Code == ERR_CANCELLED;
        failing = !outcome.Done() && outcome.Code != ERR_CANCELLED && kind == SendKind::Chosen;
        RecordOutcome(run, file.Name, outcome);
    }
    return std::move(run.Report);
}

BatchReport RemoveUnitFiles(QXDisplay& display, const std::string& folder, const std::vector<std::string>& names,
                            BatchObserver& observer)
{
    BatchRun run{observer, TransferMeter(names.size()), {}};
    RunScope scope(display, run);
    bool failing = false;
    for (const std::string& name : names) {
        if (StopBefore(run, name))
            continue;
        if (failing) {
            Record(run, name, FileResult::NotTried, 0, NotTriedReason);
            continue;
        }
        // Removals count as one unit each in the figures.
        observer.FileBegins(name, 0);
        run.Meter.BeginFile(1);
        observer.Progress(run.Meter);
        const FileOutcome outcome = RemoveUnitFile(display, folder, name);
        run.Meter.Update(1);
        observer.Progress(run.Meter);
        run.Meter.EndFile();
        failing = !outcome.Done();
        RecordOutcome(run, name, outcome);
    }
    return std::move(run.Report);
}
