// loop's batches: many files checked or snapped from one command line, one line per file, so a
// folder of a hundred files is judged at a glance or by a script.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// --scan FILE...: per file its channels, its ten points, its own loops and the seam of each pair
// of points (1 to 2, 3 to 4, ...), as text or, with json, one JSON object per line. Status 1
// when any seam clicks or any file is refused (each refusal on err).
int ScanCommand(const std::vector<std::string>& paths, bool json, std::ostream& out,
                std::ostream& err);

// --snap FILE...: every point of each file moved to its nearest rising zero crossing within
// 10 ms (a point with none that near stays, and err says so), then the table patched as --set
// does. Status 1 when any file is refused.
int SnapCommand(const std::vector<std::string>& paths, std::ostream& out, std::ostream& err);
