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

    std::filesystem::path Target;
    std::filesystem::path TempPath;
    std::unique_ptr<std::FILE, FileCloser> File;
    bool Flushed = false; // closed, complete, not yet renamed
    std::string Error;
};

// Whole-file helpers; false with a reason in `error` on failure.
[[nodiscard]] bool WriteFileReplacing(const std::filesystem::path& path, const uint8_t* data, size_t size,
                                      std::string& error);
// Reads a regular file as ReadFileToSend does, but an empty file is read (as no bytes) and there
// is no size limit.
[[nodiscard]] bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& data, std::string& error);

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
