#include "wire/JsonScan.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>

#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <string.h>

namespace orlin {
namespace {

// Deeper than the parser accepts: the text is refused there anyway.
constexpr size_t kMaxDepth = 2048;
// Objects up to this many keys are searched linearly.
constexpr size_t kLinearKeys = 16;

// One open container of the scanned text and the keys seen in it so far.
struct Level
{
    bool bObject;
    std::vector<std::string_view> keys;
    std::unordered_set<std::string_view> manyKeys;

    // False when the key was there already.
    bool Insert(std::string_view key)
    {
        if (manyKeys.empty()) {
            for (std::string_view k : keys)
                if (k == key)
                    return false;
            keys.push_back(key);
            if (keys.size() > kLinearKeys) {
                manyKeys.insert(keys.begin(), keys.end());
                keys.clear();
            }
            return true;
        }
        return manyKeys.insert(key).second;
    }
};

// A key with escapes or bytes beyond ASCII is compared as the parser will
// see it; the parser itself decodes it, so both agree on every input.
std::string_view Normalised(std::string_view raw, std::deque<std::string>& store)
{
    bool plain = true;
    for (char c : raw)
        plain = plain && c != '\\' && static_cast<unsigned char>(c) < 0x80;
    if (plain)
        return raw;
    QByteArray wrapped;
    wrapped.reserve(static_cast<int>(raw.size()) + 4);
    wrapped.append("[\"", 2).append(raw.data(), static_cast<int>(raw.size())).append("\"]", 2);
    store.push_back(QJsonDocument::fromJson(wrapped).array().at(0).toString().toUtf8().toStdString());
    return store.back();
}

} // namespace

bool HasRepeatedKey(const char* pText, size_t nLen)
{
    std::vector<Level> stack;
    std::deque<std::string> store;
    bool bExpectKey = false;
    for (size_t i = 0; i < nLen; ++i) {
        switch (pText[i]) {
        case '{':
        case '[':
            if (stack.size() >= kMaxDepth)
                return false;
            stack.push_back(Level{pText[i] == '{', {}, {}});
            bExpectKey = stack.back().bObject;
            break;
        case '}':
        case ']':
            if (!stack.empty())
                stack.pop_back();
            bExpectKey = false;
            break;
        case ',':
            bExpectKey = !stack.empty() && stack.back().bObject;
            break;
        case '"': {
            // The closing quote is the first one not escaped by an odd run
            // of backslashes.
            const size_t start = i + 1;
            size_t from = start;
            size_t end;
            for (;;) {
                const void* q = from < nLen ? memchr(pText + from, '"', nLen - from) : nullptr;
                if (!q)
                    return false;
                end = static_cast<size_t>(static_cast<const char*>(q) - pText);
                size_t backslashes = 0;
                while (end - backslashes > start && pText[end - backslashes - 1] == '\\')
                    ++backslashes;
                if (backslashes % 2 == 0)
                    break;
                from = end + 1;
            }
            if (bExpectKey) {
                const std::string_view key = Normalised(std::string_view(pText + start, end - start), store);
                if (!stack.back().Insert(key))
                    return true;
                bExpectKey = false;
            }
            i = end;
            break;
        }
        default:
            break;
        }
    }
    return false;
}

} // namespace orlin
