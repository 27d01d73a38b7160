// What a libsndfile format says of its samples, for the readers of recordings and of TC.wav.
#pragma once

struct SampleFormat {
  // Bytes a sample takes in a WAV, AIFF or W64 file, whose data size then tells the length; 0
  // for the others and for samples of no fixed size (ADPCM, a compressed stream).
  int bytes = 0;
  bool shorts = false;       // PCM of 16 bits or fewer: read as stored, and scaled by the reader
  bool onlyNumbers = false;  // integers: never NaN or infinite
};

SampleFormat SampleFormatOf(int format);
