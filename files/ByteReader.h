#pragma once
// Bounds-checked little-endian reader over bytes that came from a file: every read checks the
// bytes that remain and fails (leaving the output untouched) instead of reading past the end.
#include <cstddef>
#include <cstdint>

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : Data(data), Size(data ? size : 0) {}

    [[nodiscard]] size_t Remaining() const { return Size - Pos; }
    [[nodiscard]] size_t Position() const { return Pos; }

    [[nodiscard]] bool Read16(uint16_t& out)
    {
        if (Remaining() < 2)
            return false;
        const uint8_t* p = Data + Pos;
        out = static_cast<uint16_t>(p[0] | (p[1] << 8));
        Pos += 2;
        return true;
    }

    [[nodiscard]] bool Read32(uint32_t& out)
    {
        if (Remaining() < 4)
            return false;
        const uint8_t* p = Data + Pos;
        out = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
        Pos += 4;
        return true;
    }

    // Moves to an absolute position; a position beyond the end leaves nothing to read.
    void Seek(size_t position) { Pos = position < Size ? position : Size; }

private:
    const uint8_t* Data;
    size_t Size;
    size_t Pos = 0;
};
