// Device information: "load_device_info" is answered with the main board's
// and the PC software's versions and three lists of plug-in cards.
#pragma once

#include "OrlinTypes.h"
#include "wire/Envelope.h"
#include "wire/JsonText.h"

#include <QJsonObject>

namespace orlin {

// The first record of "data" (FirstDataRecord) gives "info_type".
__SCLOUD_LOAD_DEVICE_INFO ReadLoadDeviceInfo(const QJsonObject& body, const SCloudMsgHeader& hdr);

// {"db_info"?, "eb_info"?, "hb_info"?, "mb_info", "soft_info"}: a card list
// is present only when its count is positive (and its array not null).
JsonText LoadDeviceInfoData(const __SCLOUD_LOAD_DEVICE_INFO_RESULT& r);

} // namespace orlin
