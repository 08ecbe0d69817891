// ln(1 + a), exp(x) - 1, the logarithmic remainders and the error functions,
// each with full relative accuracy near its critical point: a short rational
// approximation there, the mathematics library's log or exp away from it.
#include <array>
#include <cmath>

#include "distfn.h"
#include "distfn_internal.hpp"

namespace {

using distfn::polynomial_ascending;
using distfn::polynomial_descending;
using distfn::unit_polynomial_ascending;
using distfn::unit_polynomial_descending;

// ln(1 + a) = 2 atanh(t), t = a/(a + 2) (DLMF 4.6.5): 2t P(t^2)/Q(t^2).
constexpr double kLogRationalLimit = 0.375;
constexpr std::array<double, 3> kLogP = {-1.29418923021993, 0.405303492862024, -0.0178874546012214};
constexpr std::array<double, 3> kLogQ = {-1.62752256355323, 0.747811014037616, -0.0845104217945565};

// exp(x) - 1 = x P(x)/Q(x) near 0.
constexpr double kExpm1RationalLimit = 0.15;
constexpr std::array<double, 2> kExpm1P = {9.14041914819518e-10, 0.0238082361044469};
constexpr std::array<double, 4> kExpm1Q = {-0.499999999085958, 0.107141568980644, -0.0119041179760821,
                                           0.000595130811860248};

// u - ln(1 + u) = 2t (1/(1 - r) - r w(t)) with r = u/(u + 2), t = r^2.  The
// outer subintervals are recentred at 0.7 and 4/3 (for rlog; 0.7 - 1 and
// 1/3 for rlog1), whose offsets are -0.3 - ln 0.7 and 1/3 - ln(4/3).
constexpr double kRemainderOffsetLow = 0.0566749439387324;
constexpr double kRemainderOffsetHigh = 0.0456512608815524;
constexpr std::array<double, 3> kRemainderP = {0.333333333333333, -0.224696413112536, 0.00620886815375787};
constexpr std::array<double, 2> kRemainderQ = {-1.27408923933623, 0.354508718369557};

// rlog: bounds of the rational region and of its three subintervals.
constexpr double kRlogRationalLow = 0.61;
constexpr double kRlogRationalHigh = 1.57;
constexpr double kRlogCentreLow = 0.82;
constexpr double kRlogCentreHigh = 1.18;
// The low subinterval is recentred at 0.7 and scaled by it.
constexpr double kRemainderLowCentre = 0.7;
// The same for rlog1, shifted by one.
constexpr double kRlog1RationalLow = -0.39;
constexpr double kRlog1RationalHigh = 0.57;
constexpr double kRlog1CentreLow = -0.18;
constexpr double kRlog1CentreHigh = 0.18;
constexpr double kRlog1LowShift = 0.3;

// Error function, highest power first.
constexpr std::array<double, 5> kErfA = {7.7105849500132e-05, -0.00133733772997339, 0.0323076579225834,
                                         0.0479137145607681, 0.128379167095513};
constexpr std::array<double, 3> kErfB = {0.00301048631703895, 0.0538971687740286, 0.375795757275549};
constexpr std::array<double, 8> kErfP = {-1.36864857382717e-07, 0.564195517478974, 7.21175825088309,
                                         43.1622272220567,      152.98928504694,   339.320816734344,
                                         451.918953711873,      300.459261020162};
constexpr std::array<double, 8> kErfQ = {1.0,              12.7827273196294, 77.0001529352295, 277.585444743988,
                                         638.980264465631, 931.35409485061,  790.950925327898, 300.459260956983};
constexpr std::array<double, 5> kErfR = {2.10144126479064, 26.2370141675169, 21.3688200555087, 4.6580782871847,
                                         0.282094791773523};
constexpr std::array<double, 4> kErfS = {94.153775055546, 187.11481179959, 99.0191814623914, 18.0124575948747};
constexpr double kInvSqrtPi = 0.564189583547756;

// Region bounds of the error functions in |x|.
constexpr double kErfSeriesLimit = 0.5;
constexpr double kErfMiddleLimit = 4.0;
constexpr double kErfSaturation = 5.8;    // erf(x) rounds to +-1 beyond
constexpr double kErfcSaturation = -5.6;  // erfc(x) rounds to 2 below
constexpr double kErfcUnderflowGuard = 100.0;

// The rational form of ln(1 + a) for |a| <= 0.375.
double log1p_rational(double a) {
  const double t = a / (a + 2.0);
  const double t2 = t * t;
  const double w = unit_polynomial_ascending(kLogP, t2) / unit_polynomial_ascending(kLogQ, t2);
  return 2.0 * t * w;
}

// u - ln(1 + u) + w1 from the rational form; u is the recentred argument and
// w1 the offset of its subinterval.
double log_remainder_rational(double u, double w1) {
  const double r = u / (u + 2.0);
  const double t = r * r;
  const double w = polynomial_ascending(kRemainderP, t) / unit_polynomial_ascending(kRemainderQ, t);
  return 2.0 * t * (1.0 / (1.0 - r) - r * w) + w1;
}

// erf(x) for |x| <= 0.5; t = x^2.
double erf_series_ratio(double t) {
  const double top = polynomial_descending(kErfA, t) + 1.0;
  const double bot = unit_polynomial_descending(kErfB, t);
  return top / bot;
}

}  // namespace

extern "C" {

double alnrel(double *a) {
  if (std::fabs(*a) > kLogRationalLimit) return std::log(*a + 1.0);
  return log1p_rational(*a);
}

double dln1px(double *a) { return alnrel(a); }

double dln1mx(double *x) {
  double negated = -*x;
  return dln1px(&negated);
}

double rexp(double *x) {
  const double v = *x;
  if (std::fabs(v) <= kExpm1RationalLimit) {
    return v * (unit_polynomial_ascending(kExpm1P, v) / unit_polynomial_ascending(kExpm1Q, v));
  }
  const double w = std::exp(v);
  if (v > 0.0) return w * (0.5 + (0.5 - 1.0 / w));
  return (w - 0.5) - 0.5;
}

double dexpm1(double *x) { return rexp(x); }

double rlog(double *x) {
  const double v = *x;
  if (v < kRlogRationalLow || v > kRlogRationalHigh) return ((v - 0.5) - 0.5) - std::log(v);
  if (v < kRlogCentreLow) {
    const double u = (v - kRemainderLowCentre) / kRemainderLowCentre;
    return log_remainder_rational(u, kRemainderOffsetLow - 0.3 * u);
  }
  if (v > kRlogCentreHigh) {
    const double u = 0.75 * v - 1.0;
    return log_remainder_rational(u, kRemainderOffsetHigh + u / 3.0);
  }
  return log_remainder_rational((v - 0.5) - 0.5, 0.0);
}

double rlog1(double *x) {
  const double v = *x;
  if (v < kRlog1RationalLow || v > kRlog1RationalHigh) return v - std::log((v + 0.5) + 0.5);
  if (v < kRlog1CentreLow) {
    const double h = (v + kRlog1LowShift) / kRemainderLowCentre;
    return log_remainder_rational(h, kRemainderOffsetLow - 0.3 * h);
  }
  if (v > kRlog1CentreHigh) {
    const double h = 0.75 * v - 0.25;
    return log_remainder_rational(h, kRemainderOffsetHigh + h / 3.0);
  }
  return log_remainder_rational(v, 0.0);
}

double esum(int *mu, double *x) {
  // The sum is formed only when mu and x do not push the same way and the sum
  // keeps the sign of x; otherwise the two factors are multiplied, which
  // spares the rounding of mu + x.
  const double m = *mu;
  const double w = m + *x;
  const bool separate = *x > 0.0 ? (*mu > 0 || w < 0.0) : (*mu < 0 || w > 0.0);
  if (separate) {
    const double product = std::exp(m) * std::exp(*x);
    // A factor beyond the range of exp (|mu| above about 709) would turn a
    // representable exp(mu + x) into 0, infinity or NaN.
    if (std::isfinite(product) && product != 0.0) return product;
  }
  return std::exp(w);
}

double erf1(double *x) {
  const double v = *x;
  const double ax = std::fabs(v);
  if (ax <= kErfSeriesLimit) return v * erf_series_ratio(v * v);
  if (ax >= kErfSaturation) return fifdsign(1.0, v);
  double result;
  if (ax <= kErfMiddleLimit) {
    const double top = polynomial_descending(kErfP, ax);
    const double bot = polynomial_descending(kErfQ, ax);
    result = 0.5 + (0.5 - std::exp(-v * v) * top / bot);
  } else {
    const double x2 = v * v;
    const double t = 1.0 / x2;
    const double top = polynomial_descending(kErfR, t);
    const double bot = unit_polynomial_descending(kErfS, t);
    const double e = (kInvSqrtPi - top / (x2 * bot)) / ax;
    result = 0.5 + (0.5 - std::exp(-x2) * e);
  }
  return v < 0.0 ? -result : result;
}

double erfc1(int *ind, double *x) {
  const double v = *x;
  const double ax = std::fabs(v);
  const bool scaled = *ind != 0;
  if (ax <= kErfSeriesLimit) {
    const double t = v * v;
    const double e = 0.5 + (0.5 - v * erf_series_ratio(t));
    return scaled ? e * std::exp(t) : e;
  }
  double e;
  if (ax <= kErfMiddleLimit) {
    e = polynomial_descending(kErfP, ax) / polynomial_descending(kErfQ, ax);
  } else {
    if (v <= kErfcSaturation) return scaled ? 2.0 * std::exp(v * v) : 2.0;
    int smallest_exponent = 1;
    if (!scaled && (v > kErfcUnderflowGuard || v * v > -exparg(&smallest_exponent))) return 0.0;
    const double t = (1.0 / v) * (1.0 / v);
    e = (kInvSqrtPi - t * polynomial_descending(kErfR, t) / unit_polynomial_descending(kErfS, t)) / ax;
  }
  if (scaled) return v < 0.0 ? 2.0 * std::exp(v * v) - e : e;
  e = std::exp(-v * v) * e;
  return v < 0.0 ? 2.0 - e : e;
}

}  // extern "C"
