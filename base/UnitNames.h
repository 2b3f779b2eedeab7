#pragma once
// The one rule for folder and file names on the unit. The unit's texts are 8-bit characters; the
// programs hold every name as UTF-8. These convert between the two and say which names the unit's
// FAT card can hold, so every front end and the simulated unit decide alike.
#include <cstddef>
#include <string>
#include <string_view>

// Names travel to and from the unit as Windows-1252 bytes. The five bytes Windows-1252 leaves
// undefined (0x81 0x8D 0x8F 0x90 0x9D) map to the Unicode characters of the same value, so every
// name the unit reports round-trips.

// The UTF-8 text of a name as the unit sends it (its bytes, without the NUL); never fails.
std::string DecodeUnitName(std::string_view unitBytes);

// The unit's bytes for a UTF-8 name. False when the text is not valid UTF-8 or has a character
// outside Windows-1252 (or a NUL, which would end the text on the wire early); `reason` then names
// it, e.g. the character "Ω" (U+03A9) cannot be stored on the unit. Encode(Decode(b)) == b for
// every byte string b without NUL. Folder texts ("A:\Maps") encode as well: no FAT rule is applied.
[[nodiscard]] bool EncodeUnitName(std::string_view utf8, std::string& unitBytes, std::string& reason);

// Empty when `utf8` is a file or folder name the unit's card can hold; else a short reason, without
// a trailing period, that names the character or the fault, e.g.
//   the name has a character the unit cannot store: "Ω" (U+03A9)
//   the name has a character a FAT card does not allow: "?"
//   the name has a control character (U+001B)
//   the name ends with a dot or a space
// Control characters are U+0000-U+001F, U+007F and U+0080-U+009F, except the five characters that
// stand for Windows-1252's undefined bytes: the unit can report those in a name, and a name it
// reports must be accepted back (got, then sent again).
std::string UnitNameRefusal(std::string_view utf8);

// The longest name the card holds: a FAT long name has at most 255 characters, and every
// character on the unit is one byte.
inline constexpr size_t MaxUnitNameLength = 255;
