#include "timecode_format/timecode_layout.h"

int CheckSymbol(int frame, int dtmfId) {
  const int digitSum =
      (frame % 10000) / 1000 + (frame % 1000) / 100 + (frame % 100) / 10 + frame % 10;
  const int topUp = 10 - digitSum % 10;
  return DigitSymbol((topUp + dtmfId - 1) % 10);
}
