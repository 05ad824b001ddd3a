// Machine actions: "motor_run", "clean", "load_ink", "run_machine" and "sig".
// None of them answers or logs; each turns its data into a command structure
// for one host callback.
#pragma once

#include "OrlinTypes.h"
#include "wire/Envelope.h"

#include <QJsonObject>

namespace orlin {

// Defaults (iDir 1, fSpeed 1.0, fAccLen 1.0, the rest 0) unless "data" is an
// object; only then is sVer taken from the header.
__SCLOUD_MOTOR_RUN ReadMotorRun(const QJsonObject& body, const SCloudMsgHeader& hdr);

// The first record of "data" (FirstDataRecord). An empty array leaves every
// default, sVer 0 included.
__SCLOUD_CLEAN ReadClean(const QJsonObject& body, const SCloudMsgHeader& hdr);          // iHeadNum -1
__SCLOUD_LOAD_INK ReadLoadInk(const QJsonObject& body, const SCloudMsgHeader& hdr);     // iHeadNum -1
__SCLOUD_RUN_MACHINE ReadRunMachine(const QJsonObject& body, const SCloudMsgHeader& hdr);

// False, and cmd untouched, when "data" is not an object: "sig" is refused
// with 28 without asking the host.
bool ReadSig(const QJsonObject& body, const SCloudMsgHeader& hdr, __SCLOUD_SIG& cmd);

} // namespace orlin
