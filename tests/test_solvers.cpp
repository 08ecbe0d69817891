// The reverse-communication solvers: their request sequences, failure flags,
// tolerances, per-thread state and termination on hostile input.

#include <sys/wait.h>

#include <cmath>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "distributions/distfn.h"

namespace {

using Function = std::function<double(double)>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct InverseParameters {
  double small = 0.0, big = 1e300, absstp = 0.5, relstp = 0.5, stpmul = 5.0, abstol = 1e-50, reltol = 1e-8;
};

struct SearchResult {
  int status = 0;
  double x = 0.0;
  unsigned long qleft = 99, qhi = 99;
  std::vector<double> requests;
};

// Runs a whole dinvr search and records every point it asks for.  The cap
// only turns a solver that never ends into a test failure.
SearchResult run_dinvr(InverseParameters ip, double start, const Function &f, std::size_t cap = 100000) {
  dstinv(&ip.small, &ip.big, &ip.absstp, &ip.relstp, &ip.stpmul, &ip.abstol, &ip.reltol);
  SearchResult r;
  r.x = start;
  double fx = 0.0;
  dinvr(&r.status, &r.x, &fx, &r.qleft, &r.qhi);
  while (r.status == 1 && r.requests.size() < cap) {
    r.requests.push_back(r.x);
    fx = f(r.x);
    dinvr(&r.status, &r.x, &fx, &r.qleft, &r.qhi);
  }
  return r;
}

struct ZeroResult {
  int status = 0;
  double x = 0.0, xlo = 0.0, xhi = 0.0;
  unsigned long qleft = 99, qhi = 99;
  std::vector<double> requests;
};

ZeroResult run_dzror(double lo, double hi, const Function &f, double abstol = 1e-50, double reltol = 1e-8,
                     std::size_t cap = 100000) {
  dstzr(&lo, &hi, &abstol, &reltol);
  ZeroResult r;
  double fx = 0.0;
  dzror(&r.status, &r.x, &fx, &r.xlo, &r.xhi, &r.qleft, &r.qhi);
  while (r.status == 1 && r.requests.size() < cap) {
    r.requests.push_back(r.x);
    fx = f(r.x);
    dzror(&r.status, &r.x, &fx, &r.xlo, &r.xhi, &r.qleft, &r.qhi);
  }
  return r;
}

// ---- dinvr -------------------------------------------------------------------

TEST(Dinvr, StepsOutwardGeometricallyFromTheStart) {
  const SearchResult r = run_dinvr({}, 5.0, [](double x) { return x - 1e6; });
  const std::vector<double> expected{0.0, 1e300, 5.0, 7.5, 20.0, 82.5, 395.0, 1957.5, 9770.0, 48832.5, 244145.0,
                                     1220707.5};
  ASSERT_GE(r.requests.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_DOUBLE_EQ(r.requests[i], expected[i]) << i;
  EXPECT_EQ(r.status, 0);
  EXPECT_NEAR(r.x, 1e6, 1e6 * 1e-8);
}

TEST(Dinvr, StepsDownAndClipsAtTheBounds) {
  InverseParameters ip;
  ip.small = 1.0;
  ip.big = 100.0;
  const SearchResult r = run_dinvr(ip, 50.0, [](double x) { return x - 1.5; });
  // 50 - 25 = 25, then 25 - 125 clipped to the lower bound 1.
  ASSERT_GE(r.requests.size(), 5u);
  EXPECT_EQ(r.requests[2], 50.0);
  EXPECT_EQ(r.requests[3], 25.0);
  EXPECT_EQ(r.requests[4], 1.0);
  EXPECT_EQ(r.status, 0);
  EXPECT_NEAR(r.x, 1.5, 1.5e-8);
}

TEST(Dinvr, AZeroAtTheStartEndsAfterThreeEvaluations) {
  const SearchResult r = run_dinvr({}, 5.0, [](double x) { return x - 5.0; });
  EXPECT_EQ(r.requests.size(), 3u);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.x, 5.0);
}

TEST(Dinvr, SolvesIncreasingAndDecreasingFunctionsWithinTolerance) {
  struct Case {
    const char *name;
    Function f;
    double root;
  };
  const Case cases[] = {
      {"cube", [](double x) { return x * x * x - 2.0; }, std::cbrt(2.0)},
      {"decreasing", [](double x) { return std::exp(-x) - 1e-3; }, std::log(1e3)},
      {"far", [](double x) { return std::log(x) - 600.0; }, std::exp(600.0)},
      {"tiny", [](double x) { return x - 1e-200; }, 1e-200},
  };
  for (const Case &c : cases) {
    const SearchResult r = run_dinvr({}, 5.0, c.f);
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_NEAR(r.x, c.root, std::max(1e-50, 1e-8 * c.root)) << c.name;
  }
}

// A function whose search interval brackets no zero, and the qleft and qhi
// flags the solver must report for it.
struct BracketFailure {
  const char *name;
  Function f;
  unsigned long qleft, qhi;
};

TEST(Dinvr, ReportsWhichEndFailsToBracket) {
  const BracketFailure cases[] = {
      {"increasing, above zero at small", [](double x) { return x + 1.0; }, 1, 1},
      {"increasing, below zero at big", [](double x) { return x - 2e300; }, 0, 0},
      {"decreasing, below zero at small", [](double x) { return -x - 1.0; }, 1, 0},
      {"decreasing, above zero at big", [](double x) { return 2e300 - x; }, 0, 1},
  };
  for (const BracketFailure &c : cases) {
    const SearchResult r = run_dinvr({}, 5.0, c.f);
    EXPECT_EQ(r.status, -1) << c.name;
    EXPECT_EQ(r.requests.size(), 2u) << c.name;
    EXPECT_EQ(r.x, 1e300) << c.name << ": x stays at the last point requested";
    EXPECT_EQ(r.qleft, c.qleft) << c.name;
    EXPECT_EQ(r.qhi, c.qhi) << c.name;
  }
}

TEST(Dinvr, ReportsAFunctionThatChangesBetweenCalls) {
  // A noisy function: positive at big when first asked, negative afterwards,
  // so stepping up reaches big without bracketing.
  int big_calls = 0;
  const SearchResult r = run_dinvr({}, 5.0, [&](double x) {
    if (x == 1e300) return ++big_calls == 1 ? 1.0 : -1.0;
    return -1.0;
  });
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.qleft, 0u);
  EXPECT_EQ(r.qhi, 0u);
  EXPECT_EQ(r.x, 1e300);
}

TEST(Dinvr, StatusOneBeforeAnySearchChangesNothing) {
  // The state is per thread, so a new thread has never started a search.
  std::thread([] {
    int status = 1;
    double x = 3.0, fx = 7.0;
    unsigned long qleft = 5, qhi = 6;
    dinvr(&status, &x, &fx, &qleft, &qhi);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(x, 3.0);
    EXPECT_EQ(qleft, 5u);
    EXPECT_EQ(qhi, 6u);
  }).join();
}

TEST(Dinvr, FurtherCallsAfterTheEndChangeNothing) {
  SearchResult r = run_dinvr({}, 5.0, [](double x) { return x - 10.0; });
  ASSERT_EQ(r.status, 0);
  const double answer = r.x;
  int status = 1;
  double fx = 1.0;
  dinvr(&status, &r.x, &fx, &r.qleft, &r.qhi);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(r.x, answer);
}

TEST(Dinvr, EachThreadRunsItsOwnSearch) {
  // Two threads step through their searches in lock step through the same
  // functions; shared state would mix their requests.
  auto solve = [](double target, double *out) {
    for (int i = 0; i < 200; ++i) {
      const SearchResult r = run_dinvr({}, 5.0, [&](double x) {
        std::this_thread::yield();
        return x * x - target;
      });
      if (r.status != 0 || std::fabs(r.x - std::sqrt(target)) > 1e-7 * std::sqrt(target)) {
        *out = r.x;
        return;
      }
    }
    *out = std::sqrt(target);
  };
  double a = 0.0, b = 0.0;
  std::thread ta(solve, 2.0, &a), tb(solve, 3e7, &b);
  ta.join();
  tb.join();
  EXPECT_DOUBLE_EQ(a, std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(b, std::sqrt(3e7));
}

TEST(Dinvr, StepParametersThatNeverGrowStillEnd) {
  struct Case {
    const char *name;
    double absstp, relstp, stpmul;
  };
  const Case cases[] = {
      {"zero step", 0.0, 0.0, 5.0},      {"zero multiplier", 0.5, 0.5, 0.0}, {"unit multiplier", 1e-9, 0.0, 1.0},
      {"negative step", -1.0, 0.0, 5.0}, {"NaN multiplier", 0.5, 0.5, kNaN},
  };
  for (const Case &c : cases) {
    InverseParameters ip;
    ip.absstp = c.absstp;
    ip.relstp = c.relstp;
    ip.stpmul = c.stpmul;
    const SearchResult r = run_dinvr(ip, 5.0, [](double x) { return x - 1e6; });
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_NEAR(r.x, 1e6, 1e-2) << c.name;
  }
}

TEST(Dinvr, NaNFunctionValuesEndTheSearch) {
  for (const double start : {0.0, 5.0, 1e300}) {
    const SearchResult r = run_dinvr({}, start, [](double) { return kNaN; });
    EXPECT_EQ(r.status, -1) << start;
    EXPECT_LT(r.requests.size(), 5000u) << start;
  }
}

using DinvrDeathTest = ::testing::Test;

bool exited(int status) { return WIFEXITED(status); }

TEST(DinvrDeathTest, AStartOutsideTheIntervalStopsTheProcess) {
  for (const double start : {-1.0, 2e300, kNaN}) {
    EXPECT_EXIT(run_dinvr({}, start, [](double x) { return x; }), exited, "^ SMALL, X, BIG not monotone in INVR\n")
        << start;
  }
}

// ---- dzror -------------------------------------------------------------------

TEST(Dzror, FindsZerosWithinTolerance) {
  struct Case {
    const char *name;
    double lo, hi;
    Function f;
    double root;
  };
  const Case cases[] = {
      {"square root", 0.0, 1.0, [](double x) { return x * x - 0.5; }, std::sqrt(0.5)},
      {"decreasing", 0.0, 1.0, [](double x) { return 0.25 - x * x * x; }, std::cbrt(0.25)},
      {"steep", 0.0, 1.0, [](double x) { return std::pow(x, 20.0) - 1e-10; }, std::pow(1e-10, 1.0 / 20.0)},
      {"jump", 0.0, 1.0, [](double x) { return x < 0.3 ? -1.0 : 1.0; }, 0.3},
      {"zero at the low end", 0.0, 1.0, [](double x) { return x; }, 0.0},
      {"zero at the high end", 0.0, 1.0, [](double x) { return x - 1.0; }, 1.0},
  };
  for (const Case &c : cases) {
    const ZeroResult r = run_dzror(c.lo, c.hi, c.f);
    EXPECT_EQ(r.status, 0) << c.name;
    const double tol = std::max(1e-50, 1e-8 * std::fabs(c.root));
    EXPECT_NEAR(r.xlo, c.root, 2 * tol) << c.name;
    EXPECT_NEAR(r.x, c.root, 2 * tol) << c.name << ": the last point evaluated";
    EXPECT_LE(std::fabs(r.xhi - r.xlo), 2 * tol + 1e-300) << c.name;
    EXPECT_LT(r.requests.size(), 100u) << c.name;
  }
}

TEST(Dzror, FollowsTheSecantInterpolationAndBisectionSteps) {
  // Both ends, a secant step, then three-point steps; from a step-by-step
  // transcription of the method run separately.
  const ZeroResult r = run_dzror(0.0, 1.0, [](double x) { return x * x - 0.5; });
  const std::vector<double> expected{0.0,
                                     1.0,
                                     0.5,
                                     0.75,
                                     0x1.6db6db6db6db7p-1,
                                     0x1.6a052bf5a814bp-1,
                                     0x1.6a09e639e13b6p-1,
                                     0x1.6a09e667f3bd3p-1};
  EXPECT_EQ(r.requests, expected);
  // A step function forces bisections after three interpolations that keep
  // the same contrapoint.
  const ZeroResult jump = run_dzror(0.0, 1.0, [](double x) { return x < 0.3 ? -1.0 : 1.0; });
  ASSERT_EQ(jump.requests.size(), 81u);
  EXPECT_EQ(jump.requests[7], 0x1.2000001828c0cp-2);
  EXPECT_EQ(jump.requests[13], 0x1.380000390ae39p-2);
  EXPECT_EQ(jump.requests[80], 0x1.3333334626b08p-2);
}

TEST(Dzror, ABracketWithoutASignChangeFailsAfterTwoEvaluations) {
  const BracketFailure cases[] = {
      {"negative, rising", [](double x) { return x - 3.0; }, 0, 0},
      {"negative, falling", [](double x) { return -x - 1.0; }, 1, 0},
      {"positive, rising", [](double x) { return x + 1.0; }, 1, 1},
      {"positive, falling", [](double x) { return 3.0 - x; }, 0, 1},
  };
  for (const BracketFailure &c : cases) {
    const ZeroResult r = run_dzror(0.0, 1.0, c.f);
    EXPECT_EQ(r.status, -1) << c.name;
    EXPECT_EQ(r.requests, (std::vector<double>{0.0, 1.0})) << c.name;
    EXPECT_EQ(r.qleft, c.qleft) << c.name;
    EXPECT_EQ(r.qhi, c.qhi) << c.name;
  }
}

TEST(Dzror, ABracketNarrowerThanTheToleranceEndsAtOnce) {
  const double hi = 1.0 + 1e-9;
  // The upper end has the smaller residual, so it becomes the estimate and
  // the lower end the contrapoint returned in xhi.
  const ZeroResult with_change = run_dzror(1.0, hi, [](double x) { return x - 1.0 - 9e-10; });
  EXPECT_EQ(with_change.requests.size(), 2u);
  EXPECT_EQ(with_change.status, 0);
  EXPECT_EQ(with_change.xlo, hi);
  EXPECT_EQ(with_change.xhi, 1.0);
  // One end exactly 0 passes the first check and the sign test.  Without an
  // exchange xlo still holds the upper end from the second request.
  const ZeroResult touching = run_dzror(1.0, hi, [](double x) { return x == 1.0 ? 0.0 : 1.0; });
  EXPECT_EQ(touching.requests.size(), 2u);
  EXPECT_EQ(touching.status, 0);
  EXPECT_EQ(touching.xlo, hi);
  EXPECT_EQ(touching.xhi, hi);
  // A final interval without a sign change (here a NaN residual) fails at
  // the convergence test, which leaves the flags alone.
  const ZeroResult no_change = run_dzror(1.0, hi, [](double x) { return x == 1.0 ? kNaN : 1.0; });
  EXPECT_EQ(no_change.requests.size(), 2u);
  EXPECT_EQ(no_change.status, -1);
  EXPECT_EQ(no_change.qleft, 99u);
  EXPECT_EQ(no_change.qhi, 99u);
}

TEST(Dzror, StatusOneBeforeAnySearchChangesNothing) {
  std::thread([] {
    int status = 1;
    double x = 3.0, fx = 7.0, xlo = 4.0, xhi = 5.0;
    unsigned long qleft = 5, qhi = 6;
    dzror(&status, &x, &fx, &xlo, &xhi, &qleft, &qhi);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(x, 3.0);
    EXPECT_EQ(xlo, 4.0);
    EXPECT_EQ(xhi, 5.0);
  }).join();
}

TEST(Dzror, HostileBracketsAndValuesEnd) {
  struct Case {
    const char *name;
    double lo, hi, abstol, reltol;
    Function f;
  };
  const Case cases[] = {
      {"NaN values", 0.0, 1.0, 1e-50, 1e-8, [](double) { return kNaN; }},
      {"NaN inside", 0.0, 1.0, 1e-50, 1e-8, [](double x) { return x == 0.0 ? -1.0 : x == 1.0 ? 1.0 : kNaN; }},
      {"infinite bracket", -kInf, kInf, 1e-50, 1e-8, [](double x) { return x; }},
      {"huge bracket", -1.7e308, 1.7e308, 1e-50, 1e-8, [](double x) { return x - 1e308; }},
      {"zero tolerances", 0.0, 1.0, 0.0, 0.0, [](double x) { return x - 0.1; }},
      {"NaN tolerances", 0.0, 1.0, kNaN, kNaN, [](double x) { return x - 0.1; }},
      {"NaN bracket", kNaN, 1.0, 1e-50, 1e-8, [](double x) { return x - 0.1; }},
  };
  for (const Case &c : cases) {
    const ZeroResult r = run_dzror(c.lo, c.hi, c.f, c.abstol, c.reltol);
    EXPECT_NE(r.status, 1) << c.name;
    EXPECT_LT(r.requests.size(), 5000u) << c.name;
  }
  const ZeroResult huge = run_dzror(-1.7e308, 1.7e308, [](double x) { return x - 1e308; });
  EXPECT_EQ(huge.status, 0);
  EXPECT_NEAR(huge.xlo, 1e308, 1e300);
}

}  // namespace
