#include "wire/JsonScan.h"

#include "wire/FieldLength.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <string.h>

namespace orlin {
namespace {

// Deeper than the parser accepts: the text is refused there anyway.
constexpr size_t kMaxDepth = 2048;
// Objects up to this many keys are searched linearly.
constexpr size_t kLinearKeys = 16;

// One member of an object: where its key's text lies (quotes included) and
// where its value ends (the comma or brace after it; 0 until seen).
struct Member
{
    std::string_view key;
    size_t nKeyBegin;
    size_t nKeyEnd;
    size_t nValueEnd;
};

// An object that names some key more than once, and where it closes.
struct RepeatingObject
{
    std::vector<Member> members;
    size_t nClose;
};

// One open container of the scanned text and its members so far.
struct Level
{
    bool bObject;
    std::vector<Member> members;                         // every member, in order
    std::unordered_map<std::string_view, size_t> index;  // once past kLinearKeys
    bool bRepeated = false;

    bool Has(std::string_view key) const
    {
        if (members.size() <= kLinearKeys) {
            for (const Member& m : members)
                if (m.key == key)
                    return true;
            return false;
        }
        return index.count(key) != 0;
    }

    void Add(const Member& m)
    {
        members.push_back(m);
        if (members.size() == kLinearKeys + 1) {
            for (size_t i = 0; i < members.size(); ++i)
                index.emplace(members[i].key, i);
        } else if (members.size() > kLinearKeys + 1) {
            index.emplace(m.key, members.size() - 1);
        }
    }

    void EndValue(size_t at)
    {
        if (bObject && !members.empty() && members.back().nValueEnd == 0)
            members.back().nValueEnd = at;
    }
};

struct Scan
{
    std::vector<RepeatingObject> objects;
    bool bBadKey = false;  // a key the parser cannot decode
};

bool IsPlain(std::string_view raw)
{
    for (char c : raw) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\\' || u < 0x20 || u >= 0x80)
            return false;
    }
    return true;
}

// A key as the parser compares it. Plain ASCII keys are their own bytes;
// any other key is decoded by the parser itself and kept as ASCII bytes when
// it decodes to ASCII, else as 0xFF followed by its UTF-16 units, so that
// keys differing only in unpaired surrogates stay apart.
std::string_view Normalised(std::string_view raw, std::deque<std::string>& store, bool& bBad)
{
    if (IsPlain(raw))
        return raw;
    QByteArray wrapped;
    wrapped.reserve(static_cast<int>(raw.size()) + 4);
    wrapped.append("[\"", 2).append(raw.data(), static_cast<int>(raw.size())).append("\"]", 2);
    const QJsonDocument doc = QJsonDocument::fromJson(wrapped);
    if (doc.isNull()) {
        bBad = true;
        return raw;
    }
    const QString s = doc.array().at(0).toString();
    bool ascii = true;
    for (QChar c : s)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii) {
        store.push_back(s.toLatin1().toStdString());
    } else {
        std::string units(1, '\xFF');
        units.append(reinterpret_cast<const char*>(s.utf16()), static_cast<size_t>(s.size()) * 2);
        store.push_back(std::move(units));
    }
    return store.back();
}

// Walks the text once. Returns true when some object repeats a key; with
// bAll it goes on to the end and records every such object in scan.
bool ScanText(const char* pText, size_t nLen, bool bAll, Scan& scan)
{
    std::vector<Level> stack;
    std::deque<std::string> store;
    bool bExpectKey = false;
    bool bRepeated = false;
    for (size_t i = 0; i < nLen; ++i) {
        switch (pText[i]) {
        case '{':
        case '[':
            if (stack.size() >= kMaxDepth)
                return bRepeated;
            stack.push_back(Level{pText[i] == '{', {}, {}});
            bExpectKey = stack.back().bObject;
            break;
        case '}':
        case ']':
            if (!stack.empty()) {
                Level& f = stack.back();
                f.EndValue(i);
                if (f.bRepeated)
                    scan.objects.push_back(RepeatingObject{std::move(f.members), i});
                stack.pop_back();
            }
            bExpectKey = false;
            break;
        case ',':
            bExpectKey = !stack.empty() && stack.back().bObject;
            if (bExpectKey)
                stack.back().EndValue(i);
            break;
        case '"': {
            // The closing quote is the first one not escaped by an odd run
            // of backslashes.
            const size_t start = i + 1;
            size_t from = start;
            size_t end;
            for (;;) {
                const char* q = from < nLen ? FindByte(pText + from, nLen - from, '"') : nullptr;
                if (!q)
                    return bRepeated;
                end = static_cast<size_t>(q - pText);
                size_t backslashes = 0;
                while (end - backslashes > start && pText[end - backslashes - 1] == '\\')
                    ++backslashes;
                if (backslashes % 2 == 0)
                    break;
                from = end + 1;
            }
            if (bExpectKey) {
                Level& f = stack.back();
                const Member m{Normalised(std::string_view(pText + start, end - start), store, scan.bBadKey), i,
                               end + 1, 0};
                if (f.Has(m.key)) {
                    bRepeated = f.bRepeated = true;
                    if (!bAll)
                        return true;
                }
                f.Add(m);
                bExpectKey = false;
            }
            i = end;
            break;
        }
        default:
            break;
        }
    }
    return bRepeated;
}

// Which members of an object Qt's parser keeps: the parser itself decides,
// on a copy of the object that has the same keys and each member's index as
// its value. Its choice depends on the keys alone (it keeps the last member
// of a key in objects of up to 16 members, and whatever its sort leaves in
// larger ones), and scalar values are never leaked.
bool KeptMembers(const char* pText, const RepeatingObject& o, std::vector<bool>& kept)
{
    QByteArray skeleton("{");
    for (size_t k = 0; k < o.members.size(); ++k) {
        if (k)
            skeleton.append(',');
        const Member& m = o.members[k];
        skeleton.append(pText + m.nKeyBegin, static_cast<int>(m.nKeyEnd - m.nKeyBegin))
            .append(':')
            .append(QByteArray::number(static_cast<qulonglong>(k)));
    }
    skeleton.append('}');
    const QJsonDocument doc = QJsonDocument::fromJson(skeleton);
    if (!doc.isObject())
        return false;
    kept.assign(o.members.size(), false);
    const QJsonObject obj = doc.object();
    for (auto it = obj.constBegin(); it != obj.constEnd(); ++it) {
        const double k = it.value().toDouble(-1);
        if (k < 0 || k >= static_cast<double>(kept.size()))
            return false;
        kept[static_cast<size_t>(k)] = true;
    }
    return true;
}

// An object rewritten with only the members the parser keeps.
struct Rewrite
{
    size_t nBegin;  // the first member's key
    size_t nEnd;    // the closing brace
    std::vector<std::pair<size_t, size_t>> kept;
};

// Copies [nFrom, nTo) of the text, rewriting the objects in it; rewrites
// inside members left out are skipped.
void Emit(const char* pText, size_t nFrom, size_t nTo, const std::vector<Rewrite>& rewrites, size_t& k,
          QByteArray& out)
{
    size_t at = nFrom;
    while (k < rewrites.size() && rewrites[k].nBegin < nTo) {
        const Rewrite& r = rewrites[k++];
        if (r.nBegin < at)
            continue;
        out.append(pText + at, static_cast<int>(r.nBegin - at));
        for (size_t m = 0; m < r.kept.size(); ++m) {
            if (m)
                out.append(',');
            Emit(pText, r.kept[m].first, r.kept[m].second, rewrites, k, out);
        }
        at = r.nEnd;
    }
    out.append(pText + at, static_cast<int>(nTo - at));
}

QJsonDocument Parse(const QByteArray& text)
{
    return QJsonDocument::fromJson(text);
}

} // namespace

bool HasRepeatedKey(const char* pText, size_t nLen)
{
    Scan scan;
    return ScanText(pText, nLen, false, scan);
}

QJsonDocument ParseJson(const char* pText, size_t nLen)
{
    const int n = static_cast<int>(nLen);
    Scan scan;
    if (!ScanText(pText, nLen, true, scan))
        return Parse(QByteArray::fromRawData(pText, n));
    // A key the parser cannot decode makes the whole text malformed.
    if (scan.bBadKey)
        return QJsonDocument();

    std::vector<Rewrite> rewrites;
    std::vector<std::pair<size_t, size_t>> leftOutKeys;
    for (const RepeatingObject& o : scan.objects) {
        std::vector<bool> kept;
        if (o.members.empty() || !KeptMembers(pText, o, kept))
            return QJsonDocument();
        Rewrite r{o.members.front().nKeyBegin, o.nClose, {}};
        for (size_t k = 0; k < o.members.size(); ++k) {
            const Member& m = o.members[k];
            if (m.nValueEnd <= m.nKeyEnd || m.nValueEnd > nLen)
                return QJsonDocument();
            if (kept[k])
                r.kept.emplace_back(m.nKeyBegin, m.nValueEnd);
            else
                leftOutKeys.emplace_back(m.nKeyBegin, m.nKeyEnd);
        }
        rewrites.push_back(std::move(r));
    }
    std::sort(rewrites.begin(), rewrites.end(), [](const Rewrite& a, const Rewrite& b) { return a.nBegin < b.nBegin; });
    std::sort(leftOutKeys.begin(), leftOutKeys.end());

    // The text with the keys of the members left out replaced by fresh ones
    // has the same grammar as the text itself and no repeated key: if the
    // parser takes it, the text is well-formed.
    QByteArray renamed;
    renamed.reserve(n + static_cast<int>(leftOutKeys.size()) * 16);
    size_t at = 0;
    for (size_t k = 0; k < leftOutKeys.size(); ++k) {
        renamed.append(pText + at, static_cast<int>(leftOutKeys[k].first - at));
        renamed.append("\"\\u0000").append(QByteArray::number(static_cast<qulonglong>(k))).append('"');
        at = leftOutKeys[k].second;
    }
    renamed.append(pText + at, static_cast<int>(nLen - at));
    if (HasRepeatedKey(renamed.constData(), static_cast<size_t>(renamed.size())) || Parse(renamed).isNull())
        return QJsonDocument();
    renamed.clear();
    renamed.squeeze();

    // Well-formed: each repeating object is written again from the members
    // the parser keeps, which gives the parser's document without ever
    // handing it a repeated key.
    QByteArray kept;
    kept.reserve(n);
    size_t k = 0;
    Emit(pText, 0, nLen, rewrites, k, kept);
    return Parse(kept);
}

} // namespace orlin
