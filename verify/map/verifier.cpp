#include "verify/map/verifier.h"

#include <string>
#include <vector>

#include "timecode_format/timecode_layout.h"
#include "verify/map/channel_choice.h"
#include "verify/map/event_place.h"
#include "verify/map/frame_judge.h"
#include "verify/map/playlist.h"
#include "verify/map/read_frames.h"
#include "verify/map/reader_tuning.h"
#include "verify/read/sound_file.h"

namespace {

// The TC.wav files given, whose facts fix what the recording would otherwise have to tell, and
// the frames expected; throws VerifyError where the options cannot hold.
std::vector<ReferenceFacts> TakeStatedFacts(VerifyOptions& options, VerifyReport& report) {
  std::vector<ReferenceFacts> references;
  if (!options.referencePath.empty()) {
    // What was played fixes everything the recording would otherwise have to tell; files of a
    // playlist each have their own DTMF ID.
    const ReferenceFacts played = ReadReference(options.referencePath);
    if (!options.type) options.type = played.type;
    if (!options.method) options.method = played.method;
    if (!options.dtmfId && options.laterReferences.empty()) options.dtmfId = played.dtmfId;
    report.rangeStated = true;
    report.judgedFirst = 1;
    report.judgedLast = played.lastFrame;
    references.push_back(played);
    for (const std::string& later : options.laterReferences) {
      references.push_back(ReadReference(later));
    }
  }
  if (options.expectedFirst || options.expectedLast) {
    report.rangeStated = true;
    report.judgedFirst = options.expectedFirst.value_or(1);
    report.judgedLast = options.expectedLast.value_or(report.judgedLast);
    if (report.judgedFirst < 1 || report.judgedLast < report.judgedFirst) {
      throw VerifyError("the frames expected are FIRST-LAST, from 1 on");
    }
  }
  if (options.toleranceSamples && !(*options.toleranceSamples > 0.0)) {
    throw VerifyError("the tolerance is a number of samples above 0");
  }
  return references;
}

}  // namespace

VerifyReport VerifyRecording(const std::string& path, const VerifyOptions& given,
                             VerifyProgress* progress) {
  VerifyOptions options = given;
  VerifyReport report;
  const std::vector<ReferenceFacts> references = TakeStatedFacts(options, report);

  SoundFile file(path, options.raw);
  if (file.SampleRate() < kMinSampleRate) {
    throw VerifyError(path + ": sample rate " + std::to_string(file.SampleRate()) +
                      " Hz is below 8000 Hz");
  }
  CheckOptions(options, file.Channels(), path);
  const std::vector<Choice> choices = Choose(file, options, path);
  // A stream keeps what it gives (up to its bound), so the events can be placed from its samples
  // once more as from a file's.
  file.Rewind(SoundFile::Replay::kKeep);
  std::vector<ChannelFrames> read = ReadFrames(file, choices, options, progress, report);
  if (!AnyReadable(read[0].frames)) throw VerifyError(path + ": no timecode found");

  report.file = path;
  report.type = choices[0].type;
  report.sampleRate = file.SampleRate();
  report.channels = file.Channels();
  report.framesDeclared = file.Frames();
  report.framesRead = file.FramesRead();
  report.lengthUndeclared = file.LengthUndeclared();
  report.stopReason = file.StopReason();
  const VerifyReport common = report;
  Judge(report, read[0], options);
  // Headerless samples cannot be read again to be held against TC.wav.
  const double ratio = static_cast<double>(report.sampleRate) / TimecodeRate(report.type);
  JudgePlayedFiles(report, options.raw ? std::string() : path, references, ratio,
                   options.toleranceSamples);
  // Every other channel that carries the timecode is judged the same way; its latency against
  // this channel's is the offset between the two.
  for (std::size_t i = 1; i < read.size(); ++i) {
    if (!AnyReadable(read[i].frames)) continue;
    VerifyReport other = common;
    Judge(other, read[i], options);
    report.otherChannels.push_back(SumUp(other, report));
  }
  PlaceEvents(report, file, read[0].channel);
  return report;
}

// A TC.wav's type, method and DTMF ID show in its first few frames.
constexpr std::int64_t kFactFrames = 8;

ReferenceFacts ReadReference(const std::string& path) {
  VerifyOptions head;
  head.readLimit = kFactFrames * kFrameSamples;
  const VerifyReport first = VerifyRecording(path, head);
  ReferenceFacts facts{path, first.type, first.method, first.dtmfId, 0, first.framesDeclared};
  if (first.sampleRate == TimecodeRate(first.type) && first.framesDeclared > 0) {
    facts.lastFrame = static_cast<int>(first.framesDeclared / kFrameSamples);
    return facts;
  }
  const VerifyReport whole = VerifyRecording(path, {});
  facts.lastFrame = whole.lastFrame;
  facts.samples = whole.framesRead;
  return facts;
}
