// A wave file's own loops, as sample editors and samplers store them: the loops of its "smpl"
// chunk and the points of its "cue " chunk, all counted in sample frames. loop lists them and
// can take them over as the loop points of a plain copy. No windows here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fileio/file.h"
#include "looppatch/loop_table.h"

// One loop of a smpl chunk: its first frame and the last frame played, as the chunk stores
// them.
struct SampleLoop {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
};

// At most this many loops and cue points are read from one file; a real one holds a handful.
inline constexpr std::size_t kMostOwnLoops = 1024;

struct WaveLoops {
  std::vector<SampleLoop> loops;    // of the first smpl chunk, in file order
  std::vector<std::uint32_t> cues;  // the frames of the first cue chunk's points, in file order
  bool Empty() const { return loops.empty() && cues.empty(); }
};

// The smpl loops and cue points of a RIFF/WAVE file, found through the plain copy's chunk
// walk. Only what lies wholly inside its chunk and inside the file is read: a count larger
// than the chunk holds is cut to what it holds. Nothing for a file that is no RIFF/WAVE.
WaveLoops ReadWaveLoops(CFile& file);

// The line `loop --show` adds: "loops 100-199, 300-399; cues 5, 10", or "" when the file has
// none.
std::string OwnLoopsLine(const WaveLoops& own);
// For the window: "loops 100-199, 300-399; cue points 5, 10", or "" when there are none.
std::string OwnLoopsText(const WaveLoops& own);

// The loop points a plain copy takes over: each loop's start and end as a pair, in loop order,
// then the cue points, in file order, as many as the table holds. A loop that cannot be a pair
// of the copy's points (a start of 0, which means none, an end before its start or past the
// copy's last frame, or no two slots left) is left out whole; so is a cue point the table
// cannot hold. Each is named in leftOver, e.g. "loop 2 0-499 (0 means no loop point)".
struct TakenOver {
  LoopPoints points{};
  std::vector<SampleLoop> loops;    // taken, as pairs of points
  std::vector<std::uint32_t> cues;  // taken, one point each
  std::vector<std::string> leftOver;
};
TakenOver TakeOverPoints(const WaveLoops& own, int channels, std::uint64_t frames);
// What was taken: "loops 100-199; cues 5", as --show writes the file's own.
std::string TakenText(const TakenOver& taken);

// A plain or converted copy's view of its source's own points: what the file has, and what the
// copy takes over. Nothing when the source cannot be opened or can have neither copy; a read that
// fails throws CFileException.
struct OwnPointsPlan {
  WaveLoops own;
  TakenOver taken;
};
std::optional<OwnPointsPlan> PlanOwnPoints(const std::string& source);

// "Not taken over: loop 6 start 1200 (past the end), cue point 2 0 (...)", or "" when all were.
std::string LeftOverText(const TakenOver& taken);
