// What every program checks before it does anything else: that its standard streams are open,
// and, before the GUI starts, that there is a display to open a window on. POSIX only, no Qt.
#pragma once

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed. A program started with a
// standard stream closed would otherwise hand that number to the next file it opens, and its
// messages would then be written into the user's file. Also ignores SIGXFSZ, for the same
// reason of not damaging files: a write past the user's file-size limit then fails with EFBIG,
// which every writer reports and cleans up after, instead of the signal killing the program
// with its work half done. Every program calls this first, before it writes anything.
void OpenStandardDescriptors();

// False when the GUI could not open a window: no platform plugin asked for (QT_QPA_PLATFORM or
// -platform), and neither a Wayland socket nor an X display that accepts a connection. Qt
// itself would abort the program there, with a core dump.
bool DisplayUsable(int argc, char** argv);

// The one line a program without a usable display prints before it exits with status 2.
inline constexpr char kNoDisplayText[] =
    "cannot open a window: no display; see --help for the command line";
inline constexpr int kNoDisplayStatus = 2;
