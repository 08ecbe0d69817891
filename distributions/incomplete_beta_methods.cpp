// The series and continued-fraction methods of the incomplete beta ratio
// I_x(a, b) and the factor x^a y^b / B(a, b) that they share.

#include <algorithm>
#include <cmath>
#include <limits>

#include "distfn.h"
#include "distfn_internal.hpp"

using distfn::by_value;
using distfn::convergence_step_limit;
using distfn::whole_part;

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// 1/sqrt(2 pi): the normalisation of the uniform asymptotic form of
// x^a y^b / B(a, b) for both parameters at least 8.
constexpr double inv_sqrt_2pi = 0.398942280401433;
// Euler's constant, psi(1) = -0.5772...: the leading term of apser.
constexpr double euler_gamma = 0.577215664901533;

// Both parameters at least this large: x^a y^b / B(a, b) from its uniform
// asymptotic form (DLMF 8.18) with Stirling's correction bcorr.
constexpr double large_parameter = 8.0;
// Logarithm arguments below this go through ln(1 + t) for the complement.
constexpr double log1p_threshold = 0.375;
// rlog1 is accurate for |e| up to this bound; beyond it the direct logarithm
// loses nothing.
constexpr double rlog1_threshold = 0.6;
// apser uses psi(b) while b eps is at most this; above it psi(b) ~ ln b.
constexpr double apser_psi_threshold = 0.02;
// The thin-shift condition of bup: the largest term can be far above 1 only
// when a + b is well above a + 1.
constexpr double bup_growth_ratio = 1.1;
// In bup, a y at most this counts as y = 0 for locating the largest term.
constexpr double bup_small_y = 1e-4;

// 1/Gamma(1 + t) for 0 < t <= 2, formed through gam1 without cancellation.
double reciprocal_gamma_1p(double t) {
  if (t > 1.0) return (1.0 + by_value<gam1>(t - 1.0)) / t;
  return 1.0 + by_value<gam1>(t);
}

// 1/B(a, b) = a0 exp(-log_divisor) factor for min(a, b) = a0 < 1, split so
// that the logarithm can join the exponent of x^a y^b and nothing overflows.
struct InverseBetaSplit {
  double log_divisor;
  double factor;
};

InverseBetaSplit split_inverse_beta(double a, double b) {
  const double a0 = std::min(a, b);
  double b0 = std::max(a, b);
  if (b0 >= large_parameter) {
    // a0 B(a0, b0) = Gamma(1 + a0) Gamma(b0) / Gamma(a0 + b0).
    return {by_value<gamln1>(a0) + by_value<algdiv>(a0, b0), 1.0};
  }
  if (b0 > 1.0) {
    // Reduce b0 into (0, 1] by the recurrence B(a, b) = B(a, b - 1) (b - 1)/(a + b - 1).
    double log_divisor = by_value<gamln1>(a0);
    const int steps = whole_part(b0 - 1.0);
    if (steps >= 1) {
      double ratio = 1.0;
      for (int i = 0; i < steps; ++i) {
        b0 -= 1.0;
        ratio *= b0 / (a0 + b0);
      }
      log_divisor += std::log(ratio);
    }
    b0 -= 1.0;
    return {log_divisor, (1.0 + by_value<gam1>(b0)) / reciprocal_gamma_1p(a0 + b0)};
  }
  // Both at most 1: 1/B(a, b) = (a b/(a + b)) Gamma(1 + a + b)/(Gamma(1 + a) Gamma(1 + b)).
  const double gamma_ratio = (1.0 + by_value<gam1>(a)) * (1.0 + by_value<gam1>(b)) /
                             reciprocal_gamma_1p(a + b);
  return {0.0, gamma_ratio / (1.0 + a0 / b0)};
}

// x^a y^b / B(a, b) with the exponential taken by `exp_of` (exp itself, or
// exp(mu + .) for the scaled form).
template <typename ExpOf>
double beta_power_factor(double a, double b, double x, double y, ExpOf exp_of) {
  const double a0 = std::min(a, b);
  if (a0 >= large_parameter) {
    // Expand about the mode x0 = a/(a + b) in lambda = a - (a + b) x.
    double h, x0, y0, lambda;
    if (a > b) {
      h = b / a;
      x0 = 1.0 / (1.0 + h);
      y0 = h / (1.0 + h);
      lambda = (a + b) * y - b;
    } else {
      h = a / b;
      x0 = h / (1.0 + h);
      y0 = 1.0 / (1.0 + h);
      lambda = a - (a + b) * x;
    }
    double e = -(lambda / a);
    const double u = std::fabs(e) > rlog1_threshold ? e - std::log(x / x0) : by_value<rlog1>(e);
    e = lambda / b;
    const double v = std::fabs(e) > rlog1_threshold ? e - std::log(y / y0) : by_value<rlog1>(e);
    // Stirling's correction joins the exponent: one exponential instead of two.
    return inv_sqrt_2pi * std::sqrt(b * x0) * exp_of(-(a * u + b * v) - by_value<bcorr>(a, b));
  }

  double lnx, lny;
  if (x <= log1p_threshold) {
    lnx = std::log(x);
    lny = by_value<alnrel>(-x);
  } else if (y <= log1p_threshold) {
    lnx = by_value<alnrel>(-y);
    lny = std::log(y);
  } else {
    lnx = std::log(x);
    lny = std::log(y);
  }
  const double z = a * lnx + b * lny;
  if (a0 >= 1.0) return exp_of(z - by_value<betaln>(a, b));

  const InverseBetaSplit split = split_inverse_beta(a, b);
  return a0 * exp_of(z - split.log_divisor) * split.factor;
}

}  // namespace

extern "C" {

double brcomp(double *a, double *b, double *x, double *y) {
  if (*x == 0.0 || *y == 0.0) return 0.0;
  return beta_power_factor(*a, *b, *x, *y, [](double z) { return std::exp(z); });
}

double brcmp1(int *mu, double *a, double *b, double *x, double *y) {
  const int scale = *mu;
  return beta_power_factor(*a, *b, *x, *y, [scale](double z) { return by_value<esum>(scale, z); });
}

double bpser(double *a_in, double *b_in, double *x_in, double *eps_in) {
  const double a = *a_in, b = *b_in, x = *x_in, eps = *eps_in;
  if (x == 0.0) return 0.0;

  // The leading factor x^a / (a B(a, b)).
  double result;
  if (std::min(a, b) >= 1.0) {
    result = std::exp(a * std::log(x) - by_value<betaln>(a, b)) / a;
  } else {
    const InverseBetaSplit split = split_inverse_beta(a, b);
    const double power = split.log_divisor == 0.0 ? std::pow(x, a)
                                                  : std::exp(a * std::log(x) - split.log_divisor);
    result = (std::min(a, b) / a) * power * split.factor;
  }
  if (result == 0.0 || a <= 0.1 * eps) return result;

  // I_x(a, b) = x^a/(a B) (1 + a sum_n (1 - b)_n x^n / (n! (a + n))), DLMF 8.17.7.
  const double tol = eps / a;
  double sum = 0.0;
  double c = 1.0;
  for (int n = 1;; ++n) {
    if (n > convergence_step_limit) return not_a_number;
    c *= (0.5 + (0.5 - b / n)) * x;
    const double term = c / (a + n);
    sum += term;
    if (std::fabs(term) <= tol) break;
  }
  return result * (1.0 + a * sum);
}

double bup(double *a_in, double *b_in, double *x_in, double *y_in, int *n_in, double *eps_in) {
  const double a = *a_in, b = *b_in, x = *x_in, y = *y_in, eps = *eps_in;
  const int n = *n_in;
  const double apb = a + b;
  const double ap1 = a + 1.0;

  // The terms may grow far above the first, which may then underflow although
  // the sum does not: carry the first as exp(mu) times itself, exp(-mu) in
  // the sum.  The first term is at most 1, so exp(mu) cannot make it overflow;
  // the terms grow for a below 1 just as for a above.
  int mu = 0;
  double d = 1.0;
  if (n != 1 && apb >= bup_growth_ratio * ap1) {
    mu = static_cast<int>(std::fabs(by_value<exparg>(1)));
    mu = std::min(mu, static_cast<int>(by_value<exparg>(0)));
    d = std::exp(-static_cast<double>(mu));
  }
  double result = by_value<brcmp1>(mu, a, b, x, y) / a;
  if (n == 1 || result == 0.0) return result;

  // I_x(a, b) - I_x(a + n, b) = x^a y^b/(a B(a, b)) sum_{i<n} (a + b)_i/(a + 1)_i x^i.
  // The terms rise up to index k and fall after it: add all rising terms,
  // then the falling ones until they no longer count.
  const int nm1 = n - 1;
  int k = 0;
  if (b > 1.0) {
    if (y <= bup_small_y) {
      k = nm1;
    } else {
      const double r = (b - 1.0) * x / y - a;
      if (r >= 1.0) k = r >= nm1 ? nm1 : static_cast<int>(r);
    }
  }
  double w = d;
  for (int i = 1; i <= k; ++i) {
    d *= ((apb + (i - 1)) / (ap1 + (i - 1))) * x;
    w += d;
  }
  for (int i = k + 1; i <= nm1; ++i) {
    d *= ((apb + (i - 1)) / (ap1 + (i - 1))) * x;
    w += d;
    if (d <= eps * w) break;
  }
  return result * w;
}

double bfrac(double *a_in, double *b_in, double *x_in, double *y_in, double *lambda_in,
             double *eps_in) {
  const double a = *a_in, b = *b_in, x = *x_in, y = *y_in, lambda = *lambda_in, eps = *eps_in;
  const double result = by_value<brcomp>(a, b, x, y);
  if (result == 0.0) return 0.0;

  // The continued fraction of DLMF 8.17.22 in its even contraction, its
  // convergents renormalised each step so that they stay in range.  The
  // loop divides by a, s and the new denominator through their reciprocals,
  // each formed once: divisions dominate its cost.
  const double inv_a = 1.0 / a;
  const double c = 1.0 + lambda;
  const double c0 = b * inv_a;
  const double c1 = 1.0 + inv_a;
  const double yp1 = y + 1.0;
  double p = 1.0;
  double s = a + 1.0;
  double an = 0.0, bn = 1.0, anp1 = 1.0, bnp1 = c / c1;
  double r = c1 / c;
  double inv_s = 1.0 / s;
  for (int n = 1;; ++n) {
    if (n > convergence_step_limit) return not_a_number;
    const double t = n * inv_a;
    const double v = n * (b - n) * x;
    const double e = a * inv_s;
    const double alpha = p * (p + c0) * e * e * (v * x);
    s += 2.0;
    // (1 + t)/(c1 + 2t) = (a + n)/(a + 1 + 2n), and a + 1 + 2n is the next s.
    const double inv_next_s = 1.0 / s;
    const double beta = n + v * inv_s + (a + n) * inv_next_s * (c + n * yp1);
    p = 1.0 + t;
    inv_s = inv_next_s;

    const double next_a = alpha * an + beta * anp1;
    an = anp1;
    anp1 = next_a;
    const double next_b = alpha * bn + beta * bnp1;
    bn = bnp1;
    bnp1 = next_b;

    const double r0 = r;
    const double inv_bnp1 = 1.0 / bnp1;
    r = anp1 * inv_bnp1;
    if (std::fabs(r - r0) <= eps * r) break;
    an *= inv_bnp1;
    bn *= inv_bnp1;
    anp1 = r;
    bnp1 = 1.0;
  }
  return result * r;
}

double apser(double *a_in, double *b_in, double *x_in, double *eps_in) {
  const double a = *a_in, b = *b_in, x = *x_in, eps = *eps_in;
  // For a -> 0: I_(1-x)(b, a) = -a (ln x + psi(b) + gamma + sum_j t_j/j) + O(a^2).
  const double bx = b * x;
  double t = x - bx;
  const double c = b * eps <= apser_psi_threshold
                       ? std::log(x) + by_value<psi>(b) + euler_gamma + t
                       : std::log(bx) + euler_gamma + t;
  const double tol = 5.0 * eps * std::fabs(c);
  double s = 0.0;
  for (int j = 2;; ++j) {
    if (j > convergence_step_limit) return not_a_number;
    t *= x - bx / j;
    const double aj = t / j;
    s += aj;
    if (!(std::fabs(aj) > tol)) break;
  }
  return -(a * (c + s));
}

double fpser(double *a_in, double *b_in, double *x_in, double *eps_in) {
  const double a = *a_in, b = *b_in, x = *x_in, eps = *eps_in;
  double result = 1.0;
  if (a > 1e-3 * eps) {
    const double t = a * std::log(x);
    if (t < by_value<exparg>(1)) return 0.0;
    result = std::exp(t);
  }
  // For b -> 0, 1/B(a, b) = b + O(b^2): I_x(a, b) = b x^a/a (1 + a sum_j x^j/(a + j)).
  result *= b / a;
  const double tol = eps / a;
  double an = a + 1.0;
  double t = x;
  double s = t / an;
  for (int j = 2;; ++j) {
    if (j > convergence_step_limit) return not_a_number;
    an += 1.0;
    t *= x;
    const double c = t / an;
    s += c;
    if (!(std::fabs(c) > tol)) break;
  }
  return result * (1.0 + a * s);
}

}  // extern "C"
