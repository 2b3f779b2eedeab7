#pragma once
// Memory for a large array that is filled once and then read. On Linux it is mapped on its own
// and asks for huge pages: tens of megabytes then cost a handful of page faults instead of
// thousands (each fault is dear, above all in a virtual machine), and whatever is never
// touched takes no memory. Elsewhere it is ordinary heap memory.
#include <cstddef>

class LargeBuffer {
public:
    LargeBuffer() = default;
    // At least `bytes` bytes, aligned for any type. Throws std::bad_alloc when they cannot be had.
    explicit LargeBuffer(size_t bytes);
    ~LargeBuffer();
    LargeBuffer(LargeBuffer&& other) noexcept;
    LargeBuffer& operator=(LargeBuffer&& other) noexcept;
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;

    [[nodiscard]] void* Data() const { return Start; }
    [[nodiscard]] size_t Size() const { return Bytes; }

private:
    void Release();

    void* Start = nullptr; // the usable, aligned start
    size_t Bytes = 0;
    void* Mapping = nullptr; // what to give back: the whole mapping, or the heap block
    size_t MappingBytes = 0;
};
