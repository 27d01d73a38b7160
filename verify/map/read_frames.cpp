#include "verify/map/read_frames.h"

#include <algorithm>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "verify/map/live_status.h"
#include "verify/map/reader_tuning.h"

namespace {

// --follow's status lines: the frames read since the last look are handed on, and a line goes
// out for every 10 s of audio read. The fault lines already out count as events.
class StatusFeed {
 public:
  StatusFeed(int rate, TimecodeType type, const VerifyOptions& options)
      : m_options(options), m_quiet(options) {
    m_quiet.onFault = nullptr;
    m_quiet.onStatus = nullptr;
    if (!options.onStatus) return;
    const double frame = kFrameSamples * static_cast<double>(rate) / TimecodeRate(type);
    m_status.emplace(rate, frame, options.onStatus);
    m_options.onFault = [this, told = options.onFault](const std::string& line) {
      m_status->Event();
      if (told) told(line);
    };
  }
  StatusFeed(const StatusFeed&) = delete;
  StatusFeed& operator=(const StatusFeed&) = delete;

  // The options the reader is to use: its fault lines pass through here.
  const VerifyOptions& Options() const { return m_options; }
  // The options of the readers of other channels, whose faults are summed up at the end only.
  const VerifyOptions& Quiet() const { return m_quiet; }

  void Look(FrameReader& reader) {
    if (!m_status) return;
    const std::vector<GridFrame>& frames = reader.Frames();
    for (; m_fed < frames.size(); ++m_fed) {
      const GridFrame& frame = frames[m_fed];
      if (!frame.unreadable) m_status->Frame(frame.raw.number, frame.at[0], reader.FrameLength());
    }
    m_status->Heard(reader.Length());
  }

 private:
  VerifyOptions m_options;
  VerifyOptions m_quiet;
  std::optional<LiveStatus> m_status;
  std::size_t m_fed = 0;
};

// A block of samples of each of a few channels: one channel comes straight from the file, more
// are taken apart from the interleaved frames.
class ChannelBlocks {
 public:
  ChannelBlocks(SoundFile& file, const std::vector<Choice>& choices)
      : m_file(file),
        m_block(choices.size() == 1 ? BlockFor(file) : file.BlockFrames(BlockFor(file))) {
    for (const Choice& choice : choices) m_channels.push_back(choice.channel);
    if (m_channels.size() > 1) {
      m_interleaved.resize(m_block * static_cast<std::size_t>(file.Channels()));
    }
  }

  std::size_t BlockFrames() const { return m_block; }

  // Fills into[i] with channel i's next block; returns the frames read, 0 at the end.
  std::size_t Read(std::vector<std::vector<float>>& into) {
    if (m_channels.size() == 1) return m_file.ReadChannel(m_channels[0], into[0].data(), m_block);
    const std::size_t got = m_file.Read(m_interleaved.data(), m_block);
    const auto width = static_cast<std::size_t>(m_file.Channels());
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
      const auto c = static_cast<std::size_t>(m_channels[i]);
      for (std::size_t f = 0; f < got; ++f) into[i][f] = m_interleaved[f * width + c];
    }
    return got;
  }

 private:
  SoundFile& m_file;
  std::size_t m_block;
  std::vector<int> m_channels;
  std::vector<float> m_interleaved;
};

}  // namespace

// Every frame of each chosen channel, each burst placed to a fraction of a sample, in one pass
// over the recording; counts the samples of the first channel that are no number into the
// report. Only the first channel's faults are told as they come.
std::vector<ChannelFrames> ReadFrames(SoundFile& file, const std::vector<Choice>& choices,
                                      const VerifyOptions& given, VerifyProgress* progress,
                                      VerifyReport& report) {
  const int rate = file.SampleRate();
  StatusFeed status(rate, choices[0].type, given);
  const VerifyOptions& options = status.Options();
  std::vector<std::unique_ptr<FrameReader>> readers;
  for (const Choice& choice : choices) {
    readers.push_back(
        std::make_unique<FrameReader>(rate, choice, readers.empty() ? options : status.Quiet()));
  }
  FrameReader& first = *readers[0];
  ChannelBlocks blocks(file, choices);
  // The next block is read on the other core while this one is decoded.
  std::vector<std::vector<float>> samples(choices.size(), std::vector<float>(blocks.BlockFrames()));
  std::vector<std::vector<float>> ahead = samples;
  auto readAhead = [&] {
    return std::async(std::launch::async, [&blocks, &ahead] { return blocks.Read(ahead); });
  };
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
  std::size_t got = blocks.Read(samples);
  while (got > 0 && !(options.readLimit && first.Length() >= *options.readLimit)) {
    std::future<std::size_t> next = readAhead();
    toldAt = report.nonFiniteCount;
    // A piece at a time, so the samples the check brought in are still in the cache when they
    // are pushed; integer samples are always numbers.
    for (std::size_t done = 0; done < got; done += kPieceFrames) {
      const std::size_t piece = std::min(kPieceFrames, got - done);
      for (std::size_t i = 0; i < readers.size(); ++i) {
        float* x = samples[i].data() + done;
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
    got = next.get();
    samples.swap(ahead);
  }
  std::vector<ChannelFrames> read;
  for (std::size_t i = 0; i < readers.size(); ++i) {
    readers[i]->Finish();
    read.push_back({choices[i].channel, std::move(readers[i]->Frames()), readers[i]->Stretch()});
  }
  return read;
}
