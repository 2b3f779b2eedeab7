#pragma once
// Helpers shared by the file readers' fuzz targets.
#include <cstddef>
#include <cstdint>

// A broken rule is a crash, so that libFuzzer keeps the input.
inline void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// Work that goes through files costs far more than the parsing, so it is done
// for one input in four, picked by the input's bytes so that a run repeats.
inline bool SampledForFileWork(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u; // FNV-1a
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return (hash & 3) == 0;
}
