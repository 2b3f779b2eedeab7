#pragma once
// The version of an executable file, as its version resource (Windows) or its version record
// (app/Versioninfo.h, elsewhere) carries it.
#include <cstdint>
#include <string>

// The file version as four 16-bit parts in two words, most significant first, like the fixed
// file information of a Windows version resource: MS = major.minor, LS = release.build.
struct FileVersion {
    uint32_t MS = 0;
    uint32_t LS = 0;
};

// "major.minor.release", and " (TEST BUILD n)" when the build number n is not 0.
std::string FormatFileVersion(const FileVersion& version);

#ifdef _WIN32
// The version text of a file's version resource (FormatFileVersion of its fixed file
// information's file version); empty when the file has none or it cannot be read. The name is
// in the system's 8-bit code page, as GetModuleFileNameA gives the executable's.
std::string GetFileVersionText(const std::string& fileName);

// The full path of the running executable, in the system's 8-bit code page.
std::string ExecutableFileName();
#endif
