#include "WylnTopic.h"
#include "Wyln.h"

#include <cstring>

namespace wyln {

namespace {

// Strict UTF-8 check (no overlong forms, no surrogates, <= U+10FFFF).
bool isUtf8(const unsigned char* p, size_t n)
{
    size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned cp;
        if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
        else return false;
        if (i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000))
            return false;
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

} // namespace

bool isValidId(const char* s)
{
    if (!s)
        return false;
    int len = boundedIdLength(s);
    if (len <= 0)
        return false;
    for (int i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '/' || c == '+' || c == '#' || c < 0x20 || c == 0x7F)
            return false;
    }
    return isUtf8(reinterpret_cast<const unsigned char*>(s), static_cast<size_t>(len));
}

bool isValidId(const std::string& s)
{
    return s.size() <= WYLN_ID_MAX_LEN && s.find('\0') == std::string::npos && isValidId(s.c_str());
}

std::string p2pTopic(const std::string& target, const std::string& sender)
{
    std::string t;
    t.reserve(5 + target.size() + sender.size());
    t.append("p2p/").append(target).append("/").append(sender);
    return t;
}

std::string inboxFilter(const std::string& id)
{
    return "p2p/" + id + "/+";
}

std::string presenceTopic(const std::string& id)
{
    return "presence/" + id;
}

bool senderFromTopic(const char* topic, const std::string& ownId, std::string& sender)
{
    if (!topic)
        return false;
    size_t n = std::strlen(topic);
    size_t prefix = 4 + ownId.size() + 1;
    if (n <= prefix || std::strncmp(topic, "p2p/", 4) != 0
        || ownId.compare(0, ownId.size(), topic + 4, ownId.size()) != 0 || topic[prefix - 1] != '/')
        return false;
    std::string s(topic + prefix, n - prefix);
    if (!isValidId(s))
        return false;
    sender.swap(s);
    return true;
}

bool copyIdToBuffer(const std::string& id, char* buffer)
{
    if (!buffer || id.size() > WYLN_ID_MAX_LEN)
        return false;
    std::memcpy(buffer, id.data(), id.size());
    buffer[id.size()] = '\0';
    return true;
}

int boundedIdLength(const char* buffer)
{
    if (!buffer)
        return -1;
    // Reads byte by byte so that a shorter string is never read past its NUL.
    for (int i = 0; i < WYLN_ID_BUFFER; ++i)
        if (buffer[i] == '\0')
            return i;
    return -1;
}

} // namespace wyln
