#pragma once
// The checksum byte that ends every request payload on the unit's link.
#include <cstddef>
#include <cstdint>

// Bitwise complement of the 8-bit wrapping sum of the bytes; 0xFF for none.
uint8_t Checksum(const uint8_t* data, size_t count);
