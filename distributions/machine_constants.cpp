// Machine limits derived from ipmpar, the polynomial evaluator shared by the
// library, the small value helpers, and the stop for internal inconsistencies.
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "distfn.h"
#include "distfn_internal.hpp"

namespace {

// ipmpar entries describing double precision.
constexpr int kFloatBaseEntry = 4;
constexpr int kDoubleDigitsEntry = 8;
constexpr int kDoubleMinExponentEntry = 9;
constexpr int kDoubleMaxExponentEntry = 10;

int machine_constant(int entry) { return ipmpar(&entry); }

constexpr int kEpsilonSelector = 1;
constexpr int kTinySelector = 2;

// exparg stays this factor inside the exact exponent bound.
constexpr double kExpArgumentMargin = 0.99999;

// ln b for the common floating-point bases, as the constants are stored.
constexpr double kLnBase2 = 0.69314718055995;
constexpr double kLnBase8 = 2.0794415416798;
constexpr double kLnBase16 = 2.7725887222398;

double log_of_base(int base) {
  switch (base) {
    case 2: return kLnBase2;
    case 8: return kLnBase8;
    case 16: return kLnBase16;
    default: return std::log(static_cast<double>(base));
  }
}

// IEEE binary64: the exponent field's bias and position, to form 2^k directly.
constexpr int kBinary64ExponentBias = 1023;
constexpr int kBinary64MantissaBits = 52;

// b^k.  The limits are asked for inside the iterations of the cumulative
// functions and their inverses, so on binary machines the exact 2^k is formed
// from its exponent field (k within the normal range) instead of calling
// std::pow, which costs several times more for the same result.
double integer_power(double b, int k) {
  if (b == 2.0 && k > -kBinary64ExponentBias && k <= kBinary64ExponentBias)
    return std::bit_cast<double>(static_cast<std::uint64_t>(k + kBinary64ExponentBias) << kBinary64MantissaBits);
  return std::pow(b, k);
}

// 2^63, the first double beyond the range of long.
constexpr double kLongLimit = 9223372036854775808.0;
// 2^31, the first double beyond the range of a 32-bit int.
constexpr double kInt32Limit = 2147483648.0;

}  // namespace

extern "C" {

double spmpar(int *i) {
  const double b = machine_constant(kFloatBaseEntry);
  const int m = machine_constant(kDoubleDigitsEntry);
  if (*i <= kEpsilonSelector) return integer_power(b, 1 - m);
  if (*i == kTinySelector) {
    // b^(emin - 1), formed from b^(emin + 2) so that no step is subnormal.
    const double binv = 1.0 / b;
    const double w = integer_power(b, machine_constant(kDoubleMinExponentEntry) + 2);
    return w * binv * binv * binv;
  }
  // (1 - b^-m) b^emax without ever forming b^emax, which overflows.
  double z = integer_power(b, m - 1);
  const double w = ((z - 1.0) * b + (b - 1.0)) / (b * z);
  z = integer_power(b, machine_constant(kDoubleMaxExponentEntry) - 2);
  return w * z * b * b;
}

double exparg(int *l) {
  const double lnb = log_of_base(machine_constant(kFloatBaseEntry));
  const int m = *l == 0 ? machine_constant(kDoubleMaxExponentEntry)
                        : machine_constant(kDoubleMinExponentEntry) - 1;
  return (m * lnb) * kExpArgumentMargin;
}

double devlpl(double a[], int *n, double *x) {
  return distfn::polynomial_ascending({a, static_cast<std::size_t>(*n)}, *x);
}

double fifdint(double a) {
  // The 32-bit conversion is undefined beyond its range; truncate directly there.
  if (!(std::fabs(a) < kInt32Limit)) return std::trunc(a);
  return static_cast<double>(static_cast<std::int32_t>(a));
}

double fifdmax1(double a, double b) { return a < b ? b : a; }

double fifdmin1(double a, double b) { return a < b ? a : b; }

double fifdsign(double mag, double sign) {
  const double magnitude = std::fabs(mag);
  return sign < 0.0 ? -magnitude : magnitude;
}

long fifidint(double a) {
  if (!(a >= 1.0)) return 0;
  if (a >= kLongLimit) return LONG_MAX;
  return static_cast<long>(a);
}

long fifmod(long a, long b) {
  // b == 0 has no remainder, and LONG_MIN % -1 overflows although it is 0.
  if (b == 0 || b == -1) return 0;
  return a % b;
}

void ftnstop(const char *msg) {
  if (msg != nullptr) std::fprintf(stderr, "%s\n", msg);
  // A stop is a failure: the exit status must not read as success.
  std::exit(EXIT_FAILURE);
}

}  // extern "C"
