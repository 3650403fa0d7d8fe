// Device output to clean, non-empty lines.
#include "LINUX/collection/collection.hpp"
#include "LINUX/collection/text.hpp"

namespace cgnat {
namespace {

// Escape removal then trimming; a line without ESC needs no copy first.
std::string clean_line(std::string_view line) {
  if (line.find('\x1b') == std::string_view::npos)
    return std::string(trim(line));
  return std::string(trim(remove_escapes(line)));
}

} // namespace

std::vector<std::string> normalise_summary(const std::string &cgnat_summary) {
  std::vector<std::string> lines_summary;
  // Line by line, so a huge output never has a second list of views.
  for_each_line(cgnat_summary, [&](std::string_view line) {
    std::string cleaned = clean_line(line);
    if (!cleaned.empty())
      lines_summary.push_back(std::move(cleaned));
  });
  return lines_summary;
}

std::vector<std::string> normalise_errors(const std::string &cgnat_errors) {
  std::vector<std::string> lines_errors;
  for_each_line(cgnat_errors, [&](std::string_view line) {
    // NUL and backspace go after trimming, so white space they hid stays.
    std::string cleaned = remove_control_chars(clean_line(line));
    if (!cleaned.empty())
      lines_errors.push_back(std::move(cleaned));
  });
  return lines_errors;
}

} // namespace cgnat
