// The test program's own version record, so reading a real executable is tested too.
#include "Versioninfo.h"

extern const VersionRecord TestVersionRecord;
TESSALY_VERSION_RECORD const VersionRecord TestVersionRecord = {
    {'T', 'S', 'L', 'Y', 'V', 'E', 'R', '1'}, (2u << 16) | 5u, (9u << 16) | 7u};
