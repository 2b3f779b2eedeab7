#include "LargeBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>

// Every size gives that many bytes to write and read back, aligned for any type: nothing for 0,
// heap memory below a huge page, a mapping of its own from there on (not a multiple of it too).
TEST(LargeBuffer, HoldsWhatIsWritten)
{
    EXPECT_EQ(LargeBuffer().Data(), nullptr);
    EXPECT_EQ(LargeBuffer(0).Data(), nullptr);
    for (const size_t size : {size_t{1}, size_t{4096}, size_t{2} << 20, (size_t{5} << 20) + 3}) {
        LargeBuffer buffer(size);
        ASSERT_NE(buffer.Data(), nullptr);
        EXPECT_EQ(buffer.Size(), size);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.Data()) % alignof(std::max_align_t), 0u);
        auto* bytes = static_cast<uint8_t*>(buffer.Data());
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<uint8_t>(i * 7);
        for (size_t i = 0; i < size; i += 4093)
            ASSERT_EQ(bytes[i], static_cast<uint8_t>(i * 7)) << i;
        EXPECT_EQ(bytes[size - 1], static_cast<uint8_t>((size - 1) * 7));
    }
}

// A move hands the memory over: the new owner has it, the old one nothing.
TEST(LargeBuffer, MoveHandsOver)
{
    LargeBuffer first(3 << 20);
    std::memset(first.Data(), 0x5A, first.Size());
    void* const data = first.Data();
    LargeBuffer second(std::move(first));
    EXPECT_EQ(second.Data(), data);
    EXPECT_EQ(second.Size(), size_t{3} << 20);
    EXPECT_EQ(first.Data(), nullptr); // NOLINT(bugprone-use-after-move): the state after a move
    EXPECT_EQ(first.Size(), 0u);
    LargeBuffer third(100);
    third = std::move(second);
    EXPECT_EQ(third.Data(), data);
    EXPECT_EQ(static_cast<uint8_t*>(third.Data())[(3 << 20) - 1], 0x5A);
    EXPECT_EQ(second.Data(), nullptr); // NOLINT(bugprone-use-after-move)
}

// Far more than any address space is refused with std::bad_alloc, not handed out.
TEST(LargeBuffer, ImpossibleSizeRefused)
{
    EXPECT_THROW(LargeBuffer(SIZE_MAX - 4096), std::bad_alloc);
    EXPECT_THROW(LargeBuffer(SIZE_MAX / 2), std::bad_alloc);
}
