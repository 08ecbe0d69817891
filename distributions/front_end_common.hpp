// What the parameter-solving front ends share: the argument checks that set
// status and bound, and the one search loop that drives the reverse-
// communication solvers with a distribution's cumulative function.
#pragma once

#include <cmath>
#include <limits>
#include <optional>
#include <span>

#include "distfn.h"

namespace distfn::front_end {

inline constexpr double search_abstol = 1e-50;
inline constexpr double search_reltol = 1e-8;
inline constexpr double smallest_positive_parameter = 1e-300;
inline constexpr double largest_parameter = 1e300;
// The largest double below 1 (1 - 2^-53): the noncentral distributions cannot
// reach a lower tail of 1.
inline constexpr double largest_noncentral_p = 0.9999999999999999;
inline constexpr double largest_noncentrality = 1e4;
inline constexpr double largest_t_degrees_of_freedom = 1e10;
inline constexpr double search_start = 5.0;
inline constexpr double search_absstp = 0.5;
inline constexpr double search_relstp = 0.5;
inline constexpr double search_stpmul = 5.0;
// p + q and the complement pairs must sum to 1 within this many epsilons.
inline constexpr double unit_sum_epsilons = 3.0;

inline constexpr double unbounded = std::numeric_limits<double>::infinity();

inline constexpr int status_success = 0;
inline constexpr int status_bad_which = -1;
inline constexpr int status_at_lower_limit = 1;
inline constexpr int status_at_upper_limit = 2;
inline constexpr int status_p_plus_q = 3;
inline constexpr int status_complement_pair = 4;
inline constexpr int status_gamma_error = 10;

// A case selector outside 1..last_case: status -1, bound the nearest valid one.
inline bool reject_which(int which, int last_case, int *status, double *bound) {
  if (which >= 1 && which <= last_case) return false;
  *status = status_bad_which;
  *bound = which < 1 ? 1.0 : static_cast<double>(last_case);
  return true;
}

// The valid range of one argument.  position counts `which` as 1, so a
// violation reports status -position.
struct ArgumentRule {
  int position;
  const double *value;  // read only when checked: it may be an unset output
  double lower;     // -unbounded when there is no lower limit
  bool lower_open;  // the value must exceed lower rather than reach it
  double upper;     // unbounded when there is no upper limit
  bool checked;     // false in the case that computes this argument
};

inline ArgumentRule in_range(int position, const double *value, double lower, double upper, bool checked) {
  return {position, value, lower, false, upper, checked};
}
inline ArgumentRule above_in_range(int position, const double *value, double lower, double upper,
                                   bool checked) {
  return {position, value, lower, true, upper, checked};
}
inline ArgumentRule probability(int position, const double *value, bool checked) {
  return in_range(position, value, 0.0, 1.0, checked);
}
// A probability that must not be 0 (a tail that the inverse cannot reach).
inline ArgumentRule nonzero_probability(int position, const double *value, bool checked) {
  return above_in_range(position, value, 0.0, 1.0, checked);
}
inline ArgumentRule non_negative(int position, const double *value, bool checked) {
  return in_range(position, value, 0.0, unbounded, checked);
}
inline ArgumentRule positive(int position, const double *value, bool checked) {
  return above_in_range(position, value, 0.0, unbounded, checked);
}
inline ArgumentRule any_real(int position, const double *value, bool checked) {
  return in_range(position, value, -unbounded, unbounded, checked);
}

// Where the value breaks the rule, the limit it broke; nothing when it keeps
// it.  A NaN breaks the lower limit (0 when there is none) and an infinity
// that no explicit limit catches breaks finiteness, reported as the largest
// double of its sign: the distributions are only defined for finite values.
[[gnu::always_inline]] inline std::optional<double> violated_limit(const ArgumentRule &rule) {
  const double v = *rule.value;
  const bool above_lower = rule.lower_open ? v > rule.lower : v >= rule.lower;
  if (!above_lower) return std::isnan(v) && std::isinf(rule.lower) ? 0.0 : rule.lower;
  if (v > rule.upper) return rule.upper;
  if (std::isinf(v)) {
    int largest = 3;
    return std::copysign(spmpar(&largest), v);
  }
  return std::nullopt;
}

// Applies the rules in order and reports the first violation.
[[gnu::always_inline]] inline bool reject_arguments(std::span<const ArgumentRule> rules, int *status, double *bound) {
  // Unrolled, the rules' constant limits fold into plain comparisons where
  // the caller is inlined.
#pragma GCC unroll 8
  for (const ArgumentRule &rule : rules) {
    if (!rule.checked) continue;
    if (const std::optional<double> limit = violated_limit(rule)) {
      *status = -rule.position;
      *bound = *limit;
      return true;
    }
  }
  return false;
}

// A pair that must sum to 1 (p + q, x + y, pr + ompr) but does not: status
// failure_status, bound 0 when the sum is negative and 1 otherwise.
inline bool reject_unit_sum(double first, double second, int failure_status, int *status, double *bound) {
  const double sum = first + second;
  // spmpar(1) of IEEE doubles, as a constant: this check runs on every call.
  if (!(std::fabs((sum - 0.5) - 0.5) > unit_sum_epsilons * std::numeric_limits<double>::epsilon())) return false;
  *status = failure_status;
  *bound = sum < 0.0 ? 0.0 : 1.0;
  return true;
}

// Below this target the residuals are scaled by its reciprocal (capped at
// 2^1000, for subnormal targets): the zero search multiplies residuals
// (three-point interpolation), and residuals near a target below about
// 1e-154 have products below the normal doubles, where its steps lose all
// meaning.  A constant positive factor changes neither a sign nor a step
// of the search, so targets above the threshold are searched bit for bit
// as without it.
inline constexpr double smallest_unscaled_target = 1e-100;
inline constexpr double largest_residual_scale = 0x1p1000;

// tail - target, scaled as above.
inline double tail_residual(double tail, double target) {
  const double scale = target < smallest_unscaled_target && target > 0.0
                           ? std::fmin(1.0 / target, largest_residual_scale)
                           : 1.0;
  return (tail - target) * scale;
}

// A tail that is no probability (NaN, the incomplete gamma ratio's error
// marker 2, a sum that could not be completed) is a failed evaluation: case
// 1 reports it, and a search ends on it, instead of passing it on.
inline bool is_probability(double tail) { return tail >= 0.0 && tail <= 1.0; }
inline void report_tails(double cum, double ccum, int *status) {
  *status = is_probability(cum) && is_probability(ccum) ? status_success : status_gamma_error;
}

// The function handed to a solver works on the smaller tail, where the
// probability carries the most relative accuracy: the residual, or nothing
// to end the search.
inline std::optional<double> tail_difference(bool use_lower_tail, double cum, double ccum, double p, double q) {
  const double tail = use_lower_tail ? cum : ccum;
  if (!is_probability(tail)) return std::nullopt;
  return use_lower_tail ? tail_residual(cum, p) : tail_residual(ccum, q);
}

// How a search ended.
enum class SearchOutcome { solved, at_lower_limit, at_upper_limit, evaluation_failed };

// A search interval and the bounds reported when the search ends at either
// end of it (which are not always its ends).
struct SearchInterval {
  double lower;
  double upper;
  double reported_lower;
  double reported_upper;
};

inline constexpr SearchInterval positive_parameter_interval{smallest_positive_parameter, largest_parameter,
                                                            smallest_positive_parameter, largest_parameter};
inline constexpr SearchInterval non_negative_interval{0.0, largest_parameter, 0.0, largest_parameter};
inline constexpr SearchInterval probability_interval{0.0, 1.0, 0.0, 1.0};

// The search start moved into the interval, so that the solver never sees an
// outside start; a NaN start becomes the interval's point nearest 0.
inline double start_within(const SearchInterval &interval, double start) {
  if (std::isnan(start)) start = 0.0;
  return std::fmin(std::fmax(start, interval.lower), interval.upper);
}

// Drives dinvr until it settles.  difference() evaluates the distribution at
// the current arguments, *x holding the trial value, and returns the value
// for the solver, or nothing to abandon the search.  *x receives the answer.
template <typename Difference>
SearchOutcome solve_monotone(const SearchInterval &interval, double start, double *x, Difference &&difference) {
  double small = interval.lower, big = interval.upper;
  double absstp = search_absstp, relstp = search_relstp, stpmul = search_stpmul;
  double abstol = search_abstol, reltol = search_reltol;
  dstinv(&small, &big, &absstp, &relstp, &stpmul, &abstol, &reltol);
  *x = start_within(interval, start);
  int status = 0;
  double fx = 0.0;
  unsigned long qleft = 0, qhi = 0;
  for (dinvr(&status, x, &fx, &qleft, &qhi); status == 1; dinvr(&status, x, &fx, &qleft, &qhi)) {
    const std::optional<double> value = difference();
    if (!value) return SearchOutcome::evaluation_failed;
    fx = *value;
  }
  if (status == 0) return SearchOutcome::solved;
  return qleft ? SearchOutcome::at_lower_limit : SearchOutcome::at_upper_limit;
}

// Searches a probability in [0, 1] with dzror; *complement follows it as
// 1 - *x after every step.  The answer is the last point evaluated.
template <typename Difference>
SearchOutcome solve_probability(double *x, double *complement, Difference &&difference) {
  double lo = probability_interval.lower, hi = probability_interval.upper;
  double abstol = search_abstol, reltol = search_reltol;
  dstzr(&lo, &hi, &abstol, &reltol);
  int status = 0;
  double fx = 0.0, xlo = 0.0, xhi = 0.0;
  unsigned long qleft = 0, qhi = 0;
  for (;;) {
    dzror(&status, x, &fx, &xlo, &xhi, &qleft, &qhi);
    *complement = 1.0 - *x;
    if (status != 1) break;
    const std::optional<double> value = difference();
    if (!value) return SearchOutcome::evaluation_failed;
    fx = *value;
  }
  if (status == 0) return SearchOutcome::solved;
  return qleft ? SearchOutcome::at_lower_limit : SearchOutcome::at_upper_limit;
}

// Turns a search outcome into the front end's status and bound.
inline void report_search(SearchOutcome outcome, const SearchInterval &interval, int *status, double *bound) {
  switch (outcome) {
    case SearchOutcome::solved:
      *status = status_success;
      return;
    case SearchOutcome::at_lower_limit:
      *status = status_at_lower_limit;
      *bound = interval.reported_lower;
      return;
    case SearchOutcome::at_upper_limit:
      *status = status_at_upper_limit;
      *bound = interval.reported_upper;
      return;
    case SearchOutcome::evaluation_failed:
      *status = status_gamma_error;
      return;
  }
}

// Solves for a probability-like quantity on [0, 1] (a success probability, a
// beta variate): the smaller tail decides whether the value or its complement
// is searched.
template <typename Difference>
void solve_complement_pair(bool lower_tail, double *value, double *complement, int *status, double *bound,
                           Difference &&difference) {
  const SearchOutcome outcome = lower_tail ? solve_probability(value, complement, difference)
                                           : solve_probability(complement, value, difference);
  report_search(outcome, probability_interval, status, bound);
}

// Solves for a parameter with dinvr and reports how the search ended.
template <typename Difference>
void solve_parameter(const SearchInterval &interval, double start, double *value, int *status, double *bound,
                     Difference &&difference) {
  report_search(solve_monotone(interval, start, value, difference), interval, status, bound);
}

}  // namespace distfn::front_end
