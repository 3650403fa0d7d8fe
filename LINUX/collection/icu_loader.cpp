#include "LINUX/collection/icu_loader.hpp"

#include <dlfcn.h>
#include <link.h>

#include <charconv>
#include <climits>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <variant>

// The headers rename every function to its versioned symbol (u_charType ->
// u_charType_72); a library of another ICU has the same functions under its
// own number, the one its file name ends with.
#define CGNAT_ICU_STRING(x) #x
#define CGNAT_ICU_EXPANDED(x) CGNAT_ICU_STRING(x)
#define CGNAT_ICU_FIND(library, soname, suffix, fn)                            \
  find_function<decltype(&fn)>(library, soname, #fn + suffix)

namespace cgnat {
namespace {

std::string last_dl_error() {
  const char *error = dlerror();
  return error ? error : "erro desconhecido";
}

constexpr std::string_view ICU_PREFIX = "libicuuc.so.";

// N of ".../libicuuc.so.N", or 0 when the name does not end so.
int icu_major(std::string_view path) {
  const auto slash = path.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (!name.starts_with(ICU_PREFIX))
    return 0;
  const std::string_view digits = name.substr(ICU_PREFIX.size());
  int major = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), major);
  if (error != std::errc() || end != digits.data() + digits.size())
    return 0;
  return major;
}

template <class Function>
Function find_function(void *library, const std::string &soname,
                       const std::string &name) {
  dlerror();
  void *symbol = dlsym(library, name.c_str());
  if (symbol == nullptr)
    throw std::runtime_error(
        "A biblioteca ICU " + soname + " não tem a função " + name +
        " (necessária para texto não ASCII): " + last_dl_error());
  return reinterpret_cast<Function>(symbol);
}

using CaseMapping = decltype(&ucasemap_utf8ToLower);

std::string map_case(CaseMapping mapping, const char *what,
                     std::string_view text) {
  if (text.size() > static_cast<size_t>(INT32_MAX))
    throw std::runtime_error(std::string("Texto grande demais para ") + what +
                             " com a ICU (" + std::to_string(text.size()) +
                             " bytes)");
  const IcuLibrary &library = icu();
  const auto length = static_cast<int32_t>(text.size());
  // Full mappings may grow the text; a second pass takes the exact size.
  std::string out(text.size() + 16, '\0');
  for (int pass = 0; pass < 2; ++pass) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t size =
        mapping(library.root_case_map.get(), out.data(),
                static_cast<int32_t>(out.size()), text.data(), length, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && pass == 0) {
      out.assign(static_cast<size_t>(size), '\0');
      continue;
    }
    if (U_FAILURE(status))
      throw std::runtime_error(std::string("A ICU falhou ao converter para ") +
                               what + ": " + library.error_name(status));
    out.resize(static_cast<size_t>(size));
    return out;
  }
  throw std::runtime_error(std::string("A ICU falhou ao converter para ") +
                           what + ": tamanho do resultado instável");
}

} // namespace

std::string icu_library_name() {
  return "libicuuc.so." CGNAT_ICU_EXPANDED(U_ICU_VERSION_MAJOR_NUM);
}

void DlClose::operator()(void *handle) const { dlclose(handle); }

std::vector<std::string> library_search_directories() {
  void *self = dlopen(nullptr, RTLD_LAZY);
  Dl_serinfo size;
  if (self == nullptr || dlinfo(self, RTLD_DI_SERINFOSIZE, &size) != 0)
    return {};
  std::vector<std::max_align_t> buffer(
      size.dls_size / sizeof(std::max_align_t) + 1);
  auto *info = reinterpret_cast<Dl_serinfo *>(buffer.data());
  *info = size;
  if (dlinfo(self, RTLD_DI_SERINFO, info) != 0)
    return {};
  std::vector<std::string> directories;
  for (unsigned i = 0; i < info->dls_cnt; ++i)
    directories.emplace_back(info->dls_serpath[i].dls_name);
  return directories;
}

std::vector<std::string>
installed_icu_libraries(const std::vector<std::string> &directories) {
  // Newest first; the loader's first directory wins for one version.
  std::map<int, std::string, std::greater<>> found;
  for (const auto &directory : directories) {
    std::error_code error;
    for (const auto &entry :
         std::filesystem::directory_iterator(directory, error)) {
      const std::string path = entry.path().string();
      if (const int major = icu_major(path); major > 0)
        found.try_emplace(major, path);
    }
  }
  std::vector<std::string> paths;
  for (auto &[major, path] : found)
    paths.push_back(std::move(path));
  return paths;
}

IcuLibrary open_icu_library(const std::string &soname) {
  IcuLibrary library;
  library.handle.reset(dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!library.handle)
    throw std::runtime_error(
        "Não foi possível carregar a biblioteca ICU " + soname +
        " (necessária para texto não ASCII): " + last_dl_error());
  void *handle = library.handle.get();
  const int major = icu_major(soname);
  const std::string suffix =
      "_" + std::to_string(major > 0 ? major : U_ICU_VERSION_MAJOR_NUM);
  library.char_type = CGNAT_ICU_FIND(handle, soname, suffix, u_charType);
  library.error_name = CGNAT_ICU_FIND(handle, soname, suffix, u_errorName);
  library.utf8_to_lower =
      CGNAT_ICU_FIND(handle, soname, suffix, ucasemap_utf8ToLower);
  library.utf8_to_upper =
      CGNAT_ICU_FIND(handle, soname, suffix, ucasemap_utf8ToUpper);
  const auto open = CGNAT_ICU_FIND(handle, soname, suffix, ucasemap_open);
  library.root_case_map.get_deleter().close =
      CGNAT_ICU_FIND(handle, soname, suffix, ucasemap_close);
  UErrorCode status = U_ZERO_ERROR;
  library.root_case_map.reset(open("", 0, &status)); // "" is the root locale
  if (U_FAILURE(status) || !library.root_case_map)
    throw std::runtime_error("A biblioteca ICU " + soname +
                             " não abriu o mapa de maiúsculas/minúsculas: " +
                             library.error_name(status));
  return library;
}

IcuLibrary open_installed_icu(const std::string &preferred,
                              const std::vector<std::string> &directories) {
  try {
    return open_icu_library(preferred);
  } catch (const std::runtime_error &) {
    // Another release's ICU: its C functions are the same, renamed.
    for (const auto &path : installed_icu_libraries(directories)) {
      try {
        return open_icu_library(path);
      } catch (const std::runtime_error &) {
      }
    }
    throw; // the ICU of the build is what to install
  }
}

const IcuLibrary &icu() {
  static const std::variant<IcuLibrary, std::string> opened =
      []() -> std::variant<IcuLibrary, std::string> {
    try {
      return open_installed_icu(icu_library_name(),
                                library_search_directories());
    } catch (const std::runtime_error &error) {
      return std::string(error.what());
    }
  }();
  if (const auto *failure = std::get_if<std::string>(&opened))
    throw std::runtime_error(*failure);
  return std::get<IcuLibrary>(opened);
}

bool icu_loaded() {
  return dl_iterate_phdr(
             [](dl_phdr_info *info, size_t, void *) {
               return icu_major(info->dlpi_name) > 0 ? 1 : 0;
             },
             nullptr) != 0;
}

int8_t icu_char_type(char32_t c) {
  return icu().char_type(static_cast<UChar32>(c));
}

std::string icu_to_lower(std::string_view text) {
  return map_case(icu().utf8_to_lower, "minúsculas", text);
}

std::string icu_to_upper(std::string_view text) {
  return map_case(icu().utf8_to_upper, "maiúsculas", text);
}

} // namespace cgnat
