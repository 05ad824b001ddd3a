// Print parameters: "load_param" is answered with the host's print schemes
// and canvas sizes; the reply text is also logged.
#pragma once

#include "OrlinTypes.h"
#include "wire/Envelope.h"
#include "wire/JsonText.h"

#include <QJsonObject>

namespace orlin {

// The first record of "data" (FirstDataRecord) gives "param_type".
__SCLOUD_LOAD_PARAM ReadLoadParam(const QJsonObject& body, const SCloudMsgHeader& hdr);

// {"canvas": [{"canvas_h", "canvas_w"}...], "print_scheme": [{"print_scheme_id",
// "print_scheme_name"}...]}; both arrays always present, floats widened to
// double.
JsonText LoadParamData(const __SCLOUD_LOAD_PARAM_RESULT& r);

} // namespace orlin
