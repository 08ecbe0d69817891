// The incomplete beta ratio: argument checks and boundary cases, the method
// choice at its thresholds, the methods on their own, and accuracy against
// the mpmath reference table.

#include <gtest/gtest.h>

#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <limits>
#include <map>
#include <string>

#include "distributions/distfn.h"
#include "tests/beta_reference.hpp"

namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

struct BratioResult {
  double w, w1;
  int ierr;
};

BratioResult ratio(double a, double b, double x, double y) {
  BratioResult r{-1.0, -1.0, -1};
  bratio(&a, &b, &x, &y, &r.w, &r.w1, &r.ierr);
  return r;
}

BratioResult ratio(double a, double b, double x) { return ratio(a, b, x, 1.0 - x); }

double machine_eps() {
  int one = 1;
  return spmpar(&one);
}

// ---- argument checks and boundary cases ---------------------------------

struct BoundaryCase {
  const char *what;
  double a, b, x, y;
  double w, w1;
  int ierr;
};

TEST(Bratio, ErrorCodesAndBoundaryCasesInOrder) {
  const BoundaryCase cases[] = {
      {"negative a", -1.0, 2.0, 0.5, 0.5, 0.0, 0.0, 1},
      {"negative b before a bad x", 2.0, -1.0, 2.0, 0.5, 0.0, 0.0, 1},
      {"a = b = 0 even with x outside [0, 1]", 0.0, 0.0, 2.0, -1.0, 0.0, 0.0, 2},
      {"x below 0", 1.0, 1.0, -0.1, 1.1, 0.0, 0.0, 3},
      {"x above 1", 1.0, 1.0, 1.1, 0.5, 0.0, 0.0, 3},
      {"y outside [0, 1]", 1.0, 1.0, 0.5, 1.5, 0.0, 0.0, 4},
      {"x + y off 1", 1.0, 1.0, 0.3, 0.7000001, 0.0, 0.0, 5},
      {"x = 0 with a = 0", 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 6},
      {"y = 0 with b = 0", 1.0, 0.0, 1.0, 0.0, 0.0, 0.0, 7},
      {"x = 0", 2.0, 3.0, 0.0, 1.0, 0.0, 1.0, 0},
      {"y = 0", 2.0, 3.0, 1.0, 0.0, 1.0, 0.0, 0},
      {"a = 0", 0.0, 3.0, 0.4, 0.6, 1.0, 0.0, 0},
      {"b = 0", 2.0, 0.0, 0.4, 0.6, 0.0, 1.0, 0},
      {"both parameters negligible", 1e-20, 1e-20, 0.3, 0.7, 0.5, 0.5, 0},
      {"I_0.4(2, 3) = 1 - 0.6^4 - 4 (0.4) 0.6^3", 2.0, 3.0, 0.4, 0.6, 0.5248, 0.4752, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const BratioResult r = ratio(c.a, c.b, c.x, c.y);
    EXPECT_EQ(r.ierr, c.ierr);
    EXPECT_NEAR(r.w, c.w, 4e-16);
    EXPECT_NEAR(r.w1, c.w1, 4e-16);
  }
}

TEST(Bratio, AcceptsXPlusYOffOneByThreeEpsilon) {
  const double eps = machine_eps();
  const double x = 0.25;
  EXPECT_EQ(ratio(2.0, 3.0, x, 0.75 + 2.0 * eps).ierr, 0);
  EXPECT_EQ(ratio(2.0, 3.0, x, 0.75 + 4.0 * eps).ierr, 5);
}

TEST(Bratio, NotANumberGivesNotANumberUnlessAnEarlierCheckFails) {
  const struct {
    double a, b, x, y;
  } cases[] = {
      {nan_value, 2.0, 0.3, 0.7}, {2.0, nan_value, 0.3, 0.7}, {2.0, 3.0, nan_value, 0.7},
      {2.0, 3.0, 0.3, nan_value}, {nan_value, nan_value, 0.0, 1.0}, {0.5, nan_value, 0.9, 0.1},
  };
  for (const auto &c : cases) {
    const BratioResult r = ratio(c.a, c.b, c.x, c.y);
    EXPECT_EQ(r.ierr, 0);
    EXPECT_TRUE(std::isnan(r.w) && std::isnan(r.w1)) << c.a << " " << c.b << " " << c.x;
  }
  EXPECT_EQ(ratio(-1.0, 2.0, nan_value, 0.5).ierr, 1);
  EXPECT_EQ(ratio(nan_value, 2.0, 1.5, 0.5).ierr, 3);
}

TEST(Bratio, InfiniteShapeMovesTheMassToAnEndAndOverflowingSumIsNotANumber) {
  const BratioResult big_a = ratio(infinity, 2.0, 0.999);
  EXPECT_EQ(big_a.w, 0.0);
  EXPECT_EQ(big_a.w1, 1.0);
  const BratioResult big_b = ratio(2.0, infinity, 1e-9);
  EXPECT_EQ(big_b.w, 1.0);
  EXPECT_EQ(big_b.w1, 0.0);
  for (double huge : {infinity, 1.7e308}) {
    const BratioResult both = ratio(huge, huge, 0.5);
    EXPECT_EQ(both.ierr, 0);
    EXPECT_TRUE(std::isnan(both.w) && std::isnan(both.w1)) << huge;
  }
}

TEST(Bratio, FarTailsAboveUnderflowSurviveTheShiftBySeries) {
  // The sum of bup exceeds its first term by hundreds of orders of magnitude;
  // the first term alone underflows, so it must be carried scaled.
  const struct {
    double a, b, x, y, tail;
    bool lower;
  } cases[] = {
      {337.82898504331325, 27.09422732314912, 0.11010183948383512, 0.8898981605161649,
       4.5731912224827556188e-286, true},
      {11.983771889924913, 587.8166091398297, 0.7101083432576348, 0.28989165674236517,
       1.3951146310752099824e-295, false},
      {38.28394280063803, 2818.805856494754, 0.24486956199314958, 0.7551304380068504,
       3.6151978118960959658e-282, false},
  };
  for (const auto &c : cases) {
    const BratioResult r = ratio(c.a, c.b, c.x, c.y);
    const double computed = c.lower ? r.w : r.w1;
    EXPECT_NEAR(computed, c.tail, 1e-11 * c.tail) << c.a << " " << c.b;
  }
}

// ---- identities and the method choice ------------------------------------

TEST(Bratio, ReflectionHoldsToRounding) {
  // I_x(a, b) + I_(1-x)(b, a) = 1; small parameters with x > 0.5 exchange roles.
  const double points[][3] = {{0.3, 5.0, 0.8},   {0.01, 0.02, 0.9}, {1e-5, 40.0, 0.95},
                              {50.0, 0.5, 0.75}, {200.0, 300.0, 0.4}, {3.0, 25.0, 0.2}};
  for (const auto &p : points) {
    const BratioResult r = ratio(p[0], p[1], p[2]);
    const BratioResult s = ratio(p[1], p[0], 1.0 - p[2]);
    EXPECT_NEAR(r.w, s.w1, 4e-16 * std::max(1.0, r.w));
    EXPECT_NEAR(r.w1, s.w, 4e-16 * std::max(1.0, r.w1));
  }
}

TEST(Bratio, ChoosesTheTwoParameterExpansionUpToThreePercentOfTheSmaller) {
  double a = 200.0, b = 300.0;
  double eps = std::max(machine_eps(), 1e-15);
  double expansion_eps = 100.0 * eps, fraction_eps = 15.0 * eps;
  for (double share : {0.01, 0.03}) {
    // lambda = a - (a + b) x for a <= b.
    double x = (a - share * a) / (a + b);
    double y = 1.0 - x;
    double lambda = a - (a + b) * x;
    ASSERT_LE(lambda, 0.03 * a);
    EXPECT_EQ(ratio(a, b, x, y).w, basym(&a, &b, &lambda, &expansion_eps)) << share;
  }
  double x = (a - 0.0301 * a) / (a + b);
  double y = 1.0 - x;
  double lambda = a - (a + b) * x;
  ASSERT_GT(lambda, 0.03 * a);
  EXPECT_EQ(ratio(a, b, x, y).w, bfrac(&a, &b, &x, &y, &lambda, &fraction_eps));
}

TEST(Bratio, ThinningCallPatternGivesTheBinomialDistribution) {
  // P[X <= s] for X ~ Bin(n, p) is w1 of bratio(s + 1, n - s, p, 1 - p).
  const double n = 12.0, p = 0.3;
  double cumulative = 0.0;
  for (int s = 0; s < 12; ++s) {
    cumulative += std::exp(std::lgamma(n + 1) - std::lgamma(s + 1.0) - std::lgamma(n - s + 1.0) +
                           s * std::log(p) + (n - s) * std::log1p(-p));
    EXPECT_NEAR(ratio(s + 1.0, n - s, p).w1, cumulative, 1e-14) << s;
  }
}

// ---- the methods on their own ---------------------------------------------

TEST(BetaMethods, BupIsTheDifferenceOfTwoRatios) {
  const double points[][4] = {{1.5, 3.0, 0.4, 20}, {0.5, 30.0, 0.02, 7}, {12.0, 2.5, 0.9, 1}};
  for (const auto &p : points) {
    double a = p[0], b = p[1], x = p[2], y = 1.0 - x, eps = 1e-15;
    int n = static_cast<int>(p[3]);
    const double expected = ratio(a, b, x).w - ratio(a + n, b, x).w;
    EXPECT_NEAR(bup(&a, &b, &x, &y, &n, &eps), expected, 1e-14 * expected) << a;
  }
}

TEST(BetaMethods, BgratReportsWhatItCannotCompute) {
  double a = 20.0, b = 0.5, x = 1.0, y = 0.0, w = 0.25, eps = 1e-14;
  int ierr = -1;
  bgrat(&a, &b, &x, &y, &w, &eps, &ierr);  // z = 0
  EXPECT_EQ(ierr, 1);
  EXPECT_EQ(w, 0.25);
  x = 1e-300;
  y = 1.0;
  a = 1e5;
  bgrat(&a, &b, &x, &y, &w, &eps, &ierr);  // the scale underflows
  EXPECT_EQ(ierr, 1);
  EXPECT_EQ(w, 0.25);
}

TEST(BetaMethods, Grat1MatchesTheIncompleteGammaRatio) {
  double eps = 1e-15;
  for (double a : {0.5, 1e-3, 0.1, 0.7, 1.0}) {
    for (double x : {0.0, 1e-4, 0.2, 0.3, 1.0, 1.09, 1.1, 3.0, 30.0}) {
      double r = x == 0.0 ? 0.0 : std::exp(-x + a * std::log(x) - std::lgamma(a));
      double p = -1.0, q = -1.0;
      grat1(&a, &x, &r, &p, &q, &eps);
      const double p_ref = boost::math::gamma_p(a, x);
      const double q_ref = boost::math::gamma_q(a, x);
      EXPECT_NEAR(p, p_ref, 1e-13 * p_ref + 1e-300) << a << " " << x;
      EXPECT_NEAR(q, q_ref, 1e-13 * q_ref + 1e-300) << a << " " << x;
    }
  }
}

TEST(BetaMethods, ConvergenceLoopsEndOnNotANumber) {
  double nan_arg = nan_value, eps = 1e-15, half = 0.5, two = 2.0, lambda = 1.0, r = 1.0;
  double p = 0.0, q = 0.0;
  EXPECT_TRUE(std::isnan(bpser(&half, &two, &nan_arg, &eps)));
  EXPECT_TRUE(std::isnan(bfrac(&two, &two, &nan_arg, &half, &lambda, &eps)));
  EXPECT_TRUE(std::isnan(apser(&half, &two, &nan_arg, &eps)));
  EXPECT_TRUE(std::isnan(fpser(&half, &two, &nan_arg, &eps)));
  grat1(&half, &nan_arg, &r, &p, &q, &eps);
  EXPECT_TRUE(std::isnan(p) && std::isnan(q));
  double tenth = 0.1;
  grat1(&tenth, &nan_arg, &r, &p, &q, &eps);
  EXPECT_TRUE(std::isnan(p) && std::isnan(q));
}

TEST(BetaMethods, BrcompIsTheBetaDensityFactor) {
  // x^a y^b / B(a, b) with B from lgamma, across the three forms.
  const double points[][3] = {{0.5, 0.3, 0.2}, {0.5, 5.0, 0.2}, {0.5, 50.0, 0.01},
                              {3.0, 4.0, 0.6}, {80.0, 120.0, 0.41}};
  for (const auto &p : points) {
    double a = p[0], b = p[1], x = p[2], y = 1.0 - x;
    const double expected = std::exp(a * std::log(x) + b * std::log(y) - std::lgamma(a) -
                                     std::lgamma(b) + std::lgamma(a + b));
    EXPECT_NEAR(brcomp(&a, &b, &x, &y), expected, 1e-12 * expected) << a << " " << b;
    int mu = 3;
    EXPECT_NEAR(brcmp1(&mu, &a, &b, &x, &y), std::exp(3.0) * expected, 1e-12 * expected * 20.1);
  }
  double a = 2.0, b = 3.0, zero = 0.0, one = 1.0;
  EXPECT_EQ(brcomp(&a, &b, &zero, &one), 0.0);
}

// ---- accuracy against the reference table -------------------------------

TEST(BratioAccuracy, BothTailsAgainstReference) {
  using namespace beta_reference;
  const auto rows = read_csv("beta_ratio.csv");
  ASSERT_GT(rows.size(), 1000u);
  std::map<std::string, ErrorSummary> by_region, by_method;
  for (const auto &row : rows) {
    const double a = number(row, "a"), b = number(row, "b");
    const double x = number(row, "x"), y = number(row, "y");
    const BratioResult r = ratio(a, b, x, y);
    ASSERT_EQ(r.ierr, 0);
    const struct {
      double computed;
      const char *ref_key, *kappa_key, *tail;
    } tails[] = {{r.w, "w", "kappa_w", "lower"}, {r.w1, "w1", "kappa_w1", "upper"}};
    for (const auto &t : tails) {
      const long double ref = reference(row, t.ref_key);
      const double kappa = number(row, t.kappa_key);
      if (ref < smallest_checked) {
        EXPECT_LE(t.computed, 1e-290) << a << " " << b << " " << x;
        continue;
      }
      const double error = error_units(t.computed, ref);
      by_region[row.at("region") + " " + t.tail].add(error, kappa);
      by_method[row.at("method") + " " + t.tail].add(error, kappa);
      EXPECT_LE(error, allowed_units(kappa))
          << t.tail << " tail, region " << row.at("region") << ", method " << row.at("method")
          << ": a=" << a << " b=" << b << " x=" << x << " kappa=" << kappa;
    }
  }
  print_summary("bratio by region", by_region);
  print_summary("bratio by method", by_method);
}

}  // namespace
