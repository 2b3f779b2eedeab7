#include "UnitNames.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace {

// Windows-1252 bytes 0x80-0x9F; the five undefined ones stand for the C1 characters of their value.
constexpr std::array<char32_t, 32> HighCharacters = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 0x98
};

char32_t CharacterOfByte(uint8_t byte)
{
    return byte >= 0x80 && byte < 0xA0 ? HighCharacters[byte - 0x80] : byte;
}

std::optional<uint8_t> ByteOfCharacter(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<uint8_t>(c);
    for (size_t i = 0; i < HighCharacters.size(); ++i) {
        if (HighCharacters[i] == c)
            return static_cast<uint8_t>(0x80 + i);
    }
    return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads the character at `pos` and moves past it. False, with `pos` unchanged, on a byte that does
// not start a well-formed sequence: overlong forms, surrogates and values past U+10FFFF included.
bool NextCharacter(std::string_view text, size_t& pos, char32_t& c)
{
    const auto lead = static_cast<uint8_t>(text[pos]);
    size_t length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        c = lead;
        ++pos;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        least = 0x80;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        least = 0x800;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        least = 0x10000;
        c = lead & 0x07;
    } else {
        return false;
    }
    if (text.size() - pos < length)
        return false;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<uint8_t>(text[pos + i]);
        if ((next & 0xC0) != 0x80)
            return false;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return false;
    pos += length;
    return true;
}

std::string CodeText(char32_t c)
{
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

std::string InvalidText(std::string_view utf8, size_t pos)
{
    char text[64];
    std::snprintf(text, sizeof text, "the name is not valid UTF-8 text (byte 0x%02X)",
                  static_cast<unsigned>(static_cast<uint8_t>(utf8[pos])));
    return text;
}

bool IsControl(char32_t c)
{
    if (c < 0x20 || c == 0x7F)
        return true;
    // The C1 characters that stand for an undefined Windows-1252 byte are names the unit reports.
    return c >= 0x80 && c <= 0x9F && !ByteOfCharacter(c);
}

} // namespace

std::string DecodeUnitName(std::string_view unitBytes)
{
    std::string text;
    text.reserve(unitBytes.size());
    for (const char byte : unitBytes)
        AppendUtf8(text, CharacterOfByte(static_cast<uint8_t>(byte)));
    return text;
}

bool EncodeUnitName(std::string_view utf8, std::string& unitBytes, std::string& reason)
{
    std::string bytes;
    bytes.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        const size_t start = pos;
        char32_t c = 0;
        if (!NextCharacter(utf8, pos, c)) {
            reason = InvalidText(utf8, pos);
            return false;
        }
        // A NUL ends a text on the wire: the unit would see a shorter, other name.
        if (c == 0) {
            reason = "the name has a control character (U+0000)";
            return false;
        }
        const std::optional<uint8_t> byte = ByteOfCharacter(c);
        if (!byte) {
            reason = "the name has a character the unit cannot store: \"" +
                     std::string(utf8.substr(start, pos - start)) + "\" (" + CodeText(c) + ")";
            return false;
        }
        bytes += static_cast<char>(*byte);
    }
    unitBytes = std::move(bytes);
    reason.clear();
    return true;
}

std::string UnitNameRefusal(std::string_view utf8)
{
    if (utf8.empty())
        return "the name is empty";
    size_t characters = 0;
    for (size_t pos = 0; pos < utf8.size(); ++characters) {
        const size_t start = pos;
        char32_t c = 0;
        if (!NextCharacter(utf8, pos, c))
            return InvalidText(utf8, pos);
        const std::string shown(utf8.substr(start, pos - start));
        if (IsControl(c))
            return "the name has a control character (" + CodeText(c) + ")";
        if (c < 0x80 && std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
            return "the name has a character a FAT card does not allow: \"" + shown + "\"";
        if (!ByteOfCharacter(c))
            return "the name has a character the unit cannot store: \"" + shown + "\" (" + CodeText(c) + ")";
    }
    if (characters > MaxUnitNameLength)
        return "the name is longer than " + std::to_string(MaxUnitNameLength) + " characters";
    if (utf8 == "." || utf8 == "..")
        return "the name \"" + std::string(utf8) + "\" stands for a folder";
    // FAT drops trailing dots and blanks, which would make two names one.
    if (utf8.back() == '.' || utf8.back() == ' ')
        return "the name ends with a dot or a space";
    return {};
}
