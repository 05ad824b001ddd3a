#include "messages/HostResult.h"

#include "wire/JsonRead.h"

namespace orlin {

QJsonObject BuildCmdResultData(const __SCLOUD_CMD_RESULT& r, QLatin1String codeKey)
{
    QJsonObject data;
    data.insert(codeKey, r.iCode);
    data.insert(key::Msg, FieldText(r.szMsg));
    return data;
}

void GiveBack(IOrlinOwner* pOwner, void* p, int32_t nCount)
{
    if (nCount > 0 && p)
        pOwner->OnFreeMemory(p);
}

} // namespace orlin
