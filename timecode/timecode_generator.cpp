#include "timecode/timecode_generator.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "platform/trace.h"

namespace {

constexpr const char* kOutputName = "TC.wav";

constexpr const char* kCreatedText = "TC.wav Created";
constexpr const char* kOutOfRangeText = "ERROR-> out of range";
constexpr const char* kDtmfIdOutOfRangeText = "DTMF ID#-> out of range";
constexpr const char* kCannotOpenText = "ERROR-> cannot open output file";
constexpr const char* kCannotWriteText = "ERROR-> cannot write output file";

// What goes with each timecode type. The messages name the banks in capitals, the files on disk
// are lower case.
struct TimecodeType {
  const char* bankFile;
  const char* notFoundText;
  const char* tooShortText;
  int sampleRate;
};

constexpr TimecodeType kSlowType = {"dtmf36.bin", "ERROR-> DTMF36.bin not found",
                                    "ERROR-> DTMF36.bin is too short", 36015};
constexpr TimecodeType kFastType = {"dtmf44.bin", "ERROR-> DTMF44.bin not found",
                                    "ERROR-> DTMF44.bin is too short", 44100};

// The canonical 44-byte RIFF/WAVE header of a 16-bit mono PCM file.
constexpr std::size_t kHeaderBytes = 44;
constexpr std::size_t kRiffIdOffset = 0;
constexpr std::size_t kRiffSizeOffset = 4;
constexpr std::size_t kWaveIdOffset = 8;
constexpr std::size_t kFmtIdOffset = 12;
constexpr std::size_t kFmtSizeOffset = 16;
constexpr std::size_t kFormatOffset = 20;
constexpr std::size_t kChannelsOffset = 22;
constexpr std::size_t kSampleRateOffset = 24;
constexpr std::size_t kByteRateOffset = 28;
constexpr std::size_t kBlockAlignOffset = 32;
constexpr std::size_t kBitsOffset = 34;
constexpr std::size_t kDataIdOffset = 36;
constexpr std::size_t kDataSizeOffset = 40;

constexpr std::uint32_t kRiffPreambleBytes = 8;  // "RIFF" and the size field itself
constexpr std::uint32_t kFmtChunkBytes = 16;
constexpr std::uint16_t kPcmFormat = 1;
constexpr std::uint16_t kMonoChannels = 1;
constexpr std::uint16_t kBytesPerSample = 2;
constexpr std::uint16_t kBitsPerSample = 16;

void PutLe16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  PutLe16(at, static_cast<std::uint16_t>(value));
  PutLe16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

void PutTag(std::uint8_t* at, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(tag[i]);
}

// Both size fields come from the length the file really has, read back after the data.
void FillHeader(std::uint8_t* header, std::uint32_t fileLength, std::uint32_t sampleRate) {
  PutTag(header + kRiffIdOffset, "RIFF");
  PutLe32(header + kRiffSizeOffset, fileLength - kRiffPreambleBytes);
  PutTag(header + kWaveIdOffset, "WAVE");
  PutTag(header + kFmtIdOffset, "fmt ");
  PutLe32(header + kFmtSizeOffset, kFmtChunkBytes);
  PutLe16(header + kFormatOffset, kPcmFormat);
  PutLe16(header + kChannelsOffset, kMonoChannels);
  PutLe32(header + kSampleRateOffset, sampleRate);
  PutLe32(header + kByteRateOffset, sampleRate * kBytesPerSample);
  PutLe16(header + kBlockAlignOffset, kBytesPerSample);
  PutLe16(header + kBitsOffset, kBitsPerSample);
  PutTag(header + kDataIdOffset, "data");
  PutLe32(header + kDataSizeOffset, fileLength - static_cast<std::uint32_t>(kHeaderBytes));
}

}  // namespace

std::string TimecodeGenerator::Generate(const TimecodeSettings& settings) {
  TRACE("timecode=%d\n", settings.timecode);
  const TimecodeType& type = settings.timecode == 1 ? kSlowType : kFastType;
  switch (m_toneBank.Load(type.bankFile)) {
    case ToneBank::LoadResult::notFound:
      return type.notFoundText;
    case ToneBank::LoadResult::tooShort:
      return type.tooShortText;
    case ToneBank::LoadResult::loaded:
      break;
  }
  TRACE("method=%d\n", settings.method);
  if (settings.sampleLength < kMinSampleLength || settings.sampleLength > kMaxSampleLength) {
    return kOutOfRangeText;
  }
  if (settings.dtmfId < kMinDtmfId || settings.dtmfId > kMaxDtmfId) return kDtmfIdOutOfRangeText;

  m_fd = ::open(kOutputName, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (m_fd < 0) return kCannotOpenText;
  const bool written = WriteOutput(settings, type.sampleRate);
  const bool closed = ::close(m_fd) == 0;
  m_fd = -1;
  if (!written || !closed) {
    ::unlink(kOutputName);
    return kCannotWriteText;
  }
  return kCreatedText;
}

bool TimecodeGenerator::WriteOutput(const TimecodeSettings& settings, int sampleRate) {
  m_zeroBlock.fill(0);
  m_sink.Begin(m_fd);
  // A zero placeholder holds the header's place until the file's length is known.
  m_sink.Put(m_zeroBlock.data(), kHeaderBytes);
  m_encoder.SetUp(m_toneBank, m_zeroBlock, m_sink, settings.method, settings.dtmfId,
                  settings.sampleLength);
  m_encoder.WriteAll();
  // The queued pieces point into the zero block, so they must be out before the header goes in.
  if (!m_sink.Flush()) return false;

  const off_t length = ::lseek(m_fd, 0, SEEK_END);
  if (length < 0) return false;
  FillHeader(m_zeroBlock.data(), static_cast<std::uint32_t>(length),
             static_cast<std::uint32_t>(sampleRate));
  if (::lseek(m_fd, 0, SEEK_SET) != 0) return false;
  m_sink.Put(m_zeroBlock.data(), kHeaderBytes);
  return m_sink.Flush();
}
