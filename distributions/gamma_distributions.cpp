// The gamma, chi-square, noncentral chi-square and Poisson distributions,
// all reduced to the incomplete gamma ratio.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "distfn.h"
#include "distfn_internal.hpp"

namespace distfn {

// 2 pi.
constexpr double two_pi = 6.283185307179586;

// Written with n = k + 1 and r = m/n through Stirling's formula (DLMF 5.11.1) as
//   exp(-k (r - 1 - ln r) + (1 - r) - dstrem(n)) / sqrt(2 pi n),
// which keeps its accuracy where k ln m and ln Gamma(k + 1) are huge and
// nearly cancel (large noncentralities); the square root stays outside the
// exponential, whose error grows with the size of its argument.
double poisson_weight(double k, double m) {
  double n = k + 1.0;
  const double r = m / n;
  const double exponent = -k * by_value<rlog>(r) + (1.0 - r) - dstrem(&n);
  return std::exp(exponent) / std::sqrt(two_pi * n);
}

}  // namespace distfn

namespace {

using distfn::by_value;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double complement(double v) { return 0.5 + (0.5 - v); }

// Noncentralities up to this are treated as 0.
constexpr double noncentrality_floor = 1e-10;
// A direction of the Poisson mixture stops when a term falls below this share
// of the sum or the sum below this floor, but only once a bound on all the
// terms left in that direction is below the same share of the sum, or keeps
// the sum below the floor: near the centre of a wide Poisson distribution each
// single weight is small while the mass beyond it is not.
constexpr double sum_floor = 1e-20;
constexpr double term_tolerance = 1e-5;

struct Cumulative {
  double cum;
  double ccum;
};

Cumulative chi_square(double x, double df) {
  Cumulative c{};
  double xx = x;
  double dff = df;
  cumchi(&xx, &dff, &c.cum, &c.ccum);
  return c;
}

// The stop rule of a direction, given a bound on what the terms left in it add
// up to; with rest 0 it is the bare rule on the last term and the sum.
bool ends_direction(double sum, double term, double rest) {
  const double share = term_tolerance * sum;
  return (term < share && rest < share) || sum + rest < sum_floor;
}

// The noncentral chi-square as its Poisson mixture of central chi-squares,
// summed from the largest Poisson weight outwards:
// sum_i Poisson(i; pnonc/2) P[chi2(df + 2i) <= x].
Cumulative noncentral_chi_square(double x, double df, double pnonc) {
  const double xnonc = pnonc / 2.0;
  std::int64_t icent = fifidint(xnonc);
  if (icent == 0) icent = 1;
  const double chid2 = x / 2.0;
  const double centwt = distfn::poisson_weight(static_cast<double>(icent), xnonc);
  const Cumulative central = chi_square(x, df + 2.0 * static_cast<double>(icent));
  const double pcent = central.cum;
  const double centaj = distfn::poisson_weight((df + 2.0 * static_cast<double>(icent)) / 2.0, chid2);
  const double most_steps = distfn::poisson_step_cap(xnonc);

  // Backward from the centre: P[chi2(df + 2(i-1)) <= x] = P[chi2(df + 2i) <= x] + adj.
  // These factors rise towards P[chi2(df) <= x], which bounds all of them; it
  // is formed only when a stop is in question and 1 does not suffice.
  double sum = centwt * pcent;
  double sumadj = 0.0;
  double adj = centaj;
  double wt = centwt;
  std::int64_t i = icent;
  double lowest_cdf = -1.0;
  const auto backward_done = [&](double term) {
    if (!ends_direction(sum, term, 0.0)) return false;
    const double rest = distfn::poisson_weight_below(wt, static_cast<double>(i), xnonc);
    if (ends_direction(sum, term, rest)) return true;
    if (lowest_cdf < 0.0) lowest_cdf = chi_square(x, df).cum;
    return ends_direction(sum, term, lowest_cdf * rest);
  };
  double term = 0.0;
  for (double steps = 0.0;; ++steps) {
    if (steps >= most_steps) return {kNaN, kNaN};
    const double dfd2 = (df + 2.0 * static_cast<double>(i)) / 2.0;
    adj = adj * dfd2 / chid2;
    sumadj += adj;
    wt = wt * static_cast<double>(i) / xnonc;
    term = wt * (pcent + sumadj);
    sum += term;
    --i;
    if (i == 0 || backward_done(term)) break;
  }

  // Forward: P[chi2(df + 2(i+1)) <= x] = P[chi2(df + 2i) <= x] - adj.  These
  // factors fall, so the next one bounds all that are left.
  sumadj = centaj;
  adj = centaj;
  wt = centwt;
  i = icent;
  for (double steps = 0.0;; ++steps) {
    if (steps >= most_steps) return {kNaN, kNaN};
    wt = wt * xnonc / static_cast<double>(i + 1);
    term = wt * (pcent - sumadj);
    sum += term;
    ++i;
    const double dfd2 = (df + 2.0 * static_cast<double>(i)) / 2.0;
    adj = adj * chid2 / dfd2;
    sumadj += adj;
    if (!ends_direction(sum, term, 0.0)) continue;
    const double next_cdf = std::max(pcent - sumadj, 0.0);
    const double rest = next_cdf * distfn::poisson_weight_above(wt, static_cast<double>(i), xnonc);
    if (ends_direction(sum, term, rest)) break;
  }
  return {sum, complement(sum)};
}

// Every case of cumchn but the central one (pnonc <= 1e-10, x > 0).
Cumulative noncentral_cases(double x, double df, double pnonc) {
  if (std::isnan(x) || std::isnan(df) || std::isnan(pnonc)) return {kNaN, kNaN};
  if (x <= 0.0) return {0.0, 1.0};
  if (std::isinf(x)) return std::isinf(df) || std::isinf(pnonc) ? Cumulative{kNaN, kNaN} : Cumulative{1.0, 0.0};
  if (std::isinf(df) || std::isinf(pnonc)) return {0.0, 1.0};
  // Beyond this the sum would take too long to reach its tails.
  if (pnonc / 2.0 > distfn::largest_poisson_mean) return {kNaN, kNaN};
  // The mixture has no terms for negative degrees of freedom, and its
  // Poisson weights no meaning there.
  if (df < 0.0) return {kNaN, kNaN};
  return noncentral_chi_square(x, df, pnonc);
}

}  // namespace

extern "C" {

void cumgam(double *x, double *a, double *cum, double *ccum) {
  if (*x <= 0.0) {
    *cum = 0.0;
    *ccum = 1.0;
    return;
  }
  int accuracy = 0;
  gratio(a, x, cum, ccum, &accuracy);
}

void cumchi(double *x, double *df, double *cum, double *ccum) {
  double a = 0.5 * *df;
  double xx = 0.5 * *x;
  // The smallest subnormal df halves to a shape of 0, which the gamma ratio
  // rejects; P(a, t) tends to 1 as a goes to 0 for every t > 0.
  if (a == 0.0 && *df > 0.0 && xx > 0.0 && !std::isnan(xx)) {
    *cum = 1.0;
    *ccum = 0.0;
    return;
  }
  cumgam(&xx, &a, cum, ccum);
}

void cumpoi(double *s, double *xlam, double *cum, double *ccum) {
  // P[N <= s] = Q(s + 1, xlam) = P[chi2(2s + 2) > 2 xlam] (DLMF 8.4.10).
  double df = 2.0 * (*s + 1.0);
  double chi = 2.0 * *xlam;
  cumchi(&chi, &df, ccum, cum);
  // The gamma ratio marks an error in its lower tail alone, which is this
  // law's upper tail: the lower tail carries the marker as well, as it does
  // for the gamma law, and is never left unwritten.
  if (*ccum > 1.0) *cum = *ccum;
}

void cumchn(double *x, double *df, double *pnonc, double *cum, double *ccum) {
  if (*pnonc <= noncentrality_floor && *x > 0.0) {
    cumchi(x, df, cum, ccum);
    return;
  }
  const Cumulative result = noncentral_cases(*x, *df, *pnonc);
  *cum = result.cum;
  *ccum = result.ccum;
}

}  // extern "C"
