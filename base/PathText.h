#pragma once
// Text of local file paths. Every path and file name the programs hold as text (command-line
// arguments, names on the unit's card, messages) is UTF-8. On Windows the file system's names are
// UTF-16: these convert between the two, so a name outside the system's 8-bit code page survives.
// Elsewhere a path's text is its bytes, unchanged.
#include <filesystem>
#include <string>
#include <string_view>

// The path named by `text`. On Windows, text that is not valid UTF-8 is read in the system's
// 8-bit code page (names from programs that write in it); the conversion never fails.
std::filesystem::path PathFromUtf8(std::string_view text);

// The UTF-8 text of `path` (on Windows a lone UTF-16 surrogate becomes U+FFFD); never throws,
// unlike std::filesystem::path::string() on Windows for a name outside the 8-bit code page.
std::string Utf8FromPath(const std::filesystem::path& path);
