#include "HidrawSupport.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <fstream>

#include "ReportDescriptor.h"

void AddInterface(std::vector<InterfaceEntry>& entries, std::string_view path, uint16_t vendorId,
                  uint16_t productId)
{
    if (FindInterface(entries, path) != nullptr)
        return;
    entries.push_back(InterfaceEntry{std::string(path), HidAttributes{vendorId, productId}});
}

const InterfaceEntry* FindInterface(const std::vector<InterfaceEntry>& entries, std::string_view path)
{
    const auto found =
        std::find_if(entries.begin(), entries.end(), [&](const InterfaceEntry& e) { return e.Path == path; });
    return found == entries.end() ? nullptr : &*found;
}

std::optional<std::string> ReportDescriptorPath(std::string_view devicePath)
{
    constexpr std::string_view prefix = "/dev/";
    constexpr std::string_view node = "hidraw";
    if (!devicePath.starts_with(prefix))
        return std::nullopt;
    const std::string_view name = devicePath.substr(prefix.size());
    if (!name.starts_with(node) || name.size() == node.size())
        return std::nullopt;
    // Only digits follow, so the name cannot climb out of /sys/class/hidraw.
    const std::string_view number = name.substr(node.size());
    if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return "/sys/class/hidraw/" + std::string(name) + "/device/report_descriptor";
}

std::optional<std::vector<uint8_t>> ReadDescriptorFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    // One byte more than the limit tells an over-long file from one at the limit.
    std::vector<uint8_t> bytes(MaxReportDescriptorBytes + 1);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (file.bad())
        return std::nullopt;
    const auto count = static_cast<size_t>(file.gcount());
    if (count > MaxReportDescriptorBytes)
        return std::nullopt;
    bytes.resize(count);
    return bytes;
}

InputPlacement PlaceInput(bool numberedReports, size_t reportLength)
{
    if (numberedReports || reportLength == 0)
        return {0, reportLength};
    return {1, reportLength - 1};
}

HidReadResult MapReadResult(int returned, int error, bool numberedReports, size_t reportLength)
{
    if (returned > 0) {
        const size_t delivered = static_cast<size_t>(returned) + PlaceInput(numberedReports, reportLength).Offset;
        return {delivered >= reportLength ? HidReadStatus::Good : HidReadStatus::Incomplete, 0};
    }
    if (returned == 0)
        return {HidReadStatus::TimedOut, 0};
    // A signal is no device failure: the reader simply tries again.
    if (error == EINTR)
        return {HidReadStatus::TimedOut, 0};
    // hidapi reports a hang-up seen by poll without setting errno: that is an
    // unplugged device.
    return {HidReadStatus::Failed, static_cast<uint32_t>(error != 0 ? error : ENODEV)};
}

std::string OpenFailureText(const std::string& path, int error, const std::string& fallback)
{
    if (error == EACCES || error == EPERM)
        return "Permission denied opening " + path +
               ": install the udev rule 60-tessaly.rules (see README) and plug the unit in again";
    if (error != 0)
        return std::string(std::strerror(error)) + " opening " + path;
    if (!fallback.empty())
        return fallback;
    return "Cannot open " + path;
}

std::string NarrowText(const wchar_t* text)
{
    std::string out;
    if (text == nullptr)
        return out;
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (; *text != L'\0'; ++text) {
        const size_t size = std::wcrtomb(buffer, *text, &state);
        if (size == static_cast<size_t>(-1)) {
            out.push_back('?');
            state = std::mbstate_t{};
        } else {
            out.append(buffer, size);
        }
    }
    return out;
}
