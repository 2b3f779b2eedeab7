#include "UnitFiles.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <vector>

#include "LocalFiles.h"
#include "ResultCodes.h"
#include "UnitNames.h"

namespace {

// ListFiles takes a plain function: the listing under way on this thread.
thread_local const std::function<void(const FILE_ENTRY&)>* currentListing = nullptr;

void ForwardEntry(const char*, const FILE_ENTRY& entry)
{
    if (currentListing && *currentListing)
        (*currentListing)(entry);
}

// PutFile reports through a plain function: the send under way on this thread, so
// that what reached the card is known when the send fails.
struct SendWatch {
    ProgressCallback Caller = nullptr;
    uint32_t Done = 0;
    // PutFile calls once before it touches the card, once before each block and once at its
    // end: a failed send started Calls - 2 blocks (one fewer when a cancel stopped it, since the
    // cancel is asked after the call before the block).
    int Calls = 0;
};
thread_local SendWatch* currentSend = nullptr;

void WatchSend(const char* folder, const char* name, uint32_t total, uint32_t done)
{
    SendWatch* watch = currentSend;
    if (!watch)
        return;
    ++watch->Calls;
    watch->Done = done;
    if (watch->Caller)
        watch->Caller(folder, DecodeUnitName(name).c_str(), total, done);
}

// Progress of a get, the name decoded for the front ends.
thread_local ProgressCallback currentGetProgress = nullptr;

void WatchGet(const char* folder, const char* name, uint32_t total, uint32_t done)
{
    if (currentGetProgress)
        currentGetProgress(folder, DecodeUnitName(name).c_str(), total, done);
}

// Blocks written into the temporary file as they arrive.
class TemporaryFileSink : public BlockSink {
public:
    explicit TemporaryFileSink(ReplacingFile& file) : File(file) {}
    uint32_t Write(const uint8_t* data, uint32_t length) override
    {
        if (File.Write(data, length))
            return 0;
        Failed = true;
        return ERR_FILE_WRITE;
    }
    bool Failed = false;

private:
    ReplacingFile& File;
};

// Status bytes the unit answers with: a write or removal while its card's write
// protection is on, and a file that is not there.
constexpr uint32_t CardLockedStatus = 0x04;
constexpr uint32_t FileNotFoundStatus = 0x05;

bool IsStatus(uint32_t code) { return code > StatusOffset && code <= StatusOffset + 0xFF; }

FileOutcome UnitFailure(uint32_t code) { return {code, UnitFailureReason(code)}; }

// "590,268": byte counts in failure reasons, exact and readable.
std::string Thousands(uint64_t value)
{
    // Built by appending: GCC 12 warns falsely (-Wrestrict) about an insert into a string at -O3.
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0)
            grouped.push_back(',');
        grouped.push_back(digits[i]);
    }
    return grouped;
}

std::string StatusText(uint32_t code)
{
    char status[8];
    std::snprintf(status, sizeof status, "0x%02X", static_cast<unsigned>(code - StatusOffset));
    return status;
}

// A late, missing or doubled answer leaves open whether the unit did the work.
bool Unsettled(uint32_t code) { return code == ERR_TIMEOUT || code == ERR_VERIFY_ERR || code == ERR_READ_FAILED; }

enum class Presence { There, Gone, Unknown };

// Asks the unit whether the file is there, with the zero-length read a send's
// probe uses; the request brings the link back in step first.
Presence ProbePresence(QXDisplay& display, const std::string& folder, const std::string& bytes, uint32_t& code)
{
    code = display.ProbeFile(folder.c_str(), bytes.c_str());
    if (code == 0)
        return Presence::There;
    if (code == StatusOffset + FileNotFoundStatus)
        return Presence::Gone;
    return Presence::Unknown;
}

// Removes the unit's file and settles a late or missing answer by looking:
// Gone when the file is no longer there, There when it still is. A request the
// unit never took (it was still reading the rest of a broken one) leaves the
// file there: it is asked once more, the probe having brought the link back in step.
Presence RemoveAndSettle(QXDisplay& display, const std::string& folder, const std::string& bytes, uint32_t& code)
{
    Presence presence = Presence::Unknown;
    for (int attempt = 0; attempt < 2; ++attempt) {
        code = display.RemoveFile(folder.c_str(), bytes.c_str());
        if (code == 0 || code == StatusOffset + FileNotFoundStatus)
            return Presence::Gone;
        if (!Unsettled(code))
            return Presence::There;
        uint32_t probed = 0;
        presence = ProbePresence(display, folder, bytes, probed);
        if (presence == Presence::Unknown)
            code = probed;
        if (presence != Presence::There)
            break;
    }
    return presence;
}

} // namespace

std::string UnitFailureReason(uint32_t code)
{
    const std::string name = ResultCodeName(code);
    if (IsStatus(code)) {
        if (code - StatusOffset == CardLockedStatus)
            return "card locked: the unit refused with status " + StatusText(code);
        return "refused by the unit with status " + StatusText(code);
    }
    switch (code) {
    case ERR_TIMEOUT: return "time-out: the unit did not answer (" + name + ")";
    case ERR_CANCELLED: return "cancelled";
    case ERR_VERIFY_ERR: return "a reply answered another request (" + name + ")";
    case ERR_DEVICE_CLOSED:
    case ERR_NO_PATH:
    case ERR_WRITE_FAILED: return "the unit went away (" + name + ")";
    case ERR_READ_FAILED: return "the unit's reply could not be read: try again (" + name + ")";
    case ERR_BUFFER_UNDER: return "the unit's reply was too short: try again (" + name + ")";
    case ERR_WRONG_PACKET: return "the request could not be made: the name or folder is too long (" + name + ")";
    case ERR_DEVICE_IN_USE: return "the unit is busy with another command of this program (" + name + ")";
    case ERR_ALLOC_FAIL: return "out of memory (" + name + ")";
    case ERR_PORT_FAILURE:
    case ERR_API_FAILURE: return "the system's USB layer refused the request: plug the unit in again (" + name + ")";
    case ERR_UNKNOWN_DEV: return "not a display unit (" + name + ")";
    case ERR_COMMAND_ERR: return "the unit refused the command (" + name + ")";
    default: return "failed (" + name + ")";
    }
}

std::string UnitHoldFailure(const QXDisplay& display, uint32_t code)
{
    if (code != ERR_UNIT_LOCK || display.LockFailureText().empty())
        return UnitInUseText;
    std::string text = display.LockFailureText();
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text + " (" + ResultCodeName(code) + ")";
}

std::string ListingFailureReason(uint32_t code)
{
    if (IsStatus(code))
        return "the unit refused the listing with status " + StatusText(code);
    if (code == ERR_CANCELLED)
        return "the listing was cancelled";
    if (code == ERR_VERIFY_ERR)
        return "the unit's replies did not match the requests: list it again (" + ResultCodeName(code) + ")";
    return "the unit stopped answering (" + ResultCodeName(code) + ")";
}

std::string UnitEntryName(const FILE_ENTRY& entry) { return DecodeUnitName(entry.Name()); }

namespace {

// One reading of the listing; `each` (when set) gets every entry as it arrives.
uint32_t ReadListing(QXDisplay& display, const std::string& folder, std::vector<FILE_ENTRY>& entries,
                     const std::function<void(const FILE_ENTRY&)>* each)
{
    entries.clear();
    const std::function<void(const FILE_ENTRY&)> keep = [&](const FILE_ENTRY& entry) {
        entries.push_back(entry);
        if (each && *each)
            (*each)(entry);
    };
    const auto* outer = currentListing;
    currentListing = &keep;
    const uint32_t listed = display.ListFiles(folder.c_str(), "*.*", ForwardEntry);
    currentListing = outer;
    return listed != 0 ? listed : display.ListingEnd();
}

// The same names in the same order; sizes may differ (a log the unit is writing grows).
bool SameNames(const std::vector<FILE_ENTRY>& a, const std::vector<FILE_ENTRY>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const FILE_ENTRY& x, const FILE_ENTRY& y) {
        return x.Name() == y.Name() && x.IsFolder() == y.IsFolder();
    });
}

} // namespace

// A request for the next entry that reaches the unit twice moves its cursor twice, and a lost
// entry reply then evens out the count of replies: one entry is missing from a listing that
// looks whole. A whole listing is therefore read a second time (about 1 ms per entry at full
// speed); when the two readings do not hold the same names, it is not whole.
uint32_t ListUnitFolder(QXDisplay& display, const std::string& folder,
                        const std::function<void(const FILE_ENTRY&)>& each)
{
    std::vector<FILE_ENTRY> first;
    const uint32_t end = ReadListing(display, folder, first, &each);
    if (end != 0)
        return end;
    std::vector<FILE_ENTRY> second;
    if (const uint32_t again = ReadListing(display, folder, second, nullptr); again != 0)
        return again;
    return SameNames(first, second) ? 0 : ERR_VERIFY_ERR;
}

std::vector<UnitFileInfo> ListUnitFiles(QXDisplay& display, const std::string& folder, uint32_t& end)
{
    std::vector<UnitFileInfo> files;
    end = ListUnitFolder(display, folder, [&](const FILE_ENTRY& entry) {
        if (!entry.IsFolder())
            files.push_back({UnitEntryName(entry), entry.Size()});
    });
    return files;
}

FileOutcome CheckNameToGet(const std::string& name)
{
    if (!IsSafeFileName(name))
        return {ERR_WRONG_PACKET, "refused, the name would leave the destination folder"};
    std::string bytes;
    std::string reason;
    if (!EncodeUnitName(name, bytes, reason))
        return {ERR_WRONG_PACKET, reason};
    return {};
}

FileOutcome GetUnitFile(QXDisplay& display, const std::string& folder, const std::string& name, uint32_t size,
                        const std::filesystem::path& localFile, ProgressCallback progress)
{
    if (FileOutcome checked = CheckNameToGet(name); !checked.Done())
        return checked;
    std::string bytes;
    std::string reason;
    (void)EncodeUnitName(name, bytes, reason);
    ReplacingFile file(localFile);
    if (!file.Open())
        return {ERR_FILE_WRITE, "PC folder not writable: " + file.ErrorText()};
    TemporaryFileSink sink(file);
    const ProgressCallback outer = currentGetProgress;
    currentGetProgress = progress;
    const uint32_t got = display.GetFile(folder.c_str(), bytes.c_str(), size, sink, progress ? WatchGet : nullptr);
    currentGetProgress = outer;
    if (got != 0)
        return sink.Failed ? FileOutcome{ERR_FILE_WRITE, "cannot be written on the PC: " + file.ErrorText()}
                           : UnitFailure(got);
    // One block asked past the listed size: a unit that sends bytes there holds a larger file
    // than it listed. A refusal there says there is nothing to read.
    uint8_t past[1];
    uint32_t length = sizeof past;
    const uint32_t beyond = display.ReadFileBlock(folder.c_str(), bytes.c_str(), size, length, past);
    if (beyond == 0 && length != 0)
        return {ERR_READ_FAILED,
                "the unit's file is larger than its listing (" + Thousands(size) + " bytes listed): list it again"};
    if (beyond != 0 && !IsStatus(beyond))
        return UnitFailure(beyond);
    if (!file.Commit())
        return {ERR_FILE_WRITE, "cannot be written on the PC: " + file.ErrorText()};
    return {};
}

FileOutcome SendUnitFile(QXDisplay& display, const std::string& folder, const std::string& name,
                         const std::vector<uint8_t>& data, ProgressCallback progress)
{
    if (const std::string refused = UnitNameRefusal(name); !refused.empty())
        return {ERR_WRONG_PACKET, refused};
    if (data.size() > MaxSendFileSize)
        return {ERR_FILE_READ, "too large for the unit"};
    std::string bytes;
    std::string reason;
    (void)EncodeUnitName(name, bytes, reason);
    const auto total = static_cast<uint32_t>(data.size());
    // Only to say, should the send fail, that the older copy was deleted first.
    uint32_t probed = 0;
    const bool replacing = ProbePresence(display, folder, bytes, probed) == Presence::There;

    SendWatch watch;
    watch.Caller = progress;
    SendWatch* outer = currentSend;
    currentSend = &watch;
    const uint32_t put = display.PutFile(folder.c_str(), bytes.c_str(), total, data.data(), WatchSend);
    currentSend = outer;
    if (put == 0)
        return {};

    FileOutcome outcome = UnitFailure(put);
    // A block the unit refused with its status was not written; any other failure of a block
    // leaves open what reached the card.
    const int started = watch.Calls - 2 - (put == ERR_CANCELLED ? 1 : 0);
    const bool touched = watch.Done > 0 || (started > 0 && !IsStatus(put));
    if (!touched) {
        // A card that is locked took nothing; nor did a send stopped before its first block.
        if (started <= 0 || put == StatusOffset + CardLockedStatus)
            return outcome;
        // The refusal may have answered another request (a report lost or doubled on the way,
        // another program at the unit) while the block itself was written: a file under the
        // name now is a cut one.
        uint32_t probed = 0;
        if (ProbePresence(display, folder, bytes, probed) == Presence::Gone) {
            if (replacing)
                outcome.Reason += "; the unit's older copy was deleted first";
            return outcome;
        }
    }
    uint32_t removal = 0;
    switch (RemoveAndSettle(display, folder, bytes, removal)) {
    case Presence::Gone:
        outcome.Reason += "; the part sent was removed from the unit";
        break;
    case Presence::There:
    case Presence::Unknown:
        outcome.Reason = "left incomplete on the unit (" + Thousands(watch.Done) + " of " + Thousands(total) +
                         " bytes): send it again or delete it; " + outcome.Reason;
        break;
    }
    if (replacing)
        outcome.Reason += "; the unit's older copy was deleted first";
    return outcome;
}

FileOutcome RemoveUnitFile(QXDisplay& display, const std::string& folder, const std::string& name)
{
    std::string bytes;
    std::string reason;
    if (!EncodeUnitName(name, bytes, reason))
        return {ERR_WRONG_PACKET, reason};
    // Asked first, so that a removal whose answer is lost and after which the file is gone is
    // known to have removed it: a file that was not there is never reported removed.
    uint32_t code = 0;
    const Presence before = ProbePresence(display, folder, bytes, code);
    if (before == Presence::Gone)
        return {code, "no such file on the unit"};
    switch (RemoveAndSettle(display, folder, bytes, code)) {
    case Presence::Gone:
        if (code == StatusOffset + FileNotFoundStatus)
            return {code, "no such file on the unit"};
        if (code != 0 && before != Presence::There)
            return {code, "removal not confirmed: the file is not on the unit, but the unit did not tell whether it "
                          "was there"};
        return {};
    case Presence::There:
        if (Unsettled(code) || code == 0)
            return {ERR_VERIFY_ERR, "still on the unit after the removal"};
        return UnitFailure(code);
    case Presence::Unknown: break;
    }
    return {code, "removal not confirmed: " + UnitFailureReason(code)};
}
