// Text from the unit or from a file reaches the terminal with its control characters escaped, and
// columns line up by what the terminal shows.
#include <gtest/gtest.h>

#include "TerminalText.h"

// A name that starts with ESC, or holds a C1 control or a byte that is not UTF-8, cannot drive the
// terminal: each shows as an escape, and printable text (accents and backslashes included) stays.
TEST(TerminalText, ControlsAndStrayBytesAreEscaped)
{
    EXPECT_EQ(TerminalText("\x1b[2Jrun.qxm"), "\\x1b[2Jrun.qxm");
    EXPECT_EQ(TerminalText("a\nb\x7f"), "a\\x0ab\\x7f");
    EXPECT_EQ(TerminalText("\xC2\x9B" "31m"), "\\u009b31m"); // U+009B, the C1 control sequence introducer
    EXPECT_EQ(TerminalText("Caf\xE9.qxm"), "Caf\\xe9.qxm");  // Latin-1 byte, not UTF-8
    EXPECT_EQ(TerminalText("\xE0\x80\x80"), "\\xe0\\x80\\x80"); // overlong form
    EXPECT_EQ(TerminalText("Caf\xC3\xA9 A:\\Maps"), "Caf\xC3\xA9 A:\\Maps");
}

// Columns count characters, not bytes: "Café.qxm" takes 8 columns.
TEST(TerminalText, PaddingCountsColumns)
{
    EXPECT_EQ(TerminalWidth("Caf\xC3\xA9.qxm"), 8u);
    EXPECT_EQ(PadToWidth("Caf\xC3\xA9.qxm", 10), "Caf\xC3\xA9.qxm  ");
    EXPECT_EQ(PadToWidth("longer than", 4), "longer than");
}
