#include "looppatch/wave_samples.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "looppatch/loop_table.h"
#include "looppatch/play_stream.h"
#include "wave/wave_header.h"

namespace {

constexpr std::uint64_t kMsPerSecond = 1000;
constexpr std::uint64_t kSecondsPerMinute = 60;
constexpr std::uint64_t kMinutesPerHour = 60;

}  // namespace

WaveFacts ReadWaveFacts(CFile& file) {
  WaveFacts facts;
  facts.name = std::filesystem::path(file.GetFilePath()).filename().string();
  std::uint8_t header[kWaveHeaderBytes] = {};
  file.Seek(0, CFile::begin);
  if (file.Read(header, sizeof header) != sizeof header) return facts;
  facts.sampleRate = GetLe32(header + kSampleRateOffset);
  facts.channels = GetLe16(header + kChannelsOffset);
  if (facts.channels <= 0) return facts;
  const std::uint64_t bytesPerFrame =
      static_cast<std::uint64_t>(facts.channels) * kPcm16SampleBytes;
  facts.frames = (SampleDataEnd(file) - kWaveHeaderBytes) / bytesPerFrame;
  return facts;
}

std::string FrameTime(std::uint64_t frame, std::uint32_t sampleRate) {
  const std::uint64_t ms = sampleRate == 0 ? 0 : frame * kMsPerSecond / sampleRate;
  const std::uint64_t seconds = ms / kMsPerSecond;
  const std::uint64_t minutes = seconds / kSecondsPerMinute;
  char text[48];
  std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%03llu",
                static_cast<unsigned long long>(minutes / kMinutesPerHour),
                static_cast<unsigned long long>(minutes % kMinutesPerHour),
                static_cast<unsigned long long>(seconds % kSecondsPerMinute),
                static_cast<unsigned long long>(ms % kMsPerSecond));
  return text;
}

std::string FactsLine(const WaveFacts& facts) {
  const std::string frames = std::to_string(facts.frames);
  return facts.name + ": " + std::to_string(facts.sampleRate) + " Hz, " +
         std::to_string(facts.channels) + (facts.channels == 1 ? " channel, " : " channels, ") +
         frames + " frames (" + FrameTime(facts.frames, facts.sampleRate) + "), points up to " +
         frames;
}

bool SampleReader::Open(const std::string& path, int channels, std::uint64_t frames) {
  SampleReader opened;
  opened.m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (opened.m_fd < 0 || channels <= 0) return false;
  opened.m_channels = channels;
  opened.m_frames = frames;
  *this = std::move(opened);
  return true;
}

SampleReader SampleReader::Duplicate() const {
  SampleReader copy;
  if (m_fd < 0) return copy;
  copy.m_fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
  copy.m_channels = m_channels;
  copy.m_frames = m_frames;
  return copy;
}

SampleReader::SampleReader(SampleReader&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_channels(other.m_channels), m_frames(other.m_frames) {}

SampleReader& SampleReader::operator=(SampleReader&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = std::exchange(other.m_fd, -1);
    m_channels = other.m_channels;
    m_frames = other.m_frames;
  }
  return *this;
}

SampleReader::~SampleReader() {
  if (m_fd >= 0) ::close(m_fd);
}

std::size_t SampleReader::ReadBytes(std::uint64_t byteOffset, void* buffer,
                                    std::size_t count) const {
  auto* at = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(m_fd, at + done, count - done,
                              static_cast<off_t>(kWaveHeaderBytes + byteOffset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool SampleReader::IsHole(std::uint64_t byteOffset, std::size_t count) const {
  const auto start = static_cast<off_t>(kWaveHeaderBytes + byteOffset);
  // Past the end of a file cut short there is no hole but nothing at all: the read says so.
  struct stat info {};
  if (::fstat(m_fd, &info) != 0 || info.st_size < start + static_cast<off_t>(count)) return false;
  const off_t data = ::lseek(m_fd, start, SEEK_DATA);
  // ENXIO: no data after start at all; any other failure says nothing, so the bytes are read.
  if (data < 0) return errno == ENXIO;
  return data >= start + static_cast<off_t>(count);
}

std::vector<std::int16_t> SampleReader::Read(std::uint64_t first, std::uint64_t count) const {
  if (m_fd < 0 || first >= m_frames) return {};
  count = std::min(count, m_frames - first);
  const std::size_t frameBytes = static_cast<std::size_t>(m_channels) * kPcm16SampleBytes;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count) * frameBytes);
  bytes.resize(ReadBytes(first * frameBytes, bytes.data(), bytes.size()) / frameBytes * frameBytes);
  std::vector<std::int16_t> samples(bytes.size() / kPcm16SampleBytes);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(GetLe16(&bytes[i * kPcm16SampleBytes]));
  }
  return samples;
}

namespace {

// Up to `frames` frames of the stream as samples.
std::vector<std::int16_t> Take(PlayStream stream, std::uint64_t frames) {
  if (!stream.Valid()) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames) * stream.FrameBytes());
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const std::size_t n = stream.Read(bytes.data() + filled, bytes.size() - filled);
    if (n == 0) break;
    filled += n;
  }
  std::vector<std::int16_t> samples(filled / kPcm16SampleBytes);
  std::memcpy(samples.data(), bytes.data(), filled);  // Read gave the machine's own order
  return samples;
}

}  // namespace

std::vector<std::int16_t> PlayFromFrames(const SampleReader& reader, std::uint64_t from,
                                         std::uint64_t maxFrames) {
  return Take(PlayStream::From(reader, from), maxFrames);
}

std::vector<std::int16_t> LoopFrames(const SampleReader& reader, std::uint64_t start,
                                     std::uint64_t end, unsigned rounds) {
  const PlayStream stream = PlayStream::Loop(reader, start, end);
  return Take(stream, stream.PassFrames() * rounds);
}
