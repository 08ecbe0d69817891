// cumchnb and cumfncb, the noncentral chi-square and F with each tail to
// relative accuracy, against the mpmath references of
// tests/data/noncentral_tails.csv (tools/gen_noncentral_tails_reference.py),
// and the quantile functions that solve them up to p = 1 - 1e-15.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>

#include "distributions/distfn.h"
#include "tests/reference_csv.hpp"

namespace {

constexpr double kUnit = 0x1p-52;  // errors are reported in units of 2^-52
constexpr double kHalfUnit = 0x1p-53;
// Each tail is held to max(1e-13, 64 kappa 2^-53) where it is at least the
// smallest normal number.
constexpr double kRelativeTarget = 1e-13;
constexpr double kConditionFactor = 64.0;
constexpr double kSmallestNormal = 2.2250738585072014e-308;

struct Row {
  std::string function, region;
  double p1, p2, p3, p4;
  long double cum, ccum;
  double kappa_cum, kappa_ccum;
};

std::vector<Row> read_rows() {
  using reference_csv::number, reference_csv::reference;
  std::vector<Row> rows;
  for (const auto &f : reference_csv::read("noncentral_tails.csv")) {
    rows.push_back({f[0], f[1], number(f[2]), number(f[3]), number(f[4]), number(f[5]), reference(f[6]),
                    reference(f[7]), number(f[8]), number(f[9])});
  }
  return rows;
}

struct Tails {
  double cum, ccum;
  int status;
};

Tails evaluate(const Row &r) {
  Tails t{NAN, NAN, -99};
  double a = r.p1, b = r.p2, c = r.p3, d = r.p4, bound;
  if (r.function == "cumchnb") cumchnb(&a, &b, &c, &t.cum, &t.ccum, &t.status, &bound);
  if (r.function == "cumfncb") cumfncb(&a, &b, &c, &d, &t.cum, &t.ccum, &t.status, &bound);
  return t;
}

double error_units(double computed, long double ref) {
  const double e = static_cast<double>(std::fabs((computed - ref) / ref)) / kUnit;
  return std::isnan(e) ? INFINITY : e;
}

double allowed_units(double kappa) {
  return std::fmax(kRelativeTarget, kConditionFactor * kappa * kHalfUnit) / kUnit;
}

TEST(NoncentralTails, BothTailsWithinTheirBoundOnTheReferenceGrid) {
  struct Worst {
    int points = 0;
    double units = 0.0, share = 0.0;
  };
  std::map<std::string, Worst> worst;
  const std::vector<Row> rows = read_rows();
  ASSERT_GT(rows.size(), 350u);
  for (const Row &r : rows) {
    const Tails t = evaluate(r);
    ASSERT_EQ(t.status, 0) << r.function;
    const std::pair<const char *, std::pair<double, std::pair<long double, double>>> sides[] = {
        {"cum", {t.cum, {r.cum, r.kappa_cum}}}, {"ccum", {t.ccum, {r.ccum, r.kappa_ccum}}}};
    for (const auto &[side, values] : sides) {
      const auto [computed, reference] = values;
      if (!(reference.first >= kSmallestNormal)) continue;
      const double units = error_units(computed, reference.first);
      const double share = units / allowed_units(reference.second);
      Worst &w = worst[r.function + " " + side + " " + r.region];
      ++w.points;
      w.units = std::fmax(w.units, units);
      w.share = std::fmax(w.share, share);
      EXPECT_LE(share, 1.0) << r.function << "(" << r.p1 << ", " << r.p2 << ", " << r.p3 << ", " << r.p4 << ") "
                            << side << " = " << computed << ", reference " << static_cast<double>(reference.first)
                            << ": " << units << " units, kappa " << reference.second;
    }
  }
  for (const auto &[key, w] : worst) {
    std::printf("%-22s %4d points, max %9.3g units, %6.3f of the bound\n", key.c_str(), w.points, w.units, w.share);
  }
}

// The truncated sums of cumchn and cumfnc lose a small upper tail entirely
// (1 - cum); the tails summed on their own keep it.
TEST(NoncentralTails, SmallUpperTailsThatOneMinusCumLoses) {
  double x = 300, df = 4, pnonc = 30, cum, ccum, bound;
  int status;
  cumchnb(&x, &df, &pnonc, &cum, &ccum, &status, &bound);
  // mpmath, 40 digits, summed term by term.
  EXPECT_NEAR(ccum / 6.5767040306117385558e-32, 1.0, 1e-13);
  EXPECT_NEAR(cum, 1.0, 1e-15);
  double f = 60, dfn = 5, dfd = 12, fpnonc = 30;
  cumfncb(&f, &dfn, &dfd, &fpnonc, &cum, &ccum, &status, &bound);
  EXPECT_GT(ccum, 0.0);
  EXPECT_LT(ccum, 1e-3);
}

// The quantile of p up to 1 - 1e-15 is finite: solved from the upper tail,
// it inverts cumchnb and cumfncb to their accuracy.
TEST(NoncentralTails, QuantilesCloseToOne) {
  for (const double q : {3.6e-7, 1e-10, 1e-15, 1e-100}) {
    const double p = 1.0 - q;
    double x, f;
    ASSERT_EQ(invchn(p, q, 4, 22.282032, &x), 0) << q;
    ASSERT_EQ(invfnc(p, q, 5, 12, 30, &f), 0) << q;
    double df = 4, pnonc = 22.282032, dfn = 5, dfd = 12, fpnonc = 30, cum, ccum, bound;
    int status;
    cumchnb(&x, &df, &pnonc, &cum, &ccum, &status, &bound);
    EXPECT_NEAR(ccum / q, 1.0, 1e-12) << "invchn, q " << q << ": " << x;
    cumfncb(&f, &dfn, &dfd, &fpnonc, &cum, &ccum, &status, &bound);
    EXPECT_NEAR(ccum / q, 1.0, 1e-12) << "invfnc, q " << q << ": " << f;
  }
  // Where the front end, on its truncated sum, gives up at its upper limit.
  double x;
  ASSERT_EQ(invchn(1 - 3.6e-7, 3.6e-7, 4, 22.282032, &x), 0);
  EXPECT_NEAR(x, 97.84, 1e-4);
}

// Far outside the bulk one tail underflows to 0 and the other is 1; the sums
// must say so (a NaN kept as 1 once made both tails 1), and end: with a
// noncentrality of 1e9 the Poisson weights span millions of indices.
TEST(NoncentralTails, ExtremeArguments) {
  struct Case {
    double x, df, pnonc, cum, ccum;
  } cases[] = {
      {1e300, 0.5, 1e9, 1.0, 0.0},
      {1.7e308, 4.0, 30.0, 1.0, 0.0},
      {1e-300, 1e-300, 1e9, 0.0, 1.0},
      {1e-10, 0.5, 1e9, 0.0, 1.0},
      {1.0, 1e10, 1e9, 0.0, 1.0},
      // The smallest subnormal df halves to a shape of 0, the limit where
      // P(a, t) is 1 (it was a NaN, with status 0); x/2 rounds to 0 with it.
      {1.0, 4.9406564584124654e-324, 0.0, 1.0, 0.0},
      {4.9406564584124654e-324, 4.9406564584124654e-324, 0.0, 0.0, 1.0},
  };
  for (const Case &c : cases) {
    double x = c.x, df = c.df, pnonc = c.pnonc, cum, ccum, bound;
    int status;
    cumchnb(&x, &df, &pnonc, &cum, &ccum, &status, &bound);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(cum, c.cum, kRelativeTarget) << "cumchnb(" << c.x << ", " << c.df << ", " << c.pnonc << ")";
    EXPECT_NEAR(ccum, c.ccum, kRelativeTarget) << "cumchnb(" << c.x << ", " << c.df << ", " << c.pnonc << ")";
  }
  double f = 1e5, dfn = 1e10, dfd = 1e10, pnonc = 1e9, cum, ccum, bound;
  int status;
  cumfncb(&f, &dfn, &dfd, &pnonc, &cum, &ccum, &status, &bound);
  EXPECT_NEAR(cum, 1.0, kRelativeTarget);
  EXPECT_EQ(ccum, 0.0);
  // dfn f / dfd equal to the noncentrality's half put the mixture's peak at
  // 0/0, and the lower tail came out 0: here it is the first Poisson weight,
  // e^(-pnonc/2) (mpmath), times I_u(5e-301, b) = 1 - O(1e-298).
  f = 1, dfn = 1e-300, dfd = 0.80784313725490198, pnonc = 0.80784313725490198;
  cumfncb(&f, &dfn, &dfd, &pnonc, &cum, &ccum, &status, &bound);
  EXPECT_EQ(status, 0);
  EXPECT_NEAR(cum, 0.66769648756728779, kRelativeTarget);
  EXPECT_NEAR(ccum, 1 - 0.66769648756728779, kRelativeTarget);
  // Both degrees of freedom tiny and u = 1 - 6e-211: the first term,
  // e^-8 I_u(dfn/2, dfd/2) = e^-8 dfd / (dfn + dfd), carries the lower tail
  // (the others are about 2e-228).  Stepping the shape down from 44 by 1
  // lost dfn/2 = 2.65e-22, ended at a shape of 0 and gave e^-8 itself.
  f = 27, dfn = 5.3e-22, dfd = 8.8e-231, pnonc = 16;
  cumfncb(&f, &dfn, &dfd, &pnonc, &cum, &ccum, &status, &bound);
  EXPECT_EQ(status, 0);
  EXPECT_NEAR(cum, 5.5699455198907631e-213, 1e-13 * 5.57e-213);
  EXPECT_EQ(ccum, 1.0);
}

// A sum that cannot be completed is a failure: NaN tails with status 10.
TEST(NoncentralTails, SumsBeyondReachReportFailure) {
  double x = 1e11, df = 3, pnonc = 2e11, cum, ccum, bound;
  int status = -1;
  cumchnb(&x, &df, &pnonc, &cum, &ccum, &status, &bound);
  EXPECT_EQ(status, 10);
  EXPECT_TRUE(std::isnan(cum) && std::isnan(ccum));
  double f = 1, dfn = 3, dfd = 5;
  cumfncb(&f, &dfn, &dfd, &pnonc, &cum, &ccum, &status, &bound);
  EXPECT_EQ(status, 10);
  EXPECT_TRUE(std::isnan(cum) && std::isnan(ccum));
}

struct RejectedCase {
  const char *function;
  double args[4];
  int status;
  double bound;
};

// The arguments are checked as case 1 of cdfchn and cdffnc checks them.
TEST(NoncentralTails, RejectArgumentsAsTheirFrontEnds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const RejectedCase cases[] = {
      {"cumchnb", {-1, 3, 2, 0}, -4, 0.0},  {"cumchnb", {1, 0, 2, 0}, -5, 0.0},
      {"cumchnb", {1, 3, nan, 0}, -6, 0.0}, {"cumfncb", {1, 3, 4, -2}, -7, 0.0},
      {"cumfncb", {1, 3, 0, 2}, -6, 0.0},   {"cumfncb", {INFINITY, 3, 4, 2}, -4, 1.7976931348623157e308},
  };
  for (const RejectedCase &c : cases) {
    double a = c.args[0], b = c.args[1], cc = c.args[2], d = c.args[3], cum, ccum, bound = nan;
    int status = 0;
    if (std::string(c.function) == "cumchnb") cumchnb(&a, &b, &cc, &cum, &ccum, &status, &bound);
    else cumfncb(&a, &b, &cc, &d, &cum, &ccum, &status, &bound);
    EXPECT_EQ(status, c.status) << c.function;
    EXPECT_EQ(bound, c.bound) << c.function;
  }
}

}  // namespace
