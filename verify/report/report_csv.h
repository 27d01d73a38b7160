// Every frame found, one CSV row each (--csv), for a spreadsheet or a plotting script.
#pragma once

#include <ostream>

#include "verify/map/verify_report.h"

void WriteCsv(std::ostream& out, const VerifyReport& report);
