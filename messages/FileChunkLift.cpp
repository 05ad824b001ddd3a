// The inbound fast path of "file_transfer": a large chunk text is cut out of
// the received bytes instead of going through a JSON document.
#include "messages/FileTransfer.h"

#include "transport/WylnOwner.h"
#include "wire/Envelope.h"
#include "wire/FieldLength.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"

#include <QJsonDocument>

#include <stdint.h>
#include <string.h>

namespace orlin {
namespace {

// The chunk object's "data", where the handler will read it.
bool HoldsMarker(const QJsonObject& msg, QLatin1String marker)
{
    QJsonObject chunk;
    if (!FirstDataRecord(msg.value(key::Body).toObject(), chunk))
        return false;
    const auto it = chunk.constFind(key::Data);
    return it != chunk.constEnd() && it.value().isString() && it.value().toString() == marker;
}

// True when no byte of [p, p + n) is a control character, a backslash or
// outside ASCII. Sixteen bytes at a time where SSE2 is there, else eight.
bool IsPlainAscii(const char* p, size_t n)
{
#ifdef ORLIN_HAVE_SSE2
    // As signed bytes, everything outside ASCII is negative, so one "less
    // than 0x20" finds it together with the control characters.
    const __m128i space = _mm_set1_epi8(0x20), tilde = _mm_set1_epi8(0x7E), backslash = _mm_set1_epi8('\\');
    __m128i bad = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        bad = _mm_or_si128(bad, _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(w, space), _mm_cmpgt_epi8(w, tilde)),
                                             _mm_cmpeq_epi8(w, backslash)));
    }
    if (_mm_movemask_epi8(bad) != 0)
        return false;
#else
    const uint64_t ones = 0x0101010101010101ull;
    const uint64_t highs = 0x8080808080808080ull;
    uint64_t bad = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        memcpy(&w, p + i, 8);
        const uint64_t below20 = (w - ones * 0x20) & ~w;          // high bit set where a byte < 0x20
        const uint64_t above7e = (w + ones * (0x7F - 0x7E)) | w;   // where a byte > 0x7E
        const uint64_t x = w ^ (ones * '\\');
        const uint64_t backslash = (x - ones) & ~x;               // where a byte is '\\'
        bad |= below20 | above7e | backslash;
    }
    if (bad & highs)
        return false;
#endif
    for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c < 0x20 || c > 0x7E || c == '\\')
            return false;
    }
    return true;
}

// Beyond this the plain parser's own limits were not checked against.
constexpr int kLiftMaxChars = 128 * 1024 * 1024;

} // namespace

bool FindLiftableText(const char* pText, int nLen, int* pBegin, int* pEnd)
{
    static const char kPattern[] = "\"data\":\"";
    const size_t nPattern = sizeof(kPattern) - 1;
    const char* const end = pText + nLen;
    const char* cur = pText;
    while (static_cast<size_t>(end - cur) > nPattern) {
        const char* hit = FindByte(cur, static_cast<size_t>(end - cur), '"');
        if (!hit || static_cast<size_t>(end - hit) <= nPattern)
            return false;
        if (memcmp(hit, kPattern, nPattern) != 0) {
            cur = hit + 1;
            continue;
        }
        const char* const s = hit + nPattern;
        const char* const q = FindByte(s, static_cast<size_t>(end - s), '"');
        if (!q)
            return false;
        if (q - s >= kLiftMinChars) {
            if (q - s > kLiftMaxChars || !IsPlainAscii(s, static_cast<size_t>(q - s)))
                return false;
            *pBegin = static_cast<int>(s - pText);
            *pEnd = static_cast<int>(q - pText);
            return true;
        }
        cur = q + 1;
    }
    return false;
}

} // namespace orlin

using namespace orlin;

// Parsing an 8 MiB chunk text costs more than hashing it. The text is cut
// out and the rest parsed twice, with the text replaced by two different
// markers. Cutting one plain string token out changes neither the structure
// nor the validity of the document, so when the chunk's "data" holds the
// first marker in one document and the second in the other, the value the
// plain parse would give there is exactly the text cut out; any other
// outcome (duplicate keys, another place, another message) takes the plain
// path.
bool CWylnOwner::RecvFileChunk(const char* pText, int nLen, int& result)
{
    int nBegin = 0;
    int nEnd = 0;
    if (!m_bLiftFileChunks || nLen < kLiftMinChars || !FindLiftableText(pText, nLen, &nBegin, &nEnd))
        return false;

    QByteArray first;
    first.reserve(nLen - (nEnd - nBegin) + 1);
    first.append(pText, nBegin).append('A').append(pText + nEnd, nLen - nEnd);
    QByteArray second = first;
    second[nBegin] = 'B';
    const QJsonDocument doc = QJsonDocument::fromJson(first);
    const QJsonDocument doc2 = QJsonDocument::fromJson(second);
    if (!doc.isObject() || !doc2.isObject())
        return false;

    // Only a message that RouteMessage hands to HandleFileTransfer.
    const QJsonObject msg = doc.object();
    const auto hit = msg.constFind(key::Header);
    if (hit == msg.constEnd())
        return false;
    SCloudMsgHeader hdr;
    ParseHeader(hit.value().toObject(), hdr);
    const QJsonObject body = msg.value(key::Body).toObject();
    const auto fit = body.constFind(key::Func);
    if (hdr.nMsgType != MsgRequest || fit == body.constEnd() || fit.value().toString() != func::FileTransfer)
        return false;
    if (!HoldsMarker(msg, QLatin1String("A")) || !HoldsMarker(doc2.object(), QLatin1String("B")))
        return false;

    const LiftedText lifted = {pText + nBegin, nEnd - nBegin};
    result = HandleFileChunk(*this, body, hdr, &lifted);
    return true;
}
