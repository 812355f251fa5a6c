#pragma once
#include <cstdint>

// The reflected CRC-32 of IEEE 802.3 (polynomial 0xEDB88320) over `first`
// up to `end`, continuing from the caller's start value, with no final
// inversion: from 0xFFFFFFFF, "abc" gives 0xCADBBE3D, the complement of the
// usual 0x352441C2. An empty range gives the start value.
uint32_t Crc32(const void* first, const void* end, uint32_t start);
