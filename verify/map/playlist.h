// A recording of several TC.wav files played one after the other, each made with its own DTMF
// ID: the frames are split where the IDs their check symbols give change, and each file is
// judged on its own (its frames, its faults, its latency) with the gap between it and the file
// before. With TC.wav in hand (one --reference per file), each is also held against its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "verify/map/reference_facts.h"
#include "verify/map/verify_report.h"

// Judges the recording at `path` against the references: one file, or every file of a
// playlist into report.files with the whole report's fault lists made of theirs. ratio is the
// recording's rate over the timecode's. The DTMF ID a frame's check symbol gives is in
// FoundFrame::checkId.
void JudgePlayedFiles(VerifyReport& report, const std::string& path,
                      const std::vector<ReferenceFacts>& references, double ratio,
                      std::optional<double> tolerance);
