#include "LargeBuffer.h"

#include <cstdint>
#include <new>
#include <utility>

// Under AddressSanitizer every buffer comes from the heap, where reads and writes beyond its end
// are caught; a mapping of its own would hide them.
#if defined(__SANITIZE_ADDRESS__)
#define TESSALY_LARGE_BUFFER_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSALY_LARGE_BUFFER_HEAP_ONLY 1
#endif
#endif

#if defined(__linux__) && !defined(TESSALY_LARGE_BUFFER_HEAP_ONLY)
#define TESSALY_LARGE_BUFFER_MAPPED 1
#include <sys/mman.h>
#endif

namespace {

// Larger requests are refused at once: a terabyte is beyond the memory of any machine this runs
// on, and the sanitizers' allocators end the program on larger ones instead of failing them.
constexpr size_t MostBytes = sizeof(size_t) >= 8 ? static_cast<size_t>(uint64_t{1} << 40) : SIZE_MAX / 2;

#if defined(TESSALY_LARGE_BUFFER_MAPPED)
// The size of a huge page on x86-64 and of the common arm64 setting. Below it a mapping of its
// own gains nothing over the heap.
constexpr size_t HugePage = size_t{2} << 20;
#endif

} // namespace

LargeBuffer::LargeBuffer(size_t bytes)
{
    if (bytes == 0)
        return;
    if (bytes > MostBytes)
        throw std::bad_alloc();
#if defined(TESSALY_LARGE_BUFFER_MAPPED)
    if (bytes >= HugePage) {
        const size_t rounded = (bytes + HugePage - 1) & ~(HugePage - 1);
        // One huge page more than needed, so that the start can be moved to a huge-page boundary:
        // only whole aligned huge pages can be backed by one.
        const size_t mappingBytes = rounded + HugePage;
        void* mapping = mmap(nullptr, mappingBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED)
            throw std::bad_alloc();
        const auto address = reinterpret_cast<uintptr_t>(mapping);
        const uintptr_t aligned = (address + HugePage - 1) & ~static_cast<uintptr_t>(HugePage - 1);
        Start = reinterpret_cast<void*>(aligned);
        Bytes = bytes;
        Mapping = mapping;
        MappingBytes = mappingBytes;
        // Only a hint: without huge pages (disabled, or none free) the memory is the same, with
        // more faults.
#if defined(MADV_HUGEPAGE)
        (void)madvise(Start, rounded, MADV_HUGEPAGE);
#endif
        return;
    }
#endif
    Mapping = ::operator new(bytes);
    Start = Mapping;
    Bytes = bytes;
}

LargeBuffer::~LargeBuffer()
{
    Release();
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : Start(std::exchange(other.Start, nullptr)), Bytes(std::exchange(other.Bytes, 0)),
      Mapping(std::exchange(other.Mapping, nullptr)), MappingBytes(std::exchange(other.MappingBytes, 0))
{
}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept
{
    if (this != &other) {
        Release();
        Start = std::exchange(other.Start, nullptr);
        Bytes = std::exchange(other.Bytes, 0);
        Mapping = std::exchange(other.Mapping, nullptr);
        MappingBytes = std::exchange(other.MappingBytes, 0);
    }
    return *this;
}

void LargeBuffer::Release()
{
    if (Mapping == nullptr)
        return;
#if defined(TESSALY_LARGE_BUFFER_MAPPED)
    if (MappingBytes != 0)
        munmap(Mapping, MappingBytes);
    else
        ::operator delete(Mapping);
#else
    ::operator delete(Mapping);
#endif
    Start = nullptr;
    Bytes = 0;
    Mapping = nullptr;
    MappingBytes = 0;
}
