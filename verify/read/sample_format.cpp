#include "verify/read/sample_format.h"

#include <sndfile.h>

SampleFormat SampleFormatOf(int format) {
  SampleFormat of;
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      of = {1, true, true};
      break;
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
      of = {1, false, true};
      break;
    case SF_FORMAT_PCM_16:
      of = {2, true, true};
      break;
    case SF_FORMAT_PCM_24:
      of = {3, false, true};
      break;
    case SF_FORMAT_PCM_32:
      of = {4, false, true};
      break;
    case SF_FORMAT_FLOAT:
      of = {4, false, false};
      break;
    case SF_FORMAT_DOUBLE:
      of = {8, false, false};
      break;
    default:
      break;
  }
  const int container = format & SF_FORMAT_TYPEMASK;
  if (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX && container != SF_FORMAT_AIFF &&
      container != SF_FORMAT_W64) {
    of.bytes = 0;
  }
  return of;
}
