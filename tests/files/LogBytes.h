#pragma once
// Hand-built display logs for the tests: header and records written byte by byte.
#include <bit>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "TempFolder.h"

class LogBytes {
public:
    LogBytes(int format, uint32_t tickRate, uint32_t dataOffset = 12) : Format2(format == 2)
    {
        Put(Format2 ? 0x20000000u : 0x10000000u, 4);
        Put(tickRate, 4);
        Put(dataOffset, 4);
    }

    LogBytes& TimeStamp(uint32_t counter)
    {
        Put(Format2 ? 0u : 0x00FFu, Format2 ? 4 : 2);
        Put(counter, 4);
        return *this;
    }
    LogBytes& Sample(uint32_t id, float value) { return Word(id, std::bit_cast<uint32_t>(value)); }
    LogBytes& NoValue(uint32_t id) { return Word(id, 0xFFFFFFFFu); }
    LogBytes& Word(uint32_t id, uint32_t word)
    {
        Put(id, Format2 ? 4 : 2);
        Put(word, 4);
        return *this;
    }
    LogBytes& Raw(std::vector<uint8_t> bytes)
    {
        Bytes.insert(Bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }

    std::vector<uint8_t> Bytes;

private:
    void Put(uint32_t value, int width)
    {
        for (int i = 0; i < width; ++i)
            Bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    bool Format2;
};

// The shared temporary folder; these tests name its path Folder().
class TempFolder : public testsupport::TempFolder {
public:
    [[nodiscard]] const std::filesystem::path& Folder() const { return Path(); }
};

using testsupport::FolderEntries;
using testsupport::ReadText;
