// The executable's version record, from the project version and TESSALY_BUILD_NUMBER.
#include "Versioninfo.h"

extern const VersionRecord TessalyVersionRecord;
TESSALY_VERSION_RECORD const VersionRecord TessalyVersionRecord = {
    {'T', 'S', 'L', 'Y', 'V', 'E', 'R', '1'},
    (static_cast<uint32_t>(TESSALY_VERSION_MAJOR) << 16) | TESSALY_VERSION_MINOR,
    (static_cast<uint32_t>(TESSALY_VERSION_PATCH) << 16) | TESSALY_BUILD_NUMBER,
};
