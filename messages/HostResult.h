// Reply data built from what the host put into a result structure; shared by
// the command families that answer with the host's result.
#pragma once

#include "IOrlinOwner.h"
#include "OrlinTypes.h"
#include "wire/Keys.h"

#include <QJsonArray>
#include <QJsonObject>

#include <stdint.h>

namespace orlin {

// {codeKey: iCode, "msg": szMsg up to its terminator}. Most commands carry
// the code under "code"; "upgrade" carries it under "ret_type".
QJsonObject BuildCmdResultData(const __SCLOUD_CMD_RESULT& r, QLatin1String codeKey = key::Code);

// One JSON value per record of a host array, in array order. A count of 0 or
// less, or a null array, gives an empty array: a host's null pointer must
// not bring the process down.
template <class T, class ToJson>
QJsonArray HostArray(const T* p, int32_t nCount, ToJson toJson)
{
    QJsonArray arr;
    if (nCount > 0 && p) {
        for (int32_t i = 0; i < nCount; ++i)
            arr.append(toJson(p[i]));
    }
    return arr;
}

// Hands a host array back through OnFreeMemory once it has been read; only
// arrays that were read (positive count, not null) go back.
void GiveBack(IOrlinOwner* pOwner, void* p, int32_t nCount);

} // namespace orlin
