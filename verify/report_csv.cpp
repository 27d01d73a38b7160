#include "verify/report_csv.h"

#include "verify/report_format.h"

namespace {

constexpr int kSampleDecimals = 4;
constexpr int kLevelDecimals = 2;

}  // namespace

void WriteCsv(std::ostream& out, const VerifyReport& report) {
  out << "frame,found_sample,offset_samples,check_ok,level_dbfs\n";
  for (const FoundFrame& frame : report.frames) {
    out << frame.number << ',' << FormatFixed(frame.foundSample, kSampleDecimals) << ','
        << FormatFixed(frame.offsetSamples, kSampleDecimals) << ',' << (frame.checkOk ? 1 : 0)
        << ',' << FormatFixed(frame.levelDbfs, kLevelDecimals) << '\n';
  }
}
