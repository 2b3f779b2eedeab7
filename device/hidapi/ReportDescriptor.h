#pragma once
// HID report descriptor parser: finds every input, output and feature report a
// device declares and how long it is. hidapi on Linux reports no lengths, so the
// host computes them here the way Windows' HidP_GetCaps does: the largest report
// of each kind in bytes, plus one byte for the report identifier, counted even
// on a device that numbers no reports; 0 for a kind the device does not have.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

enum class ReportKind : uint8_t { Input, Output, Feature };

struct ReportBits {
    ReportKind Kind = ReportKind::Input;
    uint8_t ReportId = 0; // 0 on a device without numbered reports
    uint32_t Bits = 0;    // all fields of the report, padding included
    uint32_t Bytes() const { return (Bits + 7) / 8; }
};

struct ReportDescriptorInfo {
    // True when the descriptor declares report identifiers: then byte 0 of
    // every report on the wire is that identifier.
    bool NumberedReports = false;
    // One entry per kind and identifier, in order of first appearance.
    std::vector<ReportBits> Reports;
    uint16_t InputReportLength = 0;
    uint16_t OutputReportLength = 0;
    uint16_t FeatureReportLength = 0;
};

// The Linux HID core refuses longer descriptors (HID_MAX_DESCRIPTOR_SIZE), so
// hidraw never hands out more.
constexpr size_t MaxReportDescriptorBytes = 4096;

// Null when the descriptor is malformed: an item runs past the end, Pop without
// Push, Push nested deeper than any real device does, report identifier 0 or
// above 255, or a report too long for a 16-bit length.
[[nodiscard]] std::optional<ReportDescriptorInfo> ParseReportDescriptor(std::span<const uint8_t> descriptor);
