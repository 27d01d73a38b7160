// Reading a command line, shared by vrellok, loop and vrellok-verify so the three take options
// the same way: "--name value" or "--name=value", "--" before operands that start with a dash,
// the same integer and letter values and the same one-line usage errors.
#pragma once

#include <limits>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "version.h"

// A command line that cannot be run; what() is one line for the user, without the program's
// name.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The line a program prints on stderr for error: "PROGRAM: TEXT (see PROGRAM --help)".
std::string UsageErrorLine(std::string_view program, const UsageError& error);

// The line --version prints: "PROGRAM VERSION".
std::string VersionLine(std::string_view program, std::string_view version = kProjectVersion);

// True when everything written to out has gone out; for std::cout, through stdout's own buffer
// to the descriptor too.
bool StdoutWritten(std::ostream& out);

// The exit status once everything printed on stdout has gone out: a script told "done" must
// really have the output, so a stdout that cannot be written (a full disk, /dev/full) turns a
// success into status 1, with a line on stderr.
int ExitStatusAfterStdout(std::string_view program, int status);

// A whole signed 32-bit integer, nothing around it; nothing for any other text.
std::optional<int> ParseInteger(std::string_view text);

// The integer value of option, from low to high; a UsageError says what is wrong otherwise.
int IntegerValue(std::string_view option, std::string_view text,
                 int low = std::numeric_limits<int>::min(),
                 int high = std::numeric_limits<int>::max());

// A whole number of any size, nothing around it, clamped to the 32-bit range, for an option whose
// range a program checks itself and reports with the value as given: "5000000000" is out of
// range, not something other than a number. A UsageError for any other text.
int ClampedIntegerValue(std::string_view option, std::string_view text);

// The value of option that is one of letters (upper case), taken in either case; returned in
// upper case. A UsageError names the letters otherwise.
char LetterValue(std::string_view option, std::string_view text, std::string_view letters);

// Walks the words of a command line (the program's name left out). A word is an option when it
// starts with '-', is more than the dash alone and no "--" came before it; every other word is an
// operand. Options and operands may come in any order.
class OptionReader {
 public:
  explicit OptionReader(std::vector<std::string> args) : m_args(std::move(args)) {}

  // Moves to the next option or operand, past a "--"; false when none is left.
  bool Next();
  bool IsOption() const { return m_isOption; }
  // The option's name, without any "=value", or the operand.
  const std::string& Word() const { return m_word; }
  // The option's value: what follows its '=', or else the next word, whatever it looks like.
  std::string Value();
  // Checks that the option, which takes no value, was not given one with '='.
  void NoValue() const;

 private:
  std::vector<std::string> m_args;
  std::size_t m_next = 0;
  bool m_optionsDone = false;
  bool m_isOption = false;
  std::string m_word;
  std::optional<std::string> m_inlineValue;
};
