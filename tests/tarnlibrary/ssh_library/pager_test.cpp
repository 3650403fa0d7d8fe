// Which last lines are taken for a pager's stop.
#include "tarnlibrary/ssh_library/pager.hpp"

#include <gtest/gtest.h>

namespace {

struct Case {
  const char *name;
  const char *line;
  bool stop;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class PagerStop : public ::testing::TestWithParam<Case> {};

TEST_P(PagerStop, IsRecognisedOnlyForAPagerPrompt) {
  EXPECT_EQ(tarn::is_pager_stop(GetParam().line), GetParam().stop);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PagerStop,
    ::testing::Values(
        Case{"plain", "--More--", true}, Case{"spaced", "-- More --", true},
        Case{"indented", "   --More--", true},
        Case{"lowerCase", "--more--", true},
        Case{"arrows", "<--- More --->", true},
        Case{"withHint", "--More-- (q to quit)", true},
        Case{"trailingOnly", "More--", true}, Case{"prompt", "cgnat$", false},
        Case{"emptyLine", "", false}, Case{"wordMore", "More", false},
        Case{"outputLine", "No more free ports 3", false},
        Case{"textBefore", "Show --More--", false},
        Case{"longLine",
             "-- more than fifty characters of ordinary "
             "device output here --",
             false}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
