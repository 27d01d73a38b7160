// loop's audition: the open file's frames played through the desktop's default sound output,
// exactly as stored (its rate, its channels, 16-bit), read from the file as they play. The
// frames themselves come from PlayStream; this class only feeds them to Qt Multimedia and tells
// which frame is being heard.
#pragma once

#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "looppatch/play_stream.h"
#include "looppatch/wave_samples.h"

// What the play commands' tooltips say when there is nothing to play into.
inline constexpr char kNoOutputText[] =
    "No sound output device was found, so loop cannot play the file";

// The frames of a file as a device the sound output pulls from: its own descriptor on the file,
// a stream over it.
class FrameSource : public QIODevice {
 public:
  FrameSource(SampleReader reader, bool loop, std::uint64_t first, std::uint64_t last);
  const PlayStream& Stream() const { return m_stream; }
  bool isSequential() const override { return true; }
  bool atEnd() const override { return m_stream.Done(); }
  // What is left to play: the output lowers its pre-buffering to a short stream's length, or
  // a play shorter than that would never start.
  qint64 bytesAvailable() const override;

 protected:
  qint64 readData(char* data, qint64 maxSize) override;
  qint64 writeData(const char* /*data*/, qint64 /*maxSize*/) override { return -1; }

 private:
  SampleReader m_reader;
  PlayStream m_stream;
};

class Player : public QObject {
 public:
  explicit Player(QObject* parent = nullptr);
  ~Player() override;

  // True while the desktop has a default output to play into.
  bool Available() const;
  bool Playing() const { return m_sink != nullptr; }

  // Starts playing the file's frames from `from` to its end, or start..end (end: the last frame
  // played) over and over; whatever played before stops. The frames come through a descriptor
  // of their own on the file the reader has open, never from the path again, so what plays is
  // the file whose facts were read. False when there is nothing to play or the output refused
  // the stream.
  bool PlayFrom(const SampleReader& file, const WaveFacts& facts, std::uint64_t from);
  bool Loop(const SampleReader& file, const WaveFacts& facts, std::uint64_t start,
            std::uint64_t end);
  void Stop();

  // The frame being heard while playing.
  std::optional<std::uint64_t> HeardFrame() const;

  // Called while playing with the frame being heard, and with nothing once playing stops
  // (Stop, the end of the file, or an output that failed).
  std::function<void(std::optional<std::uint64_t>)> onCursor;
  // Called after playing stopped because the output failed.
  std::function<void()> onFailed;
  // Called when the default output comes or goes.
  std::function<void()> onAvailabilityChanged;

 private:
  bool Start(const SampleReader& file, const WaveFacts& facts, bool loop, std::uint64_t first,
             std::uint64_t last);
  std::uint64_t PlayedFrames() const;
  void Tick();

  QMediaDevices m_devices;
  std::unique_ptr<QAudioSink> m_sink;
  std::unique_ptr<FrameSource> m_source;
  std::uint32_t m_rate = 0;
  QTimer m_cursorTimer;
};
