// The report as one JSON object (--json), for scripts: the findings under fixed keys.
#pragma once

#include <ostream>

#include "verify/map/verify_report.h"

void WriteJson(std::ostream& out, const VerifyReport& report);
