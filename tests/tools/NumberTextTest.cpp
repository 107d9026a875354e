// The tool's own %.9g against printf's, on random floats (as dump and obj print positions), on
// one minus a float (texture t in OBJ), on random doubles of every magnitude, and on what random
// values seldom are: a hair over a tie, few significant digits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "cli/Json.h"

TEST(NumberText, NineDigitsAsPrintfPrintsThem) {
  std::mt19937_64 random(16);
  int differ = 0;
  auto expect = [&](double value) {
    char printed[64], ours[64];
    std::snprintf(printed, sizeof printed, "%.9g", value);
    *varnel::cli::Print9(ours, value) = '\0';
    if (std::strcmp(printed, ours) != 0 && ++differ <= 5) ADD_FAILURE() << printed << " printed as " << ours;
  };
  // The last three lie less than 2^-33 of a unit over a tie: only the product's low word shows it.
  for (double value : {0.0, 0.0001234, 999999999.5, 999999998.5, 99999999.95, 0.000099999999995, 1e9,
                       1e-5, 10000.03485, 1.003312545, 0.001348765985})
    expect(value), expect(-value);
  for (int j = -12; j <= 10; ++j)  // each count of trailing zeros, in each form
    for (long digits = 1; digits <= 123456789; digits = digits * 10 + digits % 10 + 1)
      expect(double(digits) * std::pow(10.0, j));
  for (int i = 0; i < 300000; ++i) {
    uint64_t bits = random();
    float f;
    double d;
    std::memcpy(&f, &bits, sizeof f);
    std::memcpy(&d, &bits, sizeof d);
    expect(f), expect(1.0 - f), expect(d);
  }
}
