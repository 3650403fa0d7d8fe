#include "LINUX/collection/collection.hpp"
#include "LINUX/debug_report/debug_report.hpp"
#include "LINUX/run_control/end_process.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string source_path(const std::string &relative) {
  return std::string(CGNAT_SOURCE_DIR) + "/" + relative;
}

struct Case {
  std::string name;
  std::string summary_output; // device output file, empty for none
  std::string errors_output;
  std::string golden;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

struct Documents {
  cgnat::DiscoveryDocument summary;
  cgnat::DiscoveryDocument errors;
};

// The same steps the collection routine takes, from device text on.
Documents documents_for(const Case &c) {
  const std::string summary =
      c.summary_output.empty() ? "" : read_file(source_path(c.summary_output));
  const std::string errors =
      c.errors_output.empty() ? "" : read_file(source_path(c.errors_output));
  Documents documents;
  cgnat::build_discovery_document(
      cgnat::parse_summary(cgnat::normalise_summary(summary)),
      documents.summary);
  cgnat::build_discovery_document(
      cgnat::parse_errors(cgnat::normalise_errors(errors)), documents.errors);
  return documents;
}

class DebugReport : public testing::TestWithParam<Case> {};

TEST_P(DebugReport, MatchesGoldenBytes) {
  const Documents documents = documents_for(GetParam());
  EXPECT_EQ(cgnat::debug_report_text(documents.summary, documents.errors),
            read_file(source_path(GetParam().golden)));
}

TEST_P(DebugReport, PrintsTheSameBytesThenEndsWithStatusZero) {
  const Documents documents = documents_for(GetParam());
  testing::internal::CaptureStdout();
  int status = -1;
  try {
    cgnat::show_debug_report(documents.summary, documents.errors);
  } catch (const cgnat::EndProcess &end) {
    status = end.status;
  }
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(printed,
            cgnat::debug_report_text(documents.summary, documents.errors));
}

const std::string SAMPLES = "device_simulator/samples/";
const std::string GOLDEN = "tests/LINUX/debug_report/golden/";

INSTANTIATE_TEST_SUITE_P(
    Outputs, DebugReport,
    testing::Values(Case{"samples", SAMPLES + "summary.txt",
                         SAMPLES + "errors.txt", GOLDEN + "samples_report.txt"},
                    Case{"empty_outputs", "", "", GOLDEN + "empty_report.txt"},
                    Case{"empty_errors_only", SAMPLES + "summary.txt", "",
                         GOLDEN + "empty_errors_report.txt"}),
    [](const auto &info) { return info.param.name; });

} // namespace
