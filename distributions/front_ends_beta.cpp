// Front ends of the distributions built on the incomplete beta ratio: beta,
// binomial, negative binomial, Student's t, F and noncentral F.  Each checks
// its arguments, then computes p and q directly (case 1) or searches for the
// one quantity that `which` names.

#include <optional>

#include "distfn.h"
#include "front_end_common.hpp"

using namespace distfn::front_end;

namespace {

constexpr SearchInterval t_interval{-largest_parameter, largest_parameter, -largest_parameter, largest_parameter};
constexpr SearchInterval t_degrees_of_freedom_interval{smallest_positive_parameter, largest_t_degrees_of_freedom,
                                                       smallest_positive_parameter, largest_t_degrees_of_freedom};
constexpr SearchInterval noncentrality_interval{0.0, largest_noncentrality, 0.0, largest_noncentrality};

}  // namespace

extern "C" {

void cdfbet(int *which, double *p, double *q, double *x, double *y, double *a, double *b, int *status,
            double *bound) {
  const int w = *which;
  if (reject_which(w, 4, status, bound)) return;
  const ArgumentRule rules[] = {
      probability(2, p, w != 1), probability(3, q, w != 1), probability(4, x, w != 2),
      probability(5, y, w != 2), positive(6, a, w != 3),    positive(7, b, w != 4),
  };
  if (reject_arguments(rules, status, bound)) return;
  if (w != 1 && reject_unit_sum(*p, *q, status_p_plus_q, status, bound)) return;
  if (w != 2 && reject_unit_sum(*x, *y, status_complement_pair, status, bound)) return;

  if (w == 1) {
    cumbet(x, y, a, b, p, q);
    report_tails(*p, *q, status);
    return;
  }
  const bool qporq = *p <= *q;
  auto difference = [&]() -> std::optional<double> {
    double cum, ccum;
    cumbet(x, y, a, b, &cum, &ccum);
    return tail_difference(qporq, cum, ccum, *p, *q);
  };
  switch (w) {
    case 2:
      return solve_complement_pair(qporq, x, y, status, bound, difference);
    case 3:
      return solve_parameter(positive_parameter_interval, search_start, a, status, bound, difference);
    default:
      return solve_parameter(positive_parameter_interval, search_start, b, status, bound, difference);
  }
}

void cdfbin(int *which, double *p, double *q, double *s, double *xn, double *pr, double *ompr, int *status,
            double *bound) {
  const int w = *which;
  if (reject_which(w, 4, status, bound)) return;
  // xn is tested before s, which it bounds.
  const ArgumentRule rules[] = {
      probability(2, p, w != 1),
      probability(3, q, w != 1),
      positive(5, xn, w != 3),
      in_range(4, s, 0.0, w == 3 ? unbounded : *xn, w != 2),
      probability(6, pr, w != 4),
      probability(7, ompr, w != 4),
  };
  if (reject_arguments(rules, status, bound)) return;
  if (w != 1 && reject_unit_sum(*p, *q, status_p_plus_q, status, bound)) return;
  if (w != 4 && reject_unit_sum(*pr, *ompr, status_complement_pair, status, bound)) return;

  if (w == 1) {
    cumbin(s, xn, pr, ompr, p, q);
    report_tails(*p, *q, status);
    return;
  }
  const bool qporq = *p <= *q;
  auto difference = [&]() -> std::optional<double> {
    double cum, ccum;
    cumbin(s, xn, pr, ompr, &cum, &ccum);
    return tail_difference(qporq, cum, ccum, *p, *q);
  };
  switch (w) {
    case 2: {
      // The start 5 moves to xn when fewer than 5 trials bound the search.
      const SearchInterval successes{0.0, *xn, 0.0, *xn};
      return solve_parameter(successes, search_start, s, status, bound, difference);
    }
    case 3:
      return solve_parameter(positive_parameter_interval, search_start, xn, status, bound, difference);
    default:
      return solve_complement_pair(qporq, pr, ompr, status, bound, difference);
  }
}

void cdfnbn(int *which, double *p, double *q, double *s, double *xn, double *pr, double *ompr, int *status,
            double *bound) {
  const int w = *which;
  if (reject_which(w, 4, status, bound)) return;
  const ArgumentRule rules[] = {
      probability(2, p, w != 1),  nonzero_probability(3, q, w != 1), non_negative(4, s, w != 2),
      non_negative(5, xn, w != 3), probability(6, pr, w != 4),       probability(7, ompr, w != 4),
  };
  if (reject_arguments(rules, status, bound)) return;
  if (w != 1 && reject_unit_sum(*p, *q, status_p_plus_q, status, bound)) return;
  if (w != 4 && reject_unit_sum(*pr, *ompr, status_complement_pair, status, bound)) return;

  if (w == 1) {
    cumnbn(s, xn, pr, ompr, p, q);
    report_tails(*p, *q, status);
    return;
  }
  const bool qporq = *p <= *q;
  auto difference = [&]() -> std::optional<double> {
    double cum, ccum;
    cumnbn(s, xn, pr, ompr, &cum, &ccum);
    return tail_difference(qporq, cum, ccum, *p, *q);
  };
  switch (w) {
    case 2:
      return solve_parameter(non_negative_interval, search_start, s, status, bound, difference);
    case 3:
      return solve_parameter(non_negative_interval, search_start, xn, status, bound, difference);
    default:
      return solve_complement_pair(qporq, pr, ompr, status, bound, difference);
  }
}

void cdft(int *which, double *p, double *q, double *t, double *df, int *status, double *bound) {
  const int w = *which;
  if (reject_which(w, 3, status, bound)) return;
  const ArgumentRule rules[] = {
      nonzero_probability(2, p, w != 1),
      nonzero_probability(3, q, w != 1),
      any_real(4, t, w != 2),
      positive(5, df, w != 3),
  };
  if (reject_arguments(rules, status, bound)) return;
  if (w != 1 && reject_unit_sum(*p, *q, status_p_plus_q, status, bound)) return;

  if (w == 1) {
    cumt(t, df, p, q);
    report_tails(*p, *q, status);
    return;
  }
  const bool qporq = *p <= *q;
  auto difference = [&]() -> std::optional<double> {
    double cum, ccum;
    cumt(t, df, &cum, &ccum);
    return tail_difference(qporq, cum, ccum, *p, *q);
  };
  if (w == 2) {
    // The approximate quantile starts the search; beyond +-1e300 (tiny df)
    // it is moved to the nearest end of the interval.
    return solve_parameter(t_interval, dt1(p, q, df), t, status, bound, difference);
  }
  solve_parameter(t_degrees_of_freedom_interval, search_start, df, status, bound, difference);
}

void cdff(int *which, double *p, double *q, double *f, double *dfn, double *dfd, int *status, double *bound) {
  const int w = *which;
  if (reject_which(w, 4, status, bound)) return;
  const ArgumentRule rules[] = {
      probability(2, p, w != 1), nonzero_probability(3, q, w != 1), non_negative(4, f, w != 2),
      positive(5, dfn, w != 3),  positive(6, dfd, w != 4),
  };
  if (reject_arguments(rules, status, bound)) return;
  if (w != 1 && reject_unit_sum(*p, *q, status_p_plus_q, status, bound)) return;

  if (w == 1) {
    cumf(f, dfn, dfd, p, q);
    report_tails(*p, *q, status);
    return;
  }
  const bool qporq = *p <= *q;
  auto difference = [&]() -> std::optional<double> {
    double cum, ccum;
    cumf(f, dfn, dfd, &cum, &ccum);
    return tail_difference(qporq, cum, ccum, *p, *q);
  };
  switch (w) {
    case 2:
      return solve_parameter(non_negative_interval, search_start, f, status, bound, difference);
    case 3:
      return solve_parameter(positive_parameter_interval, search_start, dfn, status, bound, difference);
    default:
      return solve_parameter(positive_parameter_interval, search_start, dfd, status, bound, difference);
  }
}

void cdffnc(int *which, double *p, double *q, double *f, double *dfn, double *dfd, double *pnonc, int *status,
            double *bound) {
  const int w = *which;
  if (reject_which(w, 5, status, bound)) return;
  // q is only ever written: the noncentral sums give no accurate upper tail.
  const ArgumentRule rules[] = {
      in_range(2, p, 0.0, largest_noncentral_p, w != 1),
      non_negative(4, f, w != 2),
      positive(5, dfn, w != 3),
      positive(6, dfd, w != 4),
      non_negative(7, pnonc, w != 5),
  };
  if (reject_arguments(rules, status, bound)) return;

  if (w == 1) {
    cumfnc(f, dfn, dfd, pnonc, p, q);
    report_tails(*p, *q, status);
    return;
  }
  auto difference = [&]() -> std::optional<double> {
    double cum, ccum;
    cumfnc(f, dfn, dfd, pnonc, &cum, &ccum);
    return tail_difference(true, cum, ccum, *p, *q);
  };
  switch (w) {
    case 2:
      return solve_parameter(non_negative_interval, search_start, f, status, bound, difference);
    case 3:
      return solve_parameter(positive_parameter_interval, search_start, dfn, status, bound, difference);
    case 4:
      return solve_parameter(positive_parameter_interval, search_start, dfd, status, bound, difference);
    default:
      return solve_parameter(noncentrality_interval, search_start, pnonc, status, bound, difference);
  }
}

}  // extern "C"
