// The summary vrellok-verify prints on stdout: one fact a line, read at a glance.
#pragma once

#include <ostream>

#include "verify/map/verify_report.h"

void WriteSummary(std::ostream& out, const VerifyReport& report);
