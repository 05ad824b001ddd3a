// Two MD5 digests (RFC 1321) computed side by side on one core.
//
// MD5's 64 steps per block are one chain of dependent additions, so a core
// idles most of its execution units on one stream. Two independent streams
// interleaved step by step run in little more than the time of one: a
// chunk's text and the file's bytes hashed together cost about 0.6 of
// hashing them one after the other.
#pragma once

#include "Md5.h"

#include <stddef.h>
#include <stdint.h>

namespace orlin {

class Md5Pair
{
public:
    Md5Pair();

    // Adds nA bytes at pA to the first digest and nB bytes at pB to the
    // second (either length may be 0).
    void Update(const void* pA, size_t nA, const void* pB, size_t nB);
    // Writes the digest of lane 0 or 1 and starts that lane afresh.
    void Final(int nLane, unsigned char (&digest)[kMd5Len]);

private:
    struct Lane
    {
        uint32_t h[4];
        uint64_t nBytes;
        unsigned char buf[64];
        size_t nFill;
    };
    static void Reset(Lane& l);
    Lane m_lanes[2];
};

} // namespace orlin
