#pragma once
// A one-line progress bar on standard error, drawn only when it is a terminal.
#include <cstdint>
#include <string>

class TerminalProgress {
public:
    explicit TerminalProgress(std::string label);
    ~TerminalProgress();
    // Redraws when the shown percentage changes.
    void Update(uint64_t done, uint64_t total);
    // Ends the line (if one was drawn).
    void Finish();

private:
    std::string Label;
    bool Enabled;
    int LastPercent = -1;
    bool Drawn = false;
};
