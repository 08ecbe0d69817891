// The noncentral chi-square and F distributions with each tail to relative
// accuracy.  Both are Poisson(m) mixtures, m = pnonc/2, of a family of
// central ratios in a shape a = a0 + i:
//   chi-square: P(k/2 + i, x/2)           (DLMF 8.2.4),
//   F:          I_u(dfn/2 + i, dfd/2)      (DLMF 8.17.2),
// and the lower tail is sum_i w_i L(a0 + i), the upper sum_i w_i U(a0 + i)
// with U = 1 - L summed as a series of its own.  Both families step by
//   L(a) - L(a + 1) = U(a + 1) - U(a) = s(a) > 0
// (DLMF 8.8.5 for the gamma ratio, 8.17.20 for the beta ratio), and s(a + 1)/s(a)
// is a simple ratio.  L falls as a rises, so its recurrence adds only when it
// runs downwards; U rises, so its recurrence adds only upwards.  The lower
// sum therefore starts above the Poisson weights that count, with L taken
// directly from the incomplete ratio there, and runs down; the upper sum
// starts below them and runs up.  No step subtracts, so every term keeps the
// relative accuracy of the ratio it started from.
#include <algorithm>
#include <cmath>
#include <limits>

#include "distfn.h"
#include "distfn_internal.hpp"
#include "front_end_common.hpp"

using distfn::by_value;
using namespace distfn::front_end;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Noncentralities up to this are treated as 0, as in cumchn and cumfnc.
constexpr double negligible_noncentrality = 1e-10;
// A sum ends once a bound on all the terms it leaves is below this share of
// it; the start of a sum leaves out Poisson weights below this share of the
// largest one.
constexpr double share_left = 0x1p-60;
// A step factor below this has lost digits to underflow: a recurrence
// started from it would stay 0 where the terms that count are not.
constexpr double smallest_start_step = 1e-280;

struct Tails {
  double cum, ccum;
};

// The root j >= 0 of j^2 + b j - c = 0 for c >= 0, in the form that does not
// cancel; with c = 0 it is max(-b, 0) (the other form would give 0/0 at b = 0).
// The discriminant's root is a hypotenuse: b^2 overflows for the shapes of
// huge degrees of freedom, and a root of 0 there would start the sums at
// index 0, some 2^32 terms below the ones that count.
double quadratic_root(double b, double c) {
  if (c == 0.0) return std::max(-b, 0.0);
  const double d = std::hypot(b, 2.0 * std::sqrt(c));
  return b >= 0.0 ? 2.0 * c / (b + d) : 0.5 * (d - b);
}

// The chi-square family at t = x/2: P(a, t) and Q(a, t), s(a) = t^a e^-t / Gamma(a + 1).
struct ChiSquareFamily {
  double a0, t;
  Tails ratios(double a) const {
    // A subnormal df halves to a = 0, where P(a, t) has its limit 1 (t > 0).
    if (a == 0.0) return {1.0, 0.0};
    Tails r{};
    double aa = a, tt = t;
    int accuracy = 0;
    gratio(&aa, &tt, &r.cum, &r.ccum, &accuracy);
    // gratio marks a case it cannot resolve with P = 2.
    if (r.cum > 1.0) return {kNaN, kNaN};
    return r;
  }
  double step(double a) const { return distfn::poisson_weight(a, t); }
  double step_ratio(double a) const { return t / (a + 1.0); }
  // The mixture's largest term of densities, where w_i s(a0 + i) stops rising:
  // (m/(i+1)) (t/(a0+i+1)) = 1.
  double peak(double m) const { return quadratic_root(a0, m * t) - 1.0; }
};

// The beta family at u = dfn f/(dfd + dfn f), v = 1 - u: I_u(a, b) and
// I_v(b, a), s(a) = u^a v^b / (a B(a, b)).
struct BetaFamily {
  double a0, b, u, v;
  Tails ratios(double a) const {
    Tails r{};
    double aa = a, bb = b, uu = u, vv = v;
    int ierr;  // the arguments are valid here
    bratio(&aa, &bb, &uu, &vv, &r.cum, &r.ccum, &ierr);
    return r;
  }
  double step(double a) const { return by_value<brcomp>(a, b, u, v) / a; }
  double step_ratio(double a) const { return u * ((a + b) / (a + 1.0)); }
  // (m/(i+1)) u (a+b)/(a+1) = 1 with a = a0 + i, j = i + 1:
  // j^2 + (a0 - m u) j - m u (a0 - 1 + b) = 0.
  double peak(double m) const {
    const double mu = m * u;
    return quadratic_root(a0 - mu, std::max(mu * (a0 - 1.0 + b), 0.0)) - 1.0;
  }
};

// The Poisson weight of i at mean m, from the one at the mode ip by the
// ratios m/j.  The Stirling form of a weight carries the rounding of its
// argument m/(i + 1) multiplied by about |i - m|, the size of the exponent
// it leaves; at the mode that is smallest, and the ratios' roundings add up
// only like the square root of the steps.  Beyond the steps a sum may take
// from the mode the weight is formed directly: it is then below e^-2048 of
// the mode's, and the walk too long.
double poisson_weight_at(double i, double m) { return i == 0.0 ? std::exp(-m) : distfn::poisson_weight(i, m); }
double walked_weight(double i, double ip, double m) {
  if (std::fabs(i - ip) > distfn::poisson_step_cap(m)) return poisson_weight_at(i, m);
  double w = poisson_weight_at(ip, m);
  for (double j = ip + 1.0; j <= i; ++j) w *= m / j;
  for (double j = ip; j > i; --j) w *= j / m;
  return w;
}

// The Poisson weights of successive indices by their ratios m/(i + 1) and i/m.
class PoissonWalk {
 public:
  PoissonWalk(double i, double ip, double m) : i_(i), m_(m), w_(walked_weight(i, ip, m)) {}
  double index() const { return i_; }
  double weight() const { return w_; }
  void up() {
    w_ *= m_ / (i_ + 1.0);
    ++i_;
  }
  void down() {
    w_ *= i_ / m_;
    --i_;
  }

 private:
  double i_, m_, w_;
};

// The index above the Poisson mode ip beyond which the weights add up to less
// than share_left of the weight at ip, and the one below it.
double upper_weight_end(double ip, double m) {
  double w = 1.0, i = ip;
  while (!(distfn::poisson_weight_above(w, i, m) < share_left)) {
    w *= m / (i + 1.0);
    ++i;
  }
  return i;
}
double lower_weight_end(double ip, double m) {
  double w = 1.0, i = ip;
  while (i > 0.0 && !(distfn::poisson_weight_below(w, i, m) < share_left)) {
    w *= i / m;
    --i;
  }
  return i;
}

// Where s(a0 + from) has underflowed, the index between from and towards
// (where it has not) at which it last keeps its digits, by bisection: s is
// unimodal in a, and towards lies at its peak's side.
template <typename Family>
double start_with_digits(const Family &family, double from, double towards) {
  // Where it has underflowed at both ends it has at every index between
  // (its peak lies beyond them), and the ratio hardly changes over them.
  if (family.step(family.a0 + from) >= smallest_start_step) return from;
  if (!(family.step(family.a0 + towards) >= smallest_start_step)) return from;
  double bad = from, good = towards;
  while (std::fabs(bad - good) > 1.0) {
    const double mid = std::floor(0.5 * (bad + good));
    (family.step(family.a0 + mid) >= smallest_start_step ? good : bad) = mid;
  }
  return good;
}

// The index above which the lower terms w_i L(a0 + i) add up to less than
// share_left of the term at the peak.  L(a + 1)/L(a) = 1 - s(a)/L(a) is at
// most s(a + 1)/s(a), since L(a) <= s(a)/(1 - s(a + 1)/s(a)) where that ratio
// is below 1 (its terms s(a + j) fall faster than geometrically), so the term
// ratios are at most r_i = (m/(i+1)) s(a+1)/s(a), which fall as i rises.
// Where x lies below the mixture's bulk this ends far below the Poisson
// weights' own end and keeps the start near the terms that count.
template <typename Family>
double upper_term_end(const Family &family, double peak, double m, double limit) {
  double bound = 1.0, i = peak;
  for (; i < limit; ++i) {
    const double r = (m / (i + 1.0)) * family.step_ratio(family.a0 + i);
    if (r < 1.0 && bound * r / (1.0 - r) < share_left) break;
    bound *= r;
  }
  return i;
}

// sum_i w_i L(a0 + i), downwards from above the terms that count.
template <typename Family>
double lower_tail(const Family &family, double m) {
  const double ip = std::floor(m);
  const double peak = std::floor(std::max(family.peak(m), 0.0));
  const double weight_end = upper_weight_end(ip, m);
  const double term_end = peak < weight_end ? upper_term_end(family, peak, m, weight_end) : weight_end;
  const double top = start_with_digits(family, term_end, std::min(peak, ip));
  // Below ip - 64 sqrt(m) - 1000 every weight is under e^-2048 of the one at
  // ip, and the lower ratios are at most 1.
  const double last = std::max(0.0, ip - distfn::poisson_step_cap(m));
  double a = family.a0 + top;
  distfn::CompensatedSum lower(family.ratios(a).cum);
  double step = family.step(a);
  PoissonWalk walk(top, ip, m);
  distfn::CompensatedSum total;
  double largest_ratio = -1.0;  // L(a0), the bound of every L below, formed when needed
  for (;;) {
    const double i = walk.index(), w = walk.weight();
    const double term = w * lower.value();
    total.add(term);
    const double sum = total.value();
    if (i <= last) break;
    if (i <= ip && term <= share_left * sum) {
      const double rest = distfn::poisson_weight_below(w, i, m);
      if (rest <= share_left * sum) break;
      if (largest_ratio < 0.0) largest_ratio = family.ratios(family.a0).cum;
      if (largest_ratio * rest <= share_left * sum) break;
    }
    // From the index, not by steps of 1: a small a0 is lost in a0 + i for a
    // large i, and the last ratios, (a0 + b)/(a0 + 1) near a = a0, need it.
    a = family.a0 + (i - 1.0);
    step /= family.step_ratio(a);
    lower.add(step);
    walk.down();
  }
  return total.value();
}

// sum_i w_i U(a0 + i), upwards from below the weights that count.
template <typename Family>
double upper_tail(const Family &family, double m) {
  const double ip = std::floor(m);
  const double peak = std::floor(std::max(family.peak(m), 0.0));
  const double bottom = start_with_digits(family, lower_weight_end(ip, m), std::max(peak, ip));
  const double most_steps = (ip - bottom) + distfn::poisson_step_cap(m);
  double a = family.a0 + bottom;
  distfn::CompensatedSum upper(family.ratios(a).ccum);
  double step = family.step(a);
  PoissonWalk walk(bottom, ip, m);
  distfn::CompensatedSum total;
  for (double steps = 0.0;; ++steps) {
    if (steps > most_steps) return kNaN;
    const double i = walk.index(), w = walk.weight();
    const double term = w * upper.value();
    total.add(term);
    const double sum = total.value();
    // The upper ratios are at most 1.
    if (i >= ip && term <= share_left * sum && distfn::poisson_weight_above(w, i, m) <= share_left * sum) break;
    // Nothing left to add: every later ratio is 0 as well (the tail lies
    // below the smallest double).
    if (i >= ip && upper.value() == 0.0 && step == 0.0) break;
    upper.add(step);
    step *= family.step_ratio(a);
    a = family.a0 + (i + 1.0);
    walk.up();
  }
  return total.value();
}

// A tail kept at most 1: rounding may carry a sum of weights that add up to
// 1 a few units above it.  A NaN stays NaN.
double at_most_one(double tail) { return tail > 1.0 ? 1.0 : tail; }

template <typename Family>
Tails mixture_tails(const Family &family, double m) {
  return {at_most_one(lower_tail(family, m)), at_most_one(upper_tail(family, m))};
}

Tails noncentral_chi_square_tails(double x, double df, double pnonc) {
  const ChiSquareFamily family{0.5 * df, 0.5 * x};
  // x/2 rounds to 0 for the smallest subnormal x, as in cumchi.
  if (family.t == 0.0) return {0.0, 1.0};
  if (pnonc <= negligible_noncentrality) return family.ratios(family.a0);
  const double m = 0.5 * pnonc;
  if (m > distfn::largest_poisson_mean) return {kNaN, kNaN};
  return mixture_tails(family, m);
}

Tails noncentral_f_tails(double f, double dfn, double dfd, double pnonc) {
  if (f == 0.0) return {0.0, 1.0};
  // u = dfn f/(dfd + dfn f), the smaller of u and 1 - u formed by division.
  const double prod = dfn * f;
  const double dsum = dfd + prod;
  double u, v;
  if (dfd / dsum > 0.5) {
    u = prod / dsum;
    v = 0.5 + (0.5 - u);
  } else {
    v = dfd / dsum;
    u = 0.5 + (0.5 - v);
  }
  if (v == 0.0) return {1.0, 0.0};
  if (u == 0.0 && pnonc >= negligible_noncentrality) {
    Tails first;
    if (distfn::noncentral_f_first_term(f, dfn, dfd, 0.5 * pnonc, &first.cum, &first.ccum)) return first;
    return {kNaN, kNaN};
  }
  // The central law is cumf's, which also takes the degrees of freedom whose
  // halves underflow.
  if (pnonc < negligible_noncentrality) {
    Tails central;
    cumf(&f, &dfn, &dfd, &central.cum, &central.ccum);
    return central;
  }
  const BetaFamily family{0.5 * dfn, 0.5 * dfd, u, v};
  const double m = 0.5 * pnonc;
  if (m > distfn::largest_poisson_mean) return {kNaN, kNaN};
  return mixture_tails(family, m);
}

}  // namespace

extern "C" {

void cumchnb(double *x, double *df, double *pnonc, double *cum, double *ccum, int *status, double *bound) {
  const ArgumentRule rules[] = {non_negative(4, x, true), positive(5, df, true), non_negative(6, pnonc, true)};
  if (reject_arguments(rules, status, bound)) return;
  const Tails t = noncentral_chi_square_tails(*x, *df, *pnonc);
  *cum = t.cum;
  *ccum = t.ccum;
  report_tails(t.cum, t.ccum, status);
}

void cumfncb(double *f, double *dfn, double *dfd, double *pnonc, double *cum, double *ccum, int *status,
             double *bound) {
  const ArgumentRule rules[] = {non_negative(4, f, true), positive(5, dfn, true), positive(6, dfd, true),
                                non_negative(7, pnonc, true)};
  if (reject_arguments(rules, status, bound)) return;
  const Tails t = noncentral_f_tails(*f, *dfn, *dfd, *pnonc);
  *cum = t.cum;
  *ccum = t.ccum;
  report_tails(t.cum, t.ccum, status);
}

}  // extern "C"
