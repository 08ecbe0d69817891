// Front ends of the distributions built on the incomplete gamma ratio: gamma,
// chi-square, noncentral chi-square and Poisson.

#include <optional>

#include "distfn.h"
#include "front_end_common.hpp"

using namespace distfn::front_end;

namespace {

constexpr SearchInterval chn_noncentrality_interval{0.0, largest_noncentrality, smallest_positive_parameter,
                                                    largest_noncentrality};

// The search function of cdfchi, cdfgam and cdfpoi: the incomplete gamma
// ratio marks an error in the lower tail alone (leaving the upper one
// unwritten), so that tail decides whether the search goes on.
std::optional<double> gamma_tail_difference(bool qporq, double cum, double ccum, double p, double q) {
  if (!is_probability(cum)) return std::nullopt;
  return tail_difference(qporq, cum, ccum, p, q);
}

}  // namespace

extern "C" {

void cdfgam(int *which, double *p, double *q, double *x, double *shape, double *scale, int *status,
            double *bound) {
  const int w = *which;
  if (reject_which(w, 4, status, bound)) return;
  // Solving for the scale needs x > 0: at 0 every scale gives p = 0.
  const ArgumentRule x_rule = w == 4 ? positive(4, x, true) : non_negative(4, x, w != 2);
  const ArgumentRule rules[] = {
      probability(2, p, w != 1),    nonzero_probability(3, q, w != 1), x_rule,
      positive(5, shape, w != 3), positive(6, scale, w != 4),
  };
  if (reject_arguments(rules, status, bound)) return;
  if (w != 1 && reject_unit_sum(*p, *q, status_p_plus_q, status, bound)) return;

  if (w == 1) {
    double xscale = *x * *scale;
    cumgam(&xscale, shape, p, q);
    return report_tails(*p, *q, status);
  }
  if (w == 2 || w == 4) {
    // The inverse of the incomplete gamma ratio gives x times scale directly.
    double xx;
    double no_start = -1.0;
    int ierr;
    gaminv(shape, &xx, &no_start, p, q, &ierr);
    if (ierr < 0) {
      *status = status_gamma_error;
      return;
    }
    if (w == 2) {
      *x = xx / *scale;
    } else {
      *scale = xx / *x;
    }
    *status = status_success;
    return;
  }
  const bool qporq = *p <= *q;
  auto difference = [&]() -> std::optional<double> {
    double xscale = *x * *scale;
    double cum, ccum;
    cumgam(&xscale, shape, &cum, &ccum);
    return gamma_tail_difference(qporq, cum, ccum, *p, *q);
  };
  solve_parameter(positive_parameter_interval, search_start, shape, status, bound, difference);
}

void cdfchi(int *which, double *p, double *q, double *x, double *df, int *status, double *bound) {
  const int w = *which;
  if (reject_which(w, 3, status, bound)) return;
  const ArgumentRule rules[] = {
      probability(2, p, w != 1),
      nonzero_probability(3, q, w != 1),
      non_negative(4, x, w != 2),
      positive(5, df, w != 3),
  };
  if (reject_arguments(rules, status, bound)) return;
  if (w != 1 && reject_unit_sum(*p, *q, status_p_plus_q, status, bound)) return;

  if (w == 1) {
    cumchi(x, df, p, q);
    return report_tails(*p, *q, status);
  }
  const bool qporq = *p <= *q;
  auto difference = [&]() -> std::optional<double> {
    double cum, ccum;
    cumchi(x, df, &cum, &ccum);
    return gamma_tail_difference(qporq, cum, ccum, *p, *q);
  };
  if (w == 2) return solve_parameter(non_negative_interval, search_start, x, status, bound, difference);
  solve_parameter(positive_parameter_interval, search_start, df, status, bound, difference);
}

void cdfchn(int *which, double *p, double *q, double *x, double *df, double *pnonc, int *status,
            double *bound) {
  const int w = *which;
  if (reject_which(w, 4, status, bound)) return;
  // q is only ever written: the noncentral sum gives no accurate upper tail.
  const ArgumentRule rules[] = {
      in_range(2, p, 0.0, largest_noncentral_p, w != 1),
      non_negative(4, x, w != 2),
      positive(5, df, w != 3),
      non_negative(6, pnonc, w != 4),
  };
  if (reject_arguments(rules, status, bound)) return;

  if (w == 1) {
    cumchn(x, df, pnonc, p, q);
    report_tails(*p, *q, status);
    return;
  }
  auto difference = [&]() -> std::optional<double> {
    double cum, ccum;
    cumchn(x, df, pnonc, &cum, &ccum);
    return tail_difference(true, cum, ccum, *p, *q);
  };
  switch (w) {
    case 2:
      return solve_parameter(non_negative_interval, search_start, x, status, bound, difference);
    case 3:
      return solve_parameter(positive_parameter_interval, search_start, df, status, bound, difference);
    default:
      return solve_parameter(chn_noncentrality_interval, search_start, pnonc, status, bound, difference);
  }
}

void cdfpoi(int *which, double *p, double *q, double *s, double *xlam, int *status, double *bound) {
  const int w = *which;
  if (reject_which(w, 3, status, bound)) return;
  const ArgumentRule rules[] = {
      probability(2, p, w != 1),
      nonzero_probability(3, q, w != 1),
      non_negative(4, s, w != 2),
      non_negative(5, xlam, w != 3),
  };
  if (reject_arguments(rules, status, bound)) return;
  if (w != 1 && reject_unit_sum(*p, *q, status_p_plus_q, status, bound)) return;

  if (w == 1) {
    cumpoi(s, xlam, p, q);
    return report_tails(*p, *q, status);
  }
  const bool qporq = *p <= *q;
  auto difference = [&]() -> std::optional<double> {
    double cum, ccum;
    cumpoi(s, xlam, &cum, &ccum);
    return gamma_tail_difference(qporq, cum, ccum, *p, *q);
  };
  if (w == 2) return solve_parameter(non_negative_interval, search_start, s, status, bound, difference);
  solve_parameter(non_negative_interval, search_start, xlam, status, bound, difference);
}

}  // extern "C"
