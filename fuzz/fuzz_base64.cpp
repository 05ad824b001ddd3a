// Base64Decode on any text, and the codec's round trips:
//  - text that decodes re-encodes to text that decodes to the same bytes;
//  - any bytes encode to text that decodes back to them.
#include "wire/Base64.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

using namespace orlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return -1;
    const char* text = reinterpret_cast<const char*>(data);
    const int n = static_cast<int>(size);

    // Exactly the documented room, so that any write past it is caught.
    std::vector<unsigned char> out(static_cast<size_t>(n) / 4 * 3);
    const int got = Base64Decode(text, n, out.data());
    if (got < 0 || got > static_cast<int>(out.size()))
        abort();
    if (got > 0) {
        std::vector<char> again(static_cast<size_t>((got + 2) / 3 * 4));
        if (Base64Encode(out.data(), got, again.data(), static_cast<int>(again.size())) != static_cast<int>(again.size()))
            abort();
        std::vector<unsigned char> back(again.size() / 4 * 3);
        if (Base64Decode(again.data(), static_cast<int>(again.size()), back.data()) != got ||
            memcmp(back.data(), out.data(), static_cast<size_t>(got)) != 0)
            abort();
    }

    // The input as bytes.
    std::vector<char> enc(size / 3 * 4 + 4);
    const int m = Base64Encode(data, n, enc.data(), static_cast<int>(enc.size()));
    if (m != static_cast<int>((size + 2) / 3 * 4))
        abort();
    if (m > 0) {
        std::vector<unsigned char> dec(static_cast<size_t>(m) / 4 * 3);
        if (Base64Decode(enc.data(), m, dec.data()) != n || memcmp(dec.data(), data, size) != 0)
            abort();
    }
    return 0;
}
