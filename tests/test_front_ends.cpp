// The parameter-solving front ends: case selection, range and sum checks with
// their status and bound, and round trips over a grid of every case.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "distributions/distfn.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kLargestBelowOne = 0.9999999999999999;

// Every front end seen through one signature: the quantities after `which`
// in argument order (p, q, then the rest).
using Arguments = std::array<double, 6>;
using Call = std::function<void(int *, Arguments &, int *, double *)>;

struct FrontEnd {
  const char *name;
  Call call;
  int cases;
  bool checks_sum;  // p + q
  // Relative accuracy of the computed lower tail: full precision, except for
  // the noncentral sums, which stop at a relative term size of 1e-4 or 1e-5.
  double tail_accuracy;
  // For each case from 2 on, the argument index it computes and, for a
  // complement pair, its partner (-1 when none).
  std::vector<std::array<int, 2>> outputs;
};

const std::vector<FrontEnd> &front_ends() {
  static const std::vector<FrontEnd> all{
      {"cdfbet", [](int *w, Arguments &a, int *s, double *b) { cdfbet(w, &a[0], &a[1], &a[2], &a[3], &a[4], &a[5], s, b); },
       4, true, 1e-13, {{2, 3}, {4, -1}, {5, -1}}},
      {"cdfbin", [](int *w, Arguments &a, int *s, double *b) { cdfbin(w, &a[0], &a[1], &a[2], &a[3], &a[4], &a[5], s, b); },
       4, true, 1e-13, {{2, -1}, {3, -1}, {4, 5}}},
      {"cdfchi", [](int *w, Arguments &a, int *s, double *b) { cdfchi(w, &a[0], &a[1], &a[2], &a[3], s, b); }, 3, true, 1e-13,
       {{2, -1}, {3, -1}}},
      {"cdfchn", [](int *w, Arguments &a, int *s, double *b) { cdfchn(w, &a[0], &a[1], &a[2], &a[3], &a[4], s, b); }, 4,
       false, 1e-5, {{2, -1}, {3, -1}, {4, -1}}},
      {"cdff", [](int *w, Arguments &a, int *s, double *b) { cdff(w, &a[0], &a[1], &a[2], &a[3], &a[4], s, b); }, 4, true, 1e-13,
       {{2, -1}, {3, -1}, {4, -1}}},
      {"cdffnc", [](int *w, Arguments &a, int *s, double *b) { cdffnc(w, &a[0], &a[1], &a[2], &a[3], &a[4], &a[5], s, b); },
       5, false, 1e-4, {{2, -1}, {3, -1}, {4, -1}, {5, -1}}},
      {"cdfgam", [](int *w, Arguments &a, int *s, double *b) { cdfgam(w, &a[0], &a[1], &a[2], &a[3], &a[4], s, b); }, 4,
       true, 1e-13, {{2, -1}, {3, -1}, {4, -1}}},
      {"cdfnbn", [](int *w, Arguments &a, int *s, double *b) { cdfnbn(w, &a[0], &a[1], &a[2], &a[3], &a[4], &a[5], s, b); },
       4, true, 1e-13, {{2, -1}, {3, -1}, {4, 5}}},
      {"cdfnor", [](int *w, Arguments &a, int *s, double *b) { cdfnor(w, &a[0], &a[1], &a[2], &a[3], &a[4], s, b); }, 4,
       true, 1e-13, {{2, -1}, {3, -1}, {4, -1}}},
      {"cdfpoi", [](int *w, Arguments &a, int *s, double *b) { cdfpoi(w, &a[0], &a[1], &a[2], &a[3], s, b); }, 3, true, 1e-13,
       {{2, -1}, {3, -1}}},
      {"cdft", [](int *w, Arguments &a, int *s, double *b) { cdft(w, &a[0], &a[1], &a[2], &a[3], s, b); }, 3, true, 1e-13,
       {{2, -1}, {3, -1}}},
  };
  return all;
}

const FrontEnd &front_end(const std::string &name) {
  for (const FrontEnd &f : front_ends())
    if (name == f.name) return f;
  throw std::invalid_argument(name);
}

struct Outcome {
  int status;
  double bound;
  Arguments args;
};

Outcome run(const std::string &name, int which, Arguments args) {
  Outcome o{-99, -99.0, args};
  front_end(name).call(&which, o.args, &o.status, &o.bound);
  return o;
}

// ---- Case selection and argument checks ----------------------------------------

TEST(FrontEnds, RejectWhichOutsideItsRange) {
  for (const FrontEnd &f : front_ends()) {
    for (const int which : {0, -7, f.cases + 1, 1000}) {
      const Outcome o = run(f.name, which, {0.5, 0.5, 1, 1, 1, 1});
      EXPECT_EQ(o.status, -1) << f.name << " which " << which;
      EXPECT_EQ(o.bound, which < 1 ? 1.0 : f.cases) << f.name << " which " << which;
    }
  }
}

// One call of a front end and the status and bound it must report.
struct StatusCase {
  const char *front_end;
  int which;
  Arguments args;
  int status;
  double bound;
};

void ExpectStatus(const StatusCase &c) {
  const Outcome o = run(c.front_end, c.which, c.args);
  EXPECT_EQ(o.status, c.status) << c.front_end << " which " << c.which << " " << c.args[0] << " " << c.args[2];
  EXPECT_EQ(o.bound, c.bound) << c.front_end << " which " << c.which;
}

// Valid defaults per front end, one argument spoiled per row.
const StatusCase range_cases[] = {
    // cdfbet: p, q, x, y, a, b
    {"cdfbet", 2, {-0.1, 0.5, 0.5, 0.5, 1, 1}, -2, 0},
    {"cdfbet", 2, {1.1, 0.5, 0.5, 0.5, 1, 1}, -2, 1},
    {"cdfbet", 2, {0.5, -0.1, 0.5, 0.5, 1, 1}, -3, 0},
    {"cdfbet", 2, {0.5, 1.1, 0.5, 0.5, 1, 1}, -3, 1},
    {"cdfbet", 1, {0, 0, -0.1, 0.5, 1, 1}, -4, 0},
    {"cdfbet", 1, {0, 0, 1.1, 0.5, 1, 1}, -4, 1},
    {"cdfbet", 1, {0, 0, 0.5, -0.1, 1, 1}, -5, 0},
    {"cdfbet", 1, {0, 0, 0.5, 1.1, 1, 1}, -5, 1},
    {"cdfbet", 1, {0, 0, 0.5, 0.5, 0, 1}, -6, 0},
    {"cdfbet", 1, {0, 0, 0.5, 0.5, 1, 0}, -7, 0},
    // cdfbin: p, q, s, xn, pr, ompr; xn is tested before s.
    {"cdfbin", 1, {0, 0, 12, 10, 0.5, 0.5}, -4, 10},
    {"cdfbin", 1, {0, 0, -1, 10, 0.5, 0.5}, -4, 0},
    {"cdfbin", 1, {0, 0, -1, 0, 0.5, 0.5}, -5, 0},
    {"cdfbin", 1, {0, 0, 3, 10, -0.5, 0.5}, -6, 0},
    {"cdfbin", 1, {0, 0, 3, 10, 0.5, 1.5}, -7, 1},
    {"cdfbin", 3, {0.5, 0.5, -2, 0, 0.5, 0.5}, -4, 0},
    {"cdfbin", 1, {0, 0, 3, 10, 0.3, 0.6}, 4, 1},
    {"cdfbin", 1, {0, 0, 3, 10, -0.0, -0.0}, 4, 1},
    // cdfchi: p, q, x, df; q = 0 rejected.
    {"cdfchi", 2, {1, 0, 0, 1, 0, 0}, -3, 0},
    {"cdfchi", 1, {0, 0, -1, 1, 0, 0}, -4, 0},
    {"cdfchi", 1, {0, 0, 1, 0, 0, 0}, -5, 0},
    // cdfchn: p up to the largest double below 1; q never tested.
    {"cdfchn", 2, {1, kNaN, 0, 1, 1, 0}, -2, kLargestBelowOne},
    {"cdfchn", 2, {-0.5, kNaN, 0, 1, 1, 0}, -2, 0},
    {"cdfchn", 1, {0, 0, 1, 1, -1, 0}, -6, 0},
    // cdff: p, q, f, dfn, dfd
    {"cdff", 1, {0, 0, -1, 1, 1, 0}, -4, 0},
    {"cdff", 1, {0, 0, 1, 0, 1, 0}, -5, 0},
    {"cdff", 1, {0, 0, 1, 1, 0, 0}, -6, 0},
    // cdffnc: p, q, f, dfn, dfd, pnonc
    {"cdffnc", 2, {1, kNaN, 0, 1, 1, 1}, -2, kLargestBelowOne},
    {"cdffnc", 1, {0, 0, 1, 1, 1, -1}, -7, 0},
    // cdfgam: p, q, x, shape, scale
    {"cdfgam", 1, {0, 0, 1, 0, 1, 0}, -5, 0},
    {"cdfgam", 1, {0, 0, 1, 1, 0, 0}, -6, 0},
    {"cdfgam", 4, {0.5, 0.5, 0, 1, 0, 0}, -4, 0},
    // cdfnbn: p, q, s, xn, pr, ompr; xn = 0 accepted, tested after s.
    {"cdfnbn", 1, {0, 0, -1, -1, 0.5, 0.5}, -4, 0},
    {"cdfnbn", 1, {0, 0, 1, -1, 0.5, 0.5}, -5, 0},
    {"cdfnbn", 2, {0.5, 0, 1, 1, 0.5, 0.5}, -3, 0},
    // cdfnor: p, q, x, mean, sd; p = 0 rejected.
    {"cdfnor", 2, {0, 1, 0, 0, 1, 0}, -2, 0},
    {"cdfnor", 1, {0, 0, 0, 0, 0, 0}, -6, 0},
    // cdfpoi: p, q, s, xlam
    {"cdfpoi", 1, {0, 0, -1, 1, 0, 0}, -4, 0},
    {"cdfpoi", 1, {0, 0, 1, -1, 0, 0}, -5, 0},
    // cdft: p, q, t, df; p = 0 rejected.
    {"cdft", 2, {0, 1, 0, 1, 0, 0}, -2, 0},
    {"cdft", 1, {0, 0, 1, 0, 0, 0}, -5, 0},
    // Not finite: NaN breaks the lower limit (0 when there is none), an
    // infinity beyond every limit is reported as the largest double.
    {"cdfbet", 2, {kNaN, 0.5, 0.5, 0.5, 1, 1}, -2, 0},
    {"cdfbin", 2, {0.5, 0.5, 0, kInf, 0.5, 0.5}, -5, 1.7976931348623157e308},
    {"cdft", 1, {0, 0, kNaN, 1, 0, 0}, -4, 0},
    {"cdft", 1, {0, 0, -kInf, 1, 0, 0}, -4, -1.7976931348623157e308},
    {"cdfnor", 1, {0, 0, 0, kInf, 1, 0}, -5, 1.7976931348623157e308},
    {"cdfchi", 1, {0, 0, 1, kNaN, 0, 0}, -5, 0},
    {"cdfpoi", 1, {0, 0, 1, kInf, 0, 0}, -5, 1.7976931348623157e308},
};

TEST(FrontEnds, ReportTheFirstArgumentOutOfRange) {
  for (const StatusCase &c : range_cases) ExpectStatus(c);
}

TEST(FrontEnds, OutputsAreNeitherCheckedNorRead) {
  // cdfbin case 2 computes s, so an s above xn is not an error.
  EXPECT_EQ(run("cdfbin", 2, {0.5, 0.5, 12, 10, 0.5, 0.5}).status, 0);
  // Every case computes from its inputs alone: NaN in the outputs is harmless.
  for (const FrontEnd &f : front_ends()) {
    Arguments args{0.5, 0.5, 1, 1, 1, 1};
    if (std::string(f.name) == "cdfbet") args = {0.5, 0.5, 0.5, 0.5, 1, 1};
    if (std::string(f.name) == "cdfbin" || std::string(f.name) == "cdfnbn") args = {0.5, 0.5, 3, 8, 0.5, 0.5};
    for (int which = 2; which <= f.cases; ++which) {
      Arguments spoiled = args;
      for (const int index : f.outputs[which - 2])
        if (index >= 0) spoiled[index] = kNaN;
      const Outcome o = run(f.name, which, spoiled);
      EXPECT_GE(o.status, 0) << f.name << " which " << which;
    }
  }
}

TEST(FrontEnds, CheckThatPAndQSumToOne) {
  for (const FrontEnd &f : front_ends()) {
    if (!f.checks_sum) continue;
    Arguments args{0.3, 0.7000000001, 0.5, 0.5, 1, 1};
    if (std::string(f.name) == "cdfbin") args = {0.3, 0.7000000001, 3, 8, 0.5, 0.5};
    const Outcome high = run(f.name, 2, args);
    EXPECT_EQ(high.status, 3) << f.name;
    EXPECT_EQ(high.bound, 1.0) << f.name;
    // A negative p never reaches the sum check.
    args[0] = args[1] = -0.5;
    EXPECT_EQ(run(f.name, 2, args).status, -2) << f.name;
  }
  // Within three epsilons the sum passes.
  EXPECT_EQ(run("cdfchi", 2, {0.3, 0.7 + 4e-16, 0, 2, 0, 0}).status, 0);
  const Outcome pair = run("cdfbet", 1, {0, 0, 0.25, 0.7, 1, 1});
  EXPECT_EQ(pair.status, 4);
  EXPECT_EQ(pair.bound, 1.0);
  // The x + y check is skipped in the case that computes them.
  EXPECT_EQ(run("cdfbet", 2, {0.5, 0.5, 0.25, 0.7, 2, 2}).status, 0);
}

TEST(FrontEnds, AcceptOrRejectZeroProbabilities) {
  // p = 0 is acceptable for the binomial but not for the t distribution.
  EXPECT_NE(run("cdfbin", 2, {0, 1, 0, 8, 0.5, 0.5}).status, -2);
  EXPECT_EQ(run("cdft", 2, {0, 1, 0, 5, 0, 0}).status, -2);
  // q = 0 is acceptable for the binomial and beta, not for chi-square.
  EXPECT_NE(run("cdfbin", 2, {1, 0, 0, 8, 0.5, 0.5}).status, -3);
  EXPECT_NE(run("cdfbet", 2, {1, 0, 0, 1, 2, 2}).status, -3);
  EXPECT_EQ(run("cdfchi", 2, {1, 0, 0, 3, 0, 0}).status, -3);
  // The negative binomial accepts xn = 0 where the binomial does not.
  EXPECT_EQ(run("cdfnbn", 1, {0, 0, 2, 0, 0.5, 0.5}).status, 0);
  EXPECT_EQ(run("cdfbin", 1, {0, 0, 0, 0, 0.5, 0.5}).status, -5);
}

TEST(FrontEnds, NoncentralFrontEndsNeverReadQ) {
  const Outcome chn = run("cdfchn", 1, {0, kNaN, 3, 2, 1.5, 0});
  EXPECT_EQ(chn.status, 0);
  EXPECT_NEAR(chn.args[0] + chn.args[1], 1.0, 1e-15);
  EXPECT_EQ(run("cdfchn", 2, {chn.args[0], kNaN, 0, 2, 1.5, 0}).status, 0);
  EXPECT_EQ(run("cdffnc", 2, {0.4, -7, 0, 3, 8, 2}).status, 0);
}

// Beyond a Poisson mean of 2^36 the noncentral sums cannot be completed and
// give NaN: every case reports the failure (10), none a NaN as a result; so
// does a central case that the gamma ratio cannot evaluate.
TEST(FrontEnds, NoncentralSumsThatCannotBeCompletedFail) {
  constexpr double beyond_the_sums = 2e11;
  const StatusCase cases[] = {
      {"cdfchn", 1, {0, kNaN, 1e10, 1e10, beyond_the_sums, 0}, 10, 0},
      {"cdfchn", 2, {0.5, kNaN, kNaN, 10, beyond_the_sums, 0}, 10, 0},
      {"cdfchn", 3, {0.5, kNaN, 1e10, kNaN, beyond_the_sums, 0}, 10, 0},
      {"cdffnc", 1, {0, kNaN, 2, 3, 4, beyond_the_sums}, 10, 0},
      {"cdffnc", 2, {0.5, kNaN, kNaN, 3, 4, beyond_the_sums}, 10, 0},
      // Without noncentrality, the gamma ratio's error marker.
      {"cdfchn", 1, {0, kNaN, 1e300, 1e300, 0, 0}, 10, 0},
  };
  for (const StatusCase &c : cases) {
    const Outcome o = run(c.front_end, c.which, c.args);
    EXPECT_EQ(o.status, c.status) << c.front_end << " which " << c.which;
  }
}

// Tails far below the normal range of residual products: the searches
// still find the root (each of these once stopped at a point of the
// outward stepping, with status 0).
TEST(FrontEnds, TinyTargetTailsAreSolvedAsOthers) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  // cumfnc at these arguments is e^(-pnonc/2): pnonc = 600 ln 10.
  const Outcome pnonc = run("cdffnc", 5, {1e-300, 1, tiny, tiny, tiny, kNaN});
  ASSERT_EQ(pnonc.status, 0);
  EXPECT_NEAR(pnonc.args[5], 600 * std::log(10.0), 2e-5);
  // No Poisson event, e^-xlam = 1e-300: xlam = 300 ln 10.
  const Outcome xlam = run("cdfpoi", 3, {1e-300, 1, 0, kNaN, 0, 0});
  ASSERT_EQ(xlam.status, 0);
  EXPECT_NEAR(xlam.args[3], 300 * std::log(10.0), 1e-5);
}

TEST(FrontEnds, SolveForTheSmallerTailsComplementPair) {
  Arguments args{0, 0, 3, 10, 0.3, 0.7};
  const Outcome lower = run("cdfbin", 1, args);  // p about 0.65
  args = {0.2, 0.8, 3, 10, kNaN, kNaN};
  const Outcome pr_search = run("cdfbin", 4, args);
  ASSERT_EQ(pr_search.status, 0);
  EXPECT_EQ(pr_search.args[5], 1.0 - pr_search.args[4]);
  args = {0.8, 0.2, 3, 10, kNaN, kNaN};
  const Outcome ompr_search = run("cdfbin", 4, args);
  ASSERT_EQ(ompr_search.status, 0);
  EXPECT_EQ(ompr_search.args[4], 1.0 - ompr_search.args[5]);
  EXPECT_GT(lower.args[0], 0.5);
}

TEST(FrontEnds, ReportTheSearchLimitThatWasReached) {
  const StatusCase cases[] = {
      // No s >= 0 has a cumulative probability this small.
      {"cdfpoi", 2, {1e-10, 1 - 1e-10, 0, 10, 0, 0}, 1, 0},
      {"cdfbin", 2, {1e-10, 1 - 1e-10, 0, 8, 0.5, 0.5}, 1, 0},
      // The noncentral chi-square reports 1e-300 for its lower end, which is 0.
      {"cdfchn", 4, {0.9, kNaN, 1, 2, 0, 0}, 1, 1e-300},
      {"cdffnc", 5, {0.9, kNaN, 1, 2, 5, 0}, 1, 0},
      {"cdft", 3, {0.3, 0.7, -1e-3, 0, 0, 0}, 2, 1e10},
      // With dfd = 1.37e163, P[F <= 135] stays above 0.72 for every dfn; the
      // search once ended at 5.8e-51 with status 0, on a jump to 0 where the
      // beta argument dfn f / dfd underflowed.
      {"cdff", 3, {0.7178, 1 - 0.7178, 135, 0, 1.37e163, 0}, 1, 1e-300},
  };
  for (const StatusCase &c : cases) ExpectStatus(c);
}

TEST(FrontEnds, StartsOutsideTheSearchIntervalAreMovedIntoIt) {
  // Fewer than 5 trials: the search for s starts at xn instead of 5.
  Outcome binomial = run("cdfbin", 1, {0, 0, 1.5, 3, 0.4, 0.6});
  binomial = run("cdfbin", 2, {binomial.args[0], binomial.args[1], kNaN, 3, 0.4, 0.6});
  EXPECT_EQ(binomial.status, 0);
  EXPECT_NEAR(binomial.args[2], 1.5, 1.5e-8);
  // A tiny df sends the approximate t quantile far beyond 1e300.
  const Outcome t = run("cdft", 2, {0.9, 0.1, kNaN, 1e-3, 0, 0});
  EXPECT_TRUE(t.status == 0 || t.status == 2) << t.status;
  const Outcome median = run("cdft", 2, {0.5, 0.5, kNaN, 1e-300, 0, 0});
  EXPECT_GE(median.status, 0);
}

TEST(FrontEnds, ClosedFormsReportUnreachableProbabilities) {
  // x above the mean can only give p above 0.5 with a positive sd.
  const Outcome sign = run("cdfnor", 4, {0.3, 0.7, 1, 0, kNaN, 0});
  EXPECT_EQ(sign.status, 2);
  EXPECT_EQ(sign.bound, 1e300);
  const Outcome level = run("cdfnor", 4, {0.3, 0.7, 2, 2, kNaN, 0});
  EXPECT_EQ(level.status, 1);
  EXPECT_EQ(level.bound, 0.0);
  // Gamma: the inverse reports an inconsistent pair that the sum check lets
  // through (within 3 but beyond 1 epsilon).
  EXPECT_EQ(run("cdfgam", 2, {0.3, 0.7 + 4e-16, kNaN, 2, 1, 0}).status, 10);
}

TEST(FrontEnds, GammaErrorMarkerIsReportedInCaseOne) {
  // A shape beyond the reach of the large-shape expansions at x close to it.
  const Outcome gam = run("cdfgam", 1, {0, 0, 1e30, 1e30, 1, 0});
  EXPECT_EQ(gam.status, 10);
  const Outcome chi = run("cdfchi", 1, {0, 0, 2e30, 2e30, 0, 0});
  EXPECT_EQ(chi.status, 10);
  // The Poisson law reads the chi-square tails swapped: the marker lands in
  // its upper tail, and is reported all the same.
  const Outcome poi = run("cdfpoi", 1, {0, 0, 1e300, 1e300, 0, 0});
  EXPECT_EQ(poi.status, 10);
  // Counts whose doubled chi-square arguments overflow give NaN: a failure too.
  EXPECT_EQ(run("cdfpoi", 1, {0, 0, 1.4e308, 1.4e308, 0, 0}).status, 10);
  EXPECT_NE(run("cdfpoi", 2, {0.5, 0.5, kNaN, 1e300, 0, 0}).status, 0);
}

TEST(Cdfnor, ClosedForms) {
  const Outcome p = run("cdfnor", 1, {0, 0, 1.96, 0, 1, 0});
  EXPECT_EQ(p.status, 0);
  EXPECT_NEAR(p.args[0], 0.9750021048517795, 1e-15);
  const Outcome x = run("cdfnor", 2, {0.975, 0.025, kNaN, 3, 2, 0});
  EXPECT_NEAR(x.args[2], 3 + 2 * 1.959963984540054, 1e-12);
  const Outcome mean = run("cdfnor", 3, {0.975, 0.025, 5, kNaN, 2, 0});
  EXPECT_NEAR(mean.args[3], 5 - 2 * 1.959963984540054, 1e-12);
  const Outcome sd = run("cdfnor", 4, {0.975, 0.025, 5, 1, kNaN, 0});
  EXPECT_NEAR(sd.args[4], 4 / 1.959963984540054, 1e-12);
}

// ---- Round trips ------------------------------------------------------------------

// Parameter sets (everything after p and q) over which a case is solved back
// after case 1 has computed p and q.  The F distributions are not monotone in
// their degrees of freedom everywhere (the lower tail at f > 1 can fall and
// rise again as dfn grows, at f < 1 as dfd grows), so those cases take the
// side of 1 where they are.
std::vector<Arguments> grid(const std::string &name, int which) {
  std::vector<Arguments> points;
  auto add = [&](std::initializer_list<double> a, std::initializer_list<double> b, std::initializer_list<double> c,
                 std::initializer_list<double> d) {
    for (double va : a)
      for (double vb : b)
        for (double vc : c)
          for (double vd : d) points.push_back({0, 0, va, vb, vc, vd});
  };
  if (name == "cdfbet") {
    for (double x : {0.05, 0.3, 0.5, 0.8, 0.97})
      for (double a : {0.5, 1.0, 2.0, 7.5, 40.0})
        for (double b : {0.7, 1.0, 3.0, 12.0}) points.push_back({0, 0, x, 1 - x, a, b});
  } else if (name == "cdfbin") {
    for (double s : {1.0, 3.0, 7.0, 18.0})
      for (double xn : {20.0, 45.0})
        for (double pr : {0.1, 0.35, 0.6}) points.push_back({0, 0, s, xn, pr, 1 - pr});
  } else if (name == "cdfnbn") {
    for (double s : {1.0, 2.0, 5.0, 10.0})
      for (double xn : {1.0, 3.0, 8.0})
        for (double pr : {0.2, 0.5, 0.8}) points.push_back({0, 0, s, xn, pr, 1 - pr});
  } else if (name == "cdfchi") {
    add({0.5, 2, 5, 15, 60}, {0.5, 1, 4, 12, 40}, {0}, {0});
  } else if (name == "cdfchn") {
    add({1, 5, 20}, {1, 4, 10}, {0.5, 3, 12}, {0});
  } else if (name == "cdff") {
    if (which == 3) add({0.2, 0.5}, {1, 3, 10}, {2, 5, 30}, {0});
    else if (which == 4) add({3, 10}, {1, 3, 10}, {2, 5, 30}, {0});
    else add({0.2, 1, 3, 10}, {1, 3, 10}, {2, 5, 30}, {0});
  } else if (name == "cdffnc") {
    // With a noncentrality the tails move further: only well above 1, and for
    // dfd with a moderate noncentrality, is the lower tail monotone.
    if (which == 3) add({6}, {2, 5}, {4, 20}, {5, 20});
    else if (which == 4) add({6}, {2, 5}, {4, 20}, {1, 5});
    else add({0.5, 2, 6}, {2, 5}, {4, 20}, {1, 5, 20});
  } else if (name == "cdfgam") {
    add({0.3, 1, 4, 15}, {0.3, 1, 2.5, 10, 50}, {0.5, 2}, {0});
  } else if (name == "cdfnor") {
    add({-3, -0.5, 1.2, 4}, {-1, 0.25, 2.5}, {0.1, 1, 7}, {0});
  } else if (name == "cdfpoi") {
    add({1, 4, 12}, {0.5, 3, 10, 30}, {0}, {0});
  } else if (name == "cdft") {
    add({-4, -1, -0.2, 0.3, 1.5, 6}, {0.5, 1, 3, 10, 100}, {0}, {0});
  }
  return points;
}

// Distance of a solved quantity from the original, relative to the quantity
// the solver searched: for a complement pair that is the partner when it was
// the partner's tail that decided the search.
double relative_error(double solved, double expected, double scale) {
  return std::fabs(solved - expected) / std::max(scale, 1e-300);
}

// The solvers stop once the bracket is within 1e-8 relative; the answer (the
// last point evaluated) may sit anywhere in it.
constexpr double kSearchAllowance = 5e-8;

TEST(FrontEnds, RoundTripEveryCaseOverAGrid) {
  for (const FrontEnd &f : front_ends()) {
    for (int which = 2; which <= f.cases; ++which) {
      const std::vector<Arguments> points = grid(f.name, which);
      ASSERT_FALSE(points.empty()) << f.name;
      const int index = f.outputs[which - 2][0];
      const int partner = f.outputs[which - 2][1];
      double worst = 0.0;
      for (const Arguments &point : points) {
        const Outcome forward = run(f.name, 1, point);
        ASSERT_EQ(forward.status, 0) << f.name;
        const double p = forward.args[0], q = forward.args[1];
        if (p < 1e-12 || q < 1e-12) continue;  // too flat to invert
        Arguments question = forward.args;
        question[index] = kNaN;
        if (partner >= 0) question[partner] = kNaN;
        const Outcome back = run(f.name, which, question);
        const std::string where = std::string(f.name) + " which " + std::to_string(which) + " at " +
                                  std::to_string(point[2]) + ", " + std::to_string(point[3]) + ", " +
                                  std::to_string(point[4]) + ", " + std::to_string(point[5]);
        EXPECT_EQ(back.status, 0) << where;
        if (back.status != 0) continue;
        const double scale = partner >= 0 ? std::max(std::fabs(point[index]), std::fabs(point[partner]))
                                          : std::fabs(point[index]);
        const double error = relative_error(back.args[index], point[index], scale);
        // Where the probability hardly moves with the quantity, the rounding
        // of the probability itself limits the answer.
        Arguments nudged = point;
        nudged[index] *= 1 + 1e-6;
        if (partner >= 0) nudged[partner] = 1 - nudged[index];
        const Outcome moved = run(f.name, 1, nudged);
        const double sensitivity = std::fabs(moved.args[0] - p) / 1e-6 / std::min(p, q);
        const double allowance = kSearchAllowance + f.tail_accuracy / std::max(sensitivity, 1e-300);
        EXPECT_LE(error, allowance) << where << " solved " << back.args[index];
        worst = std::max(worst, error);
      }
      char text[32];
      std::snprintf(text, sizeof text, "%.3g", worst);
      RecordProperty(std::string(f.name) + "_which" + std::to_string(which) + "_max_relative_error", text);
    }
  }
}

}  // namespace
