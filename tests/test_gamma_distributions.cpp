// The gamma, chi-square, Poisson and noncentral chi-square distributions
// against mpmath references (tools/gen_gamma_reference.py) and their edge cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "distributions/distfn.h"
#include "tests/beta_reference.hpp"
#include "tests/reference_csv.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kHalfUnit = 0x1p-53;
constexpr double kSmallest = 1e-300;
constexpr double kTarget = 1e-13;
// Each direction of the noncentral sum ends only once a bound on the terms
// left in it is below 1e-5 of the sum, or keeps the sum below 1e-20.  So cum
// falls short by at most 2e-5 of itself (or 2e-20), and ccum = 1 - cum errs
// by as much; beyond that only rounding, at the level of 1 in ccum.
constexpr double kNoncentralStop = 1e-5;
constexpr double kNoncentralFloor = 1e-20;
constexpr double kRoundingOfOne = 1e-15;

double noncentral_allowance(long double cum) {
  return 2.0 * kNoncentralStop * static_cast<double>(cum) + 2.0 * kNoncentralFloor;
}

struct Cumulative {
  double cum = kNaN;
  double ccum = kNaN;
};

struct Row {
  std::string function;
  double arg1, arg2, arg3;
  long double cum, ccum;
  double kappa_cum, kappa_ccum;
};

std::vector<Row> read_table() {
  using reference_csv::number, reference_csv::reference;
  std::vector<Row> rows;
  for (const auto &f : reference_csv::read("gamma_distributions.csv")) {
    rows.push_back({f[0], number(f[1]), number(f[2]), number(f[3]), reference(f[4]), reference(f[5]), number(f[6]),
                    number(f[7])});
  }
  return rows;
}

Cumulative evaluate(const std::string &function, double u, double v, double w) {
  Cumulative c;
  if (function == "cumgam") cumgam(&u, &v, &c.cum, &c.ccum);
  if (function == "cumchi") cumchi(&u, &v, &c.cum, &c.ccum);
  if (function == "cumpoi") cumpoi(&u, &v, &c.cum, &c.ccum);
  if (function == "cumchn") cumchn(&u, &v, &w, &c.cum, &c.ccum);
  return c;
}

double relative_error(double computed, long double reference) {
  if (computed == reference) return 0.0;
  return static_cast<double>(std::fabs(computed - reference) / std::fabs(reference));
}

TEST(GammaDistributions, MatchReferenceTable) {
  const auto rows = read_table();
  ASSERT_GT(rows.size(), 150U);
  std::map<std::string, double> worst;
  for (const Row &row : rows) {
    const Cumulative c = evaluate(row.function, row.arg1, row.arg2, row.arg3);
    const struct {
      double computed;
      long double reference;
      double kappa;
    } checks[] = {{c.cum, row.cum, row.kappa_cum}, {c.ccum, row.ccum, row.kappa_ccum}};
    for (const auto &check : checks) {
      const std::string where = row.function + "(" + std::to_string(row.arg1) + ", " + std::to_string(row.arg2) +
                                ", " + std::to_string(row.arg3) + ")";
      if (row.function == "cumchn") {
        const double error = static_cast<double>(std::fabs(check.computed - check.reference));
        EXPECT_LE(error, noncentral_allowance(row.cum) + kRoundingOfOne) << where;
        worst["cumchn (absolute)"] = std::max(worst["cumchn (absolute)"], error);
        continue;
      }
      if (check.reference < kSmallest) continue;
      const double error = relative_error(check.computed, check.reference);
      EXPECT_LE(error, std::max(kTarget, 16.0 * check.kappa * kHalfUnit)) << where;
      worst[row.function] = std::max(worst[row.function], error);
    }
  }
  for (auto [function, error] : worst) std::cout << function << ": max error " << error << "\n";
}

TEST(GammaDistributions, EdgeCases) {
  const struct {
    const char *function;
    double u, v, w;
    double cum, ccum;
  } cases[] = {
      {"cumgam", 0.0, 3.0, 0.0, 0.0, 1.0},
      {"cumgam", 0.0, 0.0, 0.0, 0.0, 1.0},
      {"cumgam", -2.0, 3.0, 0.0, 0.0, 1.0},
      {"cumchi", 0.0, 4.0, 0.0, 0.0, 1.0},
      {"cumpoi", 0.0, 0.0, 0.0, 1.0, 0.0},
      {"cumpoi", 3.0, -1.0, 0.0, 1.0, 0.0},
      {"cumchn", 0.0, 4.0, 3.0, 0.0, 1.0},
      {"cumchn", -1.0, 4.0, 3.0, 0.0, 1.0},
      {"cumchn", HUGE_VAL, 4.0, 3.0, 1.0, 0.0},
      {"cumchn", 5.0, 4.0, HUGE_VAL, 0.0, 1.0},
  };
  for (const auto &c : cases) {
    const Cumulative r = evaluate(c.function, c.u, c.v, c.w);
    EXPECT_EQ(r.cum, c.cum) << c.function << "(" << c.u << ", " << c.v << ", " << c.w << ")";
    EXPECT_EQ(r.ccum, c.ccum) << c.function << "(" << c.u << ", " << c.v << ", " << c.w << ")";
  }
  // No event: exp(-xlam), whose condition number is xlam.
  for (double xlam : {1e-3, 0.7, 5.0, 40.0}) {
    EXPECT_LE(relative_error(evaluate("cumpoi", 0.0, xlam, 0.0).cum, std::exp(-static_cast<long double>(xlam))),
              16.0 * (1.0 + xlam) * kHalfUnit);
  }
  // The gamma ratio's error marker reaches the caller: cum = 2, ccum untouched.
  double x = 1.0;
  double a = -1.0;
  double cum = 0.0;
  double ccum = -7.0;
  cumgam(&x, &a, &cum, &ccum);
  EXPECT_EQ(cum, 2.0);
  EXPECT_EQ(ccum, -7.0);
}

// Outside the law's domain the noncentral sum is not attempted: NaN, never a
// process stop in its Poisson weights.
TEST(NoncentralChiSquare, NegativeParametersGiveNotANumber) {
  for (const auto &[df, pnonc] : {std::pair{-1e10, 4.0}, std::pair{-1.0, 4.0}}) {
    const Cumulative c = evaluate("cumchn", 3.0, df, pnonc);
    EXPECT_TRUE(std::isnan(c.cum) && std::isnan(c.ccum)) << df << " " << pnonc;
  }
}

// The Poisson law reads the gamma ratio's tails swapped; where the ratio
// marks an error, both of its tails carry the marker 2.
TEST(GammaDistributions, PoissonErrorMarkerFillsBothTails) {
  double s = 1e300, lambda = 1e300, cum = -1, ccum = -1;
  cumpoi(&s, &lambda, &cum, &ccum);
  EXPECT_EQ(cum, 2.0);
  EXPECT_EQ(ccum, 2.0);
}

TEST(NoncentralChiSquare, CentralLimit) {
  // pnonc up to 1e-10 is the central distribution exactly; just above, the
  // series with central index 1 agrees to the size of the noncentrality.
  for (double x : {0.5, 3.0, 12.0}) {
    const Cumulative central = evaluate("cumchi", x, 3.0, 0.0);
    const Cumulative at_limit = evaluate("cumchn", x, 3.0, 1e-10);
    EXPECT_EQ(at_limit.cum, central.cum);
    EXPECT_EQ(at_limit.ccum, central.ccum);
    const Cumulative above = evaluate("cumchn", x, 3.0, 2e-10);
    EXPECT_NE(above.cum, central.cum);
    EXPECT_NEAR(above.cum, central.cum, 1e-9);
  }
}

// Large noncentralities against mpmath (tools/gen_noncentral_reference.py):
// the sum must reach the tails of a Poisson distribution that spreads over
// sqrt(pnonc / 2) terms, far beyond 1000 steps, and not stop near its centre
// where each single weight is already below 1e-5 of the sum.
TEST(NoncentralChiSquare, LargeNoncentralitiesMatchReference) {
  const auto rows = beta_reference::read_csv("noncentral_large.csv");
  int checked = 0;
  double worst_share = 0.0;  // the largest error as a share of the sum
  for (const auto &row : rows) {
    if (row.at("function") != "cumchn") continue;
    using beta_reference::number;
    const Cumulative c = evaluate("cumchn", number(row, "p1"), number(row, "p2"), number(row, "p3"));
    const long double cum = beta_reference::reference(row, "cum");
    const long double ccum = beta_reference::reference(row, "ccum");
    const std::string where = "cumchn(" + row.at("p1") + ", " + row.at("p2") + ", " + row.at("p3") + ")";
    const double cum_error = static_cast<double>(std::fabs(c.cum - cum));
    EXPECT_LE(cum_error, noncentral_allowance(cum)) << where;
    EXPECT_LE(static_cast<double>(std::fabs(c.ccum - ccum)), noncentral_allowance(cum) + kRoundingOfOne)
        << where;
    worst_share = std::max(worst_share, cum_error / static_cast<double>(cum));
    ++checked;
  }
  EXPECT_GE(checked, 40);
  std::cout << "cumchn, large noncentralities: max error " << worst_share << " of cum\n";
}

// Up to a Poisson mean of 2^36 the sum runs to its tails; beyond that it
// would take too long and the result is NaN, as for NaN arguments.
TEST(NoncentralChiSquare, LargeNoncentralitiesEnd) {
  for (double pnonc : {1e6, 0x1p33}) {
    const Cumulative c = evaluate("cumchn", pnonc, 4.0, pnonc);
    EXPECT_GT(c.cum, 0.0) << pnonc;
    EXPECT_LT(c.cum, 1.0) << pnonc;
  }
  for (double pnonc : {0x1p38, 1e15, 0x1p64}) {
    const Cumulative beyond = evaluate("cumchn", pnonc, 4.0, pnonc);
    EXPECT_TRUE(std::isnan(beyond.cum) && std::isnan(beyond.ccum)) << pnonc;
  }
  for (const Cumulative &c : {evaluate("cumchn", kNaN, 4.0, 3.0), evaluate("cumchn", 3.0, kNaN, 3.0),
                              evaluate("cumchn", 3.0, 4.0, kNaN)}) {
    EXPECT_TRUE(std::isnan(c.cum));
    EXPECT_TRUE(std::isnan(c.ccum));
  }
}

}  // namespace
