// The quantile functions inv* against 40-digit mpmath quantiles in both tails
// (tools/gen_inverse_reference.py), against their front ends' case 2, their
// argument checks and range limits; and the C++ interface of distfn.hpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "distributions/distfn.h"
#include "distributions/distfn.hpp"
#include "tests/reference_csv.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kUlp = 0x1p-52;
constexpr double kFrontEndTolerance = 1e-8;
// The front ends' searches stop once the tail is within 1e-50 of its target:
// their answers hold where the tail is far above that.
constexpr double kFrontEndSmallestTail = 1e-30;
// At the median of t (0) the front end's answer is 0 to within rounding.
constexpr double kFrontEndAbsoluteTolerance = 1e-15;

struct Row {
  std::string function;
  double p, q, a, b, c;
  long double quantile;
  double kappa, kappa_f;
};

std::vector<Row> read_table() {
  using reference_csv::number, reference_csv::reference;
  std::vector<Row> rows;
  for (const auto &f : reference_csv::read("inverse_quantiles.csv")) {
    rows.push_back({f[0], number(f[1]), number(f[2]), number(f[3]), number(f[4]), number(f[5]), reference(f[6]),
                    number(f[7]), number(f[8])});
  }
  return rows;
}

struct Result {
  int status;
  double x;
};

// The quantile function named in a row, and its front end's case 2.
Result inverse(const Row &r) {
  double x = kNaN, y;
  int status = -99;
  const std::string &f = r.function;
  if (f == "nor") status = invnor(r.p, r.q, r.a, r.b, &x);
  if (f == "t") status = invt(r.p, r.q, r.a, &x);
  if (f == "chi") status = invchi(r.p, r.q, r.a, &x);
  if (f == "gam") status = invgam(r.p, r.q, r.a, r.b, &x);
  if (f == "bet") status = invbet(r.p, r.q, r.a, r.b, &x, &y);
  if (f == "f") status = invf(r.p, r.q, r.a, r.b, &x);
  if (f == "poi") status = invpoi(r.p, r.q, r.a, &x);
  if (f == "bin") status = invbin(r.p, r.q, r.a, r.b, 1.0 - r.b, &x);
  if (f == "nbn") status = invnbn(r.p, r.q, r.a, r.b, 1.0 - r.b, &x);
  if (f == "chn") status = invchn(r.p, r.q, r.a, r.b, &x);
  if (f == "fnc") status = invfnc(r.p, r.q, r.a, r.b, r.c, &x);
  return {status, x};
}

Result front_end(const Row &r) {
  int which = 2, status = -99;
  double p = r.p, q = r.q, x = kNaN, y, a = r.a, b = r.b, c = r.c, ompr = 1.0 - r.b, bound;
  const std::string &f = r.function;
  if (f == "nor") cdfnor(&which, &p, &q, &x, &a, &b, &status, &bound);
  if (f == "t") cdft(&which, &p, &q, &x, &a, &status, &bound);
  if (f == "chi") cdfchi(&which, &p, &q, &x, &a, &status, &bound);
  if (f == "gam") cdfgam(&which, &p, &q, &x, &a, &b, &status, &bound);
  if (f == "bet") cdfbet(&which, &p, &q, &x, &y, &a, &b, &status, &bound);
  if (f == "f") cdff(&which, &p, &q, &x, &a, &b, &status, &bound);
  if (f == "poi") cdfpoi(&which, &p, &q, &x, &a, &status, &bound);
  if (f == "bin") cdfbin(&which, &p, &q, &x, &a, &b, &ompr, &status, &bound);
  if (f == "nbn") cdfnbn(&which, &p, &q, &x, &a, &b, &ompr, &status, &bound);
  if (f == "chn") cdfchn(&which, &p, &q, &x, &a, &b, &status, &bound);
  if (f == "fnc") cdffnc(&which, &p, &q, &x, &a, &b, &c, &status, &bound);
  return {status, x};
}

bool noncentral(const Row &r) { return r.function == "chn" || r.function == "fnc"; }

// The noncentral front ends solve the equation of their truncated sums:
// their answer is as good as that sum at the exact quantile, whose relative
// error d moves the quantile by d p / (x density) = d kappa p / min(p, q).
double noncentral_allowance(const Row &r) {
  double x = static_cast<double>(r.quantile), a = r.a, b = r.b, c = r.c, cum, ccum;
  if (r.function == "chn")
    cumchn(&x, &a, &b, &cum, &ccum);
  else
    cumfnc(&x, &a, &b, &c, &cum, &ccum);
  const double d = std::fabs(cum - r.p) / r.p;
  return 2.0 * d * r.kappa * r.p / std::min(r.p, r.q) / kUlp + 64.0 * std::max(1.0, r.kappa);
}

// Largest errors per function, in ulps of the quantile, with the condition
// numbers met.
struct Summary {
  int rows = 0;
  double max_ulps = 0.0, max_kappa = 0.0, max_ulps_over_bound = 0.0;
};

TEST(QuantileFunctions, MatchReferencesInBothTails) {
  const std::vector<Row> rows = read_table();
  ASSERT_GT(rows.size(), 400u);
  std::map<std::string, Summary> summary;
  for (const Row &r : rows) {
    const Result got = inverse(r);
    const double exact = static_cast<double>(r.quantile);
    const double ulps = exact == 0.0
                            ? std::fabs(got.x) / kUlp
                            : static_cast<double>(std::fabs(got.x - r.quantile) / std::fabs(r.quantile)) / kUlp;
    // Relative error at most max(8 ulps max(1, kappa), 16 kappa_f kappa ulps);
    // the noncentral laws too, now that they solve tails summed in full.
    const double bound = std::max(8.0 * std::max(1.0, r.kappa), 16.0 * r.kappa_f * r.kappa);
    EXPECT_EQ(got.status, 0) << r.function << " p=" << r.p << " q=" << r.q;
    EXPECT_LE(ulps, bound) << r.function << "(p=" << r.p << ", q=" << r.q << ", " << r.a << ", " << r.b << ", " << r.c
                           << ") = " << got.x << ", exact " << exact << ", kappa " << r.kappa << ", kappa_f "
                           << r.kappa_f;
    Summary &s = summary[r.function];
    ++s.rows;
    s.max_ulps = std::max(s.max_ulps, ulps);
    s.max_kappa = std::max(s.max_kappa, std::isinf(r.kappa) ? 0.0 : r.kappa);
    s.max_ulps_over_bound = std::max(s.max_ulps_over_bound, ulps / bound);
  }
  for (const auto &[function, s] : summary) {
    std::cout << "inv" << function << ": " << s.rows << " points, max error " << s.max_ulps << " ulps, max kappa "
              << s.max_kappa << ", max error / bound " << s.max_ulps_over_bound << "\n";
  }
}

// Small shapes put the median of the gamma law far below 1 while the upper
// tail is still wide (x ~ 1e-32 at q = 0.378 for shape 0.0065): a start from
// the upper tail's expansion, far off there, once left these 2e7 ulps away.
// 40-digit mpmath roots of Q(a, x) = q with the reference table's kappa, kappa_f.
TEST(QuantileFunctions, SmallShapesInTheUpperHalf) {
  const Row rows[] = {
      {"gam", 0.622, 0.378, 0.0065, 1, 0, 1.064330859089411819823211e-32L, 93.5, 0.803},
      {"gam", 0.622, 0.378, 0.009, 1, 0, 6.923722750758454223234192e-24L, 67.5, 0.811},
      {"gam", 0.83, 0.17, 0.005, 1, 0, 3.687385349119314370054849e-17L, 41.0, 0.959},
      {"gam", 0.75, 0.25, 0.007, 1, 0, 8.006069233657178482299385e-19L, 47.6, 0.905},
      {"gam", 0.9, 0.1, 0.02, 1, 0, 0.002949674421250175432327287L, 5.57, 1.31},
  };
  for (const Row &r : rows) {
    const Result got = inverse(r);
    const double ulps = static_cast<double>(std::fabs(got.x - r.quantile) / r.quantile) / kUlp;
    EXPECT_EQ(got.status, 0);
    EXPECT_LE(ulps, std::max(8.0 * std::max(1.0, r.kappa), 16.0 * r.kappa_f * r.kappa))
        << "invgam(p=" << r.p << ", q=" << r.q << ", " << r.a << ") = " << got.x;
  }
}

// invnor evaluates fitted rational approximations with no refinement
// (tools/gen_normal_quantile_coefficients.py): on a dense sweep of tails from
// the smallest subnormal to 1/2, in both tails, its error stays at the few
// ulps the fit and its binary64 evaluation leave.
constexpr double kNormalSweepUlps = 3.0;

TEST(QuantileFunctions, NormalQuantileOnADenseSweep) {
  int points = 0;
  double max_ulps = 0.0;
  for (const auto &f : reference_csv::read("normal_quantile_sweep.csv")) {
    const double tail = reference_csv::number(f[0]);
    const long double exact = reference_csv::reference(f[1]);
    for (const bool lower : {true, false}) {
      double x = kNaN;
      const int status = lower ? invnor(tail, 1.0 - tail, 0, 1, &x) : invnor(1.0 - tail, tail, 0, 1, &x);
      const long double expected = lower ? exact : -exact;
      const double ulps = expected == 0.0L ? std::fabs(x) / kUlp
                                           : static_cast<double>(std::fabs(x - expected) / std::fabs(expected)) / kUlp;
      EXPECT_EQ(status, 0) << "tail " << tail;
      EXPECT_LE(ulps, kNormalSweepUlps) << "tail " << tail << (lower ? " (lower)" : " (upper)") << ": " << x
                                        << ", exact " << static_cast<double>(expected);
      max_ulps = std::max(max_ulps, ulps);
      ++points;
    }
  }
  ASSERT_GT(points, 3000);
  std::cout << "invnor: " << points << " points, max error " << max_ulps << " ulps\n";
}

TEST(QuantileFunctions, AgreeWithTheFrontEndSearch) {
  for (const Row &r : read_table()) {
    if (std::min(r.p, r.q) < kFrontEndSmallestTail) continue;
    const Result fe = front_end(r);
    if (fe.status != 0) continue;  // the front end's own range limits
    const Result got = inverse(r);
    // cdfbet searches y = 1 - x when p > q: its tolerance is relative to y.
    const double searched = r.function == "bet" && r.p > r.q ? 1.0 - got.x : got.x;
    // The noncentral front ends solve their truncated sums, the quantile
    // functions the tails summed in full: they differ by what the truncation moves.
    const double truncation = noncentral(r) ? noncentral_allowance(r) * kUlp * std::fabs(got.x) : 0.0;
    EXPECT_LE(std::fabs(got.x - fe.x),
              2.0 * kFrontEndTolerance * std::fabs(searched) + kFrontEndAbsoluteTolerance + truncation)
        << r.function << "(p=" << r.p << ", q=" << r.q << ", " << r.a << ", " << r.b << ", " << r.c << "): " << got.x
        << " vs front end " << fe.x;
  }
}

// ---- argument checks and range limits ------------------------------------------

struct StatusCase {
  const char *what;
  std::function<int(double *)> call;
  int status;
  double output;  // NaN: the output must be NaN
};

void check_cases(const std::vector<StatusCase> &cases) {
  for (const StatusCase &c : cases) {
    double out = 12345.0;
    EXPECT_EQ(c.call(&out), c.status) << c.what;
    if (std::isnan(c.output))
      EXPECT_TRUE(std::isnan(out)) << c.what << ": " << out;
    else
      EXPECT_EQ(out, c.output) << c.what;
  }
}

TEST(QuantileFunctions, RejectArgumentsWithTheFrontEndsPositions) {
  double y;
  check_cases({
      {"invnor p < 0", [](double *x) { return invnor(-0.1, 1.1, 0, 1, x); }, -2, kNaN},
      {"invnor p = 0", [](double *x) { return invnor(0, 1, 0, 1, x); }, -2, kNaN},
      {"invnor q NaN", [](double *x) { return invnor(0.5, kNaN, 0, 1, x); }, -3, kNaN},
      {"invnor mean inf", [](double *x) { return invnor(0.5, 0.5, kInf, 1, x); }, -5, kNaN},
      {"invnor sd 0", [](double *x) { return invnor(0.5, 0.5, 0, 0, x); }, -6, kNaN},
      {"invnor p + q", [](double *x) { return invnor(0.5, 0.6, 0, 1, x); }, 3, kNaN},
      {"invt df 0", [](double *x) { return invt(0.5, 0.5, 0, x); }, -5, kNaN},
      {"invt df NaN", [](double *x) { return invt(0.5, 0.5, kNaN, x); }, -5, kNaN},
      {"invt q = 0", [](double *x) { return invt(1, 0, 3, x); }, -3, kNaN},
      {"invchi df -1", [](double *x) { return invchi(0.5, 0.5, -1, x); }, -5, kNaN},
      {"invchi q = 0", [](double *x) { return invchi(1, 0, 3, x); }, -3, kNaN},
      {"invgam shape inf", [](double *x) { return invgam(0.5, 0.5, kInf, 1, x); }, -5, kNaN},
      {"invgam scale 0", [](double *x) { return invgam(0.5, 0.5, 1, 0, x); }, -6, kNaN},
      {"invgam p + q", [](double *x) { return invgam(0.3, 0.3, 1, 1, x); }, 3, kNaN},
      {"invbet p > 1", [&](double *x) { return invbet(1.5, -0.5, 1, 1, x, &y); }, -2, kNaN},
      {"invbet a 0", [&](double *x) { return invbet(0.5, 0.5, 0, 1, x, &y); }, -6, kNaN},
      {"invbet b NaN", [&](double *x) { return invbet(0.5, 0.5, 1, kNaN, x, &y); }, -7, kNaN},
      {"invf dfn 0", [](double *x) { return invf(0.5, 0.5, 0, 1, x); }, -5, kNaN},
      {"invf dfd inf", [](double *x) { return invf(0.5, 0.5, 1, kInf, x); }, -6, kNaN},
      {"invpoi xlam < 0", [](double *x) { return invpoi(0.5, 0.5, -1, x); }, -5, kNaN},
      {"invpoi q = 0", [](double *x) { return invpoi(1, 0, 1, x); }, -3, kNaN},
      {"invbin xn 0", [](double *x) { return invbin(0.5, 0.5, 0, 0.5, 0.5, x); }, -5, kNaN},
      {"invbin pr NaN", [](double *x) { return invbin(0.5, 0.5, 10, kNaN, 0.5, x); }, -6, kNaN},
      {"invbin ompr > 1", [](double *x) { return invbin(0.5, 0.5, 10, 0.5, 1.5, x); }, -7, kNaN},
      {"invbin pr + ompr", [](double *x) { return invbin(0.5, 0.5, 10, 0.5, 0.6, x); }, 4, kNaN},
      {"invnbn xn inf", [](double *x) { return invnbn(0.5, 0.5, kInf, 0.5, 0.5, x); }, -5, kNaN},
      {"invnbn pr + ompr", [](double *x) { return invnbn(0.5, 0.5, 3, 0.2, 0.2, x); }, 4, kNaN},
      // Unlike their front ends, the noncentral quantile functions read q.
      {"invchn q = 0", [](double *x) { return invchn(1, 0, 3, 1, x); }, -3, kNaN},
      {"invchn p + q", [](double *x) { return invchn(0.5, 0.3, 3, 1, x); }, 3, kNaN},
      {"invfnc q = 0", [](double *x) { return invfnc(1, 0, 3, 4, 1, x); }, -3, kNaN},
      // A shape so large that the gamma ratio gives only 0 and 1 (found by fuzzing): the
      // search ends on that jump, not a root.
      {"invchn df 7.6e286", [](double *x) { return invchn(0.77372507048133254, 0.22627492951866746, 7.6252252828815932e+286, 0, x); }, 10, kNaN},
      {"invchn df 0", [](double *x) { return invchn(0.5, 0.5, 0, 1, x); }, -5, kNaN},
      {"invchn pnonc NaN", [](double *x) { return invchn(0.5, 0.5, 3, kNaN, x); }, -6, kNaN},
      {"invfnc dfd 0", [](double *x) { return invfnc(0.5, 0.5, 3, 0, 1, x); }, -6, kNaN},
      {"invfnc pnonc < 0", [](double *x) { return invfnc(0.5, 0.5, 3, 4, -1, x); }, -7, kNaN},
  });
  EXPECT_TRUE(std::isnan(y));
}

TEST(QuantileFunctions, ReportAnswersBeyondTheSearchRangeAtItsLimits) {
  double y;
  check_cases({
      // t with df = 0.01 reaches 1e300 at a tail of about 1e-3.
      {"invt lower beyond -1e300", [](double *x) { return invt(1e-10, 1 - 1e-10, 0.01, x); }, 1, -1e300},
      {"invt upper beyond 1e300", [](double *x) { return invt(1 - 1e-10, 1e-10, 0.01, x); }, 2, 1e300},
      {"invf beyond 1e300", [](double *x) { return invf(1 - 1e-10, 1e-10, 0.01, 0.01, x); }, 2, 1e300},
      // No count s >= 0 has P[X <= s] as small as these.
      {"invpoi below exp(-xlam)", [](double *x) { return invpoi(0.1, 0.9, 1, x); }, 1, 0.0},
      {"invpoi xlam 0", [](double *x) { return invpoi(0.5, 0.5, 0, x); }, 1, 0.0},
      {"invbin below (1-pr)^n", [](double *x) { return invbin(1e-5, 1 - 1e-5, 5, 0.1, 0.9, x); }, 1, 0.0},
      {"invbin pr 0", [](double *x) { return invbin(0.5, 0.5, 5, 0, 1, x); }, 1, 0.0},
      {"invnbn below pr^n", [](double *x) { return invnbn(0.1, 0.9, 2, 0.9, 0.1, x); }, 1, 0.0},
      {"invnbn pr 0", [](double *x) { return invnbn(0.5, 0.5, 2, 0, 1, x); }, 2, 1e300},
      // The ends of the probability range.
      {"invbet p 0", [&](double *x) { return invbet(0, 1, 2, 3, x, &y); }, 0, 0.0},
      {"invbin q 0", [](double *x) { return invbin(1, 0, 7, 0.5, 0.5, x); }, 0, 7.0},
      {"invchi p 0", [](double *x) { return invchi(0, 1, 3, x); }, 0, 0.0},
      {"invchn p 0", [](double *x) { return invchn(0, 1, 3, 2, x); }, 0, 0.0},
      {"invt median", [](double *x) { return invt(0.5, 0.5, 3, x); }, 0, 0.0},
      // Quantiles below the smallest double: x^(df/2) ~ 1e-30 needs x ~ 1e-1200.
      {"invchi underflow", [](double *x) { return invchi(1e-30, 1, 0.05, x); }, 0, 0.0},
      {"invbet underflow", [&](double *x) { return invbet(1e-300, 1, 0.001, 5, x, &y); }, 0, 0.0},
      // Both shapes tiny: P[F <= f] stays at dfd/dfn ~ 1.2e-119 for every
      // finite f, below the target, so the quantile is infinite (its
      // complement in the beta underflows); the search once stopped at 2e90
      // after 100 steps of 1/8 towards 0, with status 0.
      {"invf beyond every double",
       [](double *x) { return invf(7.2779214452434055e-118, 1, 7.2779214452434055e-118, 8.9994418049302532e-237, x); },
       2, 1e300},
  });
}

// Noncentralities beyond the mixtures' reach fail as evaluations (10), with
// a NaN output, instead of stopping the search at a point it cannot judge.
TEST(QuantileFunctions, NoncentralitiesBeyondTheMixturesFail) {
  double x = 0, f = 0;
  EXPECT_EQ(invchn(0.3, 0.7, 4.0, 2e11, &x), 10);
  EXPECT_TRUE(std::isnan(x));
  EXPECT_EQ(invfnc(7.0228914451955914e-90, 1.0, 1.0, 5.2834362349305672e-126, 1.1872496310035208e182, &f), 10);
  EXPECT_TRUE(std::isnan(f));
}

TEST(QuantileFunctions, BetaGivesBothComplements) {
  // Near 1 the complement carries the digits: I_x(2, 5) with 1 - I_x = 1e-200.
  double x, y;
  ASSERT_EQ(invbet(1.0, 1e-200, 2, 5, &x, &y), 0);
  EXPECT_EQ(x, 1.0);
  double cum, ccum, a = 2, b = 5;
  cumbet(&x, &y, &a, &b, &cum, &ccum);
  EXPECT_NEAR(ccum / 1e-200, 1.0, 1e-13);
  ASSERT_EQ(invbet(0.25, 0.75, 2, 5, &x, &y), 0);
  EXPECT_EQ(x + y, 1.0);
}

// ---- C++ interface -----------------------------------------------------------------

TEST(DistfnHpp, QuantilesInvertTheCumulativeFunctions) {
  const distfn::students_t t(7);
  EXPECT_NEAR(t.cdf(t.quantile(0.975)), 0.975, 1e-15);
  EXPECT_NEAR(t.ccdf(t.cquantile(1e-20)) / 1e-20, 1.0, 1e-13);
  const distfn::beta b(2, 3);
  const distfn::Tails tails = b.tails(0.3);
  EXPECT_NEAR(tails.cdf + tails.ccdf, 1.0, 1e-15);
  EXPECT_NEAR(b.quantile(tails.cdf), 0.3, 1e-15);
  EXPECT_NEAR(distfn::normal(10, 2).quantile(0.5), 10.0, 1e-15);
  EXPECT_NEAR(distfn::gamma(3, 2).cdf(distfn::gamma(3, 2).quantile(0.1)), 0.1, 1e-15);
  EXPECT_NEAR(distfn::chi_squared(4).cquantile(0.05), 9.487729036781154, 1e-13);
  EXPECT_NEAR(distfn::fisher_f(3, 9).cdf(distfn::fisher_f(3, 9).quantile(0.9)), 0.9, 1e-14);
  EXPECT_NEAR(distfn::poisson(4).cdf(distfn::poisson(4).quantile(0.6)), 0.6, 1e-14);
  EXPECT_NEAR(distfn::binomial(20, 0.3).cdf(distfn::binomial(20, 0.3).quantile(0.6)), 0.6, 1e-14);
  EXPECT_NEAR(distfn::negative_binomial(5, 0.4).cdf(distfn::negative_binomial(5, 0.4).quantile(0.6)), 0.6, 1e-14);
  EXPECT_NEAR(distfn::noncentral_chi_squared(3, 2).cdf(distfn::noncentral_chi_squared(3, 2).quantile(0.4)), 0.4, 1e-13);
  EXPECT_NEAR(distfn::noncentral_f(3, 9, 2).cdf(distfn::noncentral_f(3, 9, 2).quantile(0.4)), 0.4, 1e-13);
  // Both noncentral tails are accurate: upper quantiles down to tiny q.
  const distfn::noncentral_chi_squared chn(4, 30);
  EXPECT_NEAR(chn.ccdf(chn.cquantile(1e-40)) / 1e-40, 1.0, 1e-12);
  const distfn::noncentral_f fnc(5, 12, 30);
  EXPECT_NEAR(fnc.ccdf(fnc.cquantile(1e-20)) / 1e-20, 1.0, 1e-12);
}

// pdf(x) on every class is its C density function at the class's parameters.
TEST(DistfnHpp, DensitiesOfEveryLaw) {
  const auto density = [](auto function, auto... args) {
    double pdf = kNaN, bound;
    int status;
    function(&args..., &pdf, &status, &bound);
    return pdf;
  };
  EXPECT_EQ(distfn::normal(1, 2).pdf(0.5), density(pdfnor, 0.5, 1.0, 2.0));
  EXPECT_EQ(distfn::students_t(7).pdf(0.5), density(pdft, 0.5, 7.0));
  EXPECT_EQ(distfn::chi_squared(3).pdf(2), density(pdfchi, 2.0, 3.0));
  EXPECT_EQ(distfn::noncentral_chi_squared(3, 2).pdf(2), density(pdfchn, 2.0, 3.0, 2.0));
  EXPECT_EQ(distfn::gamma(3, 2).pdf(0.7), density(pdfgam, 0.7, 3.0, 2.0));
  EXPECT_EQ(distfn::beta(2, 3).pdf(0.3), density(pdfbet, 0.3, 0.7, 2.0, 3.0));
  EXPECT_EQ(distfn::fisher_f(3, 9).pdf(1.5), density(pdff, 1.5, 3.0, 9.0));
  EXPECT_EQ(distfn::noncentral_f(3, 9, 2).pdf(1.5), density(pdffnc, 1.5, 3.0, 9.0, 2.0));
  EXPECT_EQ(distfn::poisson(4).pdf(3), density(pdfpoi, 3.0, 4.0));
  EXPECT_EQ(distfn::binomial(20, 0.3).pdf(6), density(pdfbin, 6.0, 20.0, 0.3, 0.7));
  EXPECT_EQ(distfn::negative_binomial(5, 0.4).pdf(6), density(pdfnbn, 6.0, 5.0, 0.4, 0.6));
  EXPECT_NEAR(distfn::binomial(2, 0.5).pdf(1), 0.5, 1e-16);
}

TEST(DistfnHpp, ParameterSolvesInvertTheCumulativeFunctions) {
  const double p = distfn::binomial(30, 0.25).cdf(9);
  EXPECT_NEAR(distfn::binomial::solve_trials(9, 0.25, p), 30.0, 1e-6);
  EXPECT_NEAR(distfn::binomial::solve_success_probability(9, 30, p), 0.25, 1e-8);
  EXPECT_NEAR(distfn::normal::solve_sd(3, 1, distfn::normal(1, 0.5).cdf(3)), 0.5, 1e-12);
  EXPECT_NEAR(distfn::students_t::solve_df(2, distfn::students_t(5).cdf(2)), 5.0, 1e-6);
  EXPECT_NEAR(distfn::poisson::solve_mean(3, distfn::poisson(2.5).cdf(3)), 2.5, 1e-7);
  EXPECT_NEAR(distfn::gamma::solve_shape(2, 1.5, distfn::gamma(4, 1.5).cdf(2)), 4.0, 1e-6);
}

TEST(DistfnHpp, FailuresThrowWithStatusBoundAndMessage) {
  struct Case {
    const char *what;
    std::function<void()> call;
    int status;
    double bound;
    const char *message_part;
  } cases[] = {
      {"sd 0", [] { distfn::normal(0, 0).quantile(0.5); }, -6, 0.0, "argument sd"},
      {"df NaN", [] { distfn::students_t(kNaN).cdf(1); }, -5, 0.0, "argument df"},
      {"p 1.5", [] { distfn::chi_squared(3).quantile(1.5); }, -2, 1.0, "argument p"},
      {"beyond range", [] { distfn::students_t(0.01).quantile(1e-10); }, 1, -1e300, "below the searchable range"},
      {"count below 0", [] { distfn::poisson(1).quantile(0.1); }, 1, 0.0, "below the searchable range"},
      {"trials", [] { distfn::binomial::solve_trials(3, 0.5, -1); }, -2, 0.0, "argument p"},
      {"density x < 0", [] { distfn::gamma(2, 1).pdf(-1); }, -4, 0.0, "gamma::pdf: argument x"},
      {"count beyond n", [] { distfn::binomial(10, 0.5).pdf(11); }, -4, 10.0, "argument s"},
      {"noncentral tails", [] { distfn::noncentral_chi_squared(3, -1).cdf(2); }, -6, 0.0, "noncentral_chi_squared::cdf: argument pnonc"},
  };
  for (const Case &c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const distfn::Error &e) {
      EXPECT_EQ(e.status(), c.status) << c.what;
      EXPECT_EQ(e.bound(), c.bound) << c.what;
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << c.what << ": " << e.what();
    }
  }
}

}  // namespace
