#include "tarnlibrary/ssh_library/ssh_port.hpp"

#include <stdexcept>

namespace tarn {

int parse_port(const std::string &text, const std::string &host) {
  long value = 0;
  bool digits = !text.empty() && text.size() <= 5;
  for (size_t i = 0; digits && i < text.size(); ++i) {
    digits = text[i] >= '0' && text[i] <= '9';
    value = value * 10 + (text[i] - '0');
  }
  if (!digits || value < 1 || value > 65535)
    throw std::invalid_argument("porta SSH inválida \"" + text +
                                "\" para o host " + host +
                                ": informe um número de 1 a 65535");
  return static_cast<int>(value);
}

} // namespace tarn
