// Arbitrary device bytes through decoding, cleaning, both parsers, the
// discovery documents and their display form.
#include "LINUX/collection/collection.hpp"
#include "LINUX/collection/text.hpp"
#include "LINUX/debug_report/debug_report.hpp"
#include "LINUX/zabbix_output/zabbix_output.hpp"

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition) {
  if (!condition)
    std::abort();
}

void check_lines(const std::vector<std::string> &lines, bool errors) {
  for (const std::string &line : lines) {
    require(!line.empty());
    require(cgnat::split_lines(line).size() == 1);
    if (errors)
      require(line.find_first_of(std::string("\0\b", 2)) == std::string::npos);
    else
      require(cgnat::trim(line) == line);
  }
}

void check_document(const cgnat::MetricMap &metrics) {
  cgnat::DiscoveryDocument document;
  cgnat::build_discovery_document(metrics, document);
  require(document.size() == 1 && document[0].size() == metrics.size());
  const std::string shown = cgnat::display_form(document[0]);
  require(shown.front() == '{' && shown.back() == '}');
  // Every character the display form writes is printable or escaped.
  require(shown.find_first_of(std::string("\0\n\r\t\x1b", 5)) ==
          std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  const std::string text =
      cgnat::decode_utf8({reinterpret_cast<const char *>(bytes), size});
  require(cgnat::decode_utf8(text) == text); // already valid UTF-8

  const auto lines_summary = cgnat::normalise_summary(text);
  const auto lines_errors = cgnat::normalise_errors(text);
  check_lines(lines_summary, false);
  check_lines(lines_errors, true);

  const cgnat::MetricMap data = cgnat::parse_summary(lines_summary);
  const cgnat::MetricMap data_erros = cgnat::parse_errors(lines_errors);
  require(data.size() <= 14 && data_erros.size() <= 26);
  check_document(data);
  check_document(data_erros);
  return 0;
}
