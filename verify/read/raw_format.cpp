#include "verify/read/raw_format.h"

#include <array>
#include <charconv>
#include <utility>

namespace {

std::optional<int> Whole(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

std::optional<RawFormat> ParseRawFormat(const std::string& text, int maxRate) {
  const std::size_t first = text.find(',');
  const std::size_t second = first == std::string::npos ? first : text.find(',', first + 1);
  if (second == std::string::npos) return std::nullopt;
  const std::optional<int> rate = Whole(text.substr(0, first));
  const std::optional<int> channels = Whole(text.substr(first + 1, second - first - 1));
  if (!rate || *rate < 1 || *rate > maxRate || !channels || *channels < 1 ||
      *channels > kMaxRawChannels) {
    return std::nullopt;
  }
  static constexpr std::array<std::pair<const char*, RawSample>, 4> kNames = {{
      {"s16le", RawSample::s16le},
      {"s24le", RawSample::s24le},
      {"s32le", RawSample::s32le},
      {"f32le", RawSample::f32le},
  }};
  const std::string name = text.substr(second + 1);
  for (const auto& [spelling, sample] : kNames) {
    if (name == spelling) return RawFormat{*rate, *channels, sample};
  }
  return std::nullopt;
}
