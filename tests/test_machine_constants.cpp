// Integer machine constants, the double limits derived from them, the value
// helpers, the polynomial evaluator and the process stop.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "distributions/distfn.h"

namespace {

int ipmpar_of(int i) { return ipmpar(&i); }
double spmpar_of(int i) { return spmpar(&i); }
double exparg_of(int l) { return exparg(&l); }

struct Entry {
  int index;
  int value;
};

TEST(MachineConstants, IntegerTable) {
  const Entry entries[] = {
      {0, 0},  {1, 2},  {2, 31},     {3, 2147483647}, {4, 2},    {5, 24},
      {6, -125}, {7, 128}, {8, 53}, {9, -1021},       {10, 1024},
  };
  for (const auto &e : entries) EXPECT_EQ(ipmpar_of(e.index), e.value) << e.index;
}

TEST(MachineConstants, IndexOutsideTheTableGivesZero) {
  for (int i : {-1, 11, INT_MIN, INT_MAX}) EXPECT_EQ(ipmpar_of(i), 0) << i;
}

TEST(MachineConstants, DoubleLimitsMatchTheMachine) {
  using limits = std::numeric_limits<double>;
  for (int i : {1, 0, -5, INT_MIN}) EXPECT_EQ(spmpar_of(i), 2.220446049250313e-16) << i;
  EXPECT_EQ(spmpar_of(1), limits::epsilon());
  EXPECT_EQ(spmpar_of(2), 2.2250738585072014e-308);
  EXPECT_EQ(spmpar_of(2), limits::min());
  for (int i : {3, 4, 100, INT_MAX}) EXPECT_EQ(spmpar_of(i), 1.7976931348623157e308) << i;
  EXPECT_EQ(spmpar_of(3), limits::max());
}

TEST(MachineConstants, ExponentialArgumentBounds) {
  EXPECT_EQ(exparg_of(0), 709.7756150662599);
  for (int l : {1, -1, 7}) EXPECT_EQ(exparg_of(l), -708.3893345680835) << l;
  // Just inside the exact bounds.
  EXPECT_TRUE(std::isfinite(std::exp(exparg_of(0))));
  EXPECT_GE(std::exp(exparg_of(1)), std::numeric_limits<double>::min());
}

TEST(Polynomial, HornerInIncreasingPowers) {
  double coefficients[] = {1.0, 2.0, 3.0};
  int n = 3;
  double x = 2.0;
  EXPECT_EQ(devlpl(coefficients, &n, &x), 17.0);
  n = 1;
  EXPECT_EQ(devlpl(coefficients, &n, &x), 1.0);
  double minus_half = -0.5;
  n = 3;
  EXPECT_EQ(devlpl(coefficients, &n, &minus_half), 0.75);
}

struct Pair {
  double a;
  double b;
  double expected;
};

TEST(ValueHelpers, MaxMinAndSign) {
  const Pair maxima[] = {{1, 2, 2}, {2, 1, 2}, {-1, -2, -1}, {3, 3, 3}};
  for (const auto &p : maxima) EXPECT_EQ(fifdmax1(p.a, p.b), p.expected) << p.a << " " << p.b;
  const Pair minima[] = {{1, 2, 1}, {2, 1, 1}, {-1, -2, -2}, {3, 3, 3}};
  for (const auto &p : minima) EXPECT_EQ(fifdmin1(p.a, p.b), p.expected) << p.a << " " << p.b;
  const Pair signs[] = {{3, -0.5, -3}, {-3, 0, 3}, {-3, 2, 3}, {3, -0.0, 3}, {0, -1, -0.0}};
  for (const auto &p : signs) EXPECT_EQ(fifdsign(p.a, p.b), p.expected) << p.a << " " << p.b;
}

struct Truncation {
  double a;
  long expected;
};

TEST(ValueHelpers, Truncation) {
  const Truncation whole[] = {{0.7, 0}, {-5.5, 0}, {5.9, 5}, {1.0, 1}, {2147483647.5, 2147483647}, {1e10, 10000000000}};
  for (const auto &t : whole) EXPECT_EQ(fifidint(t.a), t.expected) << t.a;
  EXPECT_EQ(fifidint(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(fifidint(1e300), LONG_MAX);
  EXPECT_EQ(fifidint(HUGE_VAL), LONG_MAX);

  const Pair truncated[] = {{-5.9, 0, -5}, {5.9, 0, 5}, {0.3, 0, 0}, {-2147483647.9, 0, -2147483647}};
  for (const auto &t : truncated) EXPECT_EQ(fifdint(t.a), t.expected) << t.a;
  // Beyond the 32-bit range the value is still truncated, not wrapped.
  EXPECT_EQ(fifdint(3e9 + 0.5), 3e9);
  EXPECT_EQ(fifdint(-1e300), -1e300);
  EXPECT_TRUE(std::isnan(fifdint(std::numeric_limits<double>::quiet_NaN())));
}

struct Remainder {
  long a;
  long b;
  long expected;
};

TEST(ValueHelpers, RemainderHasTheSignOfTheDividend) {
  const Remainder cases[] = {{-7, 3, -1}, {7, -3, 1}, {7, 3, 1}, {-7, -3, -1}, {6, 3, 0},
                             {LONG_MIN, -1, 0}, {5, 0, 0}};
  for (const auto &c : cases) EXPECT_EQ(fifmod(c.a, c.b), c.expected) << c.a << " " << c.b;
}

TEST(ProcessStopDeathTest, PrintsTheMessageAndFails) {
  EXPECT_EXIT(ftnstop(" SMALL, X, BIG not monotone in INVR"), ::testing::ExitedWithCode(1),
              "^ SMALL, X, BIG not monotone in INVR\n$");
  EXPECT_EXIT(ftnstop(" Argument too small in DLANOR"), ::testing::ExitedWithCode(1),
              "^ Argument too small in DLANOR\n$");
}

TEST(ProcessStopDeathTest, NullMessagePrintsNothing) {
  EXPECT_EXIT(ftnstop(nullptr), ::testing::ExitedWithCode(1), "^$");
}

}  // namespace
