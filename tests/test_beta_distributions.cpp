// The beta-based distributions: their boundary rules, symmetries and
// thresholds, and accuracy against the mpmath reference table.

#include <gtest/gtest.h>

#include <boost/math/distributions/non_central_chi_squared.hpp>
#include <boost/math/distributions/non_central_f.hpp>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>

#include "distributions/distfn.h"
#include "tests/beta_reference.hpp"

namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

struct Pair {
  double cum, ccum;
};

Pair beta(double x, double y, double a, double b) {
  Pair r{-1, -1};
  cumbet(&x, &y, &a, &b, &r.cum, &r.ccum);
  return r;
}
Pair binomial(double s, double xn, double pr, double ompr) {
  Pair r{-1, -1};
  cumbin(&s, &xn, &pr, &ompr, &r.cum, &r.ccum);
  return r;
}
Pair binomial(double s, double xn, double pr) { return binomial(s, xn, pr, 1.0 - pr); }
Pair negative_binomial(double s, double xn, double pr, double ompr) {
  Pair r{-1, -1};
  cumnbn(&s, &xn, &pr, &ompr, &r.cum, &r.ccum);
  return r;
}
Pair student(double t, double df) {
  Pair r{-1, -1};
  cumt(&t, &df, &r.cum, &r.ccum);
  return r;
}
Pair fisher(double f, double dfn, double dfd) {
  Pair r{-1, -1};
  cumf(&f, &dfn, &dfd, &r.cum, &r.ccum);
  return r;
}
Pair noncentral_fisher(double f, double dfn, double dfd, double pnonc) {
  Pair r{-1, -1};
  cumfnc(&f, &dfn, &dfd, &pnonc, &r.cum, &r.ccum);
  return r;
}

void expect_pair(const Pair &p, double cum, double ccum) {
  EXPECT_EQ(p.cum, cum);
  EXPECT_EQ(p.ccum, ccum);
}

// ---- boundary rules ---------------------------------------------------------

TEST(Cumbet, EndsOfTheRangeWhateverTheShapes) {
  for (double a : {0.0, 0.5, 3.0}) {
    for (double b : {0.0, 2.0, 1e4}) {
      expect_pair(beta(0.0, 1.0, a, b), 0.0, 1.0);
      expect_pair(beta(-0.5, 1.5, a, b), 0.0, 1.0);
      expect_pair(beta(1.0, 0.0, a, b), 1.0, 0.0);
    }
  }
  const Pair p = beta(0.4, 0.6, 2.0, 3.0);
  EXPECT_NEAR(p.cum, 0.5248, 1e-15);
  EXPECT_NEAR(p.ccum, 0.4752, 1e-15);
}

TEST(Cumbin, CountsAtOrAboveTheTrialsGiveExactlyOne) {
  expect_pair(binomial(10.0, 10.0, 0.3), 1.0, 0.0);
  expect_pair(binomial(11.5, 10.0, 0.3), 1.0, 0.0);
  expect_pair(binomial(3.0, 2.0, 0.0, 0.0), 1.0, 0.0);  // no call below, no check of pr
}

TEST(Cumbin, BoundaryProbabilities) {
  for (double s : {0.0, 3.0, 9.0}) {
    expect_pair(binomial(s, 10.0, 0.0, 1.0), 1.0, 0.0);
    expect_pair(binomial(s, 10.0, 1.0, 0.0), 0.0, 1.0);
  }
}

TEST(Cumbin, NoSuccessesIsTheFailureProbabilityToThePowerOfTrials) {
  for (double n : {1.0, 7.0, 250.0}) {
    for (double p : {0.01, 0.3, 0.8}) {
      // The bound grows with the condition number n |ln(1 - p)| of the power.
      const double expected = std::pow(1.0 - p, n);
      const double tolerance = 1e-14 + 16.0 * n * std::fabs(std::log1p(-p)) * 0x1p-53;
      EXPECT_NEAR(binomial(0.0, n, p).cum, expected, tolerance * expected) << n << " " << p;
    }
  }
}

TEST(Cumbin, FractionalCountLiesBetweenItsNeighbours) {
  const double below = binomial(2.0, 10.0, 0.3).cum;
  const double between = binomial(2.5, 10.0, 0.3).cum;
  const double above = binomial(3.0, 10.0, 0.3).cum;
  EXPECT_LT(below, between);
  EXPECT_LT(between, above);
}

TEST(Cumnbn, IsTheBetaRatioInTheTrials) {
  // P[at most s failures before the n-th success] = I_p(n, s + 1).
  const Pair p = negative_binomial(0.0, 3.0, 0.4, 0.6);
  EXPECT_NEAR(p.cum, 0.064, 1e-16);
  EXPECT_NEAR(p.ccum, 0.936, 1e-15);
  expect_pair(negative_binomial(2.0, 3.0, 0.0, 1.0), 0.0, 1.0);
}

TEST(Cumt, HalfAtZeroAndSymmetric) {
  for (double df : {0.1, 1.0, 2.5, 30.0, 1e6}) {
    expect_pair(student(0.0, df), 0.5, 0.5);
    for (double t : {1e-8, 0.7, 3.0, 1e3}) {
      const Pair up = student(t, df), down = student(-t, df);
      EXPECT_EQ(up.cum, down.ccum) << t << " " << df;
      EXPECT_EQ(up.ccum, down.cum) << t << " " << df;
    }
  }
  // One degree of freedom is Cauchy: P[T <= t] = 1/2 + atan(t)/pi.
  EXPECT_NEAR(student(1.0, 1.0).cum, 0.75, 4e-16);
}

// Beyond |t| ~ 1e154 the beta argument df / (df + t^2) underflows and the
// tails were 0 and 1; the power law of the tail holds there.  References:
// mpmath at 40 digits; the second one is below the doubles.
TEST(Cumt, TailsBeyondTheSquareRootOfTheLargestDouble) {
  struct Case {
    double t, df, tail;
  } const cases[] = {
      {-3.183098861837907e+299, 1.0, 9.9999999999999991e-301},  // Cauchy: 1/(pi |t|)
      {-1e160, 0.5, 3.207009754142229e-81},
      {-1e200, 3.0, 0.0},
  };
  for (const Case &c : cases) {
    const Pair lower = student(c.t, c.df), upper = student(-c.t, c.df);
    EXPECT_NEAR(lower.cum, c.tail, 2e-13 * c.tail) << c.t << " " << c.df;
    EXPECT_EQ(lower.ccum, 1.0);
    EXPECT_EQ(upper.cum, lower.ccum);
    EXPECT_EQ(upper.ccum, lower.cum);
  }
}

TEST(CumfAndCumfnc, NonPositiveArgumentGivesZero) {
  for (double f : {0.0, -1.0}) {
    expect_pair(fisher(f, 3.0, 5.0), 0.0, 1.0);
    expect_pair(noncentral_fisher(f, 3.0, 5.0, 2.0), 0.0, 1.0);
  }
}

// The smallest subnormal degrees of freedom halve to 0 in double precision;
// the tails still take the limits the law tends to, summing to 1.
TEST(CumfAndCumfnc, SubnormalDegreesOfFreedomGiveTheLimits) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  // dfn to 0: F concentrates at 0.  dfd to 0: F grows without bound.
  expect_pair(fisher(0.9647, tiny, 78.5), 1.0, 0.0);
  expect_pair(fisher(0.9647, 78.5, tiny), 0.0, 1.0);
  expect_pair(fisher(0.9647, tiny, tiny), 0.5, 0.5);
  // The noncentral law with both tails, at no noncentrality, is the same law.
  double f = 0.5, dfn = tiny, dfd = tiny, none = 0, cum = -1, ccum = -1, bound;
  int status = -1;
  cumfncb(&f, &dfn, &dfd, &none, &cum, &ccum, &status, &bound);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(cum, 0.5);
  EXPECT_EQ(ccum, 0.5);
  // Next to them, the smallest normal degrees of freedom.
  const Pair near = fisher(0.9647, 1e-300, 78.5);
  EXPECT_EQ(near.cum, 1.0);
  EXPECT_LT(near.ccum, 1e-290);
}

// Where one of the beta arguments dfn f / (dfd + dfn f) and dfd / (dfd +
// dfn f) underflows, the beta ratio saw 0 and P[F <= f] came out 0 or 1,
// while with tiny degrees of freedom the law keeps mass on both sides.
// References: the leading term x^a / (a B(a, b)) 2F1(a, 1 - b; a + 1; x) of
// the ratio at 800 digits (mpmath), where x is below 1e-300.
TEST(CumfAndCumfnc, UnderflowingBetaArgumentsKeepBothTails) {
  struct Case {
    double f, dfn, dfd, cum, ccum;
  } const cases[] = {
      {135, 1e-300, 1.37e163, 1.0, 3.4299309231771685e-298},
      {1e300, 7.2779214452434055e-118, 8.9994418049302532e-237, 1.2365401128109143e-119, 1.0},
      {1e200, 7.2779214452434055e-118, 8.9994418049302532e-237, 1.2365401128109143e-119, 1.0},
  };
  for (const Case &c : cases) {
    const Pair p = fisher(c.f, c.dfn, c.dfd);
    EXPECT_NEAR(p.cum, c.cum, 1e-14 * c.cum) << c.f << " " << c.dfn << " " << c.dfd;
    EXPECT_NEAR(p.ccum, c.ccum, 1e-14 * c.ccum) << c.f << " " << c.dfn << " " << c.dfd;
  }
}

TEST(Cumfnc, NegligibleNoncentralityIsTheCentralDistribution) {
  const Pair central = fisher(1.7, 4.0, 9.0);
  for (double pnonc : {0.0, 5e-11}) {
    const Pair p = noncentral_fisher(1.7, 4.0, 9.0, pnonc);
    expect_pair(p, central.cum, central.ccum);
  }
  // At the threshold the series runs, with its first index at 1.
  const Pair series = noncentral_fisher(1.7, 4.0, 9.0, 1e-10);
  EXPECT_NEAR(series.cum, central.cum, 1e-9);
  EXPECT_NE(series.cum, central.cum);
}

TEST(Cumfnc, LargeNoncentralityGivesMeaningfulSums) {
  // Beyond a Poisson mean of 2^31 the sum still starts at its largest term:
  // the distribution function rises from 0 through the mean of dfn F', which
  // lies near dfn + pnonc, and stays within [0, 1].
  const double dfn = 10.0, dfd = 1e9;
  for (double pnonc : {4.5e9, 1.2e10}) {
    const double mean = (dfn + pnonc) / dfn;
    // The spread of the numerator and of the denominator chi-square.
    const double sigma = std::hypot(std::sqrt(2.0 * (dfn + 2.0 * pnonc)) / dfn,
                                    mean * std::sqrt(2.0 / dfd));
    double previous = 0.0;
    for (int k = -10; k <= 10; k += 2) {
      const Pair p = noncentral_fisher(mean + k * sigma, dfn, dfd, pnonc);
      EXPECT_GE(p.cum, previous) << pnonc << " " << k;
      EXPECT_LE(p.cum, 1.0);
      EXPECT_EQ(p.ccum, 0.5 + (0.5 - p.cum));
      previous = p.cum;
    }
    EXPECT_LT(noncentral_fisher(mean - 10 * sigma, dfn, dfd, pnonc).cum, 1e-6);
    EXPECT_GT(noncentral_fisher(mean, dfn, dfd, pnonc).cum, 1e-3);
  }
}

TEST(Cumfnc, ExtremeDegreesOfFreedomKeepTheTermsAccurate) {
  // With dfd -> infinity, dfn F' is a noncentral chi-square with dfn degrees
  // of freedom; the log-gammas of 1e300 cancel to nothing in a direct form.
  for (double pnonc : {0.5, 2.0, 30.0}) {
    const boost::math::non_central_chi_squared_distribution<double> chi(3.0, pnonc);
    for (double f : {0.2, 1.5, 6.0}) {
      const double expected = boost::math::cdf(chi, 3.0 * f);
      EXPECT_NEAR(noncentral_fisher(f, 3.0, 1e300, pnonc).cum, expected, 1e-3 * expected)
          << pnonc << " " << f;
    }
  }
  // Huge shapes on both sides concentrate F' at 1.
  const struct {
    double f, dfn, dfd, pnonc;
  } cases[] = {{1.0, 1e300, 1e300, 0.5},  {1.0, 1e300, 1e300, 1e4},  {1e3, 1e300, 1e-3, 100.0},
               {1e-300, 1e-300, 1.0, 3.0}, {1e10, 1e-3, 1e300, 0.5}, {1e-3, 1e300, 1e-3, 3.0}};
  for (const auto &c : cases) {
    const Pair p = noncentral_fisher(c.f, c.dfn, c.dfd, c.pnonc);
    EXPECT_GE(p.cum, 0.0) << c.f << " " << c.dfn << " " << c.dfd << " " << c.pnonc;
    EXPECT_LE(p.cum, 1.0) << c.f << " " << c.dfn << " " << c.dfd << " " << c.pnonc;
  }
  // With dfn f underflowing, x = dfn f / (dfd + dfn f) is 0 in double
  // precision, yet the first term of the mixture (Poisson weight e^-1.5 at a
  // central F of dfn 1e-300, all of whose mass lies below any f > 0) is not:
  // the lower tail is e^-1.5, not 0.
  EXPECT_NEAR(noncentral_fisher(1e-300, 1e-300, 1.0, 3.0).cum, std::exp(-1.5), 1e-15);
  double tiny_f = 1e-300, tiny_dfn = 1e-300, one = 1.0, pnonc = 3.0, cum = -1, ccum = -1, bound;
  int status = -1;
  cumfncb(&tiny_f, &tiny_dfn, &one, &pnonc, &cum, &ccum, &status, &bound);
  EXPECT_EQ(status, 0);
  EXPECT_NEAR(cum, std::exp(-1.5), 1e-15);
  EXPECT_NEAR(ccum, -std::expm1(-1.5), 1e-15);
  // An upper tail that is all but the whole mass stays at most 1.
  double small_f = 1.0912063797905732e-231, dfn = 27, dfd = 3, large = 126;
  cumfncb(&small_f, &dfn, &dfd, &large, &cum, &ccum, &status, &bound);
  EXPECT_EQ(status, 0);
  EXPECT_LE(ccum, 1.0);
  // Just as where x is subnormal, and the quantile of a tail below that
  // first term lies at 0.
  EXPECT_NEAR(noncentral_fisher(1e-8, 1e-300, 89.0, 1.0).cum, std::exp(-0.5), 1e-15);
  double f = -1;
  EXPECT_EQ(invfnc(1e-300, 1.0, 1e-300, 89.0, 1.0, &f), 1);
  EXPECT_EQ(f, 0.0);
}

TEST(Cumfnc, FloorDoesNotCutOffTheMassBelowTheCentre) {
  // A small f with a large noncentrality: the central term of the sum lies
  // below 1e-20 while the terms below the centre add up to far more.
  const double cases[][4] = {{0.2, 3.0, 1e6, 30.0},
                             {0.3, 3.0, 40.0, 40.0},
                             {0.5, 5.0, 100.0, 60.0},
                             {0.1, 4.0, 1e3, 20.0}};
  for (const auto &c : cases) {
    const double expected = boost::math::cdf(
        boost::math::non_central_f_distribution<double>(c[1], c[2], c[3]), c[0]);
    EXPECT_NEAR(noncentral_fisher(c[0], c[1], c[2], c[3]).cum, expected, 1e-3 * expected)
        << c[0] << " " << c[1] << " " << c[2] << " " << c[3];
  }
  // Sums that stay below the floor may end there.
  EXPECT_LE(noncentral_fisher(0.1, 2.0, 50.0, 300.0).cum, 1e-20);
}

TEST(BetaDistributions, NotANumberPropagates) {
  EXPECT_TRUE(std::isnan(beta(nan_value, 0.5, 2.0, 3.0).cum));
  EXPECT_TRUE(std::isnan(binomial(nan_value, 10.0, 0.3).cum));
  EXPECT_TRUE(std::isnan(binomial(3.0, nan_value, 0.3).ccum));
  EXPECT_TRUE(std::isnan(negative_binomial(3.0, 10.0, nan_value, 0.7).cum));
  EXPECT_TRUE(std::isnan(student(nan_value, 3.0).cum));
  EXPECT_TRUE(std::isnan(fisher(2.0, nan_value, 3.0).cum));
}

TEST(Cumfnc, UnusableArgumentsGiveNotANumberWithoutHanging) {
  const double cases[][4] = {
      {nan_value, 3.0, 5.0, 2.0}, {1.0, nan_value, 5.0, 2.0}, {1.0, 3.0, nan_value, 2.0},
      {1.0, 3.0, 5.0, nan_value}, {1.0, 3.0, 5.0, 1e300},     {1.0, 3.0, 5.0, HUGE_VAL},
      // Beyond a Poisson mean of 2^36 the sum would take too long.
      {0x1p37, 3.0, 5.0, 0x1p38},
  };
  for (const auto &c : cases) {
    const Pair p = noncentral_fisher(c[0], c[1], c[2], c[3]);
    EXPECT_TRUE(std::isnan(p.cum) && std::isnan(p.ccum)) << c[0] << c[1] << c[2] << c[3];
  }
}

// ---- accuracy against the reference table -------------------------------

// cumfnc ends each direction of its sum only once a bound on the terms left
// in it is below 1e-4 of the sum, or keeps the sum below 1e-20.  So cum falls
// short by at most 2e-4 of itself (or 2e-20), and ccum = 1 - cum errs by as
// much; beyond that only rounding, at the level of 1 in ccum.
constexpr double noncentral_tolerance = 1e-4;
constexpr double noncentral_floor = 1e-20;
constexpr double rounding_of_one = 1e-15;

double noncentral_allowance(long double cum) {
  return 2.0 * noncentral_tolerance * static_cast<double>(cum) + 2.0 * noncentral_floor;
}

Pair evaluate(const std::string &function, const beta_reference::Row &row) {
  using beta_reference::number;
  const double p1 = number(row, "p1"), p2 = number(row, "p2");
  if (function == "cumbet") return beta(p1, p2, number(row, "p3"), number(row, "p4"));
  if (function == "cumbin") return binomial(p1, p2, number(row, "p3"), number(row, "p4"));
  if (function == "cumnbn") return negative_binomial(p1, p2, number(row, "p3"), number(row, "p4"));
  if (function == "cumt") return student(p1, p2);
  if (function == "cumf") return fisher(p1, p2, number(row, "p3"));
  return noncentral_fisher(p1, p2, number(row, "p3"), number(row, "p4"));
}

TEST(BetaDistributionAccuracy, BothTailsAgainstReference) {
  using namespace beta_reference;
  const auto rows = read_csv("beta_distributions.csv");
  ASSERT_GT(rows.size(), 500u);
  std::map<std::string, ErrorSummary> by_function;
  for (const auto &row : rows) {
    const std::string function = row.at("function");
    const Pair p = evaluate(function, row);
    const long double cum_ref = reference(row, "cum"), ccum_ref = reference(row, "ccum");
    if (function == "cumfnc") {
      if (cum_ref >= noncentral_floor) {
        by_function["cumfnc cum"].add(error_units(p.cum, cum_ref), 0.0);
      }
      const std::string where = "cumfnc f=" + row.at("p1") + " dfn=" + row.at("p2") + " dfd=" + row.at("p3") +
                                " pnonc=" + row.at("p4");
      EXPECT_LE(static_cast<double>(std::fabs(p.cum - cum_ref)), noncentral_allowance(cum_ref)) << where;
      EXPECT_LE(static_cast<double>(std::fabs(p.ccum - ccum_ref)), noncentral_allowance(cum_ref) + rounding_of_one)
          << where;
      continue;
    }
    const struct {
      double computed;
      long double ref;
      const char *kappa_key, *tail;
    } tails[] = {{p.cum, cum_ref, "kappa_cum", "cum"}, {p.ccum, ccum_ref, "kappa_ccum", "ccum"}};
    for (const auto &t : tails) {
      if (t.ref < smallest_checked) {
        EXPECT_LE(t.computed, 1e-290);
        continue;
      }
      const double kappa = number(row, t.kappa_key);
      const double error = error_units(t.computed, t.ref);
      by_function[function + " " + t.tail].add(error, kappa);
      EXPECT_LE(error, allowed_units(kappa))
          << function << " " << t.tail << ": " << row.at("p1") << ", " << row.at("p2") << ", "
          << row.at("p3") << ", " << row.at("p4") << " kappa=" << kappa;
    }
  }
  print_summary("beta-based distributions", by_function);
}

// Large noncentralities against mpmath (tools/gen_noncentral_reference.py):
// the sum must reach the tails of a Poisson distribution that spreads over
// sqrt(pnonc / 2) terms and not stop near its centre, where each single
// weight is already below 1e-4 of the sum.
TEST(BetaDistributionAccuracy, CumfncAtLargeNoncentralities) {
  using namespace beta_reference;
  int checked = 0;
  double worst_share = 0.0;  // the largest error as a share of the sum
  for (const auto &row : read_csv("noncentral_large.csv")) {
    if (row.at("function") != "cumfnc") continue;
    const Pair p = evaluate("cumfnc", row);
    const long double cum_ref = reference(row, "cum"), ccum_ref = reference(row, "ccum");
    const std::string where = "cumfnc f=" + row.at("p1") + " dfn=" + row.at("p2") + " dfd=" + row.at("p3") +
                              " pnonc=" + row.at("p4");
    const double cum_error = static_cast<double>(std::fabs(p.cum - cum_ref));
    EXPECT_LE(cum_error, noncentral_allowance(cum_ref)) << where;
    EXPECT_LE(static_cast<double>(std::fabs(p.ccum - ccum_ref)), noncentral_allowance(cum_ref) + rounding_of_one)
          << where;
    worst_share = std::max(worst_share, cum_error / static_cast<double>(cum_ref));
    ++checked;
  }
  EXPECT_GE(checked, 30);
  std::printf("cumfnc, large noncentralities: max error %g of cum\n", worst_share);
}

}  // namespace
