// Lines per second through normalisation and parsing, for outputs built by
// repeating the sample device outputs.
#include "LINUX/collection/collection.hpp"

#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string sample(const std::string &name) {
  const std::string path =
      std::string(CGNAT_SOURCE_DIR) + "/device_simulator/samples/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("amostra não encontrada: " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The sample's lines repeated until the output holds exactly count lines.
std::string output_of(const std::string &sample_text, size_t count) {
  std::vector<std::string> lines;
  std::istringstream in(sample_text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line + "\n");
  std::string out;
  for (size_t i = 0; i < count; ++i)
    out += lines[i % lines.size()];
  return out;
}

void BM_summary(benchmark::State &state) {
  const size_t count = static_cast<size_t>(state.range(0));
  const std::string text = output_of(sample("summary.txt"), count);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        cgnat::parse_summary(cgnat::normalise_summary(text)));
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_errors(benchmark::State &state) {
  const size_t count = static_cast<size_t>(state.range(0));
  const std::string text = output_of(sample("errors.txt"), count);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        cgnat::parse_errors(cgnat::normalise_errors(text)));
  state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(BM_summary)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_errors)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
