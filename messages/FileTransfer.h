// "file_transfer": print files in Base64 chunks, each with the MD5 of its
// text, in both directions.
#pragma once

#include "wire/Envelope.h"

#include <QJsonObject>

class CWylnOwner;

namespace orlin {

// Base64 characters per chunk, and the file bytes they carry: chunk
// boundaries fall on whole 4-character groups, so each chunk is encoded on
// its own just before it is sent.
constexpr int kChunkChars = 8388608;
constexpr int kChunkFileBytes = kChunkChars / 4 * 3;

// Inbound chunk texts shorter than this go through the JSON document as
// they are; longer ones are lifted out of the message before parsing.
constexpr int kLiftMinChars = 4096;

// Finds the text that the inbound fast path lifts out: the value of the
// first "data":"..." whose text is at least kLiftMinChars long. The text
// must consist of printable ASCII without backslashes, so that it reads the
// same raw as through the parser. [*pBegin, *pEnd) is the text without its
// quotes. False when there is none.
bool FindLiftableText(const char* pText, int nLen, int* pBegin, int* pEnd);

// A chunk's text taken straight from the received bytes.
struct LiftedText
{
    const char* p;
    int n;
};

// One inbound "file_transfer" command, answered through sink. pLifted, when
// given, is the chunk's text that the fast path (FileChunkLift.cpp) cut out
// of the message; the plain path passes null.
int HandleFileChunk(CWylnOwner& sink, const QJsonObject& body, const SCloudMsgHeader& hdr, const LiftedText* pLifted);

} // namespace orlin
