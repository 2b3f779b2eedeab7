#include <cstdio>
#include <cstring>

#include "AppMain.h"
#include "Versioninfo.h"

// VersionRecord.cpp: the version the caption shows, read here without reading the file.
extern const VersionRecord TessalyVersionRecord;

int main(int argc, char** argv)
{
    // Answered before the application object exists, so it needs no display and opens no unit.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        const FileVersion version{TessalyVersionRecord.FileVersionMS, TessalyVersionRecord.FileVersionLS};
        std::printf("tessaly %s\n", FormatFileVersion(version).c_str());
        return 0;
    }
    return RunTessaly(argc, argv);
}
