#include "FirmwareImage.h"

#include <cctype>
#include <string>
#include <system_error>

#include "LocalFiles.h"
#include "PathText.h"
#include "Qxstandardfile.h"
#include "ResultCodes.h"

bool IsPlainImageFile(const std::filesystem::path& path)
{
    std::string extension = Utf8FromPath(path.extension());
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".bin";
}

namespace {

uint32_t LoadPlain(const std::filesystem::path& path, FirmwareImage& image)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > MaxPlainImageSize)
        return ERR_FILE_READ;
    std::string error;
    if (!ReadWholeFile(path, image.Bytes, error))
        return ERR_FILE_READ;
    image.Flags = PlainImageFlags;
    return 0;
}

uint32_t LoadPackage(const std::filesystem::path& path, FirmwareImage& image)
{
    QXStandardFile package;
    if (const uint32_t opened = package.Open(Utf8FromPath(path)); opened != 0)
        return opened;
    const StandardFileSection* section = package.FindSection(FirmwareSectionType);
    if (!section)
        return ERR_BUFFER_UNDER;
    // A firmware image cut short would be programmed as if it were whole.
    if (!section->IsComplete())
        return ERR_FILE_READ;
    image.Bytes = section->Data;
    image.Flags = PackageImageFlags;
    return 0;
}

} // namespace

uint32_t LoadFirmwareImage(const std::filesystem::path& path, FirmwareImage& image)
{
    image = {};
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return ERR_FILE_NOT_FOUND;
    uint32_t loaded = IsPlainImageFile(path) ? LoadPlain(path, image) : LoadPackage(path, image);
    if (loaded == 0 && image.Bytes.empty())
        loaded = ERR_BUFFER_UNDER;
    if (loaded != 0)
        image = {};
    return loaded;
}

std::string FirmwareImageProblem(const std::filesystem::path& path, uint32_t code)
{
    if (code == ERR_FILE_NOT_FOUND)
        return "no such file";
    if (std::string problem = LocalFileProblem(path); !problem.empty())
        return problem;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (IsPlainImageFile(path)) {
        if (!ec && size > MaxPlainImageSize)
            return "larger than 64 MiB, more than any display's flash holds";
        if (code == ERR_BUFFER_UNDER)
            return "an empty image";
        return "cannot be read";
    }
    switch (code) {
    case ERR_FILE_SIG: return "not a .bin image or a firmware package: bad signature";
    case ERR_BUFFER_UNDER: return "a firmware package without a firmware image";
    case ERR_FILE_READ: return "the firmware package is cut short or damaged";
    default: return "cannot be read as a firmware package";
    }
}
