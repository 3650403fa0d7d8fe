// The collector's only way to ICU. The library is opened on the first text
// that needs it, so a run over ASCII output never maps it. The ICU of the
// build comes first; any other installed one (each Debian release names its
// own, libicuuc.so.72, .76, ...) serves as well.
#pragma once

#include <unicode/ucasemap.h>
#include <unicode/uchar.h>
#include <unicode/utypes.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cgnat {

// The file of the ICU these headers belong to, e.g. "libicuuc.so.72".
std::string icu_library_name();

struct DlClose {
  void operator()(void *handle) const;
};

struct CaseMapClose {
  decltype(&ucasemap_close) close = nullptr;
  void operator()(UCaseMap *map) const { close(map); }
};

// One opened ICU and the C functions the collector calls in it.
struct IcuLibrary {
  std::unique_ptr<void, DlClose> handle; // first in, last out
  decltype(&u_charType) char_type = nullptr;
  decltype(&u_errorName) error_name = nullptr;
  decltype(&ucasemap_utf8ToLower) utf8_to_lower = nullptr;
  decltype(&ucasemap_utf8ToUpper) utf8_to_upper = nullptr;
  std::unique_ptr<UCaseMap, CaseMapClose> root_case_map;
};

// Opens soname (a name or a path ending in libicuuc.so.N) and finds every
// function above under ICU N's names; throws std::runtime_error naming the
// library (and the function) when something is missing.
IcuLibrary open_icu_library(const std::string &soname);

// The directories the dynamic loader searches, in its order.
std::vector<std::string> library_search_directories();

// The paths of every libicuuc.so.N in directories, newest N first.
std::vector<std::string>
installed_icu_libraries(const std::vector<std::string> &directories);

// preferred, or else the newest ICU in directories that opens; the error is
// preferred's when none does.
IcuLibrary open_installed_icu(const std::string &preferred,
                              const std::vector<std::string> &directories);

// The process's ICU, opened on the first call. A failure is raised again on
// every later call, never retried.
const IcuLibrary &icu();

// Whether some libicuuc is mapped in this process, asked of the dynamic
// linker.
bool icu_loaded();

// ICU general category of c (a UCharCategory).
int8_t icu_char_type(char32_t c);

// Full case mappings of valid UTF-8 with the root locale.
std::string icu_to_lower(std::string_view text);
std::string icu_to_upper(std::string_view text);

} // namespace cgnat
