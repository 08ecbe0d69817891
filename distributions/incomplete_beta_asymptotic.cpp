// Asymptotic expansions of the incomplete beta ratio I_x(a, b): one large
// parameter (bgrat, built on the incomplete gamma ratio of grat1) and two
// large parameters (basym).

#include <array>
#include <cmath>
#include <limits>

#include "distfn.h"
#include "distfn_internal.hpp"

using distfn::by_value;
using distfn::convergence_step_limit;

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// Most terms of bgrat's expansion in powers of 1/nu.
constexpr int bgrat_terms = 30;
// Below this y, ln x is taken as ln(1 - y).
constexpr double log1p_threshold = 0.375;

// grat1: the Taylor series of P(a, x)/x^a below this x, the continued
// fraction of Q(a, x) from it on.
constexpr double grat1_series_limit = 1.1;
// Below this x (and ln x^a at most the bound below) P is formed directly from
// x^a; otherwise Q = 1 - P is formed through exp(z) - 1 without cancellation.
constexpr double grat1_small_x = 0.25;
constexpr double grat1_direct_log_bound = -0.13394;
constexpr double grat1_direct_ratio = 2.59;

// basym: 2/sqrt(pi), 2^(-3/2) and 0.5/(2/sqrt(pi)), the constants of the
// error-function form of the expansion (DLMF 8.18.9).
constexpr double two_over_sqrt_pi = 1.12837916709551;
constexpr double two_pow_minus_three_halves = 0.353553390593274;
constexpr double half_over_two_over_sqrt_pi = 0.4431134627263801;
// Largest even order of the expansion; the coefficient arrays hold one more.
constexpr int basym_order = 20;
using BasymCoefficients = std::array<double, basym_order + 1>;

// P(a, x)/x^a - 1/Gamma(a + 1) expressed as j, for x < 1.1 (DLMF 8.7.1):
// the alternating series is summed from its fourth term to tolerance.
bool gamma_series_remainder(double a, double x, double eps, double *j) {
  double an = 3.0;
  double c = x;
  double sum = x / (a + 3.0);
  const double tol = 0.1 * eps / (a + 1.0);
  for (int n = 0;; ++n) {
    if (n > convergence_step_limit) return false;
    an += 1.0;
    c = -(c * (x / an));
    const double t = c / (a + an);
    sum += t;
    if (!(std::fabs(t) > tol)) break;
  }
  *j = a * x * ((sum / 6.0 - 0.5 / (a + 2.0)) * x + 1.0 / (a + 1.0));
  return true;
}

// The continued fraction of Q(a, x) exp(x) x^-a Gamma(a) (DLMF 8.9.2) for
// x >= 1.1; NaN when it does not settle.
double gamma_continued_fraction(double a, double x, double eps) {
  double a2nm1 = 1.0, a2n = 1.0;
  double b2nm1 = x, b2n = x + (1.0 - a);
  double c = 1.0;
  double an0;
  for (int n = 0;; ++n) {
    if (n > convergence_step_limit) return not_a_number;
    a2nm1 = x * a2n + c * a2nm1;
    b2nm1 = x * b2n + c * b2nm1;
    const double am0 = a2nm1 / b2nm1;
    c += 1.0;
    const double cma = c - a;
    a2n = a2nm1 + cma * a2n;
    b2n = b2nm1 + cma * b2n;
    an0 = a2n / b2n;
    if (!(std::fabs(an0 - am0) >= eps * an0)) break;
  }
  return an0;
}

// Fills b0[0..i-1], the coefficients of the i-th power of the series whose
// coefficients are a0, then c[i-1] and d[i-1] of basym's expansion.
void basym_coefficients(int i, const BasymCoefficients &a0, BasymCoefficients &b0,
                        BasymCoefficients &c, BasymCoefficients &d) {
  const double r = -(0.5 * (i + 1));
  b0[0] = r * a0[0];
  for (int m = 2; m <= i; ++m) {
    double bsum = 0.0;
    for (int j = 1; j <= m - 1; ++j) bsum += (j * r - (m - j)) * a0[j - 1] * b0[m - j - 1];
    b0[m - 1] = r * a0[m - 1] + bsum / m;
  }
  c[i - 1] = b0[i - 1] / (i + 1.0);
  double dsum = 0.0;
  for (int j = 1; j <= i - 1; ++j) dsum += d[i - j - 1] * c[j - 1];
  d[i - 1] = -(dsum + c[i - 1]);
}

}  // namespace

extern "C" {

void grat1(double *a_in, double *x_in, double *r_in, double *p, double *q, double *eps_in) {
  const double a = *a_in, x = *x_in, r = *r_in, eps = *eps_in;
  if (a * x == 0.0) {
    if (x <= a) {
      *p = 0.0;
      *q = 1.0;
    } else {
      *p = 1.0;
      *q = 0.0;
    }
    return;
  }
  if (a == 0.5) {
    // P(1/2, x) = erf(sqrt(x)).
    if (x < grat1_small_x) {
      *p = by_value<erf1>(std::sqrt(x));
      *q = 0.5 + (0.5 - *p);
    } else {
      *q = by_value<erfc1>(0, std::sqrt(x));
      *p = 0.5 + (0.5 - *q);
    }
    return;
  }
  if (x >= grat1_series_limit) {
    *q = r * gamma_continued_fraction(a, x, eps);
    *p = 0.5 + (0.5 - *q);
    return;
  }

  double j;
  if (!gamma_series_remainder(a, x, eps, &j)) {
    *p = *q = not_a_number;
    return;
  }
  const double z = a * std::log(x);
  const double h = by_value<gam1>(a);
  const double g = 1.0 + h;
  const bool direct = x < grat1_small_x ? z <= grat1_direct_log_bound : a >= x / grat1_direct_ratio;
  if (direct) {
    *p = std::exp(z) * g * (0.5 + (0.5 - j));
    *q = 0.5 + (0.5 - *p);
    return;
  }
  // Q = 1 - x^a (1 - j)/Gamma(a + 1), with x^a - 1 = rexp(z) kept apart.
  const double l = by_value<rexp>(z);
  *q = ((0.5 + (0.5 + l)) * j - l) * g - h;
  if (*q < 0.0) {
    *p = 1.0;
    *q = 0.0;
  } else {
    *p = 0.5 + (0.5 - *q);
  }
}

void bgrat(double *a_in, double *b_in, double *x_in, double *y_in, double *w, double *eps_in,
           int *ierr) {
  double b = *b_in, eps = *eps_in;
  const double a = *a_in, x = *x_in, y = *y_in;
  // I_x(a, b) ~ sum of Q(b + n, z) terms with nu = a + (b - 1)/2 and
  // z = -nu ln x (the expansion of DLMF 8.18.10 for large a).
  const double bm1 = (b - 0.5) - 0.5;
  const double nu = a + 0.5 * bm1;
  const double lnx = y <= log1p_threshold ? by_value<alnrel>(-y) : std::log(x);
  double z = -(nu * lnx);
  if (b * z == 0.0) {
    *ierr = 1;
    return;
  }

  // r = exp(-z) z^b / Gamma(b), the scale of Q(b, z); u = r Gamma(a + b) /
  // (Gamma(a) nu^b), the scale of the whole sum.
  double r = b * (1.0 + by_value<gam1>(b)) * std::exp(b * std::log(z)) *
             (std::exp(a * lnx) * std::exp(0.5 * bm1 * lnx));
  const double u = r * std::exp(-(by_value<algdiv>(b, a) + b * std::log(nu)));
  if (u == 0.0) {
    *ierr = 1;
    return;
  }
  double p, q;
  grat1(&b, &z, &r, &p, &q, &eps);

  const double v = 0.25 * (1.0 / nu) * (1.0 / nu);
  const double t2 = 0.25 * lnx * lnx;
  const double l = *w / u;
  double j = q / r;
  double sum = j;
  double t = 1.0;
  double cn = 1.0;
  double m2 = 0.0;
  std::array<double, bgrat_terms> c{};
  std::array<double, bgrat_terms> d{};
  for (int n = 1; n <= bgrat_terms; ++n) {
    const double bp2n = b + m2;
    j = (bp2n * (bp2n + 1.0) * j + (z + bp2n + 1.0) * t) * v;
    m2 += 2.0;
    t *= t2;
    cn /= m2 * (m2 + 1.0);
    c[n - 1] = cn;
    double s = 0.0;
    double coef = b - n;
    for (int i = 1; i <= n - 1; ++i) {
      s += coef * c[i - 1] * d[n - i - 1];
      coef += b;
    }
    d[n - 1] = bm1 * cn + s / n;
    const double dj = d[n - 1] * j;
    sum += dj;
    if (sum <= 0.0) {
      *ierr = 1;
      return;
    }
    if (std::fabs(dj) <= eps * (sum + l)) break;
  }
  *ierr = 0;
  *w += u * sum;
}

double basym(double *a_in, double *b_in, double *lambda_in, double *eps_in) {
  const double a = *a_in, b = *b_in, lambda = *lambda_in, eps = *eps_in;
  double h, r0, r1, w0;
  if (a >= b) {
    h = b / a;
    r0 = 1.0 / (1.0 + h);
    r1 = (b - a) / a;
    w0 = 1.0 / std::sqrt(b * (1.0 + h));
  } else {
    h = a / b;
    r0 = 1.0 / (1.0 + h);
    r1 = (b - a) / b;
    w0 = 1.0 / std::sqrt(a * (1.0 + h));
  }
  const double f = a * by_value<rlog1>(-(lambda / a)) + b * by_value<rlog1>(lambda / b);
  const double t = std::exp(-f);
  if (t == 0.0) return 0.0;

  const double z0 = std::sqrt(f);
  const double z = 0.5 * (z0 / two_pow_minus_three_halves);
  const double z2 = f + f;
  BasymCoefficients a0{}, b0{}, c{}, d{};
  a0[0] = (2.0 / 3.0) * r1;
  c[0] = -(0.5 * a0[0]);
  d[0] = -c[0];
  double j0 = half_over_two_over_sqrt_pi * by_value<erfc1>(1, z0);
  double j1 = two_pow_minus_three_halves;
  double sum = j0 + d[0] * w0 * j1;

  double s = 1.0;
  const double h2 = h * h;
  double hn = 1.0;
  double w = w0;
  double znm1 = z;
  double zn = z2;
  for (int n = 2; n <= basym_order; n += 2) {
    hn *= h2;
    a0[n - 1] = 2.0 * r0 * (1.0 + h * hn) / (n + 2.0);
    s += hn;
    a0[n] = 2.0 * r1 * s / (n + 3.0);
    basym_coefficients(n, a0, b0, c, d);
    basym_coefficients(n + 1, a0, b0, c, d);

    j0 = two_pow_minus_three_halves * znm1 + (n - 1.0) * j0;
    j1 = two_pow_minus_three_halves * zn + n * j1;
    znm1 *= z2;
    zn *= z2;
    w *= w0;
    const double t0 = d[n - 1] * w * j0;
    w *= w0;
    const double t1 = d[n] * w * j1;
    sum += t0 + t1;
    if (std::fabs(t0) + std::fabs(t1) <= eps * sum) break;
  }
  return two_over_sqrt_pi * t * std::exp(-by_value<bcorr>(a, b)) * sum;
}

}  // extern "C"
