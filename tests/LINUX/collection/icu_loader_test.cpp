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
#include <cstdlib>
#include <filesystem>
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

// A fresh directory holding the given files (a "name" or "name->target"
// symbolic link).
std::string directory_with(const std::vector<std::string> &entries) {
  std::string pattern = "/tmp/icu-loader-test.XXXXXX";
  const std::string dir = mkdtemp(pattern.data());
  for (const auto &entry : entries) {
    const auto arrow = entry.find("->");
    if (arrow == std::string::npos)
      std::ofstream(dir + "/" + entry) << "";
    else
      std::filesystem::create_symlink(entry.substr(arrow + 2),
                                      dir + "/" + entry.substr(0, arrow));
  }
  return dir;
}

// The ICU the tests' own headers belong to, as installed.
std::string system_icu() {
  for (const auto &dir : cgnat::library_search_directories())
    if (std::filesystem::exists(dir + "/" + cgnat::icu_library_name()))
      return dir + "/" + cgnat::icu_library_name();
  return "";
}

// What the first letter of text is to the ICU opened the way the collector
// opens another release's.
std::string category_with(const std::string &preferred,
                          const std::vector<std::string> &dirs) {
  const cgnat::IcuLibrary library = cgnat::open_installed_icu(preferred, dirs);
  return std::to_string(library.char_type(U'é')) + " " +
         library.error_name(U_BUFFER_OVERFLOW_ERROR);
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
                 "{'k': 'é\\u200b'}", true},
        // A build run where its own ICU is not installed (another release);
        // the library is closed again with its IcuLibrary.
        LoadCase{"another_release_s_icu",
                 [] {
                   return category_with("libicuuc.so.1",
                                        cgnat::library_search_directories());
                 },
                 "2 U_BUFFER_OVERFLOW_ERROR", false},
        LoadCase{"newest_first_past_one_that_fails",
                 [] {
                   auto dirs = cgnat::library_search_directories();
                   const std::string newer =
                       directory_with({"libicuuc.so.999->" + system_icu()});
                   dirs.insert(dirs.begin(), newer);
                   const std::string got = category_with("libicuuc.so.1", dirs);
                   std::filesystem::remove_all(newer);
                   return got;
                 },
                 "2 U_BUFFER_OVERFLOW_ERROR", false}));

struct OpenFailureCase {
  std::string name;
  std::function<void()> open;
  std::vector<std::string> message_parts;
};
void PrintTo(const OpenFailureCase &c, std::ostream *os) { *os << c.name; }

class IcuOpenFailure : public testing::TestWithParam<OpenFailureCase> {};

TEST_P(IcuOpenFailure, NamesTheLibraryInPortuguese) {
  try {
    GetParam().open();
    FAIL() << "no error";
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
                        [] { cgnat::open_icu_library("libicuuc.so.0-absent"); },
                        {"Não foi possível carregar a biblioteca ICU",
                         "libicuuc.so.0-absent", "texto não ASCII"}},
        OpenFailureCase{"library_without_the_functions",
                        [] { cgnat::open_icu_library("libm.so.6"); },
                        {"A biblioteca ICU libm.so.6 não tem a função",
                         "u_charType_" U_ICU_VERSION_SHORT}},
        // With no ICU at all, the build's own is the one to install.
        OpenFailureCase{"no_icu_installed",
                        [] {
                          const std::string empty =
                              directory_with({"libicuuc.so", "libm.so.6"});
                          try {
                            cgnat::open_installed_icu(
                                "libicuuc.so.0-absent",
                                {empty, "/nonexistent-icu-dir"});
                          } catch (...) {
                            std::filesystem::remove_all(empty);
                            throw;
                          }
                        },
                        {"Não foi possível carregar a biblioteca ICU",
                         "libicuuc.so.0-absent"}}));

struct InstalledCase {
  std::string name;
  std::vector<std::vector<std::string>> dirs; // entries of each directory
  std::vector<std::string> expected;          // "directory index/name"
};
void PrintTo(const InstalledCase &c, std::ostream *os) { *os << c.name; }

class InstalledIcu : public testing::TestWithParam<InstalledCase> {};

TEST_P(InstalledIcu, NewestVersionFirstFirstDirectoryWins) {
  std::vector<std::string> dirs;
  for (const auto &entries : GetParam().dirs)
    dirs.push_back(directory_with(entries));
  std::vector<std::string> expected;
  for (const auto &where : GetParam().expected)
    expected.push_back(dirs.at(where[0] - '0') + where.substr(1));
  EXPECT_EQ(cgnat::installed_icu_libraries(dirs), expected);
  for (const auto &dir : dirs)
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Directories, InstalledIcu,
    testing::Values(
        InstalledCase{"debian_12",
                      {{"libicuuc.so.72.1", "libicuuc.so.72->libicuuc.so.72.1",
                        "libicui18n.so.72", "libicuuc.so"}},
                      {"0/libicuuc.so.72"}},
        InstalledCase{
            "two_versions_newest_first",
            {{"libicuuc.so.76", "libicuuc.so.9", "libicuuc.so.100"}},
            {"0/libicuuc.so.100", "0/libicuuc.so.76", "0/libicuuc.so.9"}},
        InstalledCase{
            "same_version_twice_first_directory",
            {{"libicuuc.so.72"}, {"libicuuc.so.76", "libicuuc.so.72"}},
            {"1/libicuuc.so.76", "0/libicuuc.so.72"}},
        InstalledCase{"not_versioned_sonames",
                      {{"libicuuc.so.76a", "libicuuc.so.", "libicuuc.so.-1",
                        "xlibicuuc.so.76", "libicuuc.so.0"}},
                      {}}));

TEST(IcuLoader, LoaderSearchesWhereTheSystemIcuIs) {
  EXPECT_NE(system_icu(), "")
      << "no " << cgnat::icu_library_name() << " in the loader's directories";
}

TEST(IcuLoader, LibraryNameIsTheVersionOfTheHeaders) {
  EXPECT_EQ(cgnat::icu_library_name(),
            "libicuuc.so." + std::to_string(U_ICU_VERSION_MAJOR_NUM));
}

} // namespace
