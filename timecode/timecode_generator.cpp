#include "timecode/timecode_generator.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "platform/trace.h"
#include "wave/wave_header.h"

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
  m_sink.Put(m_zeroBlock.data(), kWaveHeaderBytes);
  m_encoder.SetUp(m_toneBank, m_zeroBlock, m_sink, settings.method, settings.dtmfId,
                  settings.sampleLength);
  m_encoder.WriteAll();
  // The queued pieces point into the zero block, so they must be out before the header goes in.
  if (!m_sink.Flush()) return false;

  const off_t length = ::lseek(m_fd, 0, SEEK_END);
  if (length < 0) return false;
  // Both size fields come from the length the file really has, read back after the data.
  const WaveHeader header =
      BuildWaveHeader({1, static_cast<std::uint32_t>(sampleRate), 16},
                      static_cast<std::uint32_t>(length - static_cast<off_t>(kWaveHeaderBytes)));
  if (::lseek(m_fd, 0, SEEK_SET) != 0) return false;
  m_sink.Put(header.data(), header.size());
  return m_sink.Flush();
}
