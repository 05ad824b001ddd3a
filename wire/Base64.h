// Base64 of RFC 4648: alphabet A-Z a-z 0-9 + /, "=" padding, no line breaks.
#pragma once

namespace orlin {

// Writes exactly ((nInLen + 2) / 3) * 4 characters (no terminating zero) and
// returns that count. Writes nothing and returns 0 when nOutCap is smaller,
// or when nInLen is negative or its encoding would not fit an int.
int Base64Encode(const unsigned char* pIn, int nInLen, char* pOut, int nOutCap);

// Returns 0 when nInLen is not a positive multiple of 4, or when any
// character is outside the alphabet other than one or two "=" ending the
// text; pOut may then hold partial output. Otherwise writes
// nInLen / 4 * 3 bytes minus the number of trailing "=" and returns that
// count. pOut must hold nInLen / 4 * 3 bytes.
int Base64Decode(const char* pIn, int nInLen, unsigned char* pOut);

} // namespace orlin
