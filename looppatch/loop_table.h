// The loop table: up to ten loop points kept as 6-byte records over the first bytes of a wave
// file's sample data, directly behind its canonical 44-byte header. No windows here: these
// functions take an open file and plain values and return what the dialog should show.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fileio/file.h"
#include "wave/loop_records.h"
#include "wave/wave_header.h"

// The records themselves (kLoopTableOffset, LoopRecord, LoopPoints) are in wave/loop_records.h.

// The one sample format the records can count frames of: 16-bit PCM, two bytes per channel.
inline constexpr std::uint16_t kPcm16Bits = 16;
inline constexpr std::uint16_t kPcm16SampleBytes = 2;

// How a file to be patched is held: nobody else may touch it between reading its table and
// writing it back.
inline constexpr unsigned kPatchMode = CFile::modeReadWrite | CFile::shareExclusive;

// What loop says, in its dialog and on its command line.
inline constexpr char kOpenErrorText[] = "Error Opening File";
inline constexpr char kPatchedText[] = "File Patched and Saved";
inline constexpr char kNotCanonicalText[] = "Not a wave file with a 44-byte header";
inline constexpr char kNotPcm16Text[] = "Not a 16-bit PCM wave file with one or two channels";
inline constexpr char kReplacedText[] = "The file was replaced or removed after it was opened";

struct LoopTable {
  std::uint8_t channelByte;
  int channelCount;  // the channel byte read as a signed 8-bit number
  std::array<std::int32_t, kLoopPointCount> loopPoints;  // 0: no loop point
  // One line for each slot whose bytes read as a record but name a frame past the end of the
  // samples: audio that happens to carry a mark byte, shown as no loop point (LookalikeText).
  std::vector<std::string> lookalikes;
};

// What the user is told about slot `index` (counted from 0) holding such bytes.
std::string LookalikeText(std::size_t index);

std::uint32_t BytesPerFrame(std::uint8_t channelByte);

// True for files with the canonical 44-byte header: the only files where byte 44 is known to
// start the sample data, so the only ones the table may be written into.
bool IsCanonicalWave(CFile& file);

// Empty when the table may be kept in this file: the canonical header, and samples of 16-bit
// PCM in one or two channels (the only layouts whose frames the records can count). Otherwise
// the text to show.
std::string CheckPatchable(CFile& file);

// False when the path the file was opened by no longer leads to it (replaced, moved or deleted
// since): writing then would change a file nobody will ever read.
bool StillAtItsPath(const CFile& file);

// The end of the sample data: byte 44 plus the size the data chunk declares, but never past the
// end of the file (a truncated file declares more than it holds, a file with chunks after the
// data holds more than its samples); 44 for a file shorter than the header. A header that gives
// no size for the samples behind it (DataSizeUnset) ends them at the end of the file.
std::uint64_t SampleDataEnd(CFile& file);

// True when the canonical header's data size is 0, as a recorder killed before it went back to
// its header leaves it, with samples behind it (not merely other chunks). A size of 0xFFFFFFFF
// needs no such care: it reaches past the end of any file that fits the header.
bool DataSizeUnset(CFile& file);
inline constexpr char kSizeUnsetReadText[] =
    "The header gives no size for the samples: loop reads them up to the end of the file";

// Reads the channel byte and all ten slots. A slot not wholly inside the sample data reads as
// no record, and so does one naming a frame past the end of the samples (it is listed in
// lookalikes; WriteLoopTable clears it as any record behind the stored run); a file too short
// to hold the channel byte reads as channel byte 0. File errors
// pass to the caller as CFileException, and then no values are delivered.
LoopTable ReadLoopTable(CFile& file);

// Whether WriteLoopTable may store a set of loop points, and if not, why.
struct LoopPointsCheck {
  enum class Verdict {
    fits,
    replaced,      // the file at the path is no longer the one opened
    notCanonical,  // CheckPatchable's refusals
    notPcm16,
    outOfRange,    // box: the loop point's byte offset does not fit a record
    followsEmpty,  // box: an empty loop point comes before it
    pastTheEnd,    // box: past the last sample frame
    tooShort,      // the records would not fit inside the sample data
  };
  Verdict verdict = Verdict::fits;
  std::size_t box = 0;    // the offending box, counted from 0
  std::size_t count = 0;  // tooShort: the loop points that would be stored
};

// The text to show for a refusal; empty when the points fit.
std::string LoopPointsText(const LoopPointsCheck& check);

// First the file must still be the one at its path, and still patchable (CheckPatchable, read
// afresh, since its bytes may have changed in place after it was opened); then the boxes are
// checked in order (range, a gap before the box, past the last sample frame), then whether the
// records fit inside the sample data. Reads the file, never writes it.
LoopPointsCheck CheckLoopPoints(CFile& file, std::uint8_t channelByte,
                                const LoopPoints& loopPoints);

// CheckLoopPoints' checks of the boxes against sample data of dataBytes bytes.
LoopPointsCheck CheckPointsInSamples(std::uint8_t channelByte, std::uint64_t dataBytes,
                                     const LoopPoints& loopPoints);

// Lays the records for the leading run of non-zero loop points over `table` (the bytes from
// kLoopTableOffset, as many of the ten slots as the sample data holds) and blanks over every
// later slot that still reads as a record; returns how many bytes from the start it changed.
// The points must be ones CheckLoopPoints lets through, and their records must fit in table.
std::size_t LayLoopTable(std::vector<std::uint8_t>& table, std::uint8_t channelByte,
                         const LoopPoints& loopPoints);

// Stores records for the leading run of non-zero loop points and clears every later slot that
// still reads as a record, all in one positioned write from kLoopTableOffset to the end of the
// last slot that changes, then flushes and closes the file. Points that CheckLoopPoints refuses
// throw std::invalid_argument carrying LoopPointsText, with the file untouched and still open.
void WriteLoopTable(CFile& file, std::uint8_t channelByte, const LoopPoints& loopPoints);
