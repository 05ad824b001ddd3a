// Wi-Fi configuration: "config_wifi_info" names the network to join, its
// password and the printer's address in it; the host's code and text are the
// answer. The password is user data: nothing here logs it, and the handler
// logs nothing at all.
#pragma once

#include "OrlinTypes.h"
#include "wire/Envelope.h"

#include <QJsonObject>

namespace orlin {

// All zero unless "data" is an object; the texts are copied full width
// (a text of the field's size or longer carries no terminator).
__SCLOUD_CONFIG_WIFI_INFO ReadConfigWifiInfo(const QJsonObject& body, const SCloudMsgHeader& hdr);

} // namespace orlin
