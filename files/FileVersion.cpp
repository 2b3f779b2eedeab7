#include "FileVersion.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#endif

std::string FormatFileVersion(const FileVersion& version)
{
    std::string text = std::to_string(version.MS >> 16) + "." + std::to_string(version.MS & 0xFFFF) + "." +
                       std::to_string(version.LS >> 16);
    if (const uint32_t build = version.LS & 0xFFFF; build != 0)
        text += " (TEST BUILD " + std::to_string(build) + ")";
    return text;
}

#ifdef _WIN32

std::string GetFileVersionText(const std::string& fileName)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(fileName.c_str(), &handle);
    if (size == 0)
        return {};
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(fileName.c_str(), handle, size, data.data()))
        return {};
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
        return {};
    return FormatFileVersion({info->dwFileVersionMS, info->dwFileVersionLS});
}

std::string ExecutableFileName()
{
    // A path longer than the buffer is cut short without an error code on some systems: grow
    // until it fits.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

#endif
