// The regularized incomplete beta ratio I_x(a, b) and its complement: the
// argument checks, the boundary cases and the choice among eight methods by
// argument region.

#include <algorithm>
#include <cmath>
#include <limits>

#include "distfn.h"
#include "distfn_internal.hpp"

using distfn::by_value;
using distfn::whole_part;

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// Tolerances are not asked below this, whatever the machine epsilon.
constexpr double tolerance_floor = 1e-15;
// x + y may differ from 1 by this many machine epsilons.
constexpr double complement_slack = 3.0;
// Both parameters below this many eps: I_x(a, b) -> b/(a + b).
constexpr double negligible_parameters = 1e-3;
// Tolerances of the expansions, in units of the working eps.
constexpr double bgrat_bfrac_tolerance = 15.0;
constexpr double two_parameter_tolerance = 100.0;

// Regions of the method choice.
constexpr double swap_above_x = 0.5;
constexpr double series_upper_x = 0.3;
constexpr double series_lower_x = 0.1;
constexpr double series_power_bound = 0.7;
constexpr double both_small_a_bound = 0.2;
constexpr double both_small_power_bound = 0.9;
constexpr double shift_if_at_most = 15.0;
constexpr int shift_steps = 20;
constexpr double continued_fraction_below = 40.0;
constexpr double series_bx_bound = 0.7;
constexpr double series_x_bound = 0.7;
constexpr double continued_fraction_up_to = 100.0;
constexpr double two_parameter_lambda_share = 0.03;

// The error codes of bratio, in the order in which the checks run.
enum BratioStatus : int {
  computed = 0,
  negative_parameter = 1,
  both_parameters_zero = 2,
  x_out_of_range = 3,
  y_out_of_range = 4,
  x_plus_y_not_one = 5,
  x_and_a_zero = 6,
  y_and_b_zero = 7,
};

// The problem as the methods see it: possibly with the roles of (a, x) and
// (b, y) exchanged, in which case the pair is exchanged back at the end.
struct Problem {
  double a, b, x, y;
  bool swapped;
};

void swap_roles(Problem &p) {
  std::swap(p.a, p.b);
  std::swap(p.x, p.y);
  p.swapped = true;
}

// The one member of the pair that a method computed; the other follows as
// 0.5 + (0.5 - value), which keeps the small member exact.
struct TailValue {
  double value;
  bool is_complement;
};

TailValue lower_tail(double w) { return {w, false}; }
TailValue upper_tail(double w1) { return {w1, true}; }

int first_argument_error(double a, double b, double x, double y, double eps) {
  if (a < 0.0 || b < 0.0) return negative_parameter;
  if (a == 0.0 && b == 0.0) return both_parameters_zero;
  if (x < 0.0 || x > 1.0) return x_out_of_range;
  if (y < 0.0 || y > 1.0) return y_out_of_range;
  if (std::fabs(((x + y) - 0.5) - 0.5) > complement_slack * eps) return x_plus_y_not_one;
  return computed;
}

// w += bgrat(big, small, x, y), first shifting the large parameter by
// shift_steps through bup when it is too small for the expansion.
double add_large_parameter_expansion(double big, double small, double x, double y, double w,
                                     double eps) {
  if (big <= shift_if_at_most) {
    w = by_value<bup>(big, small, x, y, shift_steps, eps) + w;
    big += shift_steps;
  }
  double tolerance = bgrat_bfrac_tolerance * eps;
  int expansion_status;  // A failed expansion leaves w as it is.
  bgrat(&big, &small, &x, &y, &w, &tolerance, &expansion_status);
  return w;
}

// min(a, b) <= 1.
TailValue small_parameter_method(Problem &p, double eps) {
  if (p.x > swap_above_x) swap_roles(p);
  const double a0 = p.a, b0 = p.b, x0 = p.x, y0 = p.y;
  if (b0 < std::min(eps, eps * a0)) return lower_tail(by_value<fpser>(a0, b0, x0, eps));
  if (a0 < std::min(eps, eps * b0) && b0 * x0 <= 1.0) {
    return upper_tail(by_value<apser>(a0, b0, x0, eps));
  }

  if (std::max(a0, b0) > 1.0) {
    if (b0 <= 1.0) return lower_tail(by_value<bpser>(a0, b0, x0, eps));
    if (x0 >= series_upper_x) return upper_tail(by_value<bpser>(b0, a0, y0, eps));
    if (x0 < series_lower_x && std::pow(x0 * b0, a0) <= series_power_bound) {
      return lower_tail(by_value<bpser>(a0, b0, x0, eps));
    }
    return upper_tail(add_large_parameter_expansion(b0, a0, y0, x0, 0.0, eps));
  }

  if (a0 >= std::min(both_small_a_bound, b0) || std::pow(x0, a0) <= both_small_power_bound) {
    return lower_tail(by_value<bpser>(a0, b0, x0, eps));
  }
  if (x0 >= series_upper_x) return upper_tail(by_value<bpser>(b0, a0, y0, eps));
  return upper_tail(add_large_parameter_expansion(b0, a0, y0, x0, 0.0, eps));
}

// Both parameters above 1; lambda measures the distance of x from the mean.
TailValue large_parameter_method(Problem &p, double eps) {
  double lambda = p.a > p.b ? (p.a + p.b) * p.y - p.b : p.a - (p.a + p.b) * p.x;
  if (lambda < 0.0) {
    swap_roles(p);
    lambda = -lambda;
  }
  double a0 = p.a, b0 = p.b;
  const double x0 = p.x, y0 = p.y;

  if (b0 < continued_fraction_below) {
    if (b0 * x0 <= series_bx_bound) return lower_tail(by_value<bpser>(a0, b0, x0, eps));
    // I_x(a, b) = I_x(a, b') + [I_y(b', a) - I_y(b' + n, a)] with b' = b - n in (0, 1].
    int n = whole_part(b0);
    b0 -= n;
    if (b0 == 0.0) {
      n -= 1;
      b0 = 1.0;
    }
    const double w = by_value<bup>(b0, a0, y0, x0, n, eps);
    if (x0 <= series_x_bound) return lower_tail(by_value<bpser>(a0, b0, x0, eps) + w);
    return lower_tail(add_large_parameter_expansion(a0, b0, x0, y0, w, eps));
  }

  const double smaller = a0 > b0 ? b0 : a0;
  if (smaller <= continued_fraction_up_to || lambda > two_parameter_lambda_share * smaller) {
    return lower_tail(by_value<bfrac>(a0, b0, x0, y0, lambda, bgrat_bfrac_tolerance * eps));
  }
  return lower_tail(by_value<basym>(a0, b0, lambda, two_parameter_tolerance * eps));
}

}  // namespace

extern "C" void bratio(double *a_in, double *b_in, double *x_in, double *y_in, double *w,
                       double *w1, int *ierr) {
  const double a = *a_in, b = *b_in, x = *x_in, y = *y_in;
  *w = 0.0;
  *w1 = 0.0;
  const double machine_eps = by_value<spmpar>(1);
  *ierr = first_argument_error(a, b, x, y, machine_eps);
  if (*ierr != computed) return;

  if (std::isnan(a) || std::isnan(b) || std::isnan(x) || std::isnan(y)) {
    *w = *w1 = not_a_number;
    return;
  }
  if (x == 0.0) {
    if (a == 0.0) {
      *ierr = x_and_a_zero;
    } else {
      *w1 = 1.0;
    }
    return;
  }
  if (y == 0.0) {
    if (b == 0.0) {
      *ierr = y_and_b_zero;
    } else {
      *w = 1.0;
    }
    return;
  }
  if (a == 0.0) {
    *w = 1.0;
    return;
  }
  if (b == 0.0) {
    *w1 = 1.0;
    return;
  }
  // Infinite shapes: the mass moves to x = 1 (a) or x = 0 (b); both at once
  // leave the limit undefined.
  if (std::isinf(a) || std::isinf(b)) {
    if (std::isinf(a) && std::isinf(b)) {
      *w = *w1 = not_a_number;
    } else if (std::isinf(a)) {
      *w1 = 1.0;
    } else {
      *w = 1.0;
    }
    return;
  }

  // Shapes whose sum overflows leave no method a scale to work on.
  if (std::isinf(a + b)) {
    *w = *w1 = not_a_number;
    return;
  }

  const double eps = std::max(machine_eps, tolerance_floor);
  if (std::max(a, b) < negligible_parameters * eps) {
    *w = b / (a + b);
    *w1 = a / (a + b);
    return;
  }

  Problem p{a, b, x, y, false};
  const TailValue result = std::min(a, b) <= 1.0 ? small_parameter_method(p, eps)
                                                  : large_parameter_method(p, eps);
  if (result.is_complement) {
    *w1 = result.value;
    *w = 0.5 + (0.5 - *w1);
  } else {
    *w = result.value;
    *w1 = 0.5 + (0.5 - *w);
  }
  if (p.swapped) std::swap(*w, *w1);
}
