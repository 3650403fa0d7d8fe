#include "LINUX/collection/icu_loader.hpp"

#include <dlfcn.h>

#include <climits>
#include <stdexcept>
#include <variant>

// The headers rename every function to its versioned symbol (u_charType ->
// u_charType_72); the same expansion gives the name to look up.
#define CGNAT_ICU_STRING(x) #x
#define CGNAT_ICU_EXPANDED(x) CGNAT_ICU_STRING(x)
#define CGNAT_ICU_FIND(library, soname, fn)                                    \
  find_function<decltype(&fn)>(library, soname, CGNAT_ICU_EXPANDED(fn))

namespace cgnat {
namespace {

std::string last_dl_error() {
  const char *error = dlerror();
  return error ? error : "erro desconhecido";
}

template <class Function>
Function find_function(void *library, const std::string &soname,
                       const char *name) {
  dlerror();
  void *symbol = dlsym(library, name);
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

IcuLibrary open_icu_library(const std::string &soname) {
  IcuLibrary library;
  library.handle.reset(dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!library.handle)
    throw std::runtime_error(
        "Não foi possível carregar a biblioteca ICU " + soname +
        " (necessária para texto não ASCII): " + last_dl_error());
  void *handle = library.handle.get();
  library.char_type = CGNAT_ICU_FIND(handle, soname, u_charType);
  library.error_name = CGNAT_ICU_FIND(handle, soname, u_errorName);
  library.utf8_to_lower = CGNAT_ICU_FIND(handle, soname, ucasemap_utf8ToLower);
  library.utf8_to_upper = CGNAT_ICU_FIND(handle, soname, ucasemap_utf8ToUpper);
  const auto open = CGNAT_ICU_FIND(handle, soname, ucasemap_open);
  library.root_case_map.get_deleter().close =
      CGNAT_ICU_FIND(handle, soname, ucasemap_close);
  UErrorCode status = U_ZERO_ERROR;
  library.root_case_map.reset(open("", 0, &status)); // "" is the root locale
  if (U_FAILURE(status) || !library.root_case_map)
    throw std::runtime_error("A biblioteca ICU " + soname +
                             " não abriu o mapa de maiúsculas/minúsculas: " +
                             library.error_name(status));
  return library;
}

const IcuLibrary &icu() {
  static const std::variant<IcuLibrary, std::string> opened =
      []() -> std::variant<IcuLibrary, std::string> {
    try {
      return open_icu_library(icu_library_name());
    } catch (const std::runtime_error &error) {
      return std::string(error.what());
    }
  }();
  if (const auto *failure = std::get_if<std::string>(&opened))
    throw std::runtime_error(*failure);
  return std::get<IcuLibrary>(opened);
}

bool icu_loaded() {
  void *handle = dlopen(icu_library_name().c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr)
    return false;
  dlclose(handle);
  return true;
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
