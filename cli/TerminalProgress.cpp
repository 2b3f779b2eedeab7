#include "TerminalProgress.h"

#include <cstdio>
#include <unistd.h>

TerminalProgress::TerminalProgress(std::string label)
    : Label(std::move(label)), Enabled(isatty(fileno(stderr)) != 0)
{
}

TerminalProgress::~TerminalProgress() { Finish(); }

void TerminalProgress::Update(uint64_t done, uint64_t total)
{
    if (!Enabled)
        return;
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    if (percent == LastPercent)
        return;
    LastPercent = percent;
    constexpr int Width = 30;
    const int filled = percent * Width / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", Label.c_str(), filled, "##############################",
                 Width - filled, "", percent);
    std::fflush(stderr);
    Drawn = true;
}

void TerminalProgress::Finish()
{
    if (Drawn)
        std::fputc('\n', stderr);
    Drawn = false;
    LastPercent = -1;
}
