#pragma once
// Version texts: the caption's version, read from the executable file itself, and (from
// device/VersionNumber.h) the text of the unit's packed version numbers.
#include <cstdint>
#include <string>

#include "FileVersion.h"
#include "VersionNumber.h"

// The version text of a file, empty when the file carries no version. On Windows it comes from
// the version resource (files/FileVersion.cpp); elsewhere from the version record in the
// executable's section VersionSectionName (an ELF file).
std::string GetFileVersionText(const std::string& fileName);

// The record the build places in the executable. Magic marks it, so a section of that name that
// holds something else is not taken for a version.
constexpr const char* VersionSectionName = ".tessaly_version";
constexpr char VersionRecordMagic[8] = {'T', 'S', 'L', 'Y', 'V', 'E', 'R', '1'};
struct VersionRecord {
    char Magic[8];
    uint32_t FileVersionMS; // little-endian, as the platform stores it
    uint32_t FileVersionLS;
};
static_assert(sizeof(VersionRecord) == 16);

// Puts a definition into the version section and keeps it even though nothing refers to it.
#define TESSALY_VERSION_RECORD __attribute__((used, section(".tessaly_version")))
