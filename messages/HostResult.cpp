#include "messages/HostResult.h"

namespace orlin {

JsonText CmdResultData(const __SCLOUD_CMD_RESULT& r, QLatin1String codeKey)
{
    JsonText w;
    w.BeginObject();
    if (codeKey < key::Msg)
        w.Int(codeKey, r.iCode).String(key::Msg, r.szMsg);
    else
        w.String(key::Msg, r.szMsg).Int(codeKey, r.iCode);
    w.EndObject();
    return w;
}

JsonText TaskResultData(const __SCLOUD_TASK_RESULT& r)
{
    JsonText w;
    w.BeginObject().Int(key::Code, r.iCode).String(key::Msg, r.szMsg).Int(key::TaskId, r.iTaskId).EndObject();
    return w;
}

void GiveBack(IOrlinOwner* pOwner, void* p, int32_t nCount)
{
    if (nCount > 0 && p)
        pOwner->OnFreeMemory(p);
}

} // namespace orlin
