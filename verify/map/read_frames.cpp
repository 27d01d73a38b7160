#include "verify/map/read_frames.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "verify/map/live_map.h"
#include "verify/map/live_status.h"
#include "verify/map/reader_tuning.h"
#include "verify/read/block_reader.h"

namespace {

// --follow's lines: each event of the playback map once the frames after it settle it, and a
// status line for every 10 s of audio read with the drift the map measures. The events and
// fault lines already out count as events in the status line.
class StatusFeed {
 public:
  StatusFeed(int rate, const Choice& choice, const VerifyOptions& options)
      : m_options(options), m_quiet(options) {
    m_quiet.onFault = nullptr;
    m_quiet.onStatus = nullptr;
    m_quiet.onEvent = nullptr;
    if (options.onStatus) {
      m_status.emplace(rate, options.onStatus);
      m_options.onFault = [this, told = options.onFault](const std::string& line) {
        m_status->Event();
        if (told) told(line);
      };
    }
    if (!options.onStatus && !options.onEvent) return;
    // The status line's drift is the map's too, so the map is kept for it alone if need be.
    std::function<void(const PlaybackEvent&)> tell;
    if (options.onEvent) {
      tell = [this, told = options.onEvent](const PlaybackEvent& e) {
        if (m_status) m_status->Event();
        told(e);
      };
    }
    m_map.emplace(rate, choice, options, std::move(tell));
  }
  StatusFeed(const StatusFeed&) = delete;
  StatusFeed& operator=(const StatusFeed&) = delete;

  // The options the reader is to use: its fault lines pass through here.
  const VerifyOptions& Options() const { return m_options; }
  // The options of the readers of other channels, whose faults are summed up at the end only.
  const VerifyOptions& Quiet() const { return m_quiet; }

  // `complete`: the recording was read to its end, so every event left is told.
  void Look(FrameReader& reader, bool complete = false) {
    if (!m_map) return;
    m_map->Look(reader.Frames(), reader.Stretch(), complete);
    if (!m_status) return;
    const std::vector<GridFrame>& frames = reader.Frames();
    for (; m_fed < frames.size(); ++m_fed) {
      if (!frames[m_fed].unreadable) m_status->Frame(frames[m_fed].raw.number);
    }
    if (const std::optional<double> drift = m_map->DriftPpm()) m_status->Drift(*drift);
    m_status->Heard(reader.Length());
  }

 private:
  VerifyOptions m_options;
  VerifyOptions m_quiet;
  std::optional<LiveStatus> m_status;
  std::optional<LiveMap> m_map;
  std::size_t m_fed = 0;
};

}  // namespace

// Every frame of each chosen channel, each burst placed to a fraction of a sample, in one pass
// over the recording; counts the samples of the first channel that are no number into the
// report. Only the first channel's faults are told as they come.
std::vector<ChannelFrames> ReadFrames(SoundFile& file, const std::vector<Choice>& choices,
                                      const VerifyOptions& given, VerifyProgress* progress,
                                      VerifyReport& report) {
  const int rate = file.SampleRate();
  StatusFeed status(rate, choices[0], given);
  const VerifyOptions& options = status.Options();
  std::vector<std::unique_ptr<FrameReader>> readers;
  for (const Choice& choice : choices) {
    readers.push_back(
        std::make_unique<FrameReader>(rate, choice, readers.empty() ? options : status.Quiet()));
  }
  FrameReader& first = *readers[0];
  std::vector<int> channels;
  for (const Choice& choice : choices) channels.push_back(choice.channel);
  BlockReader blocks(file, channels, BlockFor(file), kPieceFrames);
  // Samples that are no number are set to 0 and counted; the first in each block is told.
  std::int64_t toldAt = 0;
  auto clearNonFinite = [&](float* x, std::size_t n, std::int64_t first) {
    ClearNonFinite(x, n, [&](std::size_t i) {
      const std::int64_t at = first + static_cast<std::int64_t>(i);
      if (report.nonFiniteSamples.size() < kKeptNonFinite) report.nonFiniteSamples.push_back(at);
      if (report.nonFiniteCount++ == toldAt && options.onFault) {
        options.onFault("a sample that is no number at " + Seconds(static_cast<double>(at), rate) +
                        ", " + SampleText(static_cast<double>(at)));
      }
    });
  };
  while (!(options.readLimit && first.Length() >= *options.readLimit)) {
    const std::size_t got = blocks.Next();
    if (got == 0) break;
    toldAt = report.nonFiniteCount;
    // A piece at a time, so the samples the check brought in are still in the cache when they
    // are pushed; integer samples are always numbers.
    for (std::size_t done = 0; done < got; done += kPieceFrames) {
      const std::size_t piece = std::min(kPieceFrames, got - done);
      for (std::size_t i = 0; i < readers.size(); ++i) {
        if (const std::int16_t* stored = blocks.Stored(done)) {
          readers[i]->Push(stored, piece);
          continue;
        }
        float* x = blocks.Piece(i, done, piece);
        if (!file.OnlyNumbers() && i == 0) clearNonFinite(x, piece, first.Length());
        if (!file.OnlyNumbers() && i > 0) ClearNonFinite(x, piece, [](std::size_t) {});
        readers[i]->Push(x, piece);
      }
      status.Look(first);
    }
    if (progress != nullptr) {
      progress->Update(static_cast<std::uint64_t>(first.Length()),
                       static_cast<std::uint64_t>(std::max<std::int64_t>(file.Frames(), 0)));
    }
  }
  std::vector<ChannelFrames> read;
  for (auto& reader : readers) reader->Finish();
  status.Look(first, true);
  for (std::size_t i = 0; i < readers.size(); ++i) {
    read.push_back({choices[i].channel, std::move(readers[i]->Frames()), readers[i]->Stretch()});
  }
  return read;
}
