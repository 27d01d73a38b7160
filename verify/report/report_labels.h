// The frames as an Audacity label track (--labels): imported over the recording, each frame's
// number sits on the stretch of audio it occupies.
#pragma once

#include <ostream>

#include "verify/map/verify_report.h"

void WriteLabels(std::ostream& out, const VerifyReport& report);
