// The incomplete gamma ratio, its scaled density and its inverse, against
// mpmath reference values (tools/gen_gamma_reference.py) and closed forms.
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
#include "distributions/incomplete_gamma_coefficients.hpp"
#include "tests/reference_csv.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kUnit = 0x1p-52;       // error unit of the reports
constexpr double kHalfUnit = 0x1p-53;   // rounding unit of a double
constexpr double kSmallest = 1e-300;    // ratios below this are not checked
constexpr double kTarget = 1e-13;       // relative accuracy of a well-conditioned ratio
// The uniform expansion stops at a^-8 and z^14: at its corner (a = 20,
// x/a = 0.6) that truncation alone leaves 1.5e-13.
constexpr double kUniformExpansionTarget = 2e-13;
constexpr const char *kUniformExpansion = "a >= 20, uniform expansion";

struct Ratios {
  double p = kNaN;
  double q = kNaN;
};

Ratios ratios(double a, double x, int ind = 0) {
  Ratios r;
  gratio(&a, &x, &r.p, &r.q, &ind);
  return r;
}

// Rows of a CSV file of numbers after its header, parsed as long double.
std::vector<std::vector<long double>> read_table(const std::string &name) {
  std::vector<std::vector<long double>> rows;
  for (const auto &fields : reference_csv::read(name)) rows.push_back(reference_csv::references(fields));
  return rows;
}

double relative_error(double computed, long double reference) {
  if (computed == reference) return 0.0;
  return static_cast<double>(std::fabs(computed - reference) / std::fabs(reference));
}

// The method gratio uses at (a, x) with full accuracy, for the error report.
std::string region_of(double a, double x) {
  if (a < 1.0) {
    if (a == 0.5) return "a = 1/2, error function";
    return x < 1.1 ? "a < 1, power series" : "a < 1, continued fraction";
  }
  if (a < 20.0) {
    if (a <= x && x < 31.0 && std::floor(2.0 * a) == 2.0 * a) return "1 <= a < 20, finite sums";
    if (x <= std::max(a, 2.30258509299405)) return "1 <= a < 20, series";
    return x < 31.0 ? "1 <= a < 20, continued fraction" : "1 <= a < 20, asymptotic series";
  }
  const double s = 1.0 - x / a;
  if (std::fabs(s) <= 0.00025 / std::sqrt(a)) return "a >= 20, expansion about x = a";
  if (std::fabs(s) <= 0.4) return kUniformExpansion;
  if (x <= a) return "a >= 20, series";
  return x < 31.0 ? "a >= 20, continued fraction" : "a >= 20, asymptotic series";
}

struct RegionErrors {
  std::vector<double> units;
  double max_over_kappa = 0.0;  // largest error in units of kappa 2^-53
};

void report(const std::string &title, std::map<std::string, RegionErrors> &regions) {
  std::cout << title << " (units of 2^-52):\n";
  for (auto &[name, errors] : regions) {
    auto &u = errors.units;
    std::sort(u.begin(), u.end());
    std::cout << "  " << name << ": " << u.size() << " values, max " << u.back() << ", median "
              << u[u.size() / 2] << ", max error / (kappa 2^-53) " << errors.max_over_kappa << "\n";
  }
}

// Where a ratio is at least 1e-300, it must be within 1e-13 (2e-13 for the
// uniform expansion), or within 16 kappa 2^-53 where the condition number
// kappa makes that the larger.
TEST(IncompleteGammaRatio, MatchesReferenceTable) {
  const auto rows = read_table("gamma_ratio.csv");
  ASSERT_GT(rows.size(), 1000U);
  std::map<std::string, RegionErrors> regions;
  for (const auto &row : rows) {
    const double a = static_cast<double>(row[0]);
    const double x = static_cast<double>(row[1]);
    const Ratios r = ratios(a, x);
    const struct {
      double computed;
      long double reference;
      double kappa;
      const char *name;
    } checks[] = {{r.p, row[2], static_cast<double>(row[4]), "P"}, {r.q, row[3], static_cast<double>(row[5]), "Q"}};
    const std::string region_name = region_of(a, x);
    const double target = region_name == kUniformExpansion ? kUniformExpansionTarget : kTarget;
    for (const auto &c : checks) {
      if (c.reference < kSmallest) continue;
      const double error = relative_error(c.computed, c.reference);
      EXPECT_LE(error, std::max(target, 16.0 * c.kappa * kHalfUnit))
          << c.name << "(" << a << ", " << x << ") = " << c.computed << ", reference " << static_cast<double>(c.reference)
          << ", kappa " << c.kappa;
      RegionErrors &region = regions[region_name];
      region.units.push_back(error / kUnit);
      region.max_over_kappa = std::max(region.max_over_kappa, error / (std::max(c.kappa, 1.0) * kHalfUnit));
    }
  }
  report("gratio", regions);
}

TEST(IncompleteGammaRatio, ScaledDensityMatchesReferenceTable) {
  std::map<std::string, RegionErrors> regions;
  for (const auto &row : read_table("gamma_ratio.csv")) {
    double a = static_cast<double>(row[0]);
    double x = static_cast<double>(row[1]);
    const long double reference = row[6];
    const double kappa = static_cast<double>(row[7]);
    if (reference < kSmallest) continue;
    const double error = relative_error(rcomp(&a, &x), reference);
    EXPECT_LE(error, std::max(kTarget, 16.0 * kappa * kHalfUnit)) << "rcomp(" << a << ", " << x << ")";
    RegionErrors &region = regions[a < 1.0 ? "a < 1" : a < 20.0 ? "1 <= a < 20" : "a >= 20"];
    region.units.push_back(error / kUnit);
    region.max_over_kappa = std::max(region.max_over_kappa, error / (std::max(kappa, 1.0) * kHalfUnit));
  }
  report("rcomp", regions);
}

// The finite sums for whole and half-integer shapes, and the error function
// branches of a = 1/2, against their closed forms.
TEST(IncompleteGammaRatio, ClosedFormsOfSpecialShapes) {
  const double sqrt5 = std::sqrt(5.0);
  const double sqrt_pi = std::sqrt(M_PI);
  const struct {
    double a, x;
    long double q;
  } cases[] = {
      {0.5, 0.2, std::erfc(std::sqrt(0.2L))},
      {0.5, 0.25, std::erfc(0.5L)},
      {1.0, 5.0, std::exp(-5.0L)},
      {3.0, 5.0, std::exp(-5.0L) * (1.0L + 5.0L + 12.5L)},
      {2.5, 5.0, std::erfc(std::sqrt(5.0L)) + std::exp(-5.0L) * (2.0L * sqrt5 / sqrt_pi + 4.0L * 5.0L * sqrt5 / (3.0L * sqrt_pi))},
      {1.5, 30.5, std::erfc(std::sqrt(30.5L)) + std::exp(-30.5L) * 2.0L * std::sqrt(30.5L) / sqrt_pi},
  };
  for (const auto &c : cases) {
    const Ratios r = ratios(c.a, c.x);
    EXPECT_LE(relative_error(r.q, c.q), 16 * kUnit) << "Q(" << c.a << ", " << c.x << ")";
    EXPECT_LE(relative_error(r.p, 1.0L - c.q), 16 * kUnit) << "P(" << c.a << ", " << c.x << ")";
  }
  // a = 1/2, x < 1/4 forms P from erf directly.
  EXPECT_LE(relative_error(ratios(0.5, 0.2).p, std::erf(std::sqrt(0.2L))), 2 * kUnit);
}

TEST(IncompleteGammaRatio, LimitValuesAndErrorMarker) {
  const struct {
    double a, x, p, q;
  } limits[] = {
      {0.0, 1.0, 1.0, 0.0},
      {0.0, 1e-300, 1.0, 0.0},
      {3.0, 0.0, 0.0, 1.0},
      {1e-300, 0.0, 0.0, 1.0},
      {2.0, HUGE_VAL, 1.0, 0.0},
      {HUGE_VAL, 1e300, 0.0, 1.0},
      {1e300, 1.0, 0.0, 1.0},
  };
  for (const auto &c : limits) {
    const Ratios r = ratios(c.a, c.x);
    EXPECT_EQ(r.p, c.p) << c.a << ", " << c.x;
    EXPECT_EQ(r.q, c.q) << c.a << ", " << c.x;
  }
  // Negative arguments, both zero, and shapes too large for the expansions
  // to resolve x from a: P = 2 and Q untouched.
  const struct {
    double a, x;
  } errors[] = {{0.0, 0.0}, {-1.0, 2.0}, {2.0, -1e-300}, {1e30, 1e30}, {1e30, 1e30 * (1.0 - 0x1p-52)},
                {1e40, 1e40 * (1.0 - 0x1p-52)}};
  for (const auto &c : errors) {
    double a = c.a;
    double x = c.x;
    double p = 0.0;
    double q = -7.0;
    int ind = 0;
    gratio(&a, &x, &p, &q, &ind);
    EXPECT_EQ(p, 2.0) << c.a << ", " << c.x;
    EXPECT_EQ(q, -7.0) << c.a << ", " << c.x;
  }
  const Ratios nan_shape = ratios(kNaN, 1.0);
  const Ratios nan_x = ratios(1.0, kNaN);
  const Ratios both_infinite = ratios(HUGE_VAL, HUGE_VAL);
  for (const Ratios &r : {nan_shape, nan_x, both_infinite}) {
    EXPECT_TRUE(std::isnan(r.p));
    EXPECT_TRUE(std::isnan(r.q));
  }
}

// a and x both tiny but nonzero: their product underflows, yet P is near 1
// (P = x^a / Gamma(a + 1) + ..., Q ~ a (-ln x - Euler's constant)).
TEST(IncompleteGammaRatio, TinyShapeAndArgument) {
  const double a = 1e-200;
  const double x = 1e-200;
  const Ratios r = ratios(a, x);
  const long double q = a * (-std::log(static_cast<long double>(x)) - 0.5772156649015328606L);
  EXPECT_LE(relative_error(r.q, q), 1e-13);
  EXPECT_EQ(r.p, 1.0);
}

TEST(IncompleteGammaRatio, ShapeAndArgumentOneMillion) {
  const Ratios r = ratios(1e6, 1e6);
  EXPECT_LE(relative_error(r.p, 0.5001329807608725912443228L), 1e-13);
  EXPECT_LE(relative_error(r.q, 0.4998670192391274087556772L), 1e-13);
}

// ind 0, 1 and any other value ask for about 14, 6 and 3 digits; every value
// but 0 and 1 behaves as 2.
TEST(IncompleteGammaRatio, AccuracySelector) {
  const auto rows = read_table("gamma_ratio.csv");
  const struct {
    int ind;
    double tolerance;
  } classes[] = {{1, 5e-6}, {2, 5e-3}, {7, 5e-3}, {-3, 5e-3}};
  for (const auto &cls : classes) {
    for (const auto &row : rows) {
      const double a = static_cast<double>(row[0]);
      const double x = static_cast<double>(row[1]);
      const Ratios r = ratios(a, x, cls.ind);
      if (row[2] >= 1e-200 && row[4] < 1e3) {
        EXPECT_LE(relative_error(r.p, row[2]), cls.tolerance) << "ind " << cls.ind << " P(" << a << ", " << x << ")";
      }
      if (row[3] >= 1e-200 && row[5] < 1e3) {
        EXPECT_LE(relative_error(r.q, row[3]), cls.tolerance) << "ind " << cls.ind << " Q(" << a << ", " << x << ")";
      }
      if (cls.ind != 1 && cls.ind != 2) {
        const Ratios same = ratios(a, x, 2);
        EXPECT_EQ(r.p, same.p);
        EXPECT_EQ(r.q, same.q);
      }
    }
  }
}

TEST(UniformExpansionCoefficients, TellingValues) {
  namespace ue = distfn::uniform_expansion;
  EXPECT_EQ(ue::d0[0], 0.0833333333333333);
  EXPECT_EQ(ue::d0[1], -0.0148148148148148);
  EXPECT_EQ(ue::d0[2], 0.00115740740740741);
  EXPECT_EQ(ue::d10, -0.00185185185185185);
  EXPECT_EQ(ue::d1[0], -0.00347222222222222);
  EXPECT_EQ(ue::d20, 0.00413359788359788);
  EXPECT_EQ(ue::d2[0], -0.00268132716049383);
  EXPECT_EQ(ue::d70, 0.000344367606892378);
}

// ---- the inverse -------------------------------------------------------------

struct Inverse {
  double x = kNaN;
  int ierr = 99;
};

Inverse invert(double a, double p, double q, double x0 = -1.0) {
  Inverse r;
  gaminv(&a, &r.x, &x0, &p, &q, &r.ierr);
  return r;
}

// Round trip over shapes and probabilities: where gaminv reports a solution
// after correction steps, P (or Q in the upper tail) at x matches p (q) to
// 1e-10, or x is within 1e-12 of the exact solution, which is what that means
// where P is that sensitive to x.  Approximations accepted without a step
// (ierr 0) are held to their own acceptance rules, reported separately.
TEST(InverseIncompleteGammaRatio, RoundTrip) {
  const double shapes[] = {1e-3, 0.01, 0.1, 0.29, 0.31, 0.5, 0.9, 1.5, 3.0, 10.0, 50.0,
                           499.0, 500.0, 1e3, 1e4, 1e5, 1e6, 1e10};
  const double lower[] = {1e-290, 1e-100, 1e-20, 1e-8, 1e-3, 0.05, 0.3, 0.5};
  const double upper[] = {0.3, 0.05, 1e-3, 1e-8, 1e-20, 1e-100, 1e-290};
  std::map<int, int> statuses;
  double worst_iterated = 0.0;
  double worst_accepted = 0.0;
  for (double a : shapes) {
    std::vector<std::pair<double, double>> pq;
    for (double p : lower) pq.emplace_back(p, 1.0 - p);
    for (double q : upper) pq.emplace_back(1.0 - q, q);
    for (auto [p, q] : pq) {
      const Inverse inv = invert(a, p, q);
      ++statuses[inv.ierr];
      if (inv.ierr < 0) continue;
      const Ratios r = ratios(a, inv.x);
      const bool upper_tail = p > 0.5;
      const double target = upper_tail ? q : p;
      const double reached = upper_tail ? r.q : r.p;
      const double error = std::fabs(reached - target) / target;
      // |d ln P / d ln x| = rcomp(a, x) / P: how far x is from the solution.
      double ax = a;
      double xx = inv.x;
      const double x_error = error / (rcomp(&ax, &xx) / target);
      if (inv.ierr > 0) {
        EXPECT_TRUE(error <= 1e-10 || x_error <= 1e-12)
            << "a " << a << " p " << p << " q " << q << " x " << inv.x << " ierr " << inv.ierr << " P error " << error;
        worst_iterated = std::max(worst_iterated, std::min(error, x_error));
      } else {
        EXPECT_LE(std::min(error, x_error), 1e-5) << "a " << a << " p " << p << " x " << inv.x;
        if (error > 1e-10) {
          std::cout << "  accepted without a step: a " << a << " p " << p << " q " << q << ", P error " << error
                    << ", x error " << x_error << "\n";
        }
        worst_accepted = std::max(worst_accepted, std::min(error, x_error));
      }
    }
  }
  std::cout << "gaminv statuses:";
  for (auto [ierr, count] : statuses) std::cout << " " << ierr << ":" << count;
  std::cout << "\ngaminv worst relative error (P or x) after steps " << worst_iterated << ", accepted directly "
            << worst_accepted << "\n";
}

TEST(InverseIncompleteGammaRatio, SpecialCasesAndStatuses) {
  const double xmax = std::numeric_limits<double>::max();
  const struct {
    const char *what;
    double a, p, q, x0;
    int ierr;
    double x;  // NaN: not checked here
  } cases[] = {
      {"p = 0", 3.0, 0.0, 1.0, -1.0, 0, 0.0},
      {"q = 0", 3.0, 1.0, 0.0, -1.0, 0, xmax},
      {"a = 1, q < 0.9", 1.0, 0.25, 0.75, -1.0, 0, -std::log(0.75)},
      {"a = 0", 0.0, 0.5, 0.5, -1.0, -2, 0.0},
      {"a < 0", -1.0, 0.5, 0.5, -1.0, -2, 0.0},
      {"a infinite", HUGE_VAL, 0.5, 0.5, -1.0, -2, 0.0},
      {"p + q != 1", 3.0, 0.3, 0.7 + 1e-12, -1.0, -4, 0.0},
      {"p above 1", 0.5, 1.2, -0.2, -1.0, -4, 0.0},
      {"p below 0", 3.0, -0.2, 1.2, -1.0, -4, 0.0},
      {"x underflows", 1e-3, 0.3, 0.7, -1.0, -3, 0.0},
      {"q at the underflow limit", 3.0, 1.0, 1e-300, -1.0, -8, kNaN},
      {"p at the underflow limit", 1e3, 1e-300, 1.0, -1.0, -8, kNaN},
      {"20 steps do not converge", 0.31, 1e-100, 1.0, -1.0, -6, kNaN},
      {"start far above the solution", 2.0, 0.1, 0.9, 50.0, -7, kNaN},
      {"start where Q underflows", 5.0, 0.5, 0.5, 1000.0, -8, 1000.0},
      {"a >= 500, approximation accepted", 1e6, 0.5, 0.5, -1.0, 0, kNaN},
  };
  for (const auto &c : cases) {
    const Inverse inv = invert(c.a, c.p, c.q, c.x0);
    EXPECT_EQ(inv.ierr, c.ierr) << c.what;
    if (!std::isnan(c.x)) {
      EXPECT_EQ(inv.x, c.x) << c.what;
    }
  }
  // a = 1, q >= 0.9: -ln(1 - p) through ln(1 + a), accurate for small p.
  double minus_p = -1e-20;
  EXPECT_EQ(invert(1.0, 1e-20, 1.0).x, -alnrel(&minus_p));
  // A step from a nonpositive start never happens: the correction from x0
  // lands below 0 and is reported with that value.
  EXPECT_LT(invert(2.0, 0.1, 0.9, 50.0).x, 0.0);
  // A good starting value is taken as it is and corrected.
  const Inverse started = invert(5.0, 0.5, 0.5, 4.67);
  EXPECT_GE(started.ierr, 1);
  EXPECT_NEAR(ratios(5.0, started.x).p, 0.5, 1e-12);
  // NaN arguments give NaN.
  EXPECT_TRUE(std::isnan(invert(kNaN, 0.5, 0.5).x));
  EXPECT_TRUE(std::isnan(invert(2.0, kNaN, 0.5).x));
  EXPECT_TRUE(std::isnan(invert(2.0, 0.5, kNaN).x));
}

}  // namespace
