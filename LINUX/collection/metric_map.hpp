// Insertion-ordered map from key to value; a later store keeps the place.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace cgnat {

// Text, or the integer table-full flag.
using MetricValue = std::variant<std::string, int>;

class MetricMap {
public:
  using Entry = std::pair<std::string, MetricValue>;

  void store(std::string_view key, MetricValue value) {
    for (auto &entry : entries_)
      if (entry.first == key) {
        entry.second = std::move(value);
        return;
      }
    entries_.emplace_back(std::string(key), std::move(value));
  }
  const MetricValue *find(std::string_view key) const {
    for (const auto &entry : entries_)
      if (entry.first == key)
        return &entry.second;
    return nullptr;
  }
  std::vector<Entry> &entries() { return entries_; }
  const std::vector<Entry> &entries() const { return entries_; }
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  bool operator==(const MetricMap &) const = default;

private:
  // Few keys (at most 26): a linear scan beats hashing here.
  std::vector<Entry> entries_;
};

} // namespace cgnat
