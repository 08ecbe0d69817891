// Quantile functions: each solves the equation of its front end's case 2 (the
// cumulative function of the smaller tail equal to its target) to full double
// precision.  The continuous laws take a close start and Halley steps with
// the density, which the incomplete beta and gamma ratios give as their
// prefactors; the discrete laws (whose count is continuous here, as in the
// front ends) and the noncentral ones, whose derivative in the solved
// quantity has no closed form, take secant steps from a normal-approximation
// start.

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>

#include "distfn.h"
#include "distfn_internal.hpp"
#include "front_end_common.hpp"
#include "normal_quantile_coefficients.hpp"
#include "quantile_solvers.hpp"

using namespace distfn::front_end;
using namespace distfn::quantile;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double pi = 3.141592653589793;
constexpr int status_evaluation_failed = status_gamma_error;

// Common checks: the arguments by the front end's rules, then p + q.  On
// failure the output is NaN and the status is returned.  Inlined, so that
// the constant limits of the rules fold into the caller's comparisons.
[[gnu::always_inline]] inline int reject(std::span<const ArgumentRule> rules, bool check_sum, double p, double q, double *output) {
  int status = status_success;
  double bound = 0.0;
  if (reject_arguments(rules, &status, &bound) ||
      (check_sum && reject_unit_sum(p, q, status_p_plus_q, &status, &bound))) {
    *output = kNaN;
    return status;
  }
  return status_success;
}

// The checks of the laws with a success probability: those of reject, then
// pr + ompr.
[[gnu::always_inline]] inline int reject_with_complement_pair(std::span<const ArgumentRule> rules, double p, double q,
                                                              double pr, double ompr, double *output) {
  if (const int status = reject(rules, true, p, q, output)) return status;
  int status = status_success;
  double bound = 0.0;
  if (reject_unit_sum(pr, ompr, status_complement_pair, &status, &bound)) {
    *output = kNaN;
    return status;
  }
  return status_success;
}

// Horner's rule for N(z) / D(z), the coefficients in ascending powers.
template <std::size_t M, std::size_t N>
double rational(const std::array<double, M> &numerator, const std::array<double, N> &denominator, double z) {
  double n = numerator[M - 1];
  for (std::size_t k = M - 1; k-- > 0;) n = n * z + numerator[k];
  double d = denominator[N - 1];
  for (std::size_t k = N - 1; k-- > 0;) d = d * z + denominator[k];
  return n / d;
}

// The standard normal quantile of the smaller tail pair (p, q), by the
// fitted rational approximations of normal_quantile_coefficients.hpp (a few
// ulps, no refinement): x odd in s = tail - 1/2 in the centre; in the tails a
// function of t = sqrt(-2 ln tail), close to linear (x ~ -t, DLMF 7.12.1).
double normal_quantile(double p, double q) {
  namespace fit = distfn::normal_quantile_fit;
  const bool lower = p <= q;
  const double tail = lower ? p : q;
  double x;
  if (tail >= fit::central_least_tail) {
    const double s = tail - 0.5;
    x = s * rational(fit::central_numerator, fit::central_denominator, s * s - fit::central_origin);
  } else {
    const double t = std::sqrt(-2.0 * std::log(tail));
    std::size_t k = fit::tail_pieces.size() - 1;
    while (k > 0 && t < fit::tail_pieces[k].t_low) --k;
    const fit::TailPiece &piece = fit::tail_pieces[k];
    x = -rational(piece.numerator, piece.denominator, t - piece.origin);
  }
  return lower ? x : -x;
}

// ---- beta ------------------------------------------------------------------

struct Complements {
  double x;
  double y;
};

// Abramowitz & Stegun 26.5.22: a normal-based quantile for a, b > 1, as x
// and 1 - x (each formed without cancellation).
Complements beta_normal_start(double p, double q, double a, double b) {
  const double z = -normal_quantile(p, q);  // the upper quantile, large for small p
  const double lambda = (z * z - 3.0) / 6.0;
  const double ra = 1.0 / (2.0 * a - 1.0), rb = 1.0 / (2.0 * b - 1.0);
  const double h = 2.0 / (ra + rb);
  const double w = z * std::sqrt(h + lambda) / h - (rb - ra) * (lambda + 5.0 / 6.0 - 2.0 / (3.0 * h));
  return {a / (a + b * std::exp(2.0 * w)), b / (a * std::exp(-2.0 * w) + b)};
}

// Solves I_v(av, bv) = target (lower) or 1 - I_v(av, bv) = target for v, by
// Halley steps in ln v; the density is the prefactor v^av (1-v)^bv / B over
// v (1 - v).
double beta_solve(double v, double av, double bv, double target, bool lower) {
  return halley(v, 0.0, 1.0, target, lower, true, [av, bv, lower](double x) {
    double a = av, b = bv, y = 1.0 - x, w, w1;
    int ierr;
    bratio(&a, &b, &x, &y, &w, &w1, &ierr);
    const double density = brcomp(&a, &b, &x, &y) / (x * y);
    const double curvature = (a - 1.0) / x - (b - 1.0) / y;
    return lower ? TailPoint{w, density, curvature} : TailPoint{w1, -density, curvature};
  });
}

// x and 1 - x with I_x(a, b) = p, 1 - I_x(a, b) = q, p + q = 1: whichever of
// x and 1 - x is below 1/2 at the start is solved for, the other follows.
// A caller's guess, when given, is the start.
Complements beta_quantile(double p, double q, double a, double b, const Complements *guess = nullptr) {
  if (p == 0.0) return {0.0, 1.0};
  if (q == 0.0) return {1.0, 0.0};
  double start;
  bool solve_x;
  if (guess) {
    solve_x = guess->x <= 0.5;
    start = solve_x ? guess->x : guess->y;
  } else {
    // The power laws of the ends, I_x ~ x^a / (a B) and 1 - I_x ~ y^b / (b B),
    // which hold in the far tails for any shapes.
    const double lnb = betaln(&a, &b);
    const double x_small = std::exp((std::log(p) + std::log(a) + lnb) / a);
    const double y_small = std::exp((std::log(q) + std::log(b) + lnb) / b);
    // Where the power law of the smaller tail underflows, so does the
    // quantile (or its complement): far below 1/b, the other factor is 1.
    if (p <= q && x_small == 0.0) return {0.0, 1.0};
    if (q < p && y_small == 0.0) return {1.0, 0.0};
    if (a > 1.0 && b > 1.0) {
      // Each power law is below its variable (the other factor of the
      // density is below 1 there), so the larger start is the closer one.
      const Complements normal = beta_normal_start(p, q, a, b);
      solve_x = normal.x <= 0.5;
      start = solve_x ? std::fmax(normal.x, p <= q ? x_small : 0.0) : std::fmax(normal.y, q < p ? y_small : 0.0);
      if (!(start <= 0.5)) start = solve_x ? normal.x : normal.y;
    } else {
      solve_x = x_small <= 0.5 && (y_small > 0.5 || p <= q);
      start = solve_x ? x_small : (y_small <= 0.5 ? y_small : b / (a + b));
    }
  }
  // A start that underflowed: the iteration climbs from the least normal.
  start = std::fmax(start, std::numeric_limits<double>::min());
  if (solve_x) {
    const double x = beta_solve(start, a, b, p <= q ? p : q, p <= q);
    return {x, 1.0 - x};
  }
  const double y = beta_solve(start, b, a, q <= p ? q : p, q <= p);
  return {1.0 - y, y};
}

constexpr double cornish_fisher_least_df = 3.0;
constexpr double cornish_fisher_least_tail = 1e-12;

// ---- gamma -----------------------------------------------------------------

// A start for x with P(a, x) = p, Q(a, x) = q.  Lower tail, x small against
// a + 1: P = x^a / Gamma(a + 1) sum_k (-x)^k a / ((a + k) k!) (DLMF 8.7.1),
// whose reversion about the power law x0 = (p Gamma(a + 1))^(1/a) is
// x = x0 e^u, u = t + k2 t^2 + k3 t^3 + k4 t^4 + O(t^5) with t = x0 / (a + 1)
// (for large a, the series of the Lambert function).  Upper tail, x large:
// Q ~ x^a e^-x / (Gamma(a) (x + 1 - a)), the first convergent of the
// continued fraction of Gamma(a, x) (DLMF 8.9.2), two fixed-point steps.  Between:
// the Wilson-Hilferty cube (P(a, x) ~ Phi(z) with
// (x/a)^(1/3) = 1 - 1/(9a) + z / (3 sqrt(a))).
constexpr double power_law_reach = 0.3;
// Below this shape the quantile stays far below 1 up to upper tails of a few
// per cent (x ~ (p Gamma(a + 1))^(1/a)), where the power law of the lower
// tail, from p, is closer than the expansions of the upper tail.  It
// reaches as far as q = a: for small a, Q(a, x) ~ a E1(x) (Gamma(a) ~ 1/a,
// DLMF 8.4.4), and a E1(0.3) < a, so smaller upper tails lie beyond its reach.
constexpr double small_shape = 0.25;

// The start and, where it comes for one exp and to this many ulps, the
// density there (0: unknown).
constexpr double start_density_ulps = 64.0;
struct GammaStart {
  double x;
  double density;
};

// u of the reversion; k2, k3, k4 match the powers of x0 in
// e^(a u) S(x0 e^u) = 1, S the sum of DLMF 8.7.1.
double reversion_series(double a, double t) {
  const double r2 = 1.0 / (a + 2.0), r3 = 1.0 / (a + 3.0), r4 = 1.0 / (a + 4.0);
  const double k2 = (a + 1.5) * r2;
  const double k3 = ((9.0 * a + 34.0) * a + 29.0) * (r2 * r3 / 6.0);
  const double k4 = ((((32.0 * a + 285.0) * a + 905.0) * a + 1212.0) * a + 578.0) * (r2 * r2 * r3 * r4 / 12.0);
  return t * (1.0 + t * (k2 + t * (k3 + t * k4)));
}

GammaStart gamma_start(double p, double q, double a) {
  if (p <= q || (a < small_shape && q >= a)) {
    double ap1 = a + 1.0;
    const double log_p = std::log(p), log_gamma = gamln(&ap1);
    const double x0 = std::exp((log_p + log_gamma) / a);
    const double t = x0 / ap1;
    if (t < power_law_reach) {
      const double u = reversion_series(a, t);
      const double x = x0 * std::exp(u);
      // x^a = p Gamma(a + 1) e^(a u), so the density
      // x^(a-1) e^-x / Gamma(a) = (a/x) p e^(a u - x); but x^a takes the
      // rounding of x a times, and e^(a u) that of ln p and ln Gamma(a + 1).
      const bool density_accurate = 2.0 * a + std::fabs(log_p) + std::fabs(log_gamma) <= start_density_ulps;
      return {x, density_accurate ? (a / x) * p * std::exp(a * u - x) : 0.0};
    }
  }
  // Small shapes left here lie in the upper tail beyond the power law's
  // reach, where the cube is far off and the upper expansion holds.
  const bool small_upper = q < p && a < small_shape;
  double z = 0.0, base = 0.0;
  if (!small_upper) {
    z = normal_quantile(p, q);
    const double c = 1.0 / (9.0 * a);
    base = 1.0 - c + z * std::sqrt(c);
  }
  if (small_upper || (q < p && (base <= 0.0 || z > std::sqrt(a) + 3.0))) {
    // The steps contract by a/x: from the cube, where there is one (above
    // the root, x > a), rather than from w, far below it for large a.
    const double w = -std::log(q) - gamln(&a);
    double x = base > 0.0 ? a * base * base * base : std::fmax(w, 1.0);
    for (int i = 0; i < 2; ++i) x = w + a * std::log(x) - std::log(std::fmax(x + 1.0 - a, 1.0));
    if (x > 0.0) return {x, 0.0};
  }
  return {base > 0.0 ? a * base * base * base : a, 0.0};
}

// The rest of the way from a point x where the tails and the density f are
// known: the h whose interval [x, x + h] holds the (signed) mass, from the
// Taylor series of the density about x, f(x + s) = f sum_k c_k s^k.  As
// x f' = (a - 1 - x) f, c_0 = 1 and (k + 1) x c_(k+1) = (a - 1 - k - x) c_k - c_(k-1).
// With v = mass / f and e_k = c_k v^k, r = h / v solves
// G(r) = sum_k e_k r^(k+1) / (k + 1) = 1, by Newton steps from the
// reversion of G to second order, 1 - e_1/2 + e_1^2/2 - e_2/3.
// Taken only where the series settles within its terms (the first omitted
// one below a quarter ulp, the one before it small too) and the step lies
// well inside the radius x; NaN otherwise.  An error d in f moves x + h by
// d h, below d / 256 of x: a density good to some 64 ulps costs a quarter.
constexpr double local_reach = 0x1p-8;
constexpr int local_terms = 16;
constexpr double local_truncation = 0x1p-56;
constexpr double local_last_term = 0x1p-40;
// Newton's next correction is about G''/(2 G') times the square of this one,
// and |G''/(2 G')| < 1 wherever the terms settle: one this small is the last.
constexpr double local_settled = 0x1p-28;
constexpr int local_newton_steps = 4;

constexpr std::array<double, local_terms + 1> reciprocals = [] {
  std::array<double, local_terms + 1> r{};
  for (int k = 1; k <= local_terms; ++k) r[k] = 1.0 / k;
  return r;
}();

double local_step(double a, double x, double density, double mass) {
  const double v = mass / density;
  if (!(density >= std::numeric_limits<double>::min() && std::fabs(v) <= local_reach * x)) return kNaN;
  const double s = v / x, vs = v * s;
  // e_n = beta_n e_(n-1) - gamma_n e_(n-2), the factors off the chain.
  std::array<double, local_terms> e{};
  e[0] = 1.0;
  e[1] = (a - 1.0 - x) * s;
  int n = 2;
  for (; n < local_terms; ++n) {
    const double beta = (a - n - x) * s * reciprocals[n], gamma = vs * reciprocals[n];
    const double next = beta * e[n - 1] - gamma * e[n - 2];
    if (std::fabs(next) <= local_truncation && std::fabs(e[n - 1]) <= local_last_term) break;
    e[n] = next;
  }
  if (n == local_terms) return kNaN;
  // The reversion of G to second order starts Newton's steps.
  double r = 1.0 - 0.5 * e[1] + (0.5 * e[1] * e[1] - e[2] / 3.0);
  for (int i = 0; i < local_newton_steps; ++i) {
    double g = e[n - 1] * reciprocals[n], dg = e[n - 1];
    for (int k = n - 1; k-- > 0;) {
      g = g * r + e[k] * reciprocals[k + 1];
      dg = dg * r + e[k];
    }
    const double correction = (g * r - 1.0) / dg;
    r -= correction;
    if (std::fabs(correction) <= local_settled) return v * r;
  }
  return kNaN;
}

// The density moves from point to point by its ratio while the terms of the
// ratio's exponent stay below this size: each move then rounds it by at most
// a few ulps, which leaves it good enough for the local step above.
constexpr double density_ratio_reach = 4.0;

// x with P(a, x) = p, Q(a, x) = q by Halley steps in ln x from gamma_start,
// each evaluation finishing the solve by the local step where it can; for
// a = 1 (the exponential law, P = 1 - e^-x) in closed form from the smaller
// tail.
double gamma_quantile(double p, double q, double a) {
  if (p == 0.0) return 0.0;
  const bool lower = p <= q;
  if (a == 1.0) return lower ? -std::log1p(-p) : -std::log(q);
  const GammaStart start = gamma_start(p, q, a);
  double x = start.x;
  // The power law underflowed: so does the quantile.
  if (lower && x == 0.0) return 0.0;
  if (!(x > 0.0 && std::isfinite(x))) x = std::fmax(x, std::numeric_limits<double>::min());
  // The density x^(a-1) e^-x / Gamma(a) from the start or from rcomp at the
  // first point, then by its ratio (t/k)^(a-1) e^(k-t) from the last point k:
  // a log and an exp instead of the gamma function again.
  const bool start_density = x == start.x && start.density > 0.0 && std::isfinite(start.density);
  double known_x = x, known_density = start_density ? start.density : 0.0;
  return halley(x, 0.0, infinity, lower ? p : q, lower, true, [&](double t) {
    double aa = a, xx = t, cum, ccum;
    int ind = 0;
    gratio(&aa, &xx, &cum, &ccum, &ind);
    if (cum > 1.5) return TailPoint{kNaN, 0.0, 0.0};
    // rcomp gives the density afresh where the ratio would come from an
    // unknown or subnormal density, would take an exponent whose terms round
    // to more than a few ulps, or would leave the normal range.
    double density = known_density >= std::numeric_limits<double>::min() ? known_density : 0.0;
    if (t != known_x) {
      const double power = (a - 1.0) * log1p_near_zero((t - known_x) / known_x), shift = t - known_x;
      density = std::fabs(power) + std::fabs(shift) <= density_ratio_reach ? density * exp_near_zero(power - shift) : 0.0;
    }
    if (!(density >= std::numeric_limits<double>::min() && density < infinity)) density = rcomp(&aa, &xx) / t;
    known_x = t;
    known_density = density;
    const double curvature = (a - 1.0) / t - 1.0;
    const double root = t + local_step(a, t, density, lower ? p - cum : ccum - q);
    return lower ? TailPoint{cum, density, curvature, root} : TailPoint{ccum, -density, curvature, root};
  });
}

// A positive quantile beyond the searchable range of the front end is
// reported at that limit with status 2.
int report_positive(double value, double *output) {
  if (std::isnan(value)) {
    *output = kNaN;
    return status_evaluation_failed;
  }
  if (value > largest_parameter) {
    *output = largest_parameter;
    return status_at_upper_limit;
  }
  *output = value;
  return status_success;
}

// ---- discrete and noncentral laws --------------------------------------------

// A secant search on [lower, upper] (the lower tail increasing in the count
// when cum_increases) to a relative tolerance, reported as the front end reports its
// search: status 1 or 2 with the output at the limit passed.
// Reports a secant search as the front end reports its search: status 1 or 2
// with the output at the limit passed.
int report_search_result(const SecantResult &r, double *output) {
  if (std::isnan(r.s)) {
    *output = kNaN;
    return status_evaluation_failed;
  }
  *output = r.s;
  return r.limit == 0 ? status_success : (r.limit == 1 ? status_at_lower_limit : status_at_upper_limit);
}

// The noncentral searches: their first step in ln x, the relative step in
// ln x that ends them (their sums stop at a relative term size of 1e-5 or
// 1e-4, far above it), and their range in ln x.
constexpr double noncentral_first_step = 0.01;
constexpr double noncentral_tolerance = 1e-13;
// At a root the tail solved for matches its target to about the tails'
// accuracy; a larger ln(tail/target) marks an end on a jump.
constexpr double noncentral_root_mismatch = 1e-8;
constexpr double log_smallest_normal = -708.3964185322641;
constexpr double log_largest_parameter = 690.7755278982137;

// A secant search for a count on [lower, upper], the lower tail increasing
// with it when cum_increases, to full precision.
template <typename Tails>
int solve_count(double p, double q, double start, double spread, double lower, double upper, bool cum_increases,
                double *s, Tails &&tails) {
  const bool use_lower = p <= q;
  const double target = use_lower ? p : q;
  auto g = [&](double value) {
    double cum, ccum;
    tails(value, &cum, &ccum);
    return log_ratio(use_lower ? cum : ccum, target);
  };
  start = std::fmin(std::fmax(start, lower), upper);
  return report_search_result(
      secant(start, start + spread, lower, upper, use_lower == cum_increases, full_precision, g), s);
}

// The search of a noncentral law for the x > 0 with cum(x) = p, in ln x, on
// the smaller of the tails p and q: the lower tail is a power of x near 0, so
// ln(cum) is straight in ln x there, and ln(ccum) falls ever more steeply but
// smoothly towards the upper end.
template <typename Tails>
int solve_noncentral(double p, double q, double start, double *x, Tails &&tails) {
  const bool use_lower = p <= q;
  const double target = use_lower ? p : q;
  auto g = [&](double u) {
    double cum, ccum;
    tails(std::exp(u), &cum, &ccum);
    return log_ratio(use_lower ? cum : ccum, target);
  };
  const double u = std::log(start > 0.0 && std::isfinite(start) ? start : 1.0);
  const SecantResult r = secant(u, u + noncentral_first_step, log_smallest_normal, log_largest_parameter, use_lower,
                                noncentral_tolerance, g);
  const int status = report_search_result(r, x);
  if (status == status_success) {
    // Where the ratios beneath cannot resolve the law (shapes beyond 1e280,
    // whose spread lies below the doubles' spacing, give tails of only 0 and
    // 1), the search ends on a jump instead of a root: then the evaluation
    // failed.
    if (!(std::fabs(g(r.s)) <= noncentral_root_mismatch)) {
      *x = kNaN;
      return status_evaluation_failed;
    }
    *x = std::exp(r.s);
  }
  if (status == status_at_lower_limit) *x = 0.0;
  if (status == status_at_upper_limit) *x = largest_parameter;
  return status;
}

// Beyond a Poisson mean of 2^36 the noncentral mixtures give NaN (but at
// the ends of their range): no search can use them.
bool beyond_the_mixtures(double pnonc) { return 0.5 * pnonc > distfn::largest_poisson_mean; }
int evaluation_failed(double *output) {
  *output = kNaN;
  return status_evaluation_failed;
}

// The Cornish-Fisher start of a discrete count with mean mu, deviation sigma
// and skewness gamma, less the half unit by which the continuous count lags.
double cornish_fisher_count(double p, double q, double mu, double sigma, double gamma) {
  const double z = normal_quantile(p, q);
  return mu + sigma * (z + gamma * (z * z - 1.0) / 6.0) - 0.5;
}

// A degenerate law (all its mass at the lower end of the count) has no root
// inside: the count stops at its lower limit.
int at_lower_limit(double *s) {
  *s = 0.0;
  return status_at_lower_limit;
}

// Patnaik's approximation of a noncentral law by a scaled central one with
// the same first two moments: the scale and the central degrees of freedom.
struct Patnaik {
  double scale;
  double df;
};
Patnaik patnaik(double df, double pnonc) {
  return {(df + 2.0 * pnonc) / (df + pnonc), (df + pnonc) * (df + pnonc) / (df + 2.0 * pnonc)};
}

// |t| given the tail pair: closed forms for df = 1 (the Cauchy law,
// |t| = cot(pi tail)) and df = 2 (F(t) = 1/2 + t / (2 sqrt(2 + t^2)), so
// |t| = |q - p| / sqrt(2 p q)); otherwise through the beta ratio:
// P[T <= -|t|] = I_z(df/2, 1/2) / 2 with z = df / (df + t^2) (DLMF 8.17.8).
double t_magnitude(double p, double q, double df, double tail) {
  if (df == 1.0) return 1.0 / std::tan(pi * tail);
  if (df == 2.0) return std::fabs(q - p) / std::sqrt(2.0 * p * q);
  // The Cornish-Fisher quantile starts the search where it is close: for
  // df >= 3 outside the far tails.
  const double t0 = distfn::cornish_fisher_t(std::fabs(normal_quantile(p, q)), df);
  const Complements guess{df / (df + t0 * t0), t0 * t0 / (df + t0 * t0)};
  const bool use_guess = df >= cornish_fisher_least_df && tail >= cornish_fisher_least_tail && std::isfinite(t0);
  const Complements c = beta_quantile(2.0 * tail, std::fabs(q - p), 0.5 * df, 0.5, use_guess ? &guess : nullptr);
  return std::sqrt(df * (c.y / c.x));
}

}  // namespace

extern "C" {

int invnor(double p, double q, double mean, double sd, double *x) {
  const ArgumentRule rules[] = {nonzero_probability(2, &p, true), nonzero_probability(3, &q, true),
                                any_real(5, &mean, true), positive(6, &sd, true)};
  if (const int status = reject(rules, true, p, q, x)) return status;
  *x = p == q ? mean : mean + sd * normal_quantile(p, q);
  return status_success;
}

int invbet(double p, double q, double a, double b, double *x, double *y) {
  const ArgumentRule rules[] = {probability(2, &p, true), probability(3, &q, true), positive(6, &a, true),
                                positive(7, &b, true)};
  if (const int status = reject(rules, true, p, q, x)) {
    *y = kNaN;
    return status;
  }
  const Complements c = beta_quantile(p, q, a, b);
  *x = c.x;
  *y = c.y;
  return std::isnan(c.x) ? status_evaluation_failed : status_success;
}

int invt(double p, double q, double df, double *t) {
  const ArgumentRule rules[] = {nonzero_probability(2, &p, true), nonzero_probability(3, &q, true),
                                positive(5, &df, true)};
  if (const int status = reject(rules, true, p, q, t)) return status;
  const bool lower = p <= q;
  const double tail = lower ? p : q;
  if (tail == 0.5) {
    *t = 0.0;
    return status_success;
  }
  const int status = report_positive(t_magnitude(p, q, df, tail), t);
  if (lower) *t = -*t;
  return status == status_at_upper_limit && lower ? status_at_lower_limit : status;
}

int invf(double p, double q, double dfn, double dfd, double *f) {
  const ArgumentRule rules[] = {probability(2, &p, true), nonzero_probability(3, &q, true), positive(5, &dfn, true),
                                positive(6, &dfd, true)};
  if (const int status = reject(rules, true, p, q, f)) return status;
  // F = (dfd / dfn) x / (1 - x) with I_x(dfn/2, dfd/2) = p.
  const Complements c = beta_quantile(p, q, 0.5 * dfn, 0.5 * dfd);
  return report_positive((c.x / c.y) * (dfd / dfn), f);
}

int invgam(double p, double q, double shape, double scale, double *x) {
  const ArgumentRule rules[] = {probability(2, &p, true), nonzero_probability(3, &q, true), positive(5, &shape, true),
                                positive(6, &scale, true)};
  if (const int status = reject(rules, true, p, q, x)) return status;
  // The front end evaluates P(shape, x scale): scale is a rate.
  return report_positive(gamma_quantile(p, q, shape) / scale, x);
}

int invchi(double p, double q, double df, double *x) {
  const ArgumentRule rules[] = {probability(2, &p, true), nonzero_probability(3, &q, true), positive(5, &df, true)};
  if (const int status = reject(rules, true, p, q, x)) return status;
  return report_positive(2.0 * gamma_quantile(p, q, 0.5 * df), x);
}

int invpoi(double p, double q, double xlam, double *s) {
  const ArgumentRule rules[] = {probability(2, &p, true), nonzero_probability(3, &q, true),
                                non_negative(5, &xlam, true)};
  if (const int status = reject(rules, true, p, q, s)) return status;
  if (xlam == 0.0) return at_lower_limit(s);
  const double sigma = std::sqrt(xlam);
  const double start = cornish_fisher_count(p, q, xlam, sigma, 1.0 / sigma);
  return solve_count(p, q, start, 0.1 * sigma + 0.5, 0.0, largest_parameter, true, s,
                     [xlam](double value, double *cum, double *ccum) {
                       double ss = value, lam = xlam;
                       cumpoi(&ss, &lam, cum, ccum);
                     });
}

int invbin(double p, double q, double xn, double pr, double ompr, double *s) {
  const ArgumentRule rules[] = {probability(2, &p, true), probability(3, &q, true), positive(5, &xn, true),
                                probability(6, &pr, true), probability(7, &ompr, true)};
  if (const int status = reject_with_complement_pair(rules, p, q, pr, ompr, s)) return status;
  if (pr == 0.0) return at_lower_limit(s);
  if (q == 0.0 || ompr == 0.0) {
    // Every count below xn leaves mass above it.
    *s = xn;
    return status_success;
  }
  const double sigma = std::sqrt(xn * pr * ompr);
  const double start = cornish_fisher_count(p, q, xn * pr, sigma, (ompr - pr) / sigma);
  return solve_count(p, q, start, 0.1 * sigma + 0.5, 0.0, xn, true, s,
                     [xn, pr, ompr](double value, double *cum, double *ccum) {
                       double ss = value, n = xn, r = pr, o = ompr;
                       cumbin(&ss, &n, &r, &o, cum, ccum);
                     });
}

int invnbn(double p, double q, double xn, double pr, double ompr, double *s) {
  const ArgumentRule rules[] = {probability(2, &p, true), nonzero_probability(3, &q, true), non_negative(5, &xn, true),
                                probability(6, &pr, true), probability(7, &ompr, true)};
  if (const int status = reject_with_complement_pair(rules, p, q, pr, ompr, s)) return status;
  if (xn == 0.0 || ompr == 0.0) return at_lower_limit(s);
  if (pr == 0.0) {
    *s = largest_parameter;
    return status_at_upper_limit;
  }
  const double sigma = std::sqrt(xn * ompr) / pr;
  const double start = cornish_fisher_count(p, q, xn * ompr / pr, sigma, (2.0 - pr) / std::sqrt(xn * ompr));
  return solve_count(p, q, start, 0.1 * sigma + 0.5, 0.0, largest_parameter, true, s,
                     [xn, pr, ompr](double value, double *cum, double *ccum) {
                       double ss = value, n = xn, r = pr, o = ompr;
                       cumnbn(&ss, &n, &r, &o, cum, ccum);
                     });
}

int invchn(double p, double q, double df, double pnonc, double *x) {
  const ArgumentRule rules[] = {probability(2, &p, true), nonzero_probability(3, &q, true), positive(5, &df, true),
                                non_negative(6, &pnonc, true)};
  if (const int status = reject(rules, true, p, q, x)) return status;
  if (p == 0.0) {
    *x = 0.0;
    return status_success;
  }
  if (beyond_the_mixtures(pnonc)) return evaluation_failed(x);
  const Patnaik approx = patnaik(df, pnonc);
  const double start = approx.scale * 2.0 * gamma_quantile(p, q, 0.5 * approx.df);
  return solve_noncentral(p, q, start, x, [df, pnonc](double value, double *cum, double *ccum) {
    double xx = value, d = df, nc = pnonc, bound;
    int status;
    cumchnb(&xx, &d, &nc, cum, ccum, &status, &bound);
  });
}

int invfnc(double p, double q, double dfn, double dfd, double pnonc, double *f) {
  const ArgumentRule rules[] = {probability(2, &p, true), nonzero_probability(3, &q, true), positive(5, &dfn, true),
                                positive(6, &dfd, true), non_negative(7, &pnonc, true)};
  if (const int status = reject(rules, true, p, q, f)) return status;
  if (p == 0.0) {
    *f = 0.0;
    return status_success;
  }
  if (beyond_the_mixtures(pnonc)) return evaluation_failed(f);
  const Patnaik approx = patnaik(dfn, pnonc);
  const Complements c = beta_quantile(p, q, 0.5 * approx.df, 0.5 * dfd);
  // F = (chi2_dfn / dfn) / (chi2_dfd / dfd) with chi2_dfn ~ scale chi2_df.
  const double start = approx.scale * (c.x / c.y) * (dfd / dfn);
  return solve_noncentral(p, q, start, f, [dfn, dfd, pnonc](double value, double *cum, double *ccum) {
    double ff = value, n = dfn, d = dfd, nc = pnonc, bound;
    int status;
    cumfncb(&ff, &n, &d, &nc, cum, ccum, &status, &bound);
  });
}

}  // extern "C"
