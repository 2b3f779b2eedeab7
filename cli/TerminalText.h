#pragma once
// Text that came from the unit or from a file, made safe for a terminal: a control character
// (C0, DEL, and the C1 range, which terminals also obey) or a byte that is not UTF-8 shows as
// an escape ("\x1b", "\u0085"), so a name can never move the cursor, recolour or retitle the
// terminal. The backslash itself stays as it is.
#include <cstddef>
#include <string>
#include <string_view>

std::string TerminalText(std::string_view text);

// Columns a terminal gives `text` (already made safe): one per character. The names this
// program shows hold only characters of one column (the unit's code page has no wide ones).
size_t TerminalWidth(std::string_view text);

// `text` followed by blanks up to `width` columns.
std::string PadToWidth(const std::string& text, size_t width);
