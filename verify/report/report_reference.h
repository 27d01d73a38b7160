// What the summary and the JSON say of a recording held against TC.wav: the bit-exact
// comparison and the loops, beside the rest of the report.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "verify/map/verify_report.h"

// The DTMF ID, or each file's where several were played one after the other: "1, 2 (one per
// file)".
std::string DtmfIdText(const VerifyReport& report);

// The summary's lines for them, each "name   value" padded to `nameWidth`; nothing where the
// recording was not held against TC.wav.
void WriteReferenceLines(std::ostream& out, const VerifyReport& report, std::size_t nameWidth);

// One line of a loop as the summary and --follow say it: "loop: left at TC.wav sample 297912
// (point 2, exact), resumed at 123880 (point 1, exact), 3 times".
std::string LoopText(const LoopFinding& loop);

// The JSON's fields for them: "bit_exact", "bit_exact_check", "loops", "loops_not_taken".
std::vector<std::pair<const char*, std::string>> ReferenceJsonFields(const VerifyReport& report);
