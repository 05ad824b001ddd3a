// "get_task_list_info": the printing side's waiting and printed tasks.
#pragma once

#include "IOrlinOwner.h"
#include "OrlinTypes.h"
#include "wire/JsonText.h"

#include <QJsonObject>

#include <vector>

namespace orlin {

// The reply's data from the host's list. Reads at most the counted entries
// and stops at a null array; hands every non-null array back through
// pOwner->OnFreeMemory as soon as it has been read: the print modes of entry
// 0, 1, ..., then the waiting-task array, then the history array.
JsonText BuildTaskListData(const __SCLOUD_GET_TASK_LIST_INFO_RESULT& list, IOrlinOwner* pOwner);

// The arrays that the response path allocates for the host. Kept apart from
// the result structure so that a host writing into that structure during
// its callback cannot make the library free the wrong memory.
class CTaskListArrays
{
public:
    CTaskListArrays() = default;
    ~CTaskListArrays();
    CTaskListArrays(const CTaskListArrays&) = delete;
    CTaskListArrays& operator=(const CTaskListArrays&) = delete;

    // Zero-filled storage for n elements of size nSize; null when it cannot
    // be had. Released with this object.
    void* Allocate(size_t n, size_t nSize);

private:
    std::vector<void*> m_vecBlocks;
};

// Reads a response's data into list (zero-filled by the caller), allocating
// the arrays in arrays. A counted array that cannot be allocated stays null
// with its count kept, as for a "task_info" that is not an array.
void ReadTaskListData(const QJsonObject& data, __SCLOUD_GET_TASK_LIST_INFO_RESULT& list, CTaskListArrays& arrays);

} // namespace orlin
