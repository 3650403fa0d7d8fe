// "show cgnat errors" lines to inbound and outbound counters.
#include "LINUX/collection/catalogue.hpp"
#include "LINUX/collection/collection.hpp"
#include "LINUX/collection/text.hpp"

#include <array>

namespace cgnat {
namespace {

std::array<std::string, chaves_errors.size()> lower_labels() {
  std::array<std::string, chaves_errors.size()> labels;
  for (size_t row = 0; row < chaves_errors.size(); ++row)
    labels[row] = to_lower(chaves_errors[row].label);
  return labels;
}

struct CounterKeys {
  std::string in, out;
};

// Each row's two map keys, built once per parse.
std::array<CounterKeys, chaves_errors.size()> counter_keys() {
  std::array<CounterKeys, chaves_errors.size()> keys;
  for (size_t row = 0; row < chaves_errors.size(); ++row) {
    keys[row].in = chaves_errors[row].key;
    keys[row].in += INBOUND_SUFFIX;
    keys[row].out = chaves_errors[row].key;
    keys[row].out += OUTBOUND_SUFFIX;
  }
  return keys;
}

// Tokens before the two counters, joined by single spaces.
std::string name_part(const std::vector<std::string_view> &words) {
  std::string name;
  for (size_t i = 0; i + 2 < words.size(); ++i) {
    if (i > 0)
      name.push_back(' ');
    name.append(words[i]);
  }
  return name;
}

} // namespace

MetricMap parse_errors(const std::vector<std::string> &lines_errors) {
  const auto labels = lower_labels();
  const auto keys = counter_keys();
  MetricMap data_erros;
  for (const std::string &line : lines_errors) {
    const std::vector<std::string_view> words = tokens(line);
    if (words.size() < 3)
      continue;
    const std::string name = to_lower(name_part(words));
    for (size_t row = 0; row < labels.size(); ++row) {
      if (name.find(labels[row]) == std::string::npos)
        continue;
      data_erros.store(keys[row].in, std::string(words[words.size() - 2]));
      data_erros.store(keys[row].out, std::string(words.back()));
      break;
    }
  }
  return data_erros;
}

} // namespace cgnat
