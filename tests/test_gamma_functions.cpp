// Gamma, beta and digamma functions: accuracy against the mpmath reference
// table over the argument ranges their callers use, the exact values at the
// edges of the method regions, and the stop on a nonpositive Stirling argument.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <numbers>
#include <string>

#include "distributions/distfn.h"
#include "tests/special_function_reference.hpp"

namespace {

using special_reference::Case;
using special_reference::Function;

using special_reference::binary;
using special_reference::unary;

const std::map<std::string, Function> &functions() {
  static const std::map<std::string, Function> table = {
      {"gam1", unary<gam1>},       {"gamln1", unary<gamln1>},   {"gamln", unary<gamln>},
      {"alngam", unary<alngam>},   {"Xgamm", unary<Xgamm>},     {"psi", unary<psi>},
      {"dstrem", unary<dstrem>},   {"gsumln", binary<gsumln>},  {"algdiv", binary<algdiv>},
      {"bcorr", binary<bcorr>},    {"betaln", binary<betaln>},  {"dbetrm", binary<dbetrm>},
  };
  return table;
}

const special_reference::Table &reference() {
  static const special_reference::Table table = special_reference::load("special_gamma.csv");
  return table;
}

// Bounds in units of 2^-52.  Floor 1: the error is absolute where the result
// is below 1 in magnitude (the zeros of ln Gamma at 1 and 2, of psi, of ln B);
// floor 0: relative throughout.
const Case kCases[] = {
    {"gam1", "below_half", 0, 11},
    {"gam1", "tiny", 0, 15},
    {"gam1", "above_half", 0, 19},
    {"gamln1", "low", 1, 4},
    {"gamln1", "high", 1, 4},
    {"gamln", "small", 1, 4},
    {"gamln", "near_one_two", 1, 4},
    {"gamln", "reduced", 1, 4},
    {"gamln", "asymptotic", 1, 4},
    {"alngam", "below_two", 1, 10},
    {"alngam", "two_three", 1, 40},  // the rational form's own error, ~4e-15
    {"alngam", "three_six", 1, 40},
    {"alngam", "shifted_series", 1, 6},
    {"alngam", "series", 1, 4},
    {"Xgamm", "tiny", 0, 48},
    {"Xgamm", "zero_one", 0, 46},
    {"Xgamm", "one_fifteen", 0, 44},
    {"Xgamm", "negative_small", 0, 49},
    // exp(g) with g up to 709: the rounding of g, about g 2^-53, becomes a
    // relative error of the result.
    {"Xgamm", "stirling", 0, 1100},
    {"Xgamm", "reflected", 0, 1150},
    {"psi", "tiny", 1, 4},
    {"psi", "reflected_small", 1, 18},
    {"psi", "reflected", 1, 18},
    {"psi", "rational", 1, 19},
    {"psi", "asymptotic", 1, 4},
    // From 2^31 - 1 on psi is ln x alone, missing -1/(2x): 1e-11 relative there.
    {"psi", "logarithm_only", 1, 60000},
    {"dstrem", "difference", 1, 4},
    // Nine terms of the asymptotic series leave 1e-13 just above z = 6.
    {"dstrem", "series_near_six", 0, 1000},
    {"dstrem", "series", 0, 6},
    {"gsumln", "unit_square", 1, 4},
    {"algdiv", "a_below_b", 0, 4},
    {"algdiv", "a_above_b", 0, 4},
    {"bcorr", "large", 0, 6},
    {"betaln", "both_large", 1, 4},
    {"betaln", "small_a", 1, 4},
    {"betaln", "a_one_two", 1, 4},
    {"betaln", "a_two_eight", 1, 4},
    {"betaln", "a_two_eight_b_huge", 1, 4},
    {"dbetrm", "small", 1, 14},
    {"dbetrm", "large", 0, 470},  // inherits the series error of dstrem near 6
};

class GammaAccuracy : public ::testing::TestWithParam<Case> {};

TEST_P(GammaAccuracy, WithinBound) { special_reference::expect_within_bound(reference(), functions(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(Reference, GammaAccuracy, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return special_reference::case_name(info.param); });

TEST(GammaReference, EveryRegionHasABound) { special_reference::expect_every_region_bounded(reference(), kCases); }

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// The library's twins are the same computation, bit for bit; betaln is symmetric.
TEST(GammaFunctions, TwinsAndSymmetryAgreeBitForBit) {
  for (const auto &row : reference().at("gamln")) {
    EXPECT_EQ(bits(unary<dlngam>(row.x)), bits(unary<gamln>(row.x))) << row.x;
  }
  for (const auto &row : reference().at("betaln")) {
    EXPECT_EQ(bits(binary<dlnbet>(row.x, row.y)), bits(binary<betaln>(row.x, row.y))) << row.x << " " << row.y;
    EXPECT_EQ(bits(binary<betaln>(row.y, row.x)), bits(binary<betaln>(row.x, row.y))) << row.x << " " << row.y;
  }
}

TEST(GammaFunctions, ExactValues) {
  EXPECT_EQ(unary<gam1>(0.0), 0.0);
  EXPECT_EQ(unary<gam1>(1.0), 0.0);
  EXPECT_EQ(unary<gamln1>(0.0), 0.0);
  EXPECT_EQ(unary<gamln1>(1.0), 0.0);
  EXPECT_EQ(unary<gamln>(1.0), 0.0);
  EXPECT_EQ(unary<gamln>(2.0), 0.0);
  EXPECT_EQ(binary<gsumln>(1.0, 1.0), 0.0);
  EXPECT_EQ(binary<betaln>(1.0, 1.0), 0.0);
  EXPECT_EQ(unary<Xgamm>(1.0), 1.0);
}

TEST(GammaFunctions, AlngamNearItsZerosIsAccurateAbsolutely) {
  // The rational form on [2, 3] does not vanish exactly at 1 and 2.
  EXPECT_LT(std::fabs(unary<alngam>(1.0)), 1e-14);
  EXPECT_LT(std::fabs(unary<alngam>(2.0)), 1e-14);
}

TEST(GammaFunctions, ContinuousAcrossMethodSwitches) {
  struct Switch {
    double (*f)(double, double);
    double at;
  };
  // Each switch point and its neighbour below go through different methods.
  const Switch switches[] = {
      {unary<gamln>, 10.0},  {unary<gamln>, 2.25}, {unary<gamln>, 0.8},  {unary<psi>, 3.0},
      {unary<alngam>, 6.0},  {unary<Xgamm>, 15.0}, {unary<gamln1>, 0.6}, {unary<gam1>, 0.5},
  };
  for (const auto &s : switches) {
    const double below = std::nextafter(s.at, 0.0);
    const double a = s.f(below, 0.0);
    const double b = s.f(s.at, 0.0);
    EXPECT_NEAR(a, b, 1e-12 * std::max(1.0, std::fabs(b))) << s.at;
  }
  EXPECT_NEAR(unary<gamln>(9.999), 12.799575780077414, 4e-15);  // ln Gamma(9.999)
  EXPECT_NEAR(unary<psi>(3.0000001), 0.922784374591873, 1e-15);
}

struct GammaValue {
  double a;
  double expected;
};

TEST(GammaFunctions, XgammValuesAndZeros) {
  const GammaValue values[] = {
      {0.5, std::sqrt(std::numbers::pi)},
      {-5.5, 0.010912654781909836},
      {5.0, 24.0},
      {171.0, 7.257415615307994e306},
      {-20.5, -2.8346565743913349e-19},
      {1e-300, 1e300},
  };
  for (const auto &v : values) EXPECT_NEAR(unary<Xgamm>(v.a), v.expected, 1e-13 * std::fabs(v.expected)) << v.a;
  // Poles, |a| >= 1000, overflow, and a tiny argument whose reciprocal overflows.
  for (double a : {0.0, -1.0, -3.0, -14.0, -20.0, -100.0, 172.0, 1000.0, -1000.5, 1e300, 4e-309}) {
    EXPECT_EQ(unary<Xgamm>(a), 0.0) << a;
  }
  EXPECT_TRUE(std::isfinite(unary<Xgamm>(171.0)));
}

TEST(GammaFunctions, PsiValuesAndZeros) {
  EXPECT_NEAR(unary<psi>(1.0), -std::numbers::egamma, 1e-15);
  EXPECT_NEAR(unary<psi>(1e-10), -1e10 - std::numbers::egamma, 1e-6);
  EXPECT_NEAR(unary<psi>(1.4616321449683622), 0.0, 1e-15);  // its positive zero
  for (double x : {0.0, -1.0, -2.0, -1e6, -2147483647.0, -1e300}) EXPECT_EQ(unary<psi>(x), 0.0) << x;
}

TEST(GammaFunctions, StirlingRemainderAcrossItsSwitch) {
  // ln Gamma(6) - (ln(2 pi)/2 + 5.5 ln 6 - 6), by the explicit difference; just
  // above, the series.
  // Both are accurate absolutely: the difference cancels ln Gamma(6) = 4.8.
  EXPECT_NEAR(unary<dstrem>(6.0), 0.013876128823070748, 2e-15);
  EXPECT_NEAR(unary<dstrem>(6.000001), 0.013876126514603668, 2e-15);
  EXPECT_DOUBLE_EQ(unary<dstrem>(1e200), 1.0 / 12.0 / 1e200);  // 1/z^2 underflows there
  EXPECT_DOUBLE_EQ(unary<dstrem>(1e300), 1.0 / 12.0 / 1e300);
}

TEST(GammaFunctions, OutsideTheDomainNoHang) {
  EXPECT_EQ(unary<alngam>(0.0), HUGE_VAL);
  for (double x : {-1.0, -5.5, -1e300, -HUGE_VAL}) EXPECT_TRUE(std::isnan(unary<alngam>(x))) << x;
  double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto f : {gam1, gamln1, gamln, dlngam, alngam, Xgamm, psi, dstrem}) EXPECT_TRUE(std::isnan(f(&nan)));
  EXPECT_TRUE(std::isnan(binary<betaln>(nan, 3.0)));
  EXPECT_TRUE(std::isnan(binary<betaln>(3.0, nan)));
}

TEST(GammaFunctionsDeathTest, StirlingRemainderOfNonpositiveArgumentStops) {
  for (double z : {0.0, -1.0, -HUGE_VAL}) {
    EXPECT_EXIT(unary<dstrem>(z), ::testing::ExitedWithCode(1), "^Zero or negative argument in DSTREM\n$") << z;
  }
  EXPECT_EXIT(binary<dbetrm>(0.0, 2.0), ::testing::ExitedWithCode(1), "Zero or negative argument in DSTREM");
}

}  // namespace
