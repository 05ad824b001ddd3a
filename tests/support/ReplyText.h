// Byte-exact views of a reply's text.
#pragma once

#include <string>

namespace testsupport {

// The body of a compact reply, exactly as sent. Keys ascend, so the text is
// {"body":<body>,"header":{...}}; "" when the text has another shape.
inline std::string BodyText(const std::string& reply)
{
    const std::string open = "{\"body\":";
    const size_t end = reply.rfind(",\"header\":{");
    if (reply.compare(0, open.size(), open) != 0 || end == std::string::npos)
        return std::string();
    return reply.substr(open.size(), end - open.size());
}

} // namespace testsupport
