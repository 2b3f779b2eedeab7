#include "ResultCodes.h"

#include <cstdio>

std::string ResultCodeName(uint32_t code)
{
    switch (code) {
    case ERR_NO_PATH: return "ERR_NO_PATH";
    case ERR_PORT_FAILURE: return "ERR_PORT_FAILURE";
    case ERR_UNKNOWN_DEV: return "ERR_UNKNOWN_DEV";
    case ERR_ALLOC_FAIL: return "ERR_ALLOC_FAIL";
    case ERR_WRITE_FAILED: return "ERR_WRITE_FAILED";
    case ERR_READ_FAILED: return "ERR_READ_FAILED";
    case ERR_BUFFER_UNDER: return "ERR_BUFFER_UNDER";
    case ERR_TIMEOUT: return "ERR_TIMEOUT";
    case ERR_API_FAILURE: return "ERR_API_FAILURE";
    case ERR_DEVICE_IN_USE: return "ERR_DEVICE_IN_USE";
    case ERR_FILE_NOT_FOUND: return "ERR_FILE_NOT_FOUND";
    case ERR_DEVICE_CLOSED: return "ERR_DEVICE_CLOSED";
    case ERR_WRONG_PACKET: return "ERR_WRONG_PACKET";
    case ERR_COMMAND_ERR: return "ERR_COMMAND_ERR";
    case ERR_VERIFY_ERR: return "ERR_VERIFY_ERR";
    case ERR_CANCELLED: return "ERR_CANCELLED";
    case ERR_UNIT_LOCK: return "ERR_UNIT_LOCK";
    case ERR_FILE_IHV: return "ERR_FILE_IHV";
    case ERR_FILE_READ: return "ERR_FILE_READ";
    case ERR_FILE_WRITE: return "ERR_FILE_WRITE";
    case ERR_FILE_SIG: return "ERR_FILE_SIG";
    default: break;
    }
    char text[24];
    std::snprintf(text, sizeof text, "Error 0x%08X", static_cast<unsigned>(code));
    return text;
}
