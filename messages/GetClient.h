// "getClient": the service's list of clients.
#pragma once

#include "OrlinTypes.h"

#include <QJsonObject>

namespace orlin {

// The request's "data": each filter only under its condition (non-empty
// texts, nStatus not -1, the first nTypeCount types when pTypes is given).
QJsonObject BuildGetClientFilter(const char* szId, const char* szName, int nTypeCount,
                                 const __EM_CLOUD_MODULE_TYPE* pTypes, int nStatus, const char* szIp);

// One record of an inbound list into a zeroed client structure. Texts are
// full width: one that fills its field carries no terminator.
void ReadClientRecord(const QJsonObject& record, __SCLOUD_CLIENT_INFO& client);

} // namespace orlin
