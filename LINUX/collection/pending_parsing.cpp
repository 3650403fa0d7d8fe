// Placeholder until the text routines land; fails loudly, never pretends.
#include "LINUX/collection/collection.hpp"

#include <stdexcept>

namespace cgnat {
std::vector<std::string> normalise_summary(const std::string &) {
  throw std::logic_error("normalização ainda não implementada");
}
std::vector<std::string> normalise_errors(const std::string &) {
  throw std::logic_error("normalização ainda não implementada");
}
MetricMap parse_summary(const std::vector<std::string> &) {
  throw std::logic_error("análise do summary ainda não implementada");
}
MetricMap parse_errors(const std::vector<std::string> &) {
  throw std::logic_error("análise dos erros ainda não implementada");
}
} // namespace cgnat
