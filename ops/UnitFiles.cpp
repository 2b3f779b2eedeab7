#include "UnitFiles.h"

#include <cstdio>
#include <vector>

#include "LocalFiles.h"
#include "ResultCodes.h"

namespace {

// ListFiles takes a plain function: the listing under way on this thread.
thread_local const std::function<void(const FILE_ENTRY&)>* currentListing = nullptr;

void ForwardEntry(const char*, const FILE_ENTRY& entry)
{
    if (currentListing && *currentListing)
        (*currentListing)(entry);
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

// Status byte the unit answers a write or removal with while its card's write protection is on.
constexpr uint32_t CardLockedStatus = 0x04;

FileOutcome UnitFailure(uint32_t code) { return {code, UnitFailureReason(code)}; }

} // namespace

std::string UnitFailureReason(uint32_t code)
{
    const std::string name = ResultCodeName(code);
    if (code > StatusOffset && code <= StatusOffset + 0xFF) {
        char status[8];
        std::snprintf(status, sizeof status, "0x%02X", static_cast<unsigned>(code - StatusOffset));
        if (code - StatusOffset == CardLockedStatus)
            return std::string("card locked: the unit refused with status ") + status;
        return std::string("refused by the unit with status ") + status;
    }
    switch (code) {
    case ERR_TIMEOUT: return "time-out: the unit did not answer (" + name + ")";
    case ERR_CANCELLED: return "cancelled";
    case ERR_VERIFY_ERR: return "a reply answered another request (" + name + ")";
    case ERR_DEVICE_CLOSED:
    case ERR_NO_PATH:
    case ERR_WRITE_FAILED: return "the unit went away (" + name + ")";
    default: return name;
    }
}

uint32_t ListUnitFolder(QXDisplay& display, const std::string& folder,
                        const std::function<void(const FILE_ENTRY&)>& each)
{
    const auto* outer = currentListing;
    currentListing = &each;
    const uint32_t listed = display.ListFiles(folder.c_str(), "*.*", ForwardEntry);
    currentListing = outer;
    return listed != 0 ? listed : display.ListingEnd();
}

FileOutcome CheckNameToGet(const std::string& name)
{
    if (!IsSafeFileName(name))
        return {ERR_WRONG_PACKET, "refused, the name would leave the destination folder"};
    return {};
}

FileOutcome GetUnitFile(QXDisplay& display, const std::string& folder, const std::string& name, uint32_t size,
                        const std::filesystem::path& localFile, ProgressCallback progress)
{
    if (FileOutcome checked = CheckNameToGet(name); !checked.Done())
        return checked;
    ReplacingFile file(localFile);
    if (!file.Open())
        return {ERR_FILE_WRITE, "PC folder not writable: " + file.ErrorText()};
    TemporaryFileSink sink(file);
    const uint32_t got = display.GetFile(folder.c_str(), name.c_str(), size, sink, progress);
    if (got != 0)
        return sink.Failed ? FileOutcome{ERR_FILE_WRITE, "cannot be written on the PC: " + file.ErrorText()}
                           : UnitFailure(got);
    if (!file.Commit())
        return {ERR_FILE_WRITE, "cannot be written on the PC: " + file.ErrorText()};
    return {};
}

FileOutcome SendLocalFile(QXDisplay& display, const std::string& folder, const std::filesystem::path& localFile,
                          const std::string& name, ProgressCallback progress)
{
    std::vector<uint8_t> data;
    std::string reason;
    if (ReadFileToSend(localFile, data, reason) != LocalReadResult::Ok)
        return {ERR_FILE_READ, reason};
    const uint32_t put = display.PutFile(folder.c_str(), name.c_str(), static_cast<uint32_t>(data.size()),
                                         data.data(), progress);
    return put == 0 ? FileOutcome{} : UnitFailure(put);
}

FileOutcome RemoveUnitFile(QXDisplay& display, const std::string& folder, const std::string& name)
{
    const uint32_t removed = display.RemoveFile(folder.c_str(), name.c_str());
    return removed == 0 ? FileOutcome{} : UnitFailure(removed);
}
