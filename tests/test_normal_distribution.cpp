// The normal distribution: Phi and its complement against mpmath
// (tools/gen_gamma_reference.py), the inverse, the t start value and the log tail.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <boost/math/distributions/students_t.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "distributions/distfn.h"
#include "tests/reference_csv.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kUnit = 0x1p-52;
constexpr double kHalfUnit = 0x1p-53;
constexpr double kSmallestNormal = std::numeric_limits<double>::min();
// Near the centre the condition number vanishes; the rational forms still
// round a few times.
constexpr double kCentreTarget = 1e-15;

struct Tails {
  double cum = kNaN;
  double ccum = kNaN;
};

Tails normal(double x) {
  Tails t;
  cumnor(&x, &t.cum, &t.ccum);
  return t;
}

double inverse(double p, double q) { return dinvnr(&p, &q); }

double relative_error(double computed, long double reference) {
  if (computed == reference) return 0.0;
  return static_cast<double>(std::fabs(computed - reference) / std::fabs(reference));
}

std::string region_of(double x) {
  const double y = std::fabs(x);
  if (y <= 0.66291) return "|x| <= 0.66291";
  if (y <= 5.656854248) return "0.66291 < |x| <= 5.656854248";
  return "|x| > 5.656854248";
}

// Each tail within 16 kappa 2^-53 (at least 1e-15) where it is a normal
// double, and exactly 0 below that.
TEST(NormalDistribution, MatchesReferenceTable) {
  std::map<std::string, std::vector<double>> units;
  std::map<std::string, double> over_kappa;
  std::size_t rows = 0;
  for (const auto &fields : reference_csv::read("normal_cdf.csv")) {
    const std::vector<long double> v = reference_csv::references(fields);
    const double x = static_cast<double>(v[0]);
    const Tails t = normal(x);
    const struct {
      double computed;
      long double reference;
      double kappa;
    } checks[] = {{t.cum, v[1], static_cast<double>(v[3])}, {t.ccum, v[2], static_cast<double>(v[4])}};
    for (const auto &c : checks) {
      if (c.reference < kSmallestNormal) {
        EXPECT_EQ(c.computed, 0.0) << x;
        continue;
      }
      const double error = relative_error(c.computed, c.reference);
      EXPECT_LE(error, std::max(kCentreTarget, 16.0 * c.kappa * kHalfUnit)) << "x = " << x;
      units[region_of(x)].push_back(error / kUnit);
      over_kappa[region_of(x)] = std::max(over_kappa[region_of(x)], error / (std::max(c.kappa, 1.0) * kHalfUnit));
    }
    ++rows;
  }
  ASSERT_GT(rows, 1000U);
  std::cout << "cumnor (units of 2^-52):\n";
  for (auto &[region, u] : units) {
    std::sort(u.begin(), u.end());
    std::cout << "  " << region << ": " << u.size() << " values, max " << u.back() << ", median " << u[u.size() / 2]
              << ", max error / (kappa 2^-53) " << over_kappa[region] << "\n";
  }
}

TEST(NormalDistribution, EdgeCases) {
  const Tails centre = normal(0.0);
  EXPECT_EQ(centre.cum, 0.5);
  EXPECT_EQ(centre.ccum, 0.5);
  const Tails upper = normal(1.96);
  EXPECT_NEAR(upper.cum, 0.9750021, 1e-7);
  EXPECT_NEAR(upper.ccum, 0.0249979, 1e-7);
  const Tails lower = normal(-1.96);
  EXPECT_EQ(lower.cum, upper.ccum);
  EXPECT_EQ(lower.ccum, upper.cum);
  // Beyond the smallest normalized double the tail is 0; far beyond, and at
  // infinity, the limits come directly.
  const struct {
    double x, cum, ccum;
  } limits[] = {{40.0, 1.0, 0.0},   {-40.0, 0.0, 1.0},     {1.4e9, 1.0, 0.0},
                {-1e300, 0.0, 1.0}, {HUGE_VAL, 1.0, 0.0}, {-HUGE_VAL, 0.0, 1.0}};
  for (const auto &l : limits) {
    const Tails t = normal(l.x);
    EXPECT_EQ(t.cum, l.cum) << l.x;
    EXPECT_EQ(t.ccum, l.ccum) << l.x;
  }
  const Tails nan = normal(kNaN);
  EXPECT_TRUE(std::isnan(nan.cum));
  EXPECT_TRUE(std::isnan(nan.ccum));
}

// Both sides of each region boundary, in both tails, agree with erfc.
TEST(NormalDistribution, RegionBoundaries) {
  for (double x : {0.66291, 0.662911, 5.656854248, 5.6568543}) {
    for (double sign : {-1.0, 1.0}) {
      const double arg = sign * x;
      const Tails t = normal(arg);
      const long double lower = std::erfc(-static_cast<long double>(arg) / std::sqrt(2.0L)) / 2.0L;
      const long double upper = std::erfc(static_cast<long double>(arg) / std::sqrt(2.0L)) / 2.0L;
      EXPECT_LE(relative_error(t.cum, lower), 8 * kUnit) << arg;
      EXPECT_LE(relative_error(t.ccum, upper), 8 * kUnit) << arg;
    }
  }
}

TEST(NormalInverse, EdgeCases) {
  EXPECT_NEAR(inverse(0.975, 0.025), 1.95996398454, 1e-11);
  EXPECT_NEAR(inverse(0.025, 0.975), -1.95996398454, 1e-11);
  EXPECT_NEAR(inverse(0.5, 0.5), 0.0, 1e-15);
  // The probability 0 (or 1) has its quantile at infinity.
  EXPECT_EQ(inverse(0.0, 1.0), -HUGE_VAL);
  EXPECT_EQ(inverse(1.0, 0.0), HUGE_VAL);
  EXPECT_TRUE(std::isnan(inverse(kNaN, kNaN)));
  // The starting value is a rational approximation good to about 1.5e-8.
  double half = 0.5;
  EXPECT_NEAR(stvaln(&half), 0.0, 2e-8);
  double upper = 0.7;
  EXPECT_GT(stvaln(&upper), 0.0);
}

// Round trip: Phi(dinvnr(p)) = p in the tail that p names, to the condition
// of the quantile (|d ln Phi / d ln x| = |x| phi(x) / Phi).
TEST(NormalInverse, RoundTrip) {
  double worst = 0.0;
  for (double p : {1e-300, 1e-100, 1e-20, 1e-8, 1e-3, 0.025, 0.1, 0.3, 0.45, 0.5 - 1e-9}) {
    for (bool lower_tail : {true, false}) {
      const double x = lower_tail ? inverse(p, 1.0 - p) : inverse(1.0 - p, p);
      const Tails t = normal(x);
      const double reached = lower_tail ? t.cum : t.ccum;
      const double error = std::fabs(reached - p) / p;
      const double kappa = std::fabs(x) * std::exp(-0.5 * x * x) / std::sqrt(2.0 * M_PI) / p;
      EXPECT_LE(error, std::max(1e-13, 1e-13 * kappa)) << "p " << p << " x " << x;
      worst = std::max(worst, error / std::max(1.0, kappa));
    }
  }
  std::cout << "dinvnr round trip: worst |Phi(x) - p| / p / max(1, kappa) " << worst << "\n";
}

TEST(StudentTStart, ApproachesTheQuantile) {
  for (double df : {1.0, 5.0, 1e6}) {
    double p = 0.5;
    double q = 0.5;
    double d = df;
    EXPECT_NEAR(dt1(&p, &q, &d), 0.0, 1e-15);
  }
  // The expansion in 1/df converges to the t quantile as df grows.
  for (double df : {10.0, 30.0, 1e3, 1e6}) {
    for (double p : {0.9, 0.975, 0.001}) {
      double pp = p;
      double q = 1.0 - p;
      double d = df;
      const double exact = boost::math::quantile(boost::math::students_t(df), p);
      EXPECT_NEAR(dt1(&pp, &q, &d), exact, std::fabs(exact) * 20.0 / (df * df * df)) << "df " << df << " p " << p;
    }
  }
}

// The twelve-term asymptotic series is least accurate at its lower limit 5,
// where its terms stop shrinking soon after the twelfth.
TEST(NormalLogTail, SymmetricAndAccurate) {
  const struct {
    double x, tolerance;
  } cases[] = {{5.0, 3e-7}, {7.5, 1e-11}, {20.0, 1e-15}, {38.0, 1e-15}, {1e3, 1e-15}};
  for (const auto &c : cases) {
    double plus = c.x;
    double minus = -c.x;
    const double value = dlanor(&plus);
    EXPECT_EQ(value, dlanor(&minus));
    const long double reference = std::log(std::erfc(static_cast<long double>(c.x) / std::sqrt(2.0L)) / 2.0L);
    if (std::isfinite(reference)) {
      EXPECT_LE(relative_error(value, reference), c.tolerance) << c.x;
    }
  }
  double five = 5.0;
  EXPECT_NEAR(dlanor(&five), -15.065, 1e-3);
  double infinite = HUGE_VAL;
  EXPECT_EQ(dlanor(&infinite), -HUGE_VAL);
}

TEST(NormalLogTailDeathTest, StopsBelowFive) {
  double x = 4.999;
  // The process stop decides the exit status; the message is the check.
  const auto exited = [](int status) { return WIFEXITED(status); };
  EXPECT_EXIT(dlanor(&x), exited, "^ Argument too small in DLANOR\n$");
}

}  // namespace
