// The tool's %.9g on the numbers `varnel obj` prints for bench/make_documents.py's mesh: a
// vertex's position, texture point (t as one minus a float) and normal, read from six-digit text.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "cli/Json.h"

namespace {

float SixDigits(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return std::strtof(text, nullptr);
}

std::vector<double> ObjNumbers() {
  std::mt19937 random(16);
  std::uniform_real_distribution<double> jitter(-0.1, 0.1), height(0, 40), unit(-1, 1), up(0.1, 1);
  const int columns = 300, rows = 300;
  std::vector<double> numbers;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      const double x = unit(random), y = unit(random), z = up(random);
      const double length = std::sqrt(x * x + y * y + z * z);
      for (double v : {c * 0.5 + jitter(random), r * 0.5 + jitter(random), height(random)})
        numbers.push_back(SixDigits(v));
      numbers.push_back(SixDigits(c / (columns - 1.0)));
      numbers.push_back(1.0 - SixDigits(r / (rows - 1.0)));
      for (double v : {x, y, z}) numbers.push_back(SixDigits(v / length));
    }
  return numbers;
}

void BM_Print9Obj(benchmark::State& state) {
  const std::vector<double> numbers = ObjNumbers();
  char text[64];
  size_t characters = 0;
  for (auto _ : state) {
    for (double value : numbers) characters += size_t(varnel::cli::Print9(text, value) - text);
    benchmark::DoNotOptimize(characters);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(numbers.size()));
}
BENCHMARK(BM_Print9Obj);

}  // namespace
