// A wave file as a sampler's editor writes it through libsndfile: 16-bit PCM with an instrument
// chunk holding its loops.
#pragma once

#include <sndfile.h>

#include <string>
#include <utility>
#include <vector>

// Writes frames (interleaved, `channels` wide) at 44100 Hz with these forward loops, each given
// as libsndfile takes it: the first frame and the frame after the loop. False on failure.
inline bool WriteInstrumentWave(const std::string& path, int channels,
                                const std::vector<short>& frames,
                                const std::vector<std::pair<unsigned, unsigned>>& loops) {
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* sound = sf_open(path.c_str(), SFM_WRITE, &info);
  if (sound == nullptr) return false;
  SF_INSTRUMENT instrument{};
  instrument.basenote = 60;
  instrument.loop_count = static_cast<int>(loops.size());
  for (std::size_t i = 0; i < loops.size(); ++i) {
    instrument.loops[i] = {SF_LOOP_FORWARD, loops[i].first, loops[i].second, 0};
  }
  const auto count = static_cast<sf_count_t>(frames.size());
  const bool written =
      sf_command(sound, SFC_SET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE &&
      sf_write_short(sound, frames.data(), count) == count;
  return sf_close(sound) == 0 && written;
}

// The same with samples of any libsndfile subtype (SF_FORMAT_PCM_24, SF_FORMAT_FLOAT, ...),
// given as doubles from -1 to 1.
inline bool WriteInstrumentWave(const std::string& path, int channels, int subtype,
                                const std::vector<double>& frames,
                                const std::vector<std::pair<unsigned, unsigned>>& loops) {
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
  const auto count = static_cast<sf_count_t>(frames.size() / static_cast<std::size_t>(channels));
  const bool written =
      sf_command(sound, SFC_SET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE &&
      sf_writef_double(sound, frames.data(), count) == count;
  return sf_close(sound) == 0 && written;
}
