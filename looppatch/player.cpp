#include "looppatch/player.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

// The play cursor moves this often: smooth to the eye, cheap to draw.
constexpr int kCursorMs = 30;
constexpr std::uint64_t kUsPerSecond = 1'000'000;

}  // namespace

FrameSource::FrameSource(SampleReader reader, bool loop, std::uint64_t first, std::uint64_t last)
    : m_reader(std::move(reader)),
      m_stream(loop ? PlayStream::Loop(m_reader, first, last) : PlayStream::From(m_reader, first)) {
  // Unbuffered: the output asks for what it needs, and nothing is read ahead of it.
  open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 FrameSource::bytesAvailable() const {
  const std::uint64_t remaining = m_stream.RemainingBytes();
  return static_cast<qint64>(std::min<std::uint64_t>(remaining, INT64_MAX / 2)) +
         QIODevice::bytesAvailable();
}

qint64 FrameSource::readData(char* data, qint64 maxSize) {
  return static_cast<qint64>(m_stream.Read(data, static_cast<std::size_t>(maxSize)));
}

Player::Player(QObject* parent) : QObject(parent) {
  connect(&m_devices, &QMediaDevices::audioOutputsChanged, this, [this] {
    if (onAvailabilityChanged) onAvailabilityChanged();
  });
  connect(&m_cursorTimer, &QTimer::timeout, this, [this] { Tick(); });
}

Player::~Player() {
  Stop();
}

bool Player::Available() const {
  return !QMediaDevices::audioOutputs().isEmpty() && !QMediaDevices::defaultAudioOutput().isNull();
}

bool Player::PlayFrom(const SampleReader& file, const WaveFacts& facts, std::uint64_t from) {
  return Start(file, facts, false, from, 0);
}

bool Player::Loop(const SampleReader& file, const WaveFacts& facts, std::uint64_t start,
                  std::uint64_t end) {
  return Start(file, facts, true, start, end);
}

bool Player::Start(const SampleReader& file, const WaveFacts& facts, bool loop, std::uint64_t first,
                   std::uint64_t last) {
  Stop();
  SampleReader reader = file.Duplicate();
  if (!Available() || !reader.IsOpen()) return false;
  auto source = std::make_unique<FrameSource>(std::move(reader), loop, first, last);
  if (!source->Stream().Valid()) return false;
  QAudioFormat format;
  format.setSampleRate(static_cast<int>(facts.sampleRate));
  format.setChannelCount(facts.channels);
  format.setSampleFormat(QAudioFormat::Int16);
  auto sink = std::make_unique<QAudioSink>(QMediaDevices::defaultAudioOutput(), format);
  sink->start(source.get());
  if (sink->error() != QAudio::NoError || sink->state() == QAudio::StoppedState) return false;
  m_rate = facts.sampleRate;
  m_source = std::move(source);
  m_sink = std::move(sink);
  // An output that fails (the sound server gone) stops the sink: playing is over, and the
  // user is told, since the sound stopped without being asked to.
  connect(m_sink.get(), &QAudioSink::stateChanged, this, [this](QAudio::State state) {
    if (state != QAudio::StoppedState) return;
    const bool failed = m_sink->error() != QAudio::NoError;
    QTimer::singleShot(0, this, [this, failed] {
      Stop();
      if (failed && onFailed) onFailed();
    });
  });
  m_cursorTimer.start(kCursorMs);
  Tick();
  return true;
}

void Player::Stop() {
  if (!m_sink) return;
  m_cursorTimer.stop();
  std::unique_ptr<QAudioSink> sink = std::move(m_sink);
  sink->disconnect(this);
  sink->stop();
  sink.reset();
  m_source.reset();
  if (onCursor) onCursor(std::nullopt);
}

// The frames the output has played: its time, counted in the file's frames.
std::uint64_t Player::PlayedFrames() const {
  const auto us = static_cast<std::uint64_t>(std::max<qint64>(0, m_sink->processedUSecs()));
  return us / kUsPerSecond * m_rate + us % kUsPerSecond * m_rate / kUsPerSecond;
}

std::optional<std::uint64_t> Player::HeardFrame() const {
  if (!m_sink) return std::nullopt;
  return m_source->Stream().FrameAfter(PlayedFrames());
}

// A single pass ends once the output has played all it was given, not when the file has been
// read: the output still holds the last of it. Its clock lags by the output's latency, so the
// end is seen as an output whose buffer has run empty. A read that failed ends a pass early.
void Player::Tick() {
  if (!m_sink) return;
  const PlayStream& stream = m_source->Stream();
  const std::uint64_t played = PlayedFrames();
  const bool drained =
      m_sink->state() == QAudio::IdleState && m_sink->bytesFree() >= m_sink->bufferSize();
  if (stream.Done() && (drained || played >= stream.Delivered())) {
    Stop();
    return;
  }
  if (onCursor) onCursor(stream.FrameAfter(played));
}
