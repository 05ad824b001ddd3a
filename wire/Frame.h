// The 20-byte frame of binary packets. Integers are little-endian.
//
//   0  magic "WLYN"       4  CmdVer (u16)      6  CmdType (u16)
//   8  login param (u16) 10  reserved (u16)   12  payload length (u32)
//  16  CRC-32 of the payload (u32, 0 when empty)
//  20  payload
#pragma once

#include <stdint.h>

namespace orlin {

constexpr unsigned int kFrameHeaderLen = 20;
constexpr char kFrameMagic[4] = {'W', 'L', 'Y', 'N'};

struct FrameHeader
{
    uint16_t wCmdVer;
    uint16_t wCmdType;
    uint16_t wLoginParam;
    uint32_t nPayloadLen;
    uint32_t nCrc;
};

// True when pData holds at least 4 bytes and starts with the magic.
bool HasFrameMagic(const char* pData, int nLen);

// Reads the header fields of a buffer of at least kFrameHeaderLen bytes.
FrameHeader ReadFrameHeader(const char* pData);

// Builds one frame of nBufLen bytes (header included) into pBuf. Returns 0,
// or -1 leaving pBuf untouched when nBufLen is below the header length.
int BuildFrame(char* pBuf, unsigned int nBufLen, const char* pPayload, uint16_t wCmdType, uint16_t wLoginParam);

} // namespace orlin
