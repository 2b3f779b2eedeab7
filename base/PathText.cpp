#include "PathText.h"

#ifdef _WIN32
#include <windows.h>

namespace {

std::wstring WideFrom(std::string_view text, UINT codePage, DWORD flags)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    if (wide <= 0)
        return {};
    std::wstring result(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), length, result.data(), wide);
    return result;
}

} // namespace

std::filesystem::path PathFromUtf8(std::string_view text)
{
    if (text.empty())
        return {};
    std::wstring wide = WideFrom(text, CP_UTF8, MB_ERR_INVALID_CHARS);
    if (wide.empty())
        wide = WideFrom(text, CP_ACP, 0);
    return std::filesystem::path(std::move(wide));
}

std::string Utf8FromPath(const std::filesystem::path& path)
{
    const std::wstring& wide = path.native();
    if (wide.empty())
        return {};
    const int length = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string result(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, result.data(), bytes, nullptr, nullptr);
    return result;
}

#else

std::filesystem::path PathFromUtf8(std::string_view text) { return std::filesystem::path(text); }

std::string Utf8FromPath(const std::filesystem::path& path) { return path.string(); }

#endif
