#include "tarnlibrary/ssh_library/pager.hpp"

#include <cctype>
#include <string>

namespace tarn {
namespace {

// Pager stops are short; a long line that mentions "more" is output.
constexpr size_t PAGER_LINE_LIMIT = 48;

} // namespace

bool is_pager_stop(std::string_view line) {
  if (line.size() > PAGER_LINE_LIMIT)
    return false;
  std::string lower;
  for (char c : line)
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t more = lower.find("more");
  if (more == std::string::npos)
    return false;
  // "more" set off by dashes on at least one side, nothing but blanks,
  // dashes and angle brackets before it.
  size_t first = lower.find_first_not_of(" \t");
  if (first == std::string::npos ||
      lower.find_first_not_of(" -<", first) < more)
    return false;
  size_t before = lower.find_last_not_of(' ', more == 0 ? 0 : more - 1);
  bool dash_before =
      more > 0 && before != std::string::npos && lower[before] == '-';
  size_t after = lower.find_first_not_of(' ', more + 4);
  bool dash_after = after != std::string::npos && lower[after] == '-';
  return dash_before || dash_after;
}

} // namespace tarn
