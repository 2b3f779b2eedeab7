#pragma once
// The hidraw-specific pieces of the hidapi host that need no device: the
// interface list, where a node's report descriptor lives, the framing of input
// reports, and the texts of open failures.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HidHost.h"

struct InterfaceEntry {
    std::string Path;
    HidAttributes Ids;
};

// hidraw lists one entry per top-level usage of a descriptor, all on the same
// node: the first entry of a path is kept, later ones are dropped.
void AddInterface(std::vector<InterfaceEntry>& entries, std::string_view path, uint16_t vendorId,
                  uint16_t productId);
const InterfaceEntry* FindInterface(const std::vector<InterfaceEntry>& entries, std::string_view path);

// "/dev/hidrawN" -> "/sys/class/hidraw/hidrawN/device/report_descriptor"; null
// for any other path.
[[nodiscard]] std::optional<std::string> ReportDescriptorPath(std::string_view devicePath);

// The whole file, or null when it cannot be read or is longer than any
// descriptor the kernel accepts.
[[nodiscard]] std::optional<std::vector<uint8_t>> ReadDescriptorFile(const std::string& path);

// Where hidapi's bytes go in a report whose byte 0 is the report identifier:
// without numbered reports hidapi delivers the data alone, so it lands behind
// byte 0 (which stays 0); with numbered reports hidapi delivers the identifier
// first and the whole report is its.
struct InputPlacement {
    size_t Offset = 0;
    size_t Length = 0;
};
InputPlacement PlaceInput(bool numberedReports, size_t reportLength);

// Meaning of hid_read_timeout's result `returned` (errno `error` when it is -1)
// for a report of `reportLength` bytes.
HidReadResult MapReadResult(int returned, int error, bool numberedReports, size_t reportLength);

// Text for a path that could not be opened; `error` is the errno of the open (0
// when unknown, then `fallback` is used). Lack of permission names the udev rule.
std::string OpenFailureText(const std::string& path, int error, const std::string& fallback);

// hidapi's texts are wide strings; this is their multibyte form in the current
// locale (characters that do not convert become '?').
std::string NarrowText(const wchar_t* text);
