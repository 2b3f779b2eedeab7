#pragma once
// The image a firmware update sends: a plain image file (".bin", whole) or the
// firmware section of a package, with the flags the bootloader gets with it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

constexpr uint8_t PlainImageFlags = 0x00;
// A package image goes out with 0x80 (0x81 is the other value a bootloader
// takes for packages); the update adds 0x40 on the first block.
constexpr uint8_t PackageImageFlags = 0x80;
// The unit's whole flash is 512 KiB; a plain image file larger than a package
// may be is refused instead of read into memory.
constexpr uint64_t MaxPlainImageSize = 64ull * 1024 * 1024;

struct FirmwareImage {
    std::vector<uint8_t> Bytes;
    uint8_t Flags = PlainImageFlags;
};

// True when the file is a plain image: its extension, in lower case, is ".bin".
bool IsPlainImageFile(const std::filesystem::path& path);

// Loads the image of `path`: 0, or ERR_FILE_NOT_FOUND (no such file),
// ERR_FILE_READ (a plain image that cannot be read whole, a package whose
// firmware section is cut short by the end of the file), the package reader's
// code (ERR_FILE_IHV, ERR_FILE_READ, ERR_FILE_SIG), or ERR_BUFFER_UNDER (an
// empty image, a package without a firmware section). On failure `image` is empty.
[[nodiscard]] uint32_t LoadFirmwareImage(const std::filesystem::path& path, FirmwareImage& image);

// Why LoadFirmwareImage gave `code` for `path`, in a few words ("no such file", "larger than
// 64 MiB, more than any display's flash holds", "not a firmware package: bad signature", ...).
std::string FirmwareImageProblem(const std::filesystem::path& path, uint32_t code);
