// The C++ interface's own behaviour over the C functions: error messages in
// the caller's terms, the limits of the cumulative functions outside the
// support, quantiles at the ends of the probability range, and the gamma
// law's rate.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "distributions/distfn.hpp"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(DistfnHppMessages, NumbersPrintInTheirShortestExactForm) {
  const struct {
    double value;
    const char *text;
  } cases[] = {{0.1, "0.1"},  {1e300, "1e+300"}, {1e-300, "1e-300"}, {0.0, "0"}, {-2.5, "-2.5"},
               {kInf, "inf"}, {kNaN, "nan"},     {1.7976931348623157e308, "1.7976931348623157e+308"}};
  for (const auto &c : cases) EXPECT_EQ(distfn::detail::shortest(c.value), c.text);
}

TEST(DistfnHppMessages, NameTheArgumentAsTheCallerPassedIt) {
  const struct {
    const char *what;
    std::function<void()> call;
    int status;
    double bound;
    const char *message;
  } cases[] = {
      {"search limit", [] { distfn::fisher_f::solve_dfn(3.7, 10, 0.95); }, 2, 1e300,
       "distfn::fisher_f::solve_dfn: the answer lies above the searchable range (limit 1e+300)"},
      {"parameter", [] { distfn::normal(0, 0).quantile(0.5); }, -6, 0.0,
       "distfn::normal::quantile: argument sd = 0 is out of range, NaN or infinite (limit 0)"},
      // cquantile(q) hands 1 - q to the C function first: the message is about q and its limit.
      {"upper tail", [] { distfn::chi_squared(3).cquantile(1.5); }, -2, 1.0,
       "distfn::chi_squared::cquantile: argument q = 1.5 is out of range, NaN or infinite (limit 1)"},
      {"rate, not scale", [] { distfn::gamma(2, -1).quantile(0.5); }, -6, 0.0,
       "distfn::gamma::quantile: argument rate = -1 is out of range, NaN or infinite (limit 0)"},
      {"success probability, not pr", [] { distfn::binomial(10, 1.5).cdf(3); }, -6, 1.0,
       "distfn::binomial::cdf: argument p_success = 1.5 is out of range, NaN or infinite (limit 1)"},
      {"mean, not xlam", [] { distfn::poisson(-1).ccdf(2); }, -5, 0.0,
       "distfn::poisson::ccdf: argument mean = -1 is out of range, NaN or infinite (limit 0)"},
      {"NaN point", [] { distfn::normal(0, 1).cdf(kNaN); }, -4, 0.0,
       "distfn::normal::cdf: argument x = nan is out of range, NaN or infinite (limit 0)"},
      {"NaN probability", [] { distfn::students_t(3).quantile(kNaN); }, -2, 0.0,
       "distfn::students_t::quantile: argument p = nan is out of range, NaN or infinite (limit 0)"},
      {"both tails", [] { distfn::beta(2, 3).solve(0.3, 0.3); }, 3, 1.0, "distfn::beta::solve: p + q is not 1"},
      {"beta shape", [] { distfn::beta(0, 1).cdf(0.5); }, -6, 0.0,
       "distfn::beta::cdf: argument a = 0 is out of range, NaN or infinite (limit 0)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.call();
      ADD_FAILURE() << "no exception";
    } catch (const distfn::Error &e) {
      EXPECT_EQ(e.status(), c.status);
      EXPECT_EQ(e.bound(), c.bound);
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

// A law's tails at one point, by its C++ interface.
using TailsAt = std::function<distfn::Tails(double)>;

template <class Law>
TailsAt tails_of(Law law) {
  return [law](double x) { return law.tails(x); };
}

TEST(DistfnHppLimits, CumulativeFunctionsOutsideTheSupportGiveTheirLimits) {
  const struct {
    const char *what;
    TailsAt tails;
    double below;  // a point below the support, or -inf
    double above;  // a point above it, or +inf
  } cases[] = {
      {"normal", tails_of(distfn::normal(1, 2)), -kInf, kInf},
      {"students_t", tails_of(distfn::students_t(3)), -kInf, kInf},
      {"chi_squared", tails_of(distfn::chi_squared(3)), -1, kInf},
      {"noncentral_chi_squared", tails_of(distfn::noncentral_chi_squared(3, 2)), -1e-300, kInf},
      {"gamma", tails_of(distfn::gamma(2, 3)), -kInf, kInf},
      {"beta", tails_of(distfn::beta(2, 3)), -0.1, 1.5},
      {"fisher_f", tails_of(distfn::fisher_f(3, 9)), -0.5, kInf},
      {"noncentral_f", tails_of(distfn::noncentral_f(3, 9, 2)), -kInf, kInf},
      {"binomial", tails_of(distfn::binomial(10, 0.3)), -1, 11},
      {"negative_binomial", tails_of(distfn::negative_binomial(5, 0.4)), -1, kInf},
      {"poisson", tails_of(distfn::poisson(3)), -1, kInf},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const distfn::Tails below = c.tails(c.below), above = c.tails(c.above);
    EXPECT_EQ(below.cdf, 0.0);
    EXPECT_EQ(below.ccdf, 1.0);
    EXPECT_EQ(above.cdf, 1.0);
    EXPECT_EQ(above.ccdf, 0.0);
  }
  EXPECT_EQ(distfn::normal(0, 1).cdf(kInf), 1.0);
  EXPECT_EQ(distfn::students_t(3).ccdf(-kInf), 1.0);
  EXPECT_EQ(distfn::binomial(10, 0.3).cdf(10), 1.0);  // the upper end itself, from the C function
}

TEST(DistfnHppLimits, ParametersAreCheckedOutsideTheSupportToo) {
  EXPECT_THROW(distfn::poisson(-1).cdf(-1), distfn::Error);
  EXPECT_THROW(distfn::normal(0, -1).cdf(kInf), distfn::Error);
  EXPECT_THROW(distfn::beta(2, kNaN).cdf(2), distfn::Error);
  EXPECT_THROW(distfn::binomial(-1, 0.3).cdf(5), distfn::Error);
  EXPECT_THROW(distfn::students_t(0).quantile(1), distfn::Error);
  EXPECT_THROW(distfn::gamma(2, 0).quantile(0), distfn::Error);
}

// quantile and cquantile of a law by its C++ interface.
struct Ends {
  std::function<double(double)> quantile;
  std::function<double(double)> cquantile;
};

template <class Law>
Ends ends_of(Law law) {
  return {[law](double p) { return law.quantile(p); }, [law](double q) { return law.cquantile(q); }};
}

TEST(DistfnHppLimits, QuantilesAtTheEndsAreTheSupportsEnds) {
  const struct {
    const char *what;
    Ends ends;
    double lower, upper;
  } cases[] = {
      {"normal", ends_of(distfn::normal(1, 2)), -kInf, kInf},
      {"students_t", ends_of(distfn::students_t(3)), -kInf, kInf},
      {"chi_squared", ends_of(distfn::chi_squared(3)), 0, kInf},
      {"noncentral_chi_squared", ends_of(distfn::noncentral_chi_squared(3, 2)), 0, kInf},
      {"gamma", ends_of(distfn::gamma(2, 3)), 0, kInf},
      {"beta", ends_of(distfn::beta(2, 3)), 0, 1},
      {"fisher_f", ends_of(distfn::fisher_f(3, 9)), 0, kInf},
      {"noncentral_f", ends_of(distfn::noncentral_f(3, 9, 2)), 0, kInf},
      {"binomial", ends_of(distfn::binomial(10, 0.3)), 0, 10},
      {"negative_binomial", ends_of(distfn::negative_binomial(5, 0.4)), 0, kInf},
      {"poisson", ends_of(distfn::poisson(3)), 0, kInf},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.ends.quantile(0), c.lower);
    EXPECT_EQ(c.ends.quantile(1), c.upper);
    EXPECT_EQ(c.ends.cquantile(1), c.lower);
    EXPECT_EQ(c.ends.cquantile(0), c.upper);
  }
  EXPECT_EQ(distfn::normal(0, 1).solve(0, 1), -kInf);
  EXPECT_EQ(distfn::beta(2, 3).solve(1, 0), 1.0);
}

TEST(DistfnHppGamma, TheSecondParameterIsARate) {
  // Shape 1 is the exponential law: P[X <= x] = 1 - exp(-rate x).
  EXPECT_NEAR(distfn::gamma(1, 2).cdf(1), -std::expm1(-2.0), 1e-15);
  EXPECT_NEAR(distfn::gamma(1, 2).quantile(-std::expm1(-2.0)), 1.0, 1e-14);
  EXPECT_NEAR(distfn::gamma::solve_rate(1, 1, -std::expm1(-2.0)), 2.0, 1e-8);
  EXPECT_NEAR(distfn::gamma::solve_rate(1, 1, -std::expm1(-2.0), std::exp(-2.0)), 2.0, 1e-8);
}

}  // namespace
