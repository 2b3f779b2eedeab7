// Firmware package reader under arbitrary bytes: opening from memory and (for a
// sample of the inputs) from a file must agree, and no section may hold more
// than the input or than its table entry claims.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "Qxstandardfile.h"

namespace {

// Touches every loaded byte so that the sanitizer sees any read beyond a section.
uint32_t Digest(const QXStandardFile& file)
{
    uint32_t sum = 0;
    uint64_t total = 0;
    for (const StandardFileSection& section : file.Sections()) {
        Check(section.Type != 0);
        Check(section.Data.size() == section.Size);
        Check(section.Size <= section.DeclaredSize);
        total += section.Size;
        for (size_t i = 0; i < section.Size; ++i)
            sum = sum * 31 + section.Data[i];
    }
    return sum ^ static_cast<uint32_t>(total);
}

const std::string& TempPath()
{
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("tessaly-fuzz-" + std::to_string(::getpid()) + ".qxf")).string();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QXStandardFile memory;
    const uint32_t memoryResult = memory.OpenFromBytes(data, size);
    uint64_t loaded = 0;
    for (const StandardFileSection& section : memory.Sections())
        loaded += section.Size;
    Check(loaded <= size);
    if (memoryResult != 0)
        Check(memory.SectionCount() == 0);
    for (uint32_t type = 0; type < 8; ++type) {
        const StandardFileSection* found = memory.FindSection(type);
        if (found != nullptr)
            Check(found->Type == type);
    }
    const uint32_t memoryDigest = Digest(memory);
    if (!SampledForFileWork(data, size))
        return 0;

    std::FILE* out = std::fopen(TempPath().c_str(), "wb");
    if (out == nullptr)
        return 0;
    const bool written = std::fwrite(data, 1, size, out) == size;
    std::fclose(out);
    if (!written)
        return 0;
    QXStandardFile file;
    Check(file.Open(TempPath()) == memoryResult);
    Check(file.SectionCount() == memory.SectionCount());
    Check(Digest(file) == memoryDigest);
    return 0;
}
