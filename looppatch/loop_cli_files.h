// What every form of loop's command line does with the files it names: opens them as the
// dialog's Open File does, and says why one was refused, naming it, so that a batch over many
// files tells which.
#pragma once

#include <ostream>
#include <string>

#include "fileio/file.h"

inline constexpr char kLoopProgram[] = "loop";

// Prints text as one line on err; returns the status of a refusal.
int Refused(std::ostream& err, const std::string& text);
// "loop: PATH: TEXT".
int Refused(std::ostream& err, const std::string& path, const std::string& text);

// "Error Opening File: REASON", the reason in words a user can act on: another program holds
// it, it is a FIFO, socket or device, or the system's text for osError.
std::string OpenFailure(const std::string& path, int osError);

// Opens path in this mode and checks that its table can be kept there; empty when it can,
// otherwise the refusal (a failed open says why, in words a user can act on).
std::string OpenForTable(CFile& file, const std::string& path, unsigned mode);

// Says on err that the header of the file at path gives no size for its samples, so they are
// read up to the end of the file; nothing for any other file.
void NoteSizeUnset(CFile& file, const std::string& path, std::ostream& err);
