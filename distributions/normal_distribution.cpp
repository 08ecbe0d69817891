// The standard normal distribution: Phi and its complement by rational
// Chebyshev approximations, the inverse by Newton's method, a first
// approximation to Student's t quantile, and the log of the far tail.
#include <array>
#include <cmath>
#include <limits>
#include <span>

#include "distfn.h"
#include "distfn_internal.hpp"

namespace {

using distfn::by_value;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Phi on |x| <= 0.66291: 1/2 + x R(x^2), R rational with numerator a, denominator b.
constexpr double region1_bound = 0.66291;
constexpr std::array<double, 5> a = {2.2352520354606837, 161.02823106855587, 1067.6894854603709,
                                     18154.98125334356, 0.06568233791820745};
constexpr std::array<double, 4> b = {47.202581904688245, 976.0985517377767, 10260.932208618979,
                                     45507.78933502673};

// The smaller tail on 0.66291 < |x| <= 5.656854248 (as stored, not sqrt 32):
// exp(-x^2/2) R(|x|).
constexpr double region2_bound = 5.656854248;
constexpr std::array<double, 9> c = {0.39894151208813466, 8.883149794388377, 93.50665613217785,
                                     597.2702763948002,   2494.5375852903726, 6848.190450536283,
                                     11602.65143764735,   9842.714838383978,  1.0765576773720192e-08};
constexpr std::array<double, 8> d = {22.266688044328117, 235.387901782625,   1519.3775994075547,
                                     6485.558298266761,  18615.571640885097, 34900.95272114598,
                                     38912.00328609327,  19685.429676859992};

// The smaller tail beyond: exp(-x^2/2) (1/sqrt(2 pi) - R(1/x^2)/x^2) / |x|.
constexpr std::array<double, 6> p = {0.215898534057957,     0.12740116116024736,    0.022235277870649807,
                                     0.0014216191932278934, 2.9112874951168793e-05, 0.023073441764940174};
constexpr std::array<double, 5> q = {1.284260096144911, 0.4682382124808651, 0.06598813786892856,
                                     0.0037823963320275824, 7.297515550839662e-05};
constexpr double sqrpi = 0.3989422804014327;

// exp(-x^2/2) is formed as exp(-xs^2/2) exp(-(x - xs)(x + xs)/2), with xs = x
// rounded down to a multiple of 1/1.6 so that xs^2 is exact enough for the
// first factor to carry no rounding error of x^2.
constexpr double split_factor = 1.6;
// Where 1.6 |x| leaves the 32-bit range of the split, both tails are far
// below the smallest double: the limits are returned directly.
constexpr double split_limit = 2147483648.0;

double machine_epsilon() { return by_value<spmpar>(1); }
double smallest_normal() { return by_value<spmpar>(2); }

struct Tails {
  double result;  // Phi(x)
  double ccum;    // 1 - Phi(x)
};

double central_region(double x, double y, double eps) {
  const double xsq = y > eps ? x * x : 0.0;
  double xnum = a[4] * xsq;
  double xden = xsq;
  for (std::size_t i = 0; i + 1 < b.size(); ++i) {
    xnum = (xnum + a[i]) * xsq;
    xden = (xden + b[i]) * xsq;
  }
  return x * (xnum + a[3]) / (xden + b[3]);
}

// exp(-w^2/2) times v, w^2 split as described at split_factor.
double times_gaussian(double w, double v) {
  const double xsq = fifdint(split_factor * w) / split_factor;
  const double del = (w - xsq) * (w + xsq);
  return std::exp(-(xsq * xsq * 0.5)) * std::exp(-(del * 0.5)) * v;
}

double middle_tail(double y) {
  double xnum = c[8] * y;
  double xden = y;
  for (std::size_t i = 0; i + 1 < d.size(); ++i) {
    xnum = (xnum + c[i]) * y;
    xden = (xden + d[i]) * y;
  }
  return times_gaussian(y, (xnum + c[7]) / (xden + d[7]));
}

double far_tail(double x, double y) {
  const double xsq = 1.0 / (x * x);
  double xnum = p[5] * xsq;
  double xden = xsq;
  for (std::size_t i = 0; i + 1 < q.size(); ++i) {
    xnum = (xnum + p[i]) * xsq;
    xden = (xden + q[i]) * xsq;
  }
  const double r = xsq * (xnum + p[4]) / (xden + q[4]);
  return times_gaussian(x, (sqrpi - r) / y);
}

// The tail beyond |x| is the lower tail for negative x; for positive x the
// two exchange.
Tails from_lower_tail(double x, double tail) {
  const double other = 1.0 - tail;
  return x > 0.0 ? Tails{other, tail} : Tails{tail, other};
}

Tails normal_tails(double x) {
  if (std::isnan(x)) return {kNaN, kNaN};
  const double y = std::fabs(x);
  if (y <= region1_bound) {
    const double temp = central_region(x, y, 0.5 * machine_epsilon());
    return {0.5 + temp, 0.5 - temp};
  }
  if (split_factor * y >= split_limit) return x > 0.0 ? Tails{1.0, 0.0} : Tails{0.0, 1.0};
  if (y <= region2_bound) return from_lower_tail(x, middle_tail(y));
  return from_lower_tail(x, far_tail(x, y));
}

// stvaln: the rational approximation of the normal quantile in
// y = sqrt(-2 ln p), coefficients in increasing powers.
constexpr std::array<double, 5> xnum = {-0.322232431088, -1.0, -0.342242088547, -0.0204231210245,
                                        -4.53642210148e-05};
constexpr std::array<double, 5> xden = {0.099348462606, 0.588581570495, 0.531103462366, 0.10353775285,
                                        0.0038560700634};

// dinvnr: the density constant (as stored, one unit below sqrpi), the
// relative step that ends Newton's iteration, and its step limit.
constexpr double normal_density_constant = 0.3989422804014326;
constexpr double newton_tolerance = 1e-13;
constexpr int newton_step_limit = 100;

double lower_quantile(double pp) {
  if (pp == 0.0) return -kInfinity;
  const double strtx = stvaln(&pp);
  double xcur = strtx;
  for (int step = 0; step < newton_step_limit; ++step) {
    double cum = 0.0;
    double ccum = 0.0;
    cumnor(&xcur, &cum, &ccum);
    const double dx = (cum - pp) / (normal_density_constant * std::exp(-0.5 * xcur * xcur));
    xcur -= dx;
    // dx = 0 is convergence too, even where xcur lands on 0 exactly.
    if (dx == 0.0 || std::fabs(dx / xcur) < newton_tolerance) return xcur;
  }
  return strtx;
}

// dt1: the Cornish-Fisher expansion of the t quantile about the normal one
// (Abramowitz & Stegun 26.7.5): t = x + sum_i x g_i(x^2) / (denom_i df^(i+1)).
namespace cornish_fisher {
constexpr std::size_t terms = 4;
constexpr std::array<std::array<double, 5>, terms> coef = {{
    {1.0, 1.0, 0.0, 0.0, 0.0},
    {3.0, 16.0, 5.0, 0.0, 0.0},
    {-15.0, 17.0, 19.0, 3.0, 0.0},
    {-945.0, -1920.0, 1482.0, 776.0, 79.0},
}};
constexpr std::array<std::size_t, terms> ideg = {2, 3, 4, 5};
constexpr std::array<double, terms> denom = {4.0, 96.0, 384.0, 92160.0};
}  // namespace cornish_fisher

// dlanor: the asymptotic series ln(1 - Phi(x)) = -x^2/2 - ln(x sqrt(2 pi))
// + ln(1 + sum_k (-1)^(k+1) (2k+1)!! / x^(2k+2)) (DLMF 7.12), twelve terms.
namespace tail_series {
constexpr std::array<double, 12> coef = {
    -1.0,      3.0,       -15.0,       105.0,       -945.0,         10395.0,
    -135135.0, 2027025.0, -34459425.0, 654729075.0, -13749310575.0, 316234143225.0};
}  // namespace tail_series
constexpr double dlsqpi = 0.9189385332046728;
constexpr double dlanor_minimum = 5.0;

}  // namespace

extern "C" {

void cumnor(double *arg, double *result, double *ccum) {
  Tails t = normal_tails(*arg);
  const double min = smallest_normal();
  if (t.result < min) t.result = 0.0;
  if (t.ccum < min) t.ccum = 0.0;
  *result = t.result;
  *ccum = t.ccum;
}

double stvaln(double *p) {
  const double sign = *p <= 0.5 ? -1.0 : 1.0;
  const double z = *p <= 0.5 ? *p : 1.0 - *p;
  const double y = std::sqrt(-(2.0 * std::log(z)));
  return sign * (y + distfn::polynomial_ascending(xnum, y) / distfn::polynomial_ascending(xden, y));
}

double dinvnr(double *p, double *q) {
  const bool qporq = *p <= *q;
  const double x = lower_quantile(qporq ? *p : *q);
  return qporq ? x : -x;
}

double dt1(double *p, double *q, double *df) {
  const double sum = distfn::cornish_fisher_t(std::fabs(dinvnr(p, q)), *df);
  return *p >= 0.5 ? sum : -sum;
}

double dlanor(double *x) {
  const double xx = std::fabs(*x);
  if (xx < dlanor_minimum) ftnstop(" Argument too small in DLANOR");
  const double approx = (-dlsqpi - 0.5 * xx * xx) - std::log(xx);
  const double xx2 = xx * xx;
  const double correc = distfn::polynomial_ascending(tail_series::coef, 1.0 / xx2) / xx2;
  return by_value<dln1px>(correc) + approx;
}

}  // extern "C"

namespace distfn {

double cornish_fisher_t(double x, double df) {
  const double xx = x * x;
  double sum = x;
  double denpow = 1.0;
  for (std::size_t i = 0; i < cornish_fisher::terms; ++i) {
    const auto row = std::span(cornish_fisher::coef[i]).first(cornish_fisher::ideg[i]);
    const double term = distfn::polynomial_ascending(row, xx) * x;
    denpow *= df;
    sum += term / (denpow * cornish_fisher::denom[i]);
  }
  return sum;
}

}  // namespace distfn
