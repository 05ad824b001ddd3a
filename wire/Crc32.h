// CRC-32 of IEEE 802.3 (reflected 0xEDB88320, init and final XOR 0xFFFFFFFF).
#pragma once

#include <stdint.h>

namespace orlin {

// Same result as the byte-wise table method; computed eight bytes at a time.
uint32_t Crc32(const char* pData, unsigned int nLen);

// The plain byte-wise table method, kept as the reference for tests and
// benchmarks.
uint32_t Crc32Bytewise(const char* pData, unsigned int nLen);

} // namespace orlin
