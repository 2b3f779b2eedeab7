#include "ReportDescriptor.h"

#include <algorithm>

namespace {

// Bounds-checked little-endian reader over the descriptor bytes: the
// descriptor comes from the device and is not trusted.
class DescriptorReader {
public:
    explicit DescriptorReader(std::span<const uint8_t> bytes) : Bytes(bytes) {}

    bool AtEnd() const { return Offset == Bytes.size(); }
    size_t Remaining() const { return Bytes.size() - Offset; }

    [[nodiscard]] bool Read8(uint8_t& value)
    {
        if (Remaining() < 1)
            return false;
        value = Bytes[Offset++];
        return true;
    }

    // An unsigned value of 0, 1, 2 or 4 bytes.
    [[nodiscard]] bool ReadLE(size_t size, uint32_t& value)
    {
        if (size > 4 || Remaining() < size)
            return false;
        value = 0;
        for (size_t i = 0; i < size; ++i)
            value |= static_cast<uint32_t>(Bytes[Offset + i]) << (8 * i);
        Offset += size;
        return true;
    }

    [[nodiscard]] bool Skip(size_t size)
    {
        if (Remaining() < size)
            return false;
        Offset += size;
        return true;
    }

private:
    std::span<const uint8_t> Bytes;
    size_t Offset = 0;
};

// The global items that decide report lengths; Push and Pop save and restore
// them together with the rest of the global state.
struct GlobalState {
    uint32_t ReportSize = 0;
    uint32_t ReportCount = 0;
    uint8_t ReportId = 0;
};

// Real descriptors push one or two levels (the Linux HID core refuses more than
// four); deeper nesting only comes from a broken or hostile descriptor.
constexpr size_t MaxPushDepth = 16;

// Lengths are 16-bit and include the identifier byte.
constexpr uint64_t MaxReportBits = (0xFFFFu - 1u) * 8u;

constexpr uint8_t LongItemPrefix = 0xFE;

enum ItemType : uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3 };

enum MainTag : uint8_t { InputTag = 0x8, OutputTag = 0x9, FeatureTag = 0xB };

enum GlobalTag : uint8_t { ReportSizeTag = 0x7, ReportIdTag = 0x8, ReportCountTag = 0x9, PushTag = 0xA, PopTag = 0xB };

uint16_t LongestReport(const std::vector<ReportBits>& reports, ReportKind kind)
{
    bool any = false;
    uint32_t longest = 0;
    for (const ReportBits& report : reports) {
        if (report.Kind != kind)
            continue;
        any = true;
        longest = std::max(longest, report.Bytes());
    }
    return any ? static_cast<uint16_t>(longest + 1) : 0;
}

} // namespace

std::optional<ReportDescriptorInfo> ParseReportDescriptor(std::span<const uint8_t> descriptor)
{
    if (descriptor.size() > MaxReportDescriptorBytes)
        return std::nullopt;

    ReportDescriptorInfo info;
    GlobalState global;
    std::vector<GlobalState> stack;
    DescriptorReader reader(descriptor);

    while (!reader.AtEnd()) {
        uint8_t prefix = 0;
        if (!reader.Read8(prefix))
            return std::nullopt;
        if (prefix == LongItemPrefix) {
            // Long items carry no report fields: skip tag and data.
            uint8_t dataSize = 0;
            uint8_t longTag = 0;
            if (!reader.Read8(dataSize) || !reader.Read8(longTag) || !reader.Skip(dataSize))
                return std::nullopt;
            continue;
        }
        const size_t size = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
        const auto type = static_cast<uint8_t>((prefix >> 2) & 0x3);
        const auto tag = static_cast<uint8_t>(prefix >> 4);
        uint32_t value = 0;
        if (!reader.ReadLE(size, value))
            return std::nullopt;

        if (type == Main && (tag == InputTag || tag == OutputTag || tag == FeatureTag)) {
            const ReportKind kind = tag == InputTag    ? ReportKind::Input
                                    : tag == OutputTag ? ReportKind::Output
                                                       : ReportKind::Feature;
            auto entry = std::find_if(info.Reports.begin(), info.Reports.end(), [&](const ReportBits& r) {
                return r.Kind == kind && r.ReportId == global.ReportId;
            });
            if (entry == info.Reports.end()) {
                info.Reports.push_back(ReportBits{kind, global.ReportId, 0});
                entry = info.Reports.end() - 1;
            }
            // Both factors are 32-bit, so the product fits; the sum is checked
            // before it can grow further.
            const uint64_t bits = uint64_t{entry->Bits} + uint64_t{global.ReportSize} * global.ReportCount;
            if (bits > MaxReportBits)
                return std::nullopt;
            entry->Bits = static_cast<uint32_t>(bits);
        } else if (type == Global) {
            switch (tag) {
            case ReportSizeTag:
                global.ReportSize = value;
                break;
            case ReportCountTag:
                global.ReportCount = value;
                break;
            case ReportIdTag:
                if (value == 0 || value > 0xFF)
                    return std::nullopt;
                global.ReportId = static_cast<uint8_t>(value);
                info.NumberedReports = true;
                break;
            case PushTag:
                if (stack.size() >= MaxPushDepth)
                    return std::nullopt;
                stack.push_back(global);
                break;
            case PopTag:
                if (stack.empty())
                    return std::nullopt;
                global = stack.back();
                stack.pop_back();
                break;
            default:
                break;
            }
        }
        // Local items, collections and reserved items do not change lengths.
    }

    info.InputReportLength = LongestReport(info.Reports, ReportKind::Input);
    info.OutputReportLength = LongestReport(info.Reports, ReportKind::Output);
    info.FeatureReportLength = LongestReport(info.Reports, ReportKind::Feature);
    return info;
}
