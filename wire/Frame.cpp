#include "Frame.h"

#include "Crc32.h"

#include <string.h>

namespace orlin {
namespace {

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Put16(char* p, uint16_t v)
{
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>(v >> 8);
}
void Put32(char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

} // namespace

bool HasFrameMagic(const char* pData, int nLen)
{
    return pData && nLen >= 4 && memcmp(pData, kFrameMagic, 4) == 0;
}

FrameHeader ReadFrameHeader(const char* pData)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pData);
    FrameHeader h;
    h.wCmdVer = Get16(p + 4);
    h.wCmdType = Get16(p + 6);
    h.wLoginParam = Get16(p + 8);
    h.nPayloadLen = Get32(p + 12);
    h.nCrc = Get32(p + 16);
    return h;
}

int BuildFrame(char* pBuf, unsigned int nBufLen, const char* pPayload, uint16_t wCmdType, uint16_t wLoginParam)
{
    if (nBufLen < kFrameHeaderLen)
        return -1;
    memset(pBuf, 0, nBufLen);
    const unsigned int nPayload = nBufLen - kFrameHeaderLen;
    uint32_t crc = 0;
    if (nPayload != 0) {
        memcpy(pBuf + kFrameHeaderLen, pPayload, nPayload);
        crc = Crc32(pBuf + kFrameHeaderLen, nPayload);
    }
    memcpy(pBuf, kFrameMagic, 4);
    Put16(pBuf + 4, 0);
    Put16(pBuf + 6, wCmdType);
    Put16(pBuf + 8, wLoginParam);
    Put16(pBuf + 10, 0);
    Put32(pBuf + 12, nPayload);
    Put32(pBuf + 16, crc);
    return 0;
}

} // namespace orlin
