// This binary does not link ICU: the library may appear only when a text
// needs it. Every case that could open it runs in a forked child, so the
// test process itself stays clean for the next case.
#include "LINUX/collection/icu_loader.hpp"
#include "LINUX/collection/text.hpp"
#include "LINUX/debug_report/debug_report.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

bool icu_in_maps() {
  std::ifstream maps("/proc/self/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str().find("libicuuc") != std::string::npos;
}

std::string repeat(const std::string &piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += piece;
  return out;
}

std::string joined(const std::vector<std::string_view> &words) {
  std::string out;
  for (auto word : words)
    out.append(out.empty() ? "" : "|").append(word);
  return out;
}

std::string shown(std::string key, std::string value) {
  cgnat::MetricMap map;
  map.store(key, value);
  return cgnat::display_form(map);
}

// Child exit status bits.
constexpr int LOADED = 1;
constexpr int MAPPED = 2;
constexpr int WRONG = 4;

struct LoadCase {
  std::string name;
  std::function<std::string()> run;
  std::string expected;
  bool loads_icu;
};
void PrintTo(const LoadCase &c, std::ostream *os) { *os << c.name; }

int run_in_child(const LoadCase &c) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    int status = 0;
    try {
      const std::string got = c.run();
      if (got != c.expected) {
        std::cerr << c.name << ": got [" << got << "] expected [" << c.expected
                  << "]\n";
        status |= WRONG;
      }
    } catch (const std::exception &error) {
      std::cerr << c.name << ": " << error.what() << "\n";
      status |= WRONG;
    }
    status |= (cgnat::icu_loaded() ? LOADED : 0) | (icu_in_maps() ? MAPPED : 0);
    std::cerr.flush();
    _exit(status);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

TEST(IcuLoader, NotMappedWhenTheProcessStarts) {
  EXPECT_FALSE(cgnat::icu_loaded());
  EXPECT_FALSE(icu_in_maps());
}

class IcuLoading : public testing::TestWithParam<LoadCase> {};

TEST_P(IcuLoading, OpensIcuOnlyForTextThatNeedsIt) {
  ASSERT_FALSE(cgnat::icu_loaded()) << "this test process must stay clean";
  const int status = run_in_child(GetParam());
  ASSERT_GE(status, 0) << "the child did not exit normally";
  EXPECT_EQ(status & WRONG, 0);
  EXPECT_EQ((status & LOADED) != 0, GetParam().loads_icu);
  EXPECT_EQ((status & MAPPED) != 0, GetParam().loads_icu);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IcuLoading,
    testing::Values(
        LoadCase{"ascii_lower",
                 [] { return cgnat::to_lower("Show CGNAT Summary"); },
                 "show cgnat summary", false},
        LoadCase{"ascii_upper", [] { return cgnat::to_upper("nat_pool-1"); },
                 "NAT_POOL-1", false},
        LoadCase{"ascii_decode",
                 [] { return cgnat::decode_utf8("Total: 42\r\n"); },
                 "Total: 42\r\n", false},
        LoadCase{"ill_formed_decode_is_header_only",
                 [] { return cgnat::decode_utf8("a\xff\xc3"); },
                 "a\xEF\xBF\xBD\xEF\xBF\xBD", false},
        LoadCase{"unicode_white_space_is_our_own_table",
                 [] { return joined(cgnat::tokens("\u00a0a\u2003b\u3000")); },
                 "a|b", false},
        LoadCase{"ascii_display_form",
                 [] { return shown("{#KEY}", "it's\x01\x7f~"); },
                 "{'{#KEY}': \"it's\\x01\\x7f~\"}", false},
        LoadCase{"non_ascii_lower", [] { return cgnat::to_lower("İ"); },
                 "i\u0307", true},
        LoadCase{"non_ascii_upper", [] { return cgnat::to_upper("straße"); },
                 "STRASSE", true},
        LoadCase{"final_sigma", [] { return cgnat::to_lower("ΟΔΟΣ ΟΣ"); },
                 "οδος ος", true},
        LoadCase{"growth_past_the_first_buffer",
                 [] { return cgnat::to_upper(repeat("\u0390", 40)); },
                 repeat("\u0399\u0308\u0301", 40), true},
        LoadCase{"shrinking_mapping",
                 [] { return cgnat::to_upper(repeat("\ufb00", 30)); },
                 repeat("FF", 30), true},
        LoadCase{"ill_formed_before_mapping",
                 [] { return cgnat::to_lower("\xffÉ"); }, "\uFFFDé", true},
        LoadCase{"non_ascii_display_form", [] { return shown("k", "é\u200b"); },
                 "{'k': 'é\\u200b'}", true}));

struct OpenFailureCase {
  std::string name;
  std::string soname;
  std::vector<std::string> message_parts;
};
void PrintTo(const OpenFailureCase &c, std::ostream *os) { *os << c.name; }

class IcuOpenFailure : public testing::TestWithParam<OpenFailureCase> {};

TEST_P(IcuOpenFailure, NamesTheLibraryInPortuguese) {
  try {
    cgnat::open_icu_library(GetParam().soname);
    FAIL() << "no error for " << GetParam().soname;
  } catch (const std::runtime_error &error) {
    const std::string message = error.what();
    for (const auto &part : GetParam().message_parts)
      EXPECT_NE(message.find(part), std::string::npos)
          << "[" << part << "] missing from: " << message;
  }
  EXPECT_FALSE(cgnat::icu_loaded());
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, IcuOpenFailure,
    testing::Values(
        OpenFailureCase{"missing_library",
                        "libicuuc.so.0-absent",
                        {"Não foi possível carregar a biblioteca ICU",
                         "libicuuc.so.0-absent", "texto não ASCII"}},
        OpenFailureCase{
            "library_without_the_functions",
            "libm.so.6",
            {"A biblioteca ICU libm.so.6 não tem a função", "u_charType_"}}));

TEST(IcuLoader, LibraryNameIsTheVersionOfTheHeaders) {
  EXPECT_EQ(cgnat::icu_library_name(),
            "libicuuc.so." + std::to_string(U_ICU_VERSION_MAJOR_NUM));
}

} // namespace
