// vrellok from the command line: the same generate operation as the dialog, with the settings
// taken from options and the result told on stdout or stderr. No Qt, so it runs without a
// display.
//
//   vrellok [--type F|S] [--method 1|2] [--length N] [--id K] [--dir DIR] [--output FILE]
//   vrellok --help | --version
#pragma once

// True when the arguments ask for the command line rather than the dialog: any at all.
bool WantsCommandLine(int argc, char** argv);

// Runs the command line and returns the exit status: 0 when TC.wav was created (or help or the
// version was printed), 1 when the operation refused or failed, 2 for a usage error.
int RunCommandLine(int argc, char** argv);
