// Reply data written from what the host put into a result structure; shared
// by the command families that answer with the host's result. Reply objects
// are written key by key in ascending key order, the order of the wire.
#pragma once

#include "IOrlinOwner.h"
#include "OrlinTypes.h"
#include "wire/JsonText.h"
#include "wire/Keys.h"

#include <stdint.h>

namespace orlin {

// {codeKey: iCode, "msg": szMsg up to its terminator}. Most commands carry
// the code under "code"; "upgrade" carries it under "ret_type".
JsonText CmdResultData(const __SCLOUD_CMD_RESULT& r, QLatin1String codeKey = key::Code);

// {"code", "msg", "task_id"}: the reply of "add_print_task" and "set_task_param".
JsonText TaskResultData(const __SCLOUD_TASK_RESULT& r);

// key: [ {record}, ... ], one object per record of a host array, in array
// order; writeRecord(w, record) writes the members. A count of 0 or less, or
// a null array, gives an empty array: a host's null pointer must not bring
// the process down.
template <class T, class WriteRecord>
void WriteHostArray(JsonText& w, QLatin1String key, const T* p, int32_t nCount, WriteRecord writeRecord)
{
    w.BeginArray(key);
    if (nCount > 0 && p) {
        for (int32_t i = 0; i < nCount; ++i) {
            w.BeginObject();
            writeRecord(w, p[i]);
            w.EndObject();
        }
    }
    w.EndArray();
}

// Hands a host array back through OnFreeMemory once it has been read; only
// arrays that were read (positive count, not null) go back.
void GiveBack(IOrlinOwner* pOwner, void* p, int32_t nCount);

} // namespace orlin
