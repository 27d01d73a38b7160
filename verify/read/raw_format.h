// Headerless samples, as a capture tool writes them to a pipe (parec --raw, arecord -t raw):
// nothing in the bytes says their rate, channels or sample format, so the user names them.
#pragma once

#include <optional>
#include <string>

enum class RawSample { s16le, s24le, s32le, f32le };

struct RawFormat {
  int rate = 0;
  int channels = 0;
  RawSample sample = RawSample::s16le;
};

// The most channels a raw stream may name: libsndfile reads no more.
inline constexpr int kMaxRawChannels = 1024;

// "RATE,CHANNELS,FORMAT" such as "48000,2,s16le"; none when the text is not one. The rate is
// checked against the same bound as a header's.
std::optional<RawFormat> ParseRawFormat(const std::string& text, int maxRate);
