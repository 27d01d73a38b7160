// The option reader the three command lines share: how words split into options, values and
// operands, and the usage errors every program prints the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/options.h"

namespace {

// Each word as the reader sees it: "-x" for an option, "-x=value" for one given its value
// (inline or as the next word), "operand" for the rest. Options in takesValue take a value.
std::vector<std::string> Read(std::vector<std::string> args,
                              const std::vector<std::string>& takesValue) {
  OptionReader reader(std::move(args));
  std::vector<std::string> seen;
  while (reader.Next()) {
    std::string word = reader.Word();
    if (reader.IsOption()) {
      const bool valued = std::find(takesValue.begin(), takesValue.end(), word) != takesValue.end();
      if (valued) {
        word.append("=").append(reader.Value());
      } else {
        reader.NoValue();
      }
    }
    seen.push_back(word);
  }
  return seen;
}

std::string ErrorOf(std::vector<std::string> args, const std::vector<std::string>& takesValue) {
  try {
    Read(std::move(args), takesValue);
  } catch (const UsageError& error) {
    return error.what();
  }
  return "no error";
}

TEST(OptionReader, SplitsOptionsValuesAndOperandsInAnyOrder) {
  using Words = std::vector<std::string>;
  EXPECT_EQ(Read({"--id", "7", "a.wav", "--json", "--dir=x=y"}, {"--id", "--dir"}),
            (Words{"--id=7", "a.wav", "--json", "--dir=x=y"}));
  // A value is the next word whatever it looks like, so negative numbers and dashed names pass.
  EXPECT_EQ(Read({"--set", "-5,3", "--dir", "--json"}, {"--set", "--dir"}),
            (Words{"--set=-5,3", "--dir=--json"}));
  EXPECT_EQ(Read({"--id=", "x"}, {"--id"}), (Words{"--id=", "x"}));
  // A lone dash is an operand; after "--" every word is.
  EXPECT_EQ(Read({"-", "--", "--json", "-x", "--"}, {}), (Words{"-", "--json", "-x", "--"}));
  EXPECT_EQ(Read({}, {}), Words{});
}

TEST(OptionReader, SaysWhatAWordLacksOrHasTooMuchOf) {
  EXPECT_EQ(ErrorOf({"a.wav", "--csv"}, {"--csv"}), "--csv needs a value");
  EXPECT_EQ(ErrorOf({"--json=yes"}, {}), "--json takes no value");
  EXPECT_EQ(ErrorOf({"--json="}, {}), "--json takes no value");
}

TEST(OptionValues, IntegersAreWholeSigned32BitNumbersInTheirRange) {
  EXPECT_EQ(ParseInteger("0"), 0);
  EXPECT_EQ(ParseInteger("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
  for (const char* bad : {"", " 1", "1 ", "+1", "12ab", "2147483648", "0x10", "1.0", "-"}) {
    EXPECT_EQ(ParseInteger(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(IntegerValue("--id", "10", 1, 10), 10);
  // A whole number past 32 bits is out of range, not something else.
  EXPECT_EQ(ClampedIntegerValue("--n", "99999999999"), std::numeric_limits<int>::max());
  EXPECT_EQ(ClampedIntegerValue("--n", "-99999999999"), std::numeric_limits<int>::min());
  EXPECT_EQ(ClampedIntegerValue("--n", "-7"), -7);
  for (const char* bad : {"", "-", "+1", "1e10", " 9"}) {
    EXPECT_THROW(ClampedIntegerValue("--n", bad), UsageError) << bad;
  }
  const auto message = [](std::string_view text, int low, int high) -> std::string {
    try {
      IntegerValue("--n", text, low, high);
    } catch (const UsageError& error) {
      return error.what();
    }
    return "no error";
  };
  EXPECT_EQ(message("seven", 1, 10), "--n needs an integer, not 'seven'");
  EXPECT_EQ(message("0", 1, 10), "--n must be between 1 and 10, not 0");
  EXPECT_EQ(message("3", 1, 2), "--n must be 1 or 2, not 3");
  EXPECT_EQ(message("0", 1, std::numeric_limits<int>::max()), "--n must be 1 or more, not 0");
}

TEST(OptionValues, ALetterIsTakenInEitherCase) {
  EXPECT_EQ(LetterValue("--type", "F", "FS"), 'F');
  EXPECT_EQ(LetterValue("--type", "f", "FS"), 'F');
  EXPECT_EQ(LetterValue("--type", "s", "FS"), 'S');
  for (const char* bad : {"", "FS", "44100", "1", "X", "{"}) {
    EXPECT_THROW(LetterValue("--type", bad, "FS"), UsageError) << bad;
  }
  std::string said;
  try {
    LetterValue("--type", "x", "FS");
  } catch (const UsageError& error) {
    said = error.what();
  }
  EXPECT_EQ(said, "--type must be F or S, not 'x'");
}

TEST(OptionValues, AUsageErrorIsOneLineThatPointsToTheHelp) {
  EXPECT_EQ(UsageErrorLine("loop", UsageError("unknown option '--x'")),
            "loop: unknown option '--x' (see loop --help)\n");
}

}  // namespace
