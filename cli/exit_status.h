// The exit statuses of the three command lines, so a script reads them alike.
#pragma once

#include <csignal>

// The work is done (vrellok-verify: the recording is clean).
inline constexpr int kExitSuccess = 0;
// Refused or failed, the reason on stderr (vrellok-verify: the recording has faults).
inline constexpr int kExitFailure = 1;
// The command line cannot be run (vrellok-verify: nor the recording read).
inline constexpr int kExitUsage = 2;
// What a shell reports for a run stopped by Ctrl+C.
inline constexpr int kExitInterrupted = 128 + SIGINT;
