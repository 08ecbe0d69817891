// The regularized incomplete gamma ratios P(a, x) and Q(a, x) (DLMF 8.2.4)
// and the scaled density exp(-x) x^a / Gamma(a).  Each region of the (a, x)
// plane has its own method, chosen so that whichever of P and Q is smaller is
// computed directly and the other formed as its complement.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>

#include "distfn.h"
#include "distfn_internal.hpp"
#include "incomplete_gamma_coefficients.hpp"

namespace {

using distfn::by_value;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Constants as the library stores them.
constexpr double inv_sqrt_2pi = 0.398942280401433;
constexpr double sqrt_pi = 1.77245385090552;
constexpr double ln_10 = 2.30258509299405;
constexpr double one_third = 0.333333333333333;

// P = 2 is impossible, so it marks a failure of gratio.
constexpr double error_marker = 2.0;

// Per accuracy class iop = 1, 2, 3: the relative accuracy asked for, the
// shape from which the large-a methods take over, the half-width (scaled by
// sqrt(a)) of the band around x = a where the expansion about x = a is used,
// and the x from which the asymptotic series replaces the continued fraction.
constexpr std::array<double, 3> acc0 = {5e-15, 5e-7, 5e-4};
constexpr std::array<double, 3> big = {20.0, 14.0, 10.0};
constexpr std::array<double, 3> e00 = {0.00025, 0.025, 0.14};
constexpr std::array<double, 3> x00 = {31.0, 17.0, 9.7};

// The series for P/r and the asymptotic series for Q keep their first terms,
// up to the first one of at most this size, apart and add them last,
// smallest first.
constexpr double early_term_bound = 0.001;
constexpr std::size_t early_term_slots = 20;

// Within this band of s = 1 - x/a the general form of the uniform expansion
// needs only its short polynomials.
constexpr double short_expansion_band = 0.001;
// |s| beyond which the uniform expansion gives way to the density methods.
constexpr double uniform_expansion_band = 0.4;
// a e^2 above this leaves the expansions without the resolution to tell x
// from a (a above about 6.7e28 in double precision).
constexpr double expansion_resolution_limit = 0.00328;
// x/a - 1 - ln(x/a) beyond this, scaled by 1/a, puts the smaller ratio below
// exp(-700), where the limit values are returned.
constexpr double negligible_exponent = 700.0;

// For a = 1/2, P = erf(sqrt x) is used below this x and Q = erfc(sqrt x) above.
constexpr double half_shape_split = 0.25;
// The power series for a < 1 is used below this x.
constexpr double power_series_limit = 1.1;
// The power series forms Q from exp(a ln x) - 1 when that does not cancel:
// for x < 0.25 when a ln x exceeds this, for larger x when a < x / 2.59.
constexpr double small_x_split = 0.25;
constexpr double cancellation_exponent = -0.13394;
constexpr double cancellation_ratio = 2.59;

double complement(double v) { return 0.5 + (0.5 - v); }

// spmpar(1) on IEEE doubles, without the call in every evaluation.
double machine_epsilon() { return std::numeric_limits<double>::epsilon(); }

struct Ratios {
  double p;
  double q;
  bool failed = false;
};

Ratios from_p(double p) { return {p, complement(p)}; }
Ratios from_q(double q) { return {complement(q), q}; }
Ratios failure() { return {error_marker, kNaN, true}; }

// The ratios where the smaller one is negligible (or a or x is 0).
Ratios limit_values(double a, double x) { return x <= a ? Ratios{0.0, 1.0} : Ratios{1.0, 0.0}; }

struct AccuracyClass {
  int iop;
  double acc;  // relative accuracy asked for, never below the precision
  double big;
  double e0;
  double x0;
};

AccuracyClass accuracy_class(int ind, double eps) {
  const int iop = (ind == 0 || ind == 1) ? ind + 1 : 3;
  const auto i = static_cast<std::size_t>(iop - 1);
  return {iop, std::max(acc0[i], eps), big[i], e00[i], x00[i]};
}

// exp(-x) x^a / Gamma(a) for a < 1, with 1/Gamma(a) = a (1 + gam1(a)).
double small_shape_density(double a, double x) {
  return a * std::exp(a * std::log(x) - x) * (1.0 + by_value<gam1>(a));
}

// exp(-x) x^a / Gamma(a) for 1 <= a < 20.
double moderate_shape_density(double a, double x) {
  return std::exp(a * std::log(x) - x) / by_value<Xgamm>(a);
}

// exp(-x) x^a / Gamma(a) for large a, given y = a (x/a - 1 - ln(x/a)): Stirling's
// series (DLMF 5.11.1) turns it into sqrt(a / 2 pi) exp(-y - 1/(12a) + ...).
double large_shape_density(double a, double y) {
  const double t = (1.0 / a) * (1.0 / a);
  const double t1 = (((0.75 * t - 1.0) * t + 3.5) * t - 105.0) / (1260.0 * a) - y;
  return inv_sqrt_2pi * std::sqrt(a) * std::exp(t1);
}

// P for a = 1/2 through the error function: P(1/2, x) = erf(sqrt x).
Ratios half_shape(double x) {
  const double rtx = std::sqrt(x);
  if (x < half_shape_split) return from_p(by_value<erf1>(rtx));
  return from_q(by_value<erfc1>(0, rtx));
}

// a < 1, x < 1.1: the power series of gamma(a, x) x^-a (DLMF 8.7), with
// Q = (1 - x^a/Gamma(a+1)) + ... arranged so that no step cancels.
Ratios small_x_power_series(double a, double x, double acc) {
  double an = 3.0;
  double c = x;
  double sum = x / (a + 3.0);
  const double tol = 3.0 * acc / (a + 1.0);
  double t = 0.0;
  int steps = 0;
  do {
    an += 1.0;
    c = -(c * (x / an));
    t = c / (a + an);
    sum += t;
  } while (std::fabs(t) > tol && ++steps < distfn::convergence_step_limit);
  const double j = a * x * ((sum / 6.0 - 0.5 / (a + 2.0)) * x + 1.0 / (a + 1.0));
  const double z = a * std::log(x);
  const double h = by_value<gam1>(a);
  const double g = 1.0 + h;
  const bool cancellation_safe =
      x < small_x_split ? z > cancellation_exponent : a < x / cancellation_ratio;
  if (cancellation_safe) {
    const double l = by_value<rexp>(z);
    const double w = 0.5 + (0.5 + l);
    const double q = (w * j - l) * g - h;
    if (q < 0.0) return {1.0, 0.0};
    return from_q(q);
  }
  return from_p(std::exp(z) * g * complement(j));
}

// Sum of a series whose terms t_n follow from t_(n-1) through next_term:
// the first terms, up to the first one not above early_term_bound in
// magnitude, are kept apart and added last, smallest first, so that the
// large early terms do not swamp the tail.  The tail runs while
// continue_tail(t) holds; do_while selects whether it takes one term first.
template <typename NextTerm, typename ContinueTail>
double staged_series(double first, NextTerm next_term, ContinueTail continue_tail, bool do_while) {
  std::array<double, early_term_slots> wk{};
  wk[0] = first;
  double t = first;
  std::size_t n = 2;
  for (; n <= early_term_slots; ++n) {
    t = next_term(t);
    if (std::fabs(t) <= early_term_bound) break;
    wk[n - 1] = t;
  }
  n = std::min(n, early_term_slots);
  double sum = t;
  int steps = 0;
  if (do_while || continue_tail(t)) {
    do {
      t = next_term(t);
      sum += t;
    } while (continue_tail(t) && ++steps < distfn::convergence_step_limit);
  }
  for (std::size_t k = n - 1; k-- > 0;) sum += wk[k];
  return sum;
}

// P/r - 1 = sum_n x^n / ((a+1) ... (a+n)) (DLMF 8.7.1), r the scaled density.
Ratios lower_series(double a, double x, double r, double acc) {
  double apn = a + 1.0;
  const double tol = 0.5 * acc;
  const auto next = [&](double t) {
    apn += 1.0;
    return t * (x / apn);
  };
  const double sum = staged_series(x / apn, next, [&](double t) { return t > tol; }, true);
  return from_p((r / a) * (1.0 + sum));
}

// Q x / r - 1 ~ sum_n (a-1) ... (a-n) / x^n, the asymptotic series for large x (DLMF 8.11.2).
Ratios asymptotic_series(double a, double x, double r, double acc) {
  double amn = a - 1.0;
  const auto next = [&](double t) {
    amn -= 1.0;
    return t * (amn / x);
  };
  const double sum =
      staged_series(amn / x, next, [&](double t) { return std::fabs(t) > acc; }, false);
  return from_q((r / x) * (1.0 + sum));
}

// Q / r by the continued fraction of DLMF 8.9.2, evaluated through its
// even and odd convergents until two successive ones agree to tol.
Ratios continued_fraction(double a, double x, double r, double acc, double eps) {
  const double tol = std::max(5.0 * eps, acc);
  double a2nm1 = 1.0;
  double a2n = 1.0;
  double b2nm1 = x;
  double b2n = x + (1.0 - a);
  double c = 1.0;
  double am0 = 0.0;
  double an0 = 0.0;
  int steps = 0;
  do {
    a2nm1 = x * a2n + c * a2nm1;
    b2nm1 = x * b2n + c * b2nm1;
    am0 = a2nm1 / b2nm1;
    c += 1.0;
    const double cma = c - a;
    a2n = a2nm1 + cma * a2n;
    b2n = b2nm1 + cma * b2n;
    an0 = a2n / b2n;
  } while (std::fabs(an0 - am0) >= tol * an0 && ++steps < distfn::convergence_step_limit);
  return from_q(r * an0);
}

// Once the scaled density r is known: the series for P below max(a, ln 10),
// the continued fraction for Q up to x0, the asymptotic series beyond.
Ratios from_scaled_density(double a, double x, double r, const AccuracyClass &cls, double eps) {
  if (r == 0.0) return limit_values(a, x);
  if (x <= std::max(a, ln_10)) return lower_series(a, x, r, cls.acc);
  if (x < cls.x0) return continued_fraction(a, x, r, cls.acc, eps);
  return asymptotic_series(a, x, r, cls.acc);
}

// 2a = 2i + 1 or a = i whole, a <= x < x0: Q is a finite sum (DLMF 8.4):
// Q(i, x) = exp(-x) sum_{k<i} x^k/k!, Q(i + 1/2, x) = erfc(sqrt x) + exp(-x) sum_{k=1}^{i} x^(k-1/2)/Gamma(k+1/2).
Ratios finite_sums(double a, double x, long i) {
  double sum = 0.0;
  double t = 0.0;
  long n = 0;
  double c = 0.0;
  if (a == static_cast<double>(i)) {
    sum = std::exp(-x);
    t = sum;
    n = 1;
  } else {
    const double rtx = std::sqrt(x);
    sum = by_value<erfc1>(0, rtx);
    t = std::exp(-x) / (sqrt_pi * rtx);
    c = -0.5;
  }
  while (n != i) {
    ++n;
    c += 1.0;
    t = x * t / c;
    sum += t;
  }
  return from_q(sum);
}

// The shape of the correction polynomial of the uniform expansion: how many
// z coefficients of c_0, c_1, ... are used, and whether the constant term of
// the next c_k closes the series in u = 1/a.
struct ExpansionShape {
  std::array<std::size_t, 7> lengths;
  std::size_t terms;
  bool trailing_constant;
};

constexpr ExpansionShape full_expansion{{13, 12, 10, 8, 6, 4, 2}, 7, true};
constexpr ExpansionShape short_expansion{{7, 6, 5, 4, 2, 2, 1}, 7, true};
constexpr ExpansionShape medium_general_expansion{{6, 4, 1}, 3, false};
constexpr ExpansionShape medium_central_expansion{{2, 1}, 2, true};
constexpr ExpansionShape low_general_expansion{{3}, 1, false};
constexpr ExpansionShape low_central_expansion{{1}, 1, false};

namespace ue = distfn::uniform_expansion;
constexpr std::array<std::span<const double>, 7> expansion_tables = {ue::d0, ue::d1, ue::d2, ue::d3,
                                                                    ue::d4, ue::d5, ue::d6};
constexpr std::array<double, 8> expansion_constants = {-one_third, ue::d10, ue::d20, ue::d30,
                                                       ue::d40,    ue::d50, ue::d60, ue::d70};

// Which form of the expansion: about x = a (|s| <= e0 / sqrt a) or the general one.
enum class ExpansionForm { central, general };

const ExpansionShape &expansion_shape(int iop, ExpansionForm form, double s) {
  const bool central = form == ExpansionForm::central;
  switch (iop) {
    case 1: return central || std::fabs(s) <= short_expansion_band ? short_expansion : full_expansion;
    case 2: return central ? medium_central_expansion : medium_general_expansion;
    default: return central ? low_central_expansion : low_general_expansion;
  }
}

// sum_k c_k(z) u^k, each c_k(z) = z (dk[0] + dk[1] z + ...) + dk0.
double expansion_correction(const ExpansionShape &shape, double z, double u) {
  double t = shape.trailing_constant ? expansion_constants[shape.terms] : 0.0;
  for (std::size_t k = shape.terms; k-- > 0;) {
    const double ck = distfn::polynomial_ascending(expansion_tables[k].first(shape.lengths[k]), z) * z +
                      expansion_constants[k];
    t = t * u + ck;
  }
  return t;
}

// The uniform asymptotic expansion (DLMF 8.12): with l = x/a,
// s = 1 - l, rl = l - 1 - ln l and y = a rl, the smaller ratio is
// erfc(sqrt y)/2 -/+ exp(-y) sum_k c_k(z) a^-k / sqrt(2 pi a), z = sign(l - 1) sqrt(2 rl).
Ratios uniform_expansion(double a, double l, double s, double rl, double y, ExpansionForm form,
                         const AccuracyClass &cls, double eps) {
  const bool unresolved = a * eps * eps > expansion_resolution_limit;
  double c = 0.0;
  double w = 0.0;
  if (form == ExpansionForm::general) {
    if (std::fabs(s) <= 2.0 * eps && unresolved) return failure();
    c = std::exp(-y);
    w = 0.5 * by_value<erfc1>(1, std::sqrt(y));
  } else {
    // Near x = a, y is tiny: erfc(sqrt y) exp(y)/2 from its Taylor series.
    if (unresolved) return failure();
    c = complement(y);
    w = (0.5 - std::sqrt(y) * (0.5 + (0.5 - y / 3.0)) / sqrt_pi) / c;
  }
  const double u = 1.0 / a;
  double z = std::sqrt(rl + rl);
  if (l < 1.0) z = -z;
  const double t = expansion_correction(expansion_shape(cls.iop, form, s), z, u);
  const double rta = std::sqrt(a);
  if (l < 1.0) return from_p(c * (w - inv_sqrt_2pi * t / rta));
  return from_q(c * (w + inv_sqrt_2pi * t / rta));
}

// a >= big: the uniform expansion within 0.4 of x = a, the density methods outside.
Ratios large_shape(double a, double x, const AccuracyClass &cls, double eps) {
  const double l = x / a;
  if (l == 0.0) return {0.0, 1.0};
  const double s = complement(l);
  const double rl = by_value<rlog>(l);
  if (rl >= negligible_exponent / a) {
    if (std::fabs(s) <= 2.0 * eps) return failure();
    return limit_values(a, x);
  }
  const double y = a * rl;
  const double rta = std::sqrt(a);
  if (std::fabs(s) <= cls.e0 / rta) return uniform_expansion(a, l, s, rl, y, ExpansionForm::central, cls, eps);
  if (std::fabs(s) <= uniform_expansion_band)
    return uniform_expansion(a, l, s, rl, y, ExpansionForm::general, cls, eps);
  return from_scaled_density(a, x, large_shape_density(a, y), cls, eps);
}

Ratios small_shape(double a, double x, const AccuracyClass &cls, double eps) {
  if (a == 0.5) return half_shape(x);
  if (x < power_series_limit) return small_x_power_series(a, x, cls.acc);
  const double r = small_shape_density(a, x);
  if (r == 0.0) return {1.0, 0.0};
  return continued_fraction(a, x, r, cls.acc, eps);
}

// 1 <= a < big.
Ratios moderate_shape(double a, double x, const AccuracyClass &cls, double eps) {
  if (a <= x && x < cls.x0) {
    const long m = fifidint(2.0 * a);
    if (static_cast<double>(m) == 2.0 * a) return finite_sums(a, x, m / 2);
  }
  return from_scaled_density(a, x, moderate_shape_density(a, x), cls, eps);
}

Ratios incomplete_gamma_ratios(double a, double x, int ind) {
  if (std::isnan(a) || std::isnan(x)) return {kNaN, kNaN};
  if (a < 0.0 || x < 0.0 || (a == 0.0 && x == 0.0)) return failure();
  // Exactly one of them 0 (tested directly: the product a x underflows for
  // tiny nonzero a and x, where P is close to 1), or one of them infinite.
  if (std::isinf(a) && std::isinf(x)) return {kNaN, kNaN};
  if (a == 0.0 || x == 0.0 || std::isinf(a) || std::isinf(x)) return limit_values(a, x);
  const double eps = machine_epsilon();
  const AccuracyClass cls = accuracy_class(ind, eps);
  if (a < 1.0) return small_shape(a, x, cls, eps);
  if (a >= cls.big) return large_shape(a, x, cls, eps);
  return moderate_shape(a, x, cls, eps);
}

}  // namespace

extern "C" {

void gratio(double *a, double *x, double *ans, double *qans, int *ind) {
  const Ratios r = incomplete_gamma_ratios(*a, *x, *ind);
  *ans = r.p;
  if (!r.failed) *qans = r.q;
}

double rcomp(double *a, double *x) {
  constexpr double large_shape_limit = 20.0;
  if (*a < 1.0) return small_shape_density(*a, *x);
  if (*a < large_shape_limit) return moderate_shape_density(*a, *x);
  const double u = *x / *a;
  if (u == 0.0) return 0.0;
  return large_shape_density(*a, *a * by_value<rlog>(u));
}

}  // extern "C"
