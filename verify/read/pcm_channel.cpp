#include "verify/read/pcm_channel.h"

#include <sndfile.h>

#include <algorithm>
#include <type_traits>

#include "verify/read/sample_format.h"
#include "verify/read/verify_error.h"
#include "wave/wave_header.h"

namespace {

// Interleaved reads of a file of many channels go through a buffer of this many frames.
constexpr std::size_t kInterleavedFrames = std::size_t{1} << 14;
// libsndfile's floats are full scale 1.0; a 16-bit sample's step is 1/32768 of it.
constexpr auto kLsbPerFullScale = static_cast<float>(kPcm16FullScale);

}  // namespace

PcmChannel::PcmChannel(const std::string& path, int channel) : m_channel(channel) {
  SF_INFO info{};
  m_file = sf_open(path.c_str(), SFM_READ, &info);
  if (m_file == nullptr) throw VerifyError(path + ": " + sf_strerror(nullptr));
  if (channel < 0 || channel >= info.channels || !info.seekable) {
    sf_close(m_file);
    throw VerifyError(path + ": cannot be compared sample by sample");
  }
  m_channels = info.channels;
  m_rate = info.samplerate;
  m_frames = info.frames;
  m_shorts = SampleFormatOf(info.format).shorts;
  m_position = 0;
}

PcmChannel::~PcmChannel() {
  sf_close(m_file);
}

template <typename T, typename ReadFn>
std::size_t PcmChannel::ReadAny(std::int64_t at, T* out, std::size_t n, ReadFn read) {
  if (at < 0 || at >= m_frames || n == 0) return 0;
  if (at != m_position) {
    if (sf_seek(m_file, at, SEEK_SET) != at) return 0;
    m_position = at;
  }
  n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(n), m_frames - at));
  std::size_t got = 0;
  if (m_channels == 1) {
    got = static_cast<std::size_t>(read(out, static_cast<sf_count_t>(n)));
  } else {
    std::vector<T>& interleaved = [this]() -> std::vector<T>& {
      if constexpr (std::is_same_v<T, float>)
        return m_interleavedFloats;
      else
        return m_interleavedShorts;
    }();
    interleaved.resize(kInterleavedFrames * static_cast<std::size_t>(m_channels));
    while (got < n) {
      const std::size_t want = std::min(kInterleavedFrames, n - got);
      const auto piece =
          static_cast<std::size_t>(read(interleaved.data(), static_cast<sf_count_t>(want)));
      for (std::size_t i = 0; i < piece; ++i) {
        out[got + i] = interleaved[i * static_cast<std::size_t>(m_channels) +
                                   static_cast<std::size_t>(m_channel)];
      }
      got += piece;
      if (piece < want) break;
    }
  }
  m_position = got == n ? at + static_cast<std::int64_t>(got) : -1;
  return got;
}

std::size_t PcmChannel::ReadShorts(std::int64_t at, std::int16_t* out, std::size_t n) {
  return ReadAny(at, out, n, [this](std::int16_t* to, sf_count_t frames) {
    return sf_readf_short(m_file, to, frames);
  });
}

std::size_t PcmChannel::ReadLsb(std::int64_t at, float* out, std::size_t n) {
  const std::size_t got = ReadAny(at, out, n, [this](float* to, sf_count_t frames) {
    return sf_readf_float(m_file, to, frames);
  });
  for (std::size_t i = 0; i < got; ++i) out[i] *= kLsbPerFullScale;
  return got;
}
