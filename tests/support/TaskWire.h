// Byte-level views of the texts that the task families send, and access to
// the session's task registry.
#pragma once

#include "ReplyText.h"
#include "Session.h"

#include <string>
#include <utility>
#include <vector>

namespace taskwire {

const std::string kFail = "Recv json data handle fail,errcode=";

using testsupport::BodyText;

inline std::string HeaderValue(const std::string& text, const char* key)
{
    const QJsonObject msg = testsupport::Parse(text);
    return msg["header"][QLatin1String(key)].toVariant().toString().toStdString();
}

// {"func", "data"} from the sender src.
inline std::string CommandFrom(const char* src, const char* func, const QJsonValue& data)
{
    QJsonObject body{{"func", QString::fromUtf8(func)}, {"data", data}};
    return testsupport::Message(testsupport::Header(0, "1", "m-1", QString::fromUtf8(src)), body);
}

// The registry as (peer, [(task id, key)...]).
typedef std::vector<std::pair<std::string, std::vector<std::pair<int, int>>>> Registry;

inline Registry Entries(const std::vector<SCloudTaskRecord>& v)
{
    Registry r;
    for (const SCloudTaskRecord& rec : v) {
        r.emplace_back(rec.strPeerId, std::vector<std::pair<int, int>>());
        for (const SCloudTaskPair& p : rec.vecPairs)
            r.back().second.emplace_back(p.iTaskId, p.iKey);
    }
    return r;
}

inline Registry Snapshot(Orlin& o)
{
    __SCLOUD_LINK_CONTEXT& link = OrlinTestAccess::Link(o);
    CLinkLock lock(link);
    return Entries(link.vecTaskRecord);
}

inline std::vector<SCloudTaskRecord> Records(const Registry& r)
{
    std::vector<SCloudTaskRecord> out;
    for (const auto& rec : r) {
        out.push_back(SCloudTaskRecord{rec.first, {}});
        for (const auto& p : rec.second)
            out.back().vecPairs.push_back(SCloudTaskPair{p.first, p.second});
    }
    return out;
}

inline std::string TargetId(Orlin& o)
{
    CLinkLock lock(OrlinTestAccess::Link(o));
    return OrlinTestAccess::Link(o).strTargetId;
}

} // namespace taskwire
