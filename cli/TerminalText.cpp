#include "TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the UTF-8 sequence at `text[at]` and its code point; 0 when it is not one.
size_t Utf8Sequence(std::string_view text, size_t at, uint32_t& point)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    if (lead < 0x80) {
        point = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        point = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (next & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    static constexpr uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < least[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

bool IsControl(uint32_t point) { return point < 0x20 || point == 0x7F || (point >= 0x80 && point <= 0x9F); }

} // namespace

std::string TerminalText(std::string_view text)
{
    std::string safe;
    safe.reserve(text.size());
    char escape[8];
    for (size_t at = 0; at < text.size();) {
        uint32_t point = 0;
        const size_t length = Utf8Sequence(text, at, point);
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[at]));
            safe += escape;
            ++at;
            continue;
        }
        if (IsControl(point)) {
            std::snprintf(escape, sizeof escape, point < 0x80 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(point));
            safe += escape;
        } else {
            safe.append(text.substr(at, length));
        }
        at += length;
    }
    return safe;
}

size_t TerminalWidth(std::string_view text)
{
    size_t width = 0;
    for (const char c : text)
        width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return width;
}

std::string PadToWidth(const std::string& text, size_t width)
{
    const size_t used = TerminalWidth(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}
