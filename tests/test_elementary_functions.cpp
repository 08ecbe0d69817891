// Elementary special functions: accuracy against the mpmath reference table
// in every method region, and the exact values at the region edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <iterator>
#include <map>
#include <numbers>
#include <string>

#include "distributions/distfn.h"
#include "tests/special_function_reference.hpp"

namespace {

using special_reference::Case;
using special_reference::Function;

using special_reference::unary;

double erfc_of(int ind, double x) { return erfc1(&ind, &x); }

double esum_of(int mu, double x) { return esum(&mu, &x); }

const std::map<std::string, Function> &functions() {
  static const std::map<std::string, Function> table = {
      {"alnrel", unary<alnrel>},
      {"rexp", unary<rexp>},
      {"rlog", unary<rlog>},
      {"rlog1", unary<rlog1>},
      {"erf1", unary<erf1>},
      {"erfc1", [](double x, double) { return erfc_of(0, x); }},
      {"erfc1_scaled", [](double x, double) { return erfc_of(1, x); }},
      {"esum", [](double mu, double x) { return esum_of(static_cast<int>(mu), x); }},
  };
  return table;
}

const special_reference::Table &reference() {
  static const special_reference::Table table = special_reference::load("special_elementary.csv");
  return table;
}

// Bounds in units of 2^-52, relative error (floor 0) throughout.
const Case kCases[] = {
    {"alnrel", "rational", 0, 4},
    {"alnrel", "tiny", 0, 4},
    {"alnrel", "log_below", 0, 4},
    {"alnrel", "log_above", 0, 4},
    {"rexp", "rational", 0, 4},
    {"rexp", "tiny", 0, 4},
    {"rexp", "exp_below", 0, 4},
    {"rexp", "exp_above", 0, 6},
    {"rlog", "log_below", 0, 4},
    {"rlog", "low", 0, 9},
    {"rlog", "centre", 0, 5},
    {"rlog", "high", 0, 9},
    {"rlog", "log_above", 0, 4},
    {"rlog1", "log_below", 0, 5},
    {"rlog1", "low", 0, 15},
    {"rlog1", "centre", 0, 5},
    {"rlog1", "tiny", 0, 4},
    {"rlog1", "high", 0, 6},
    {"rlog1", "log_above", 0, 4},
    {"erf1", "series", 0, 6},
    {"erf1", "tiny", 0, 6},
    {"erf1", "middle", 0, 7},
    {"erf1", "tail", 0, 4},
    {"erf1", "saturated", 0, 0},
    {"erfc1", "series", 0, 6},
    {"erfc1", "middle", 0, 18},
    {"erfc1", "tail_below", 0, 4},
    // exp(-x^2) of the rounded square: its rounding, up to x^2 2^-53, is
    // carried into the result (about 230 units at x = 25).
    {"erfc1", "tail_above", 0, 470},
    {"erfc1_scaled", "series", 0, 6},
    {"erfc1_scaled", "middle", 0, 13},
    {"erfc1_scaled", "tail_below", 0, 500},  // exp(x^2), as above
    {"erfc1_scaled", "tail_above", 0, 7},
    {"esum", "same_sign", 0, 4},
    {"esum", "opposite_sign", 0, 4},
    {"esum", "factor_beyond_range", 0, 4},
};

class ElementaryAccuracy : public ::testing::TestWithParam<Case> {};

TEST_P(ElementaryAccuracy, WithinBound) { special_reference::expect_within_bound(reference(), functions(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(Reference, ElementaryAccuracy, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return special_reference::case_name(info.param); });

TEST(ElementaryReference, EveryRegionHasABound) { special_reference::expect_every_region_bounded(reference(), kCases); }

// The library's twins are the same computation, bit for bit.
TEST(ElementaryFunctions, TwinsAgreeBitForBit) {
  for (const auto &[function, rows] : reference()) {
    for (const auto &row : rows) {
      double x = row.x;
      if (function == "alnrel") {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(dln1px(&x)), std::bit_cast<std::uint64_t>(alnrel(&x))) << x;
      }
      if (function == "rexp") {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(dexpm1(&x)), std::bit_cast<std::uint64_t>(rexp(&x))) << x;
      }
    }
  }
  double half = 0.5;
  double minus_half = -0.5;
  EXPECT_EQ(dln1mx(&half), dln1px(&minus_half));
}

TEST(ElementaryFunctions, ExactValues) {
  double zero = 0.0;
  double one = 1.0;
  EXPECT_EQ(alnrel(&zero), 0.0);
  EXPECT_EQ(rexp(&zero), 0.0);
  EXPECT_EQ(rlog(&one), 0.0);
  EXPECT_EQ(rlog1(&zero), 0.0);
  EXPECT_EQ(erf1(&zero), 0.0);
  EXPECT_EQ(erfc_of(0, 0.0), 1.0);
  EXPECT_EQ(erfc_of(1, 0.0), 1.0);
}

TEST(ElementaryFunctions, RegionEdges) {
  // Just above 0.375 the logarithm is taken; at 0.375 the rational form, which
  // must still be accurate there.
  for (double a : {0.3750001, -0.3750001, 2.0}) EXPECT_EQ(alnrel(&a), std::log(a + 1.0)) << a;
  double edge = 0.375;
  EXPECT_NEAR(alnrel(&edge), 0.3184537311185346, 2e-16);  // ln 1.375
  double minus_one = -1.0;
  EXPECT_EQ(rexp(&minus_one), (std::exp(-1.0) - 0.5) - 0.5);
  double rexp_edge = 0.15;
  EXPECT_NEAR(rexp(&rexp_edge), 0.16183424272828312, 2 * 0x1p-52 * 0.162);  // expm1(0.15)
}

struct EsumCase {
  int mu;
  double x;
  double expected;
};

TEST(ElementaryFunctions, EsumTakesOneExponentialOnlyWhenTheSumIsSafe) {
  const EsumCase cases[] = {
      {1, -2.0, std::exp(-1.0)},
      {1, -0.5, std::exp(1.0) * std::exp(-0.5)},
      {-1, 2.0, std::exp(1.0)},
      {1, 2.0, std::exp(1.0) * std::exp(2.0)},
      {0, 0.0, 1.0},
  };
  for (const auto &c : cases) EXPECT_EQ(esum_of(c.mu, c.x), c.expected) << c.mu << " " << c.x;
}

TEST(ElementaryFunctions, EsumFactorBeyondExpRangeStillGivesTheSum) {
  EXPECT_DOUBLE_EQ(esum_of(800, -300.0), std::exp(500.0));
  EXPECT_DOUBLE_EQ(esum_of(-800, 300.5), std::exp(-499.5));
  EXPECT_EQ(esum_of(800, 10.0), HUGE_VAL);  // a true overflow stays one
}

TEST(ElementaryFunctions, ErrorFunctionSaturation) {
  for (double x : {5.8, 6.0, 1e300}) {
    double negated = -x;
    EXPECT_EQ(erf1(&x), 1.0) << x;
    EXPECT_EQ(erf1(&negated), -1.0) << x;
  }
  for (double x : {-5.6, -6.0, -1e300}) EXPECT_EQ(erfc_of(0, x), 2.0) << x;
  for (double x : {26.7, 101.0, 1e300}) EXPECT_EQ(erfc_of(0, x), 0.0) << x;
  // exp(x^2) erfc(x) ~ 1/(sqrt(pi) x) for large x.
  for (double x : {1e4, 1e8, 1e200}) {
    EXPECT_NEAR(erfc_of(1, x) * x, std::numbers::inv_sqrtpi, 1e-8) << x;
  }
  EXPECT_EQ(erfc_of(1, -30.0), HUGE_VAL);  // 2 exp(900) exceeds the double range
}

TEST(ElementaryFunctions, NotANumberPassesThrough) {
  double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto f : {alnrel, dln1px, dln1mx, rexp, dexpm1, rlog, rlog1, erf1}) EXPECT_TRUE(std::isnan(f(&nan)));
  EXPECT_TRUE(std::isnan(erfc_of(0, nan)));
  EXPECT_TRUE(std::isnan(erfc_of(1, nan)));
  EXPECT_TRUE(std::isnan(esum_of(3, nan)));
}

TEST(ElementaryFunctions, OutsideTheDomainTheLogarithmDecides) {
  double minus_one = -1.0;
  double below = -2.0;
  double zero = 0.0;
  EXPECT_EQ(alnrel(&minus_one), -HUGE_VAL);
  EXPECT_TRUE(std::isnan(alnrel(&below)));
  EXPECT_EQ(rlog(&zero), HUGE_VAL);
  EXPECT_EQ(rlog1(&minus_one), HUGE_VAL);
}

}  // namespace
