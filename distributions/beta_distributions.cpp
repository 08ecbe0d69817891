// Cumulative distribution functions that reduce to the incomplete beta
// ratio: beta, binomial, negative binomial, Student's t, F and noncentral F.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "distfn.h"
#include "distfn_internal.hpp"

using distfn::by_value;

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// cumfnc: below this noncentrality the central F is returned.
constexpr double negligible_noncentrality = 1e-10;
// cumfnc: a direction of the Poisson sum ends once its term is below this
// share of the sum or the sum below this floor, but only once a bound on all
// the terms left in that direction is below the same share of the sum, or
// keeps the sum below the floor: near the centre of a wide Poisson
// distribution each single weight is small while the mass beyond it is not.
constexpr double sum_floor = 1e-20;
constexpr double term_share = 1e-4;

// ln(a B(a, b)) = ln Gamma(1 + a) + ln(Gamma(b) / Gamma(a + b)).  For a
// small a the terms are O(a) and are formed without the cancellation of ln a
// against ln B(a, b) ~ -ln a, which would leave an error of 1e-13 in a beta
// ratio of nearly 1 and so lose the whole of the other tail: beside a b of 8
// or more through algdiv, beside a small b through
// Gamma(b) / Gamma(a + b) = (1 + a/b) Gamma(1 + b) / Gamma(1 + a + b).
double log_a_beta(double a, double b) {
  constexpr double smallest_algdiv_b = 8.0;
  constexpr double largest_small_b = 0.25;  // a + b within gamln1's range
  if (a <= 1.0 && b >= smallest_algdiv_b) return gamln1(&a) + algdiv(&a, &b);
  if (a <= 1.0 && b <= largest_small_b) {
    double sum = a + b;
    return gamln1(&a) + gamln1(&b) - gamln1(&sum) + std::log1p(a / b);
  }
  return std::log(a) + betaln(&a, &b);
}

// ln of x^a / (a B(a, b)), the leading term of I_x(a, b) for a small x
// (DLMF 8.17.7), from ln x; at most 0, as the ratio it stands for.
double log_leading_beta_term(double a, double b, double log_x) {
  return std::fmin(0.0, a * log_x - log_a_beta(a, b));
}

void set_pair(double *cum, double *ccum, double lower, double upper) {
  *cum = lower;
  *ccum = upper;
}

// The arguments (x, 1 - x) of the incomplete beta for the F distribution:
// x = dfn f / (dfd + dfn f), with the smaller of the pair formed by division.
struct BetaArgument {
  double x, y;
};

BetaArgument f_beta_argument(double f, double dfn, double dfd) {
  const double prod = dfn * f;
  const double dsum = dfd + prod;
  double y = dfd / dsum;
  if (y > 0.5) {
    const double x = prod / dsum;
    return {x, 1.0 - x};
  }
  return {1.0 - y, y};
}

// The stop rule of a direction, given a bound on what the terms left in it add
// up to; with rest 0 it is the bare rule on the term and the sum.
bool ends_direction(double sum, double term, double rest) {
  const double share = term_share * sum;
  return (term < share && rest < share) || sum + rest < sum_floor;
}

// I_x(a, b).
double lower_beta_ratio(double a, double b, double x, double y) {
  double w, w1;
  int ierr;  // The front end validates the degrees of freedom.
  bratio(&a, &b, &x, &y, &w, &w1, &ierr);
  return w;
}

// x^a y^b Gamma(a + b) / (Gamma(a + 1) Gamma(b)) = x^a y^b / (a B(a, b)),
// the difference I_x(a, b) - I_x(a + 1, b) (DLMF 8.17.20).  brcomp keeps it
// accurate where the logarithms of its factors are huge and would cancel.
double ratio_step(double a, double b, double x, double y) {
  if (a == 0.0) return std::pow(y, b);  // 1/(a B(a, b)) -> 1 as a -> 0
  return by_value<brcomp>(a, b, x, y) / a;
}

}  // namespace

extern "C" {

void cumbet(double *x, double *y, double *a, double *b, double *cum, double *ccum) {
  if (*x <= 0.0) return set_pair(cum, ccum, 0.0, 1.0);
  if (*y <= 0.0) return set_pair(cum, ccum, 1.0, 0.0);
  int ierr;  // The front ends validate; a rejection leaves both results 0.
  bratio(a, b, x, y, cum, ccum, &ierr);
}

void cumbin(double *s, double *xn, double *pr, double *ompr, double *cum, double *ccum) {
  if (*s >= *xn) return set_pair(cum, ccum, 1.0, 0.0);
  // P[X <= s] = 1 - I_pr(s + 1, n - s), DLMF 8.17.5.
  double a = *s + 1.0;
  double b = *xn - *s;
  cumbet(pr, ompr, &a, &b, ccum, cum);
}

void cumnbn(double *s, double *xn, double *pr, double *ompr, double *cum, double *ccum) {
  // P[X <= s] = I_pr(n, s + 1).
  double b = *s + 1.0;
  cumbet(pr, ompr, xn, &b, cum, ccum);
}

void cumt(double *t, double *df, double *cum, double *ccum) {
  // P[|T| >= |t|] = I_(df/(df + t^2))(df/2, 1/2).
  const double tt = *t * *t;
  const double dfptt = *df + tt;
  double xx = *df / dfptt;
  double yy = tt / dfptt;
  double a = 0.5 * *df;
  double b = 0.5;
  double both_tails, central;
  if (xx < std::numeric_limits<double>::min() && std::isfinite(*t)) {
    // x = df / (df + t^2) underflows (t^2 may overflow too), where the beta
    // ratio would see 0: its leading term, whose next is x times smaller.
    const double log_x = std::log(*df) - 2.0 * std::log(std::fabs(*t)) - std::log1p(*df / tt);
    const double log_ratio = log_leading_beta_term(a, b, log_x);
    both_tails = std::exp(log_ratio);
    central = -std::expm1(log_ratio);
  } else {
    cumbet(&xx, &yy, &a, &b, &both_tails, &central);
  }
  if (*t <= 0.0) {
    *cum = 0.5 * both_tails;
    *ccum = central + *cum;
  } else {
    *ccum = 0.5 * both_tails;
    *cum = central + *ccum;
  }
}

void cumf(double *f, double *dfn, double *dfd, double *cum, double *ccum) {
  if (*f <= 0.0) return set_pair(cum, ccum, 0.0, 1.0);
  // P[F <= f] = 1 - I_(dfd/(dfd + dfn f))(dfd/2, dfn/2); the argument
  // returned is the complement of the one wanted here.
  const BetaArgument arg = f_beta_argument(*f, *dfn, *dfd);
  double xx = arg.y, yy = arg.x;
  double a = 0.5 * *dfd;
  double b = 0.5 * *dfn;
  // The smallest subnormal degrees of freedom halve to 0, a shape the beta
  // ratio rejects.  As the shapes of I_x(a, b) go to 0 it tends to
  // b / (a + b) for 0 < x < 1 (the beta law's mass goes to the ends), also
  // when one of them stays: P[F <= f] tends to dfd / (dfn + dfd).
  const bool shape_underflows = (a == 0.0 && *dfd > 0.0) || (b == 0.0 && *dfn > 0.0);
  if (shape_underflows && std::isfinite(*f)) {
    const double total = *dfn + *dfd;
    return set_pair(cum, ccum, *dfd / total, *dfn / total);
  }
  // Where dfn f / (dfd + dfn f) underflows the beta ratio sees x = 0 (or a
  // subnormal without relative accuracy) and answers P[F <= f] = 0, while
  // with a small dfn the true value may be near 1: the leading term
  // u^(dfn/2) / ((dfn/2) B(dfn/2, dfd/2)) of the series (DLMF 8.17.7), in
  // logarithms, is exact to rounding there as long as its next term, of
  // relative size about (dfd / 2) u = dfn f / 2, is negligible.
  // The same holds for the upper tail where dfd / (dfd + dfn f) underflows,
  // through 1/F, which has the degrees of freedom swapped.
  if (yy < std::numeric_limits<double>::min() && 0.5 * *dfn * *f < distfn::negligible_term_ratio &&
      distfn::noncentral_f_first_term(*f, *dfn, *dfd, 0.0, cum, ccum)) {
    return;
  }
  if (xx < std::numeric_limits<double>::min() && std::isfinite(*f) && 0.5 * *dfd / *f < distfn::negligible_term_ratio &&
      distfn::noncentral_f_first_term(1.0 / *f, *dfd, *dfn, 0.0, ccum, cum)) {
    return;
  }
  int ierr;  // The front ends validate; a rejection leaves both results 0.
  bratio(&a, &b, &xx, &yy, ccum, cum, &ierr);
}

void cumfnc(double *f, double *dfn, double *dfd, double *pnonc, double *cum, double *ccum) {
  if (*f <= 0.0) return set_pair(cum, ccum, 0.0, 1.0);
  if (*pnonc < negligible_noncentrality) return cumf(f, dfn, dfd, cum, ccum);

  // P[F' <= f] = sum_i Poisson(i; pnonc/2) I_x(dfn/2 + i, dfd/2), summed from
  // the Poisson term of largest weight outwards in both directions.
  const double xnonc = 0.5 * *pnonc;
  if (std::isnan(*f) || std::isnan(*dfn) || std::isnan(*dfd) || !(xnonc <= distfn::largest_poisson_mean)) {
    return set_pair(cum, ccum, not_a_number, not_a_number);
  }
  std::int64_t icent = static_cast<std::int64_t>(xnonc);
  if (icent == 0) icent = 1;
  const double central = static_cast<double>(icent);
  const double centwt = std::exp(central * std::log(xnonc) - xnonc - by_value<alngam>(central + 1.0));

  const BetaArgument arg = f_beta_argument(*f, *dfn, *dfd);
  double xx = arg.x, yy = arg.y;
  const double b = 0.5 * *dfd;
  // Where x lies below the normal doubles the recurrences between the terms
  // divide by it and lose all accuracy: the first term alone, as for x = 0.
  if (xx < std::numeric_limits<double>::min()) {
    double lower, upper;
    if (xx == 0.0 && distfn::noncentral_f_first_term(*f, *dfn, *dfd, xnonc, &lower, &upper))
      return set_pair(cum, ccum, lower, 0.5 + (0.5 - lower));
    if (xx > 0.0 && xnonc * *dfn * *f * (1.0 + *dfn / *dfd) < distfn::negligible_term_ratio) {
      lower = std::exp(-xnonc) * lower_beta_ratio(0.5 * *dfn, b, xx, yy);
      return set_pair(cum, ccum, lower, 0.5 + (0.5 - lower));
    }
  }
  double adn = 0.5 * *dfn + central;
  double aup = adn;
  double betdn = lower_beta_ratio(adn, b, xx, yy);
  double betup = betdn;
  double sum = centwt * betdn;

  // Backward: I_x(a - 1, b) = I_x(a, b) + T(a - 1), with the step
  // T(a) = I_x(a, b) - I_x(a + 1, b) carried as T(a - 1) = T(a) a / ((a - 1 + b) x).
  double xmult = centwt;
  std::int64_t i = icent;
  double dnterm = ratio_step(adn, b, xx, yy);
  // The remaining terms are bounded by P[N < i] times the largest of their
  // beta ratios, I_x(dfn/2, b); that ratio is formed only when a stop is in
  // question and 1 does not suffice (a small f with a large noncentrality
  // puts the mass of the sum well below the centre).
  double lowest_ratio = -1.0;
  const auto backward_done = [&] {
    const double term = xmult * betdn;
    if (!ends_direction(sum, term, 0.0)) return false;
    const double rest = distfn::poisson_weight_below(xmult, static_cast<double>(i), xnonc);
    if (ends_direction(sum, term, rest)) return true;
    if (lowest_ratio < 0.0) lowest_ratio = lower_beta_ratio(0.5 * *dfn, b, xx, yy);
    return ends_direction(sum, term, lowest_ratio * rest);
  };
  const double most_steps = distfn::poisson_step_cap(xnonc);
  for (double steps = 0.0; i > 0 && !backward_done(); ++steps) {
    if (steps >= most_steps) return set_pair(cum, ccum, not_a_number, not_a_number);
    xmult *= static_cast<double>(i) / xnonc;
    --i;
    adn -= 1.0;
    dnterm *= (adn + 1.0) / ((adn + b) * xx);
    betdn += dnterm;
    sum += xmult * betdn;
  }

  // Forward: I_x(a + 1, b) = I_x(a, b) - T(a), with T(a) = T(a - 1) (a - 1 + b) x / a.
  // The ratios fall, so the last one bounds all that are left.
  i = icent + 1;
  xmult = centwt;
  double upterm = ratio_step(aup - 1.0, b, xx, yy);
  for (double steps = 0.0;; ++steps) {
    if (steps >= most_steps) return set_pair(cum, ccum, not_a_number, not_a_number);
    xmult *= xnonc / static_cast<double>(i);
    ++i;
    aup += 1.0;
    upterm *= (aup + b - 2.0) * xx / (aup - 1.0);
    betup -= upterm;
    sum += xmult * betup;
    if (!ends_direction(sum, xmult * betup, 0.0)) continue;
    const double rest =
        std::max(betup, 0.0) * distfn::poisson_weight_above(xmult, static_cast<double>(i - 1), xnonc);
    if (ends_direction(sum, xmult * betup, rest)) break;
  }
  // Where x underflows (a tiny f dfn) the steps of the recurrences lose all
  // accuracy and the sum leaves [0, 1]: then it cannot be completed either.
  if (!(sum >= 0.0 && sum <= 1.0)) return set_pair(cum, ccum, not_a_number, not_a_number);
  set_pair(cum, ccum, sum, 0.5 + (0.5 - sum));
}

}  // extern "C"

namespace distfn {


bool noncentral_f_first_term(double f, double dfn, double dfd, double m, double *cum, double *ccum) {
  if (!(m * dfn * f * (1.0 + dfn / dfd) < negligible_term_ratio)) return false;
  double a = 0.5 * dfn, b = 0.5 * dfd;
  const double log_u = std::log(dfn) + std::log(f) - std::log(dfd + dfn * f);
  const double log_ratio = log_leading_beta_term(a, b, log_u);
  const double weight = std::exp(-m);
  *cum = weight * std::exp(log_ratio);
  // The mass of the later terms, 1 - e^-m, and the first term's upper tail.
  *ccum = -std::expm1(-m) - weight * std::expm1(log_ratio);
  return true;
}

}  // namespace distfn
