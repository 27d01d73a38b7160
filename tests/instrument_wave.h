// A wave file as a sampler's editor writes it through libsndfile: an instrument chunk holding
// its loops, in front of 16-bit PCM samples or samples of any other subtype.
#pragma once

#include <sndfile.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

using InstrumentLoops = std::vector<std::pair<unsigned, unsigned>>;

// Opens path for writing at 44100 Hz with these forward loops, each given as libsndfile takes
// it: the first frame and the frame after the loop; write then writes the frames. False on
// failure.
inline bool WriteInstrument(const std::string& path, int channels, int subtype,
                            const InstrumentLoops& loops,
                            const std::function<bool(SNDFILE*)>& write) {
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | subtype;
  SNDFILE* sound = sf_open(path.c_str(), SFM_WRITE, &info);
  if (sound == nullptr) return false;
  SF_INSTRUMENT instrument{};
  instrument.basenote = 60;
  instrument.loop_count = static_cast<int>(loops.size());
  for (std::size_t i = 0; i < loops.size(); ++i) {
    instrument.loops[i] = {SF_LOOP_FORWARD, loops[i].first, loops[i].second, 0};
  }
  const bool written =
      sf_command(sound, SFC_SET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE &&
      write(sound);
  return sf_close(sound) == 0 && written;
}

// 16-bit PCM frames (interleaved, `channels` wide).
inline bool WriteInstrumentWave(const std::string& path, int channels,
                                const std::vector<short>& frames, const InstrumentLoops& loops) {
  const auto count = static_cast<sf_count_t>(frames.size() / static_cast<std::size_t>(channels));
  return WriteInstrument(path, channels, SF_FORMAT_PCM_16, loops, [&](SNDFILE* sound) {
    return sf_writef_short(sound, frames.data(), count) == count;
  });
}

// Frames of any subtype (SF_FORMAT_PCM_24, SF_FORMAT_FLOAT, ...), given from -1 to 1.
inline bool WriteInstrumentWave(const std::string& path, int channels, int subtype,
                                const std::vector<double>& frames, const InstrumentLoops& loops) {
  const auto count = static_cast<sf_count_t>(frames.size() / static_cast<std::size_t>(channels));
  return WriteInstrument(path, channels, subtype, loops, [&](SNDFILE* sound) {
    return sf_writef_double(sound, frames.data(), count) == count;
  });
}
