// The number readers, and the list fast paths, against the C library in the "C" locale, bit
// for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <random>
#include <string>
#include <vector>

#include "xml/NumberList.h"
#include "xml/Numbers.h"

namespace {

locale_t CLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

void ExpectLikeStrtod(const std::string& text) {
  double expected = strtod_l(text.c_str(), nullptr, CLocale());
  double got = varnel::ParseDouble(text.c_str());
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(got) && std::signbit(got) == std::signbit(expected)) << '"' << text << '"';
    return;
  }
  EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
      << '"' << text << "\" gives " << got << ", strtod " << expected;
}

TEST(Numbers, ParseDoubleMatchesStrtod) {
  for (const char* text :
       {"0", "-0", ".5", "5.", ".", "-", "", "+.5", "-.e1", "1e", "1E-2x", "1e-400", "-1e400",
        "4.9e-324", "2.4703282292062328e-324", "2.2250738585072011e-308", "1.7976931348623158e308",
        "9007199254740993", "9007199254740993.0000001", "0.30000000000000004",
        "123456789012345678901234567890", "1e23", "0x1p3", "-0x10", "0x", "inf", "-Infinity",
        "nan", "-NaN", "nan(123)", " \t\n\v\f\r42", "\x01" "5", "1,5", "+-1", "1.2.3", "1ee5",
        "\xC2\xA0" "7", "000000000000000000000000000001.5"})
    ExpectLikeStrtod(text);
  ExpectLikeStrtod("0." + std::string(790, '0') + "1e800");

  // Random decimal text, short enough for the inline reader or not, with rubbish behind it.
  std::mt19937_64 rng(7);
  auto digits = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
    return s;
  };
  const char* tails[] = {"", "", " 2", "x", "e", "e+", ".", "\n", "-1"};
  for (int i = 0; i < 100000 && !HasFailure(); ++i) {
    std::string s = (rng() % 2 ? "-" : "") + digits(static_cast<int>(rng() % 22));
    if (rng() % 2) s += "." + digits(static_cast<int>(rng() % 25));
    if (rng() % 3 == 0) s += (rng() % 2 ? "e-" : "E") + digits(1 + static_cast<int>(rng() % 3));
    ExpectLikeStrtod(s + tails[rng() % std::size(tails)]);
  }
}

TEST(Numbers, ParseIntMatchesStrtolCutTo32Bits) {
  std::vector<std::string> cases = {
      "0", "-0", "  -12abc", "+7", "+-1", "0x10", "\v7", "007", "", "-", "2147483648",
      "-2147483649", "4294967296", "9223372036854775808", "-9223372036854775809",
      "99999999999999999999", "\x01" "5", "1.9", "1e5", "\xC2\xA0" "3"};
  std::mt19937 rng(3);
  for (int i = 0; i < 50000; ++i) {
    std::string s = rng() % 3 ? "" : "-";
    for (int k = 0, n = 1 + static_cast<int>(rng() % 21); k < n; ++k) s += static_cast<char>('0' + rng() % 10);
    cases.push_back(s);
  }
  for (const std::string& text : cases)
    EXPECT_EQ(varnel::ParseInt(text.c_str()), static_cast<int>(strtol_l(text.c_str(), nullptr, 10, CLocale())))
        << '"' << text << '"';
}

// The runs take a number only where they convert it as the general readers do; the usual
// shapes must be taken, or the fast path is dead.
TEST(Numbers, ListRunsMatchStrtod) {
  std::vector<std::string> cases = {"0", "-0", "16.6781", "-0.0276954", "1002", "12345678", "123456789",
                                    "99999999.9999999", "9999999.99999999", "1.00000000", "5.", ".5",
                                    "+1", "1e5", "0x1", "-", "00000007", "0.30000000"};
  std::mt19937 rng(5);
  for (int i = 0; i < 50000; ++i) {
    std::string s = rng() % 4 ? "" : "-";
    for (int k = 0, n = static_cast<int>(rng() % 10); k < n; ++k) s += static_cast<char>('0' + rng() % 10);
    if (rng() % 2) s += ".";
    for (int k = 0, n = static_cast<int>(rng() % 10); k < n; ++k) s += static_cast<char>('0' + rng() % 10);
    cases.push_back(s);
  }
  int taken = 0;
  for (const std::string& token : cases) {
    std::string text = token + (rng() % 2 ? " " : "\n") + std::string(20, '7');
    int p = 0;
    varnel::BaseArray<float> floats;
    if (varnel::RunOfPlainFloats(text.data(), p, static_cast<int>(text.size()), 1, floats) == 1) {
      const float expected = static_cast<float>(strtod_l(token.c_str(), nullptr, CLocale()));
      EXPECT_EQ(std::memcmp(&floats[0], &expected, sizeof expected), 0) << '"' << token << '"';
      EXPECT_EQ(p, static_cast<int>(token.size()) + 1) << '"' << token << '"';
      ++taken;
    }
    p = 0;
    varnel::BaseArray<int32_t> ints;
    if (varnel::RunOfPlainInts(text.data(), p, static_cast<int>(text.size()), 1, ints) == 1) {
      EXPECT_EQ(ints[0], static_cast<int>(strtol_l(token.c_str(), nullptr, 10, CLocale()))) << '"' << token << '"';
      EXPECT_EQ(token.find_first_not_of("0123456789"), std::string::npos) << '"' << token << '"';
    }
  }
  EXPECT_GT(taken, 10000);
  for (const char* usual : {"16.6781 ", "-0.0276954 ", "1002 "}) {
    std::string text = usual + std::string(20, ' ');
    int p = 0;
    varnel::BaseArray<float> floats;
    EXPECT_EQ(varnel::RunOfPlainFloats(text.data(), p, static_cast<int>(text.size()), 1, floats), 1) << usual;
  }
}

}  // namespace
