#include "cli/options.h"

#include <charconv>
#include <cstdio>
#include <iostream>

#include "version.h"

std::string UsageErrorLine(std::string_view program, const UsageError& error) {
  std::string line(program);
  line += ": ";
  line += error.what();
  line += " (see ";
  line += program;
  line += " --help)\n";
  return line;
}

std::string VersionLine(std::string_view program, std::string_view version) {
  return std::string(program) + ' ' + std::string(version) + '\n';
}

std::optional<int> ParseInteger(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

int IntegerValue(std::string_view option, std::string_view text, int low, int high) {
  const std::string name(option);
  const std::string given(text);
  const std::optional<int> value = ParseInteger(text);
  if (!value) throw UsageError(name + " needs an integer, not '" + given + "'");
  if (*value < low || *value > high) {
    std::string range = "between " + std::to_string(low) + " and " + std::to_string(high);
    if (high == low + 1) range = std::to_string(low) + " or " + std::to_string(high);
    if (high == std::numeric_limits<int>::max()) range = std::to_string(low) + " or more";
    throw UsageError(name + " must be " + range + ", not " + given);
  }
  return *value;
}

int ClampedIntegerValue(std::string_view option, std::string_view text) {
  if (const std::optional<int> value = ParseInteger(text)) return *value;
  const bool negative = text.starts_with('-');
  const std::string_view digits = text.substr(negative ? 1 : 0);
  const bool whole = !digits.empty() && digits.find_first_not_of("0123456789") == digits.npos;
  if (!whole)
    throw UsageError(std::string(option) + " needs an integer, not '" + std::string(text) + "'");
  return negative ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
}

char LetterValue(std::string_view option, std::string_view text, std::string_view letters) {
  if (text.size() == 1) {
    const char upper = text[0] >= 'a' && text[0] <= 'z' ? char(text[0] - 'a' + 'A') : text[0];
    if (letters.find(upper) != std::string_view::npos) return upper;
  }
  // "F or S", "A, B or C"
  std::string choices;
  for (std::size_t i = 0; i < letters.size(); ++i) {
    if (i > 0) choices += i + 1 == letters.size() ? " or " : ", ";
    choices += letters[i];
  }
  throw UsageError(std::string(option) + " must be " + choices + ", not '" + std::string(text) +
                   "'");
}

bool OptionReader::Next() {
  m_inlineValue.reset();
  while (m_next < m_args.size()) {
    m_word = m_args[m_next++];
    m_isOption = !m_optionsDone && m_word.size() >= 2 && m_word[0] == '-';
    if (!m_isOption) return true;
    if (m_word == "--") {
      m_optionsDone = true;
      continue;
    }
    if (const auto equals = m_word.find('='); equals != std::string::npos) {
      m_inlineValue = m_word.substr(equals + 1);
      m_word.resize(equals);
    }
    return true;
  }
  return false;
}

std::string OptionReader::Value() {
  if (m_inlineValue) return *m_inlineValue;
  if (m_next >= m_args.size()) throw UsageError(m_word + " needs a value");
  return m_args[m_next++];
}

void OptionReader::NoValue() const {
  if (m_inlineValue) throw UsageError(m_word + " takes no value");
}

bool StdoutWritten(std::ostream& out) {
  out.flush();
  if (!out.good()) return false;
  return &out != &std::cout || (std::fflush(stdout) == 0 && !std::ferror(stdout));
}

int ExitStatusAfterStdout(std::string_view program, int status) {
  if (StdoutWritten(std::cout)) return status;
  std::cerr << program << ": cannot write to standard output\n";
  return status == 0 ? 1 : status;
}
