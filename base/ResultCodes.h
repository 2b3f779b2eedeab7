#pragma once
// Result codes returned by every device operation and file reader; 0 is success.
#include <cstdint>
#include <string>

constexpr uint32_t ERR_NO_PATH = 1;
constexpr uint32_t ERR_PORT_FAILURE = 2;
constexpr uint32_t ERR_UNKNOWN_DEV = 3;
constexpr uint32_t ERR_ALLOC_FAIL = 4;
constexpr uint32_t ERR_WRITE_FAILED = 5;
constexpr uint32_t ERR_READ_FAILED = 6;
constexpr uint32_t ERR_BUFFER_UNDER = 7;
constexpr uint32_t ERR_TIMEOUT = 8;
constexpr uint32_t ERR_API_FAILURE = 9;
constexpr uint32_t ERR_DEVICE_IN_USE = 10;
constexpr uint32_t ERR_FILE_NOT_FOUND = 11;
constexpr uint32_t ERR_DEVICE_CLOSED = 12;
constexpr uint32_t ERR_WRONG_PACKET = 13;
constexpr uint32_t ERR_COMMAND_ERR = 14;
constexpr uint32_t ERR_VERIFY_ERR = 15;
// The user stopped the transfer or listing between two blocks.
constexpr uint32_t ERR_CANCELLED = 16;
// The unit's lock could not be made (not: another program holds it); the lock's Failure says why.
constexpr uint32_t ERR_UNIT_LOCK = 17;
constexpr uint32_t ERR_FILE_IHV = 0x201;
constexpr uint32_t ERR_FILE_READ = 0x202;
constexpr uint32_t ERR_FILE_WRITE = 0x203;
constexpr uint32_t ERR_FILE_SIG = 0x205;

// A failure status byte s reported by the unit comes back as StatusOffset + s.
constexpr uint32_t StatusOffset = 0x10000000;

// Text shown to the user: the code's name, else "Error 0x" and 8 upper-case hex digits.
std::string ResultCodeName(uint32_t code);
