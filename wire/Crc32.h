// CRC-32 of IEEE 802.3 (reflected 0xEDB88320, init and final XOR 0xFFFFFFFF).
#pragma once

#include <stdint.h>

namespace orlin {

// zlib's crc32, which computes exactly this checksum; bench_codecs measures
// it against the byte-wise table.
uint32_t Crc32(const char* pData, unsigned int nLen);

} // namespace orlin
