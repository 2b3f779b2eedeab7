#pragma once
// Files on the PC that the commands read and write.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// True when a file name reported by the unit may name a file inside a chosen
// folder on the PC: not empty, not "." or "..", no path separators, drive
// letters or control characters, no name that Windows reserves for devices
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension), and no
// trailing dot or blank (Windows drops them, so the file would get another name).
bool IsSafeFileName(std::string_view name);

// Writes a file under a temporary name in its destination's folder and puts it
// in place of the destination only when it is complete: a failed write never
// leaves a truncated file and never destroys a file that was there before. The
// temporary name is short and fixed in length (".tessaly-<16 hex digits>.tmp"),
// so any destination name the file system can hold can be written.
//
// The new file keeps the permission bits of the file it replaces (a private
// 0600 file stays private, also while it is written). The temporary file is
// removed by the destructor unless committed; one left by a program that was
// killed is removed by RemoveStaleTemporaryFiles: on POSIX systems the writer
// holds an advisory lock on its temporary file from its creation until it is
// renamed or removed, so a file of that name that nobody holds has no writer.
class ReplacingFile {
public:
    explicit ReplacingFile(std::filesystem::path destination);
    ~ReplacingFile(); // removes the temporary file unless committed
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Each returns false on failure; ErrorText() then tells why.
    [[nodiscard]] bool Open();
    [[nodiscard]] bool Write(const void* data, size_t size);
    // Writes out what is buffered and closes the temporary file (a full disk
    // often shows only here); Commit does it when it has not been done.
    [[nodiscard]] bool Flush();
    // Puts the complete file in place of the destination.
    [[nodiscard]] bool Commit();

    const std::string& ErrorText() const { return Error; }
    const std::filesystem::path& Destination() const { return Target; }

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    bool Fail(std::string text);

    void RemoveTemporary();

    std::filesystem::path Target;
    std::filesystem::path TempPath;
    std::unique_ptr<std::FILE, FileCloser> File;
    bool Flushed = false; // closed, complete, not yet renamed
    std::string Error;
#ifndef _WIN32
    // A second descriptor of the temporary file that holds its lock until the
    // file is renamed or removed, past the close of File.
    int LockFd = -1;
#endif
};

// True for a name of ReplacingFile's temporary pattern, ".tessaly-<16 hex digits>.tmp".
bool IsTemporaryFileName(std::string_view name);

// Removes the temporary files of ReplacingFile in `folder` (not below it) whose
// writer is gone: a program killed while it wrote, or a power loss. A file that
// a writer still holds is left alone (POSIX: its lock; Windows: a file open for
// writing cannot be deleted, and a file written to in the last minute is kept
// for the moment between its close and its rename). Files of other names, links
// and folders are never touched. Errors are ignored: this is tidying only.
void RemoveStaleTemporaryFiles(const std::filesystem::path& folder);

// Whole-file helpers; false with a reason in `error` on failure.
[[nodiscard]] bool WriteFileReplacing(const std::filesystem::path& path, const uint8_t* data, size_t size,
                                      std::string& error);
// Reads a regular file as ReadFileToSend does, but an empty file is read (as no bytes) and there
// is no size limit.
[[nodiscard]] bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& data, std::string& error);

// Why `path` cannot be read as a file, in a few words: "no such file", "a folder, not a file",
// "a named pipe, not a file", "a device, not a file", "a socket, not a file", or the system's
// error text (no permission); empty for a regular file that opens for reading.
std::string LocalFileProblem(const std::filesystem::path& path);

// Sizes travel in 32 bits: the largest file the unit takes.
constexpr uint64_t MaxSendFileSize = UINT32_MAX;

enum class LocalReadResult {
    Ok,
    NotRegularFile, // folder, named pipe, device, socket: "not a regular file"
    EmptyFile,      // "empty file": sending it would only delete the unit's file of that name
    TooLarge,       // more than MaxSendFileSize bytes
    Unreadable,     // missing, no permission, read error: the system's error text
};

// Reads a local file that is to be sent to the unit, before anything is sent. Only a regular
// file is read, opened so that nothing can block the call (a named pipe put in its place is
// refused, not waited on), and read to its end whatever size it reports (files under /proc
// report 0). On anything but Ok, data is empty and reason tells why in a few words.
[[nodiscard]] LocalReadResult ReadFileToSend(const std::filesystem::path& path, std::vector<uint8_t>& data,
                                             std::string& reason);
