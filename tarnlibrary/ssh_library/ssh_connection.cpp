// Placeholder until the SSH component lands; fails loudly, never pretends.
#include "tarnlibrary/ssh_library/ssh_library.hpp"

#include <stdexcept>

namespace tarn {
struct Ssh_connection_3::Session {};
Ssh_connection_3::Ssh_connection_3(std::string, std::string, std::string,
                                   std::string, std::string) {}
Ssh_connection_3::~Ssh_connection_3() = default;
void Ssh_connection_3::connect() {
  throw std::logic_error("sessão SSH ainda não implementada");
}
std::string Ssh_connection_3::execute_command(const std::string &) {
  throw std::logic_error("sessão SSH ainda não implementada");
}
void Ssh_connection_3::close() {}
} // namespace tarn
