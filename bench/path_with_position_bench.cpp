// How long one path argument of 100,000 characters made of colons, digits
// and parentheses takes to parse. A command line allows arguments of up to
// 128 KiB, and a linear-time search keeps each of them to a fraction of a
// millisecond; a backtracking one would take minutes on some of them.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "util/path_with_position.hpp"

namespace {

constexpr size_t kLength = 100000;

std::string repeated(std::string_view unit) {
  std::string text;
  while (text.size() < kLength) text += unit;
  text.resize(kLength);
  return text;
}

std::string random_mix() {
  const std::string_view alphabet = ":::((),0123456789";
  std::mt19937_64 rng(42);
  std::string text;
  for (size_t i = 0; i < kLength; ++i) text += alphabet[rng() % alphabet.size()];
  return text;
}

// The shapes: only colons; colon-separated rows; parenthesised rows without
// the closing one; a long run of digits after a name; a random mix.
std::string input(int shape) {
  switch (shape) {
    case 0: return repeated(":");
    case 1: return repeated("1:");
    case 2: return repeated("(1:");
    case 3: return "a:" + repeated("9").substr(2);
    case 4: return repeated("1(2,3):");
    default: return random_mix();
  }
}

const char* const kShapeNames[] = {"colons", "row_colon", "open_paren_row", "digits", "pairs", "random_mix"};

void BM_ParseStr(benchmark::State& state) {
  const std::string text = input(static_cast<int>(state.range(0)));
  state.SetLabel(kShapeNames[state.range(0)]);
  for (auto _ : state) benchmark::DoNotOptimize(kiv::PathWithPosition::parse_str(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseStr)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);

// The whole step the launcher runs for an argument, file-system calls included.
void BM_ParsePathWithPosition(benchmark::State& state) {
  const std::string text = input(static_cast<int>(state.range(0)));
  state.SetLabel(kShapeNames[state.range(0)]);
  for (auto _ : state) benchmark::DoNotOptimize(kiv::parse_path_with_position(text));
}
BENCHMARK(BM_ParsePathWithPosition)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);

// A 128 KiB argument of 64 Ki components: one file-system probe per level.
void BM_ParsePathWithPositionDeep(benchmark::State& state) {
  const std::string text = repeated("a/") + repeated("a/").substr(0, 31072) + ":1";
  for (auto _ : state) benchmark::DoNotOptimize(kiv::parse_path_with_position(text));
}
BENCHMARK(BM_ParsePathWithPositionDeep)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
