// Densities of the eleven laws (probability masses of the three discrete
// ones), from the prefactors that the incomplete ratios are built on: brcomp,
// x^a y^b / B(a, b), for the beta family, and the gamma density of rcomp and
// the Poisson weight for the gamma family.  Each checks its arguments as
// case 1 of its front end does and reports the same status and bound.
#include <cmath>
#include <limits>

#include "distfn.h"
#include "distfn_internal.hpp"
#include "front_end_common.hpp"

using distfn::by_value;
using namespace distfn::front_end;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// 1 / sqrt(2 pi).
constexpr double inv_sqrt_2pi = 0.3989422804014327;
// Noncentralities up to this are treated as 0, as in the cumulative functions.
constexpr double negligible_noncentrality = 1e-10;
// A direction of a Poisson mixture of densities ends once a geometric bound
// on the terms left in it is below this share of the sum.
constexpr double mixture_tolerance = 0x1p-60;

// The front-end checks of one law's arguments: status 0, or the status and
// bound of case 1 of its front end.  Inlined, so that the rules' constant
// limits fold into plain comparisons (called, the checks cost more than the
// normal density itself).
[[gnu::always_inline]] inline bool rejected(std::span<const ArgumentRule> rules, int *status, double *bound) {
  if (reject_arguments(rules, status, bound)) return true;
  *status = status_success;
  return false;
}

// t^(a-1) e^-t / Gamma(a), the gamma density with shape a and scale 1.  For
// a >= 1 it is the Poisson weight of a - 1 at t, whose Stirling form keeps its
// accuracy for large shapes; below 1 rcomp's x^a e^-x / Gamma(a), over t.
double gamma_density(double a, double t) {
  if (t == 0.0) return a < 1.0 ? kInf : a == 1.0 ? 1.0 : 0.0;
  if (std::isinf(t)) return 0.0;
  if (a == 1.0) return std::exp(-t);
  if (a < 1.0) return by_value<rcomp>(a, t) / t;
  return distfn::poisson_weight(a - 1.0, t);
}

// Below this the power factor has lost digits to underflow: the density is
// then formed from logarithms.
constexpr double underflow_margin = 1e-290;
// brcomp expands about the mode once both parameters reach 8; with one of
// them below 8 and the other beyond this, its logarithms of x^a y^b and of
// B(a, b) would cancel in many digits.
constexpr double expanded_parameter = 8.0;
constexpr double lopsided_parameter = 100.0;

// ln(Gamma(s + l) / (Gamma(l) l^s)) for l >= 8, by Stirling's formula (DLMF
// 5.11.1) with its remainder dstrem: -l rlog1(s/l) + (s - 1/2) ln(1 + s/l)
// + dstrem(s + l) - dstrem(l), where no term is of the size of l ln l.
double log_gamma_ratio(double s, double l) {
  const double h = s / l;
  double sum = s + l;
  double large = l;
  return -l * by_value<rlog1>(h) + (s - 0.5) * by_value<alnrel>(h) + (dstrem(&sum) - dstrem(&large));
}

// x^a y^b / B(a, b) where one parameter is small and the other large: as
// (l z)^s / Gamma(s) * (1 - z)^l * Gamma(s + l) / (Gamma(l) l^s), z the
// argument that goes with the small parameter s (DLMF 5.11.12 is the limit).
double lopsided_power_factor(double s, double l, double z, double w) {
  const double ln_w = w > 0.5 ? by_value<alnrel>(-z) : std::log(w);
  return std::exp(s * std::log(l * z) - by_value<gamln>(s) + l * ln_w + log_gamma_ratio(s, l));
}

// x^a y^b / B(a, b).
double power_factor(double a, double b, double x, double y) {
  if (std::fmin(a, b) < expanded_parameter && std::fmax(a, b) >= lopsided_parameter) {
    return a < b ? lopsided_power_factor(a, b, x, y) : lopsided_power_factor(b, a, y, x);
  }
  return by_value<brcomp>(a, b, x, y);
}

// x^a y^b / B(a, b) / divisor, from logarithms where the power factor
// underflows but the quotient need not; log_divisor() is formed only then.
template <typename LogDivisor>
double power_factor_over(double a, double b, double x, double y, double divisor, LogDivisor &&log_divisor) {
  const double factor = power_factor(a, b, x, y);
  if (factor > underflow_margin) return factor / divisor;
  return std::exp(a * std::log(x) + b * std::log(y) - by_value<betaln>(a, b) - log_divisor());
}

// x^(a-1) y^(b-1) / B(a, b), the beta density, with y = 1 - x given.
double beta_density(double a, double b, double x, double y) {
  if (x == 0.0) return a < 1.0 ? kInf : a == 1.0 ? b * std::pow(y, b - 1.0) : 0.0;
  if (y == 0.0) return b < 1.0 ? kInf : b == 1.0 ? a * std::pow(x, a - 1.0) : 0.0;
  return power_factor_over(a, b, x, y, x * y, [x, y] { return std::log(x) + std::log(y); });
}

bool is_integer(double s) { return std::floor(s) == s; }

// Up to 22! every factorial is a double exactly; below this mean e^-m and
// m^22 stay normal numbers.
constexpr double largest_exact_factorial_count = 22.0;
constexpr double largest_direct_poisson_mean = 700.0;

// The Poisson probability of k at mean m: m^k e^-m / k! directly for small
// counts (three roundings after pow and exp), else the Stirling form of the
// Poisson weight, whose remainder for small k is a difference of logarithms.
double poisson_mass(double k, double m) {
  if (k == 0.0) return std::exp(-m);
  if (k <= largest_exact_factorial_count && m < largest_direct_poisson_mean) {
    double factorial = 1.0;
    for (double j = 2.0; j <= k; ++j) factorial *= j;
    return std::pow(m, k) * std::exp(-m) / factorial;
  }
  return distfn::poisson_weight(k, m);
}

// The F variate's beta arguments u = dfn f / (dfd + dfn f) and v = 1 - u,
// the smaller formed by division.
struct BetaPair {
  double u, v;
};
BetaPair f_beta_pair(double f, double dfn, double dfd) {
  const double prod = dfn * f;
  const double dsum = dfd + prod;
  const double v = dfd / dsum;
  if (v > 0.5) {
    const double u = prod / dsum;
    return {u, 0.5 + (0.5 - u)};
  }
  return {0.5 + (0.5 - v), v};
}

// The positive root of j^2 + b j - c = 0 (c >= 0), without cancellation.
double positive_root(double b, double c) {
  const double d = std::sqrt(b * b + 4.0 * c);
  return b >= 0.0 ? 2.0 * c / (b + d) : 0.5 * (d - b);
}

// Sum of a Poisson(m) mixture sum_i w_i d_i of unimodal terms, from the
// largest term outwards.  term_at(i) gives w_i d_i directly; ratio_up(i) the
// ratio of the term at i + 1 to the term at i and ratio_down(i) that of the
// term at i - 1 to the term at i.  Both fall as the sum moves away from the
// peak (the terms are log-concave), so the terms left beyond a term t with
// ratio r < 1 add up to at most t r / (1 - r).
template <typename Sum, typename TermAt, typename RatioUp, typename RatioDown>
double poisson_mixture_with(double peak, double m, TermAt &&term_at, RatioUp &&ratio_up, RatioDown &&ratio_down) {
  const double most_steps = distfn::poisson_step_cap(m);
  const double centre = std::floor(std::fmax(peak, 0.0));
  const double first = term_at(centre);
  if (!(first > 0.0)) return first == 0.0 ? 0.0 : kNaN;
  Sum sum(first);
  const auto rest_negligible = [&](double term, double r) {
    return r < 1.0 && term * r < mixture_tolerance * sum.value() * (1.0 - r);
  };
  double term = first;
  for (double i = centre, steps = 0.0;; ++i, ++steps) {
    if (steps >= most_steps) return kNaN;
    const double r = ratio_up(i);
    term *= r;
    sum.add_smaller(term);
    if (rest_negligible(term, r) || term == 0.0) break;
  }
  term = first;
  for (double i = centre, steps = 0.0; i > 0.0; --i, ++steps) {
    if (steps >= most_steps) return kNaN;
    const double r = ratio_down(i);
    term *= r;
    sum.add_smaller(term);
    if (rest_negligible(term, r) || term == 0.0) break;
  }
  return sum.value();
}

// A plain running sum, with the interface of distfn::CompensatedSum.
class PlainSum {
 public:
  explicit PlainSum(double first) : sum_(first) {}
  void add_smaller(double x) { sum_ += x; }
  double value() const { return sum_; }

 private:
  double sum_;
};

// Beyond this Poisson mean a mixture adds so many terms (about 18 sqrt(m))
// that the roundings of a plain sum would exceed a few units; its terms, all
// below the first and so below the sum, are then summed compensated.
constexpr double compensated_mean = 1e5;

template <typename TermAt, typename RatioUp, typename RatioDown>
double poisson_mixture(double peak, double m, TermAt &&term_at, RatioUp &&ratio_up, RatioDown &&ratio_down) {
  if (m > compensated_mean) return poisson_mixture_with<distfn::CompensatedSum>(peak, m, term_at, ratio_up, ratio_down);
  return poisson_mixture_with<PlainSum>(peak, m, term_at, ratio_up, ratio_down);
}

double chi_square_density(double x, double df) { return 0.5 * gamma_density(0.5 * df, 0.5 * x); }

// The noncentral chi-square density sum_i Poisson(i; lam/2) f_chi2(x; k + 2i)
// (DLMF 10.25.2 summed term by term with the Bessel series of I).
double noncentral_chi_square_density(double x, double k, double lam) {
  const double m = 0.5 * lam;
  const double t = 0.5 * x;
  if (x == 0.0) return 0.5 * std::exp(-m) * gamma_density(0.5 * k, 0.0);
  if (m > distfn::largest_poisson_mean) return kNaN;
  // Term ratio (m/(i+1)) (t/(k/2+i)) equals 1 at j = i + 1 with j (j + k/2 - 1) = m t.
  const double mt = m * t;
  const double peak = positive_root(0.5 * k - 1.0, mt) - 1.0;
  return poisson_mixture(
      peak, m,
      [&](double i) { return distfn::poisson_weight(i, m) * chi_square_density(x, k + 2.0 * i); },
      [&](double i) { return mt / ((i + 1.0) * (0.5 * k + i)); },
      [&](double i) { return (i * (0.5 * k + i - 1.0)) / mt; });
}

// The noncentral F density (1/f) sum_i Poisson(i; lam/2) brcomp(dfn/2 + i, dfd/2, u, v),
// each term the F density of the i-th beta ratio of the mixture.
double noncentral_f_density(double f, double dfn, double dfd, double lam) {
  const double m = 0.5 * lam;
  const double a = 0.5 * dfn, b = 0.5 * dfd;
  if (m > distfn::largest_poisson_mean) return kNaN;
  if (f == 0.0) {
    // Only the first term reaches 0: the central F density's limit there.
    if (a < 1.0) return kInf;
    return a == 1.0 ? std::exp(-m) : 0.0;
  }
  const BetaPair p = f_beta_pair(f, dfn, dfd);
  if (p.v == 0.0) return 0.0;
  if (m == 0.0) return power_factor_over(a, b, p.u, p.v, f, [f] { return std::log(f); });
  // Term ratio (m/(i+1)) u (a+i+b)/(a+i) equals 1 at j = i + 1 with
  // j^2 + (a - 1 - m u) j - m u (a - 1 + b) = 0.
  const double mu = m * p.u;
  const double peak = positive_root(a - 1.0 - mu, std::fmax(mu * (a - 1.0 + b), 0.0)) - 1.0;
  const double sum = poisson_mixture(
      peak, m, [&](double i) { return distfn::poisson_weight(i, m) * power_factor(a + i, b, p.u, p.v); },
      [&](double i) { return (m / (i + 1.0)) * (p.u * ((a + i + b) / (a + i))); },
      [&](double i) { return (i / m) * ((a + i - 1.0) / (p.u * (a + i - 1.0 + b))); });
  return sum / f;
}

// 2^27 + 1: Veltkamp's splitting constant for doubles.
constexpr double veltkamp_split = 134217729.0;

// z^2 - fl(z^2) exactly, by Dekker's product of z split into halves of 26
// bits (without an FMA instruction in the target, std::fma is a call into
// the C library, slower than these few operations).
double square_rounding(double z, double zz) {
  const double c = veltkamp_split * z;
  const double hi = c - (c - z);
  const double lo = z - hi;
  return ((hi * hi - zz) + 2.0 * hi * lo) + lo * lo;
}

// exp(-z^2/2) with z^2 split into its rounded value and the rounding error,
// so that the error of the square does not grow with z^2.
double half_gaussian(double z) {
  const double zz = z * z;
  // Up to this the rounding of z^2 costs exp's result at most one unit in
  // the last place (z^2 / 4 units), and the split is not worth its cost.
  constexpr double negligible_rounding_square = 4.0;
  if (zz <= negligible_rounding_square) return std::exp(-0.5 * zz);
  // Beyond this the density is 0 and the split below would meet inf - inf.
  constexpr double vanishing_square = 1500.0;
  if (zz > vanishing_square) return 0.0;
  const double correction = 1.0 - 0.5 * square_rounding(z, zz);
  return std::exp(-0.5 * zz) * correction;
}

// The front-end checks of pdfnor, out of line: its fast path has no use for
// the registers they need.
[[gnu::noinline, gnu::cold]] bool normal_arguments_rejected(double *x, double *mean, double *sd, int *status,
                                                            double *bound) {
  const ArgumentRule rules[] = {any_real(4, x, true), any_real(5, mean, true), positive(6, sd, true)};
  return rejected(rules, status, bound);
}

// The Student t density Gamma(z + 1/2) / (Gamma(z) sqrt(2 pi z)) (1 + t^2/df)^-(df+1)/2
// with z = df/2.  Stirling's formula (DLMF 5.11.1) gives the gamma ratio as
// exp(-z rlog1(1/(2z)) + dstrem(z + 1/2) - dstrem(z)), close to 1 for large df
// with nothing cancelling; the power is exp(-(df + 1)/2 ln(1 + t^2/df)).
double student_t_density(double t, double df) {
  double z = 0.5 * df;
  double z_half = z + 0.5;
  const double gamma_ratio = -z * by_value<rlog1>(0.5 / z) + (dstrem(&z_half) - dstrem(&z));
  constexpr double square_limit = 1e150;
  const double at = std::fabs(t);
  const double log_power = at > square_limit ? 2.0 * std::log(at) - std::log(df)
                                             : by_value<alnrel>(at * at / df);
  return inv_sqrt_2pi * std::exp(gamma_ratio - 0.5 * (df + 1.0) * log_power);
}

}  // namespace

extern "C" {

void pdfbet(double *x, double *y, double *a, double *b, double *pdf, int *status, double *bound) {
  const ArgumentRule rules[] = {probability(4, x, true), probability(5, y, true), positive(6, a, true),
                                positive(7, b, true)};
  if (rejected(rules, status, bound)) return;
  if (reject_unit_sum(*x, *y, status_complement_pair, status, bound)) return;
  *pdf = beta_density(*a, *b, *x, *y);
}

void pdfbin(double *s, double *xn, double *pr, double *ompr, double *pdf, int *status, double *bound) {
  const ArgumentRule rules[] = {positive(5, xn, true), in_range(4, s, 0.0, *xn, true), probability(6, pr, true),
                                probability(7, ompr, true)};
  if (rejected(rules, status, bound)) return;
  if (reject_unit_sum(*pr, *ompr, status_complement_pair, status, bound)) return;
  const double k = *s, n = *xn;
  if (!is_integer(k)) {
    *pdf = 0.0;
  } else if (k == 0.0) {
    *pdf = std::pow(*ompr, n);
  } else if (k == n) {
    *pdf = std::pow(*pr, n);
  } else {
    // C(n, k) = n / (k (n - k)) / B(k, n - k).
    *pdf = power_factor(k, n - k, *pr, *ompr) * (n / (k * (n - k)));
  }
}

void pdfnbn(double *s, double *xn, double *pr, double *ompr, double *pdf, int *status, double *bound) {
  const ArgumentRule rules[] = {non_negative(4, s, true), non_negative(5, xn, true), probability(6, pr, true),
                                probability(7, ompr, true)};
  if (rejected(rules, status, bound)) return;
  if (reject_unit_sum(*pr, *ompr, status_complement_pair, status, bound)) return;
  const double k = *s, n = *xn;
  if (!is_integer(k)) {
    *pdf = 0.0;
  } else if (k == 0.0) {
    *pdf = std::pow(*pr, n);
  } else if (n == 0.0) {
    *pdf = 0.0;
  } else {
    // C(k + n - 1, k) = 1 / (k B(n, k)).
    *pdf = power_factor(n, k, *pr, *ompr) / k;
  }
}

void pdft(double *t, double *df, double *pdf, int *status, double *bound) {
  const ArgumentRule rules[] = {any_real(4, t, true), positive(5, df, true)};
  if (rejected(rules, status, bound)) return;
  *pdf = student_t_density(*t, *df);
}

void pdff(double *f, double *dfn, double *dfd, double *pdf, int *status, double *bound) {
  const ArgumentRule rules[] = {non_negative(4, f, true), positive(5, dfn, true), positive(6, dfd, true)};
  if (rejected(rules, status, bound)) return;
  *pdf = noncentral_f_density(*f, *dfn, *dfd, 0.0);
}

void pdffnc(double *f, double *dfn, double *dfd, double *pnonc, double *pdf, int *status, double *bound) {
  const ArgumentRule rules[] = {non_negative(4, f, true), positive(5, dfn, true), positive(6, dfd, true),
                                non_negative(7, pnonc, true)};
  if (rejected(rules, status, bound)) return;
  *pdf = noncentral_f_density(*f, *dfn, *dfd, *pnonc < negligible_noncentrality ? 0.0 : *pnonc);
}

void pdfgam(double *x, double *shape, double *scale, double *pdf, int *status, double *bound) {
  const ArgumentRule rules[] = {non_negative(4, x, true), positive(5, shape, true), positive(6, scale, true)};
  if (rejected(rules, status, bound)) return;
  *pdf = *scale * gamma_density(*shape, *x * *scale);
}

void pdfchi(double *x, double *df, double *pdf, int *status, double *bound) {
  const ArgumentRule rules[] = {non_negative(4, x, true), positive(5, df, true)};
  if (rejected(rules, status, bound)) return;
  *pdf = chi_square_density(*x, *df);
}

void pdfchn(double *x, double *df, double *pnonc, double *pdf, int *status, double *bound) {
  const ArgumentRule rules[] = {non_negative(4, x, true), positive(5, df, true), non_negative(6, pnonc, true)};
  if (rejected(rules, status, bound)) return;
  *pdf = *pnonc <= negligible_noncentrality ? chi_square_density(*x, *df)
                                             : noncentral_chi_square_density(*x, *df, *pnonc);
}

void pdfpoi(double *s, double *xlam, double *pdf, int *status, double *bound) {
  const ArgumentRule rules[] = {non_negative(4, s, true), non_negative(5, xlam, true)};
  if (rejected(rules, status, bound)) return;
  const double k = *s, lam = *xlam;
  if (!is_integer(k)) {
    *pdf = 0.0;
  } else if (lam == 0.0) {
    *pdf = k == 0.0 ? 1.0 : 0.0;
  } else {
    *pdf = poisson_mass(k, lam);
  }
}

void pdfnor(double *x, double *mean, double *sd, double *pdf, int *status, double *bound) {
  // x - mean is finite only where both are (a NaN or an infinity carries
  // into it), so with sd finite and positive all checks pass at once.
  const double deviation = *x - *mean;
  if (!(std::fabs(deviation) < kInf && *sd > 0.0 && *sd < kInf) && normal_arguments_rejected(x, mean, sd, status, bound)) {
    return;
  }
  *status = status_success;
  // 1/(sd sqrt(2 pi)) is formed while exp runs.
  const double scale = inv_sqrt_2pi / *sd;
  *pdf = half_gaussian(deviation / *sd) * scale;
}

}  // extern "C"
