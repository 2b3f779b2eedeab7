#include "SimTestSupport.h"

namespace simtest {

Payload& Payload::Text(const std::string& text)
{
    Bytes.insert(Bytes.end(), text.begin(), text.end());
    Bytes.push_back(0);
    return *this;
}

Payload& Payload::U8(uint8_t value)
{
    Bytes.push_back(value);
    return *this;
}

Payload& Payload::U32(uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        Bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
}

Payload& Payload::Raw(const std::vector<uint8_t>& bytes)
{
    Bytes.insert(Bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

std::vector<uint8_t> Payload::Finish() const
{
    std::vector<uint8_t> out = Bytes;
    out.push_back(Checksum(out.data(), out.size()));
    return out;
}

std::vector<std::array<uint8_t, 64>> RequestReports(uint16_t code, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> stream{static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8),
                                static_cast<uint8_t>(payload.size() + 4), static_cast<uint8_t>((payload.size() + 4) >> 8)};
    stream.insert(stream.end(), payload.begin(), payload.end());
    std::vector<std::array<uint8_t, 64>> reports;
    for (size_t at = 0; at < stream.size(); at += 59) {
        std::array<uint8_t, 64> report{0x00, 0x55, 0xAA, 0xAA, 0x55};
        for (size_t i = 0; i < 59 && at + i < stream.size(); ++i)
            report[5 + i] = stream[at + i];
        reports.push_back(report);
    }
    return reports;
}

std::vector<Message> Assemble(const std::vector<std::array<uint8_t, 64>>& reports)
{
    std::vector<Message> messages;
    size_t expected = 0;
    for (const auto& report : reports) {
        size_t from = 5;
        if (expected == 0) {
            const size_t total = report[7] | report[8] << 8;
            messages.push_back({static_cast<uint16_t>(report[5] | report[6] << 8), {}});
            expected = total > 4 ? total - 4 : 0;
            from = 9;
        }
        for (size_t i = from; i < 64 && expected > 0; ++i, --expected)
            messages.back().Payload.push_back(report[i]);
    }
    return messages;
}

std::vector<Message> Exchange(sim::SimulatedUnit& unit, uint16_t code, const std::vector<uint8_t>& payload)
{
    std::vector<std::array<uint8_t, 64>> replies;
    for (const auto& report : RequestReports(code, payload)) {
        const sim::UnitAnswer answer = unit.ReceiveReport(report.data(), report.size(), 0);
        replies.insert(replies.end(), answer.Reports.begin(), answer.Reports.end());
    }
    return Assemble(replies);
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

} // namespace simtest
