// Root finders of the quantile functions.  Both work on the logarithm of the
// tail probability, g = ln(tail(x) / target): in the far tails ln(tail) is
// close to linear in x (or in ln x), where tail - target is not, so a rough
// start converges there as fast as in the centre.
#pragma once

#include <cmath>
#include <limits>

namespace distfn::quantile {

inline constexpr double infinity = std::numeric_limits<double>::infinity();
inline constexpr double epsilon = std::numeric_limits<double>::epsilon();

// Near convergence the arguments of log1p and exp are tiny: below this size
// their Taylor series to the fifth power leave a relative error under
// r^5 / 6 < 1e-19, and cost a few multiplications instead of a call.
inline constexpr double taylor_reach = 0x1p-12;

// ln(1 + r).
inline double log1p_near_zero(double r) {
  if (!(std::fabs(r) < taylor_reach)) return std::log1p(r);
  return r * (1.0 - r * (0.5 - r * (1.0 / 3.0 - r * (0.25 - r * 0.2))));
}

// e^s.
inline double exp_near_zero(double s) {
  if (!(std::fabs(s) < taylor_reach)) return std::exp(s);
  return 1.0 + s * (1.0 + s * (0.5 + s * (1.0 / 6.0 + s * (1.0 / 24.0 + s * (1.0 / 120.0)))));
}

// ln(tail / target), rounded once near the root where tail/target ~ 1; a tail
// that underflowed counts as the smallest positive double.  The reciprocal
// of the target, when the caller keeps it, saves a division on the way.
inline double log_ratio(double tail, double target, double inverse_target) {
  const double t = tail > 0.0 ? tail : std::numeric_limits<double>::denorm_min();
  const double r = (t - target) * inverse_target;
  return std::fabs(r) < 0.5 ? log1p_near_zero(r) : std::log(t) - std::log(target);
}
inline double log_ratio(double tail, double target) { return log_ratio(tail, target, 1.0 / target); }

// A tail probability, its derivative in x (negative for an upper tail) and
// the derivative of ln|derivative| (the density's log-derivative); and the
// root itself where the evaluation could finish the solve from there
// (NaN otherwise).
struct TailPoint {
  double tail;
  double slope;
  double curvature;
  double root = NAN;
};

// Halley steps are accepted as final once both the step and its curvature
// correction are this small: the error left is of the order step^3 x
// curvature^2, below a quarter of an ulp.
inline constexpr double final_step = 1e-6;
inline constexpr int halley_step_limit = 100;
// In ln x, a bracket open at 0 is narrowed by factors of 8 down to this
// point, then settled against the least normal double (0.125^100 would not
// reach it from 1).
inline constexpr double deep_below = 1e-30;
inline constexpr double least_normal = std::numeric_limits<double>::min();

// Halley's iteration on g(x) = ln(tail(x)/target) inside (lo, hi), the root
// bracketed as it goes; the tail increases with x when increasing.  With
// log_variable the iteration runs in ln x (x > 0), where the tails of
// x^a-like laws are linear.  evaluate(x) returns the TailPoint at x.
// Returns NaN when an evaluation gives NaN.
template <typename Evaluate>
double halley(double x, double lo, double hi, double target, bool increasing, bool log_variable, Evaluate &&evaluate) {
  const double inverse_target = 1.0 / target;
  double previous_step = infinity;
  for (int iteration = 0; iteration < halley_step_limit; ++iteration) {
    const TailPoint pt = evaluate(x);
    if (std::isnan(pt.tail)) return pt.tail;
    if (pt.tail == target) return x;
    if (!std::isnan(pt.root)) return pt.root;
    const bool root_below = (pt.tail > target) == increasing;
    (root_below ? hi : lo) = x;
    const double g = log_ratio(pt.tail, target, inverse_target);
    // g' = d, and c = g''/g', in x or in ln x.  Newton's step is u = g/d,
    // Halley's u / (1 - u c/2) = g / (d - g c/2): one division after d's.
    const double d = (log_variable ? x * pt.slope : pt.slope) / pt.tail;
    const double c = log_variable ? 1.0 + x * pt.curvature - d : pt.curvature - d;
    const double e = d - 0.5 * g * c;
    // Halley's denominator e/d within (1/2, 2), tested without dividing.
    const double ed = e * d, dd = d * d;
    double step = g / (ed > 0.5 * dd && ed < 2.0 * dd ? e : d);
    double x_next = NAN;
    if (pt.tail > 0.0 && std::isfinite(step) && step != 0.0)
      x_next = log_variable ? x * exp_near_zero(-step) : x - step;
    if (x_next == x) return x;
    if (!(x_next > lo && x_next < hi)) {
      // Outside the bracket (or no usable step): bisect it, geometrically
      // across wide positive brackets.
      if (std::isinf(lo) || std::isinf(hi)) {
        x_next = std::isinf(hi) ? (lo > 0.0 ? 4.0 * lo : lo + 1.0) : (log_variable ? 0.25 * hi : hi - 1.0);
      } else if (lo > 0.0 && hi > 8.0 * lo) {
        x_next = std::sqrt(lo) * std::sqrt(hi);
      } else if (log_variable && lo <= 0.0 && hi < deep_below) {
        // Far below every point tried: either the root lies below the least
        // normal double, where the quantile underflows to 0, or the least
        // normal brackets it from below and the bisection turns geometric.
        const TailPoint least = evaluate(least_normal);
        if (std::isnan(least.tail)) return least.tail;
        if ((least.tail > target) == increasing) return 0.0;
        lo = least_normal;
        x_next = std::sqrt(lo) * std::sqrt(hi);
      } else if (log_variable && lo <= 0.0) {
        x_next = 0.125 * hi;
      } else {
        x_next = lo + 0.5 * (hi - lo);
      }
      step = infinity;
    }
    const double relative = log_variable ? std::fabs(step) : std::fabs(step) / std::fabs(x_next);
    if (relative <= final_step && std::fabs(step * c) <= final_step) return x_next;
    // Steps that stop shrinking are rounding noise in the tail.
    if (relative <= 64.0 * epsilon && std::fabs(step) >= previous_step) return x_next;
    previous_step = std::fabs(step);
    x = x_next;
  }
  return x;
}

// A point of a secant search: the abscissa and g there.
struct SecantPoint {
  double s;
  double g;
};

inline constexpr int secant_step_limit = 200;
// The relative step that ends a search to full double precision.
inline constexpr double full_precision = 2.0 * epsilon;

// The result of a bracketed search on [lower, upper]: the root, or the end
// beyond which it lies.
struct SecantResult {
  double s;
  int limit;  // 0 found, 1 below lower, 2 above upper
};

// Solves g(s) = 0 for a g that is monotone on [lower, upper] without a
// derivative: secant steps from s0 and s1 until the root is bracketed, then
// the Anderson-Bjorck variant of regula falsi, which keeps the superlinear
// order of the secant method while the bracket holds.  g returns
// ln(tail(s)/target), increasing in s when increasing.  Iterates stop when they change s by a few ulps.
template <typename G>
SecantResult secant(double s0, double s1, double lower, double upper, bool increasing, double tolerance, G &&g) {
  SecantPoint a{s0, g(s0)};
  if (a.g == 0.0) return {a.s, 0};
  if (std::isnan(a.g)) return {a.g, 0};
  // The second point: s1, or its mirror image about s0 where s1 falls
  // outside the interval (a start at an end of it).
  const double first_step = s1 != s0 ? s1 - s0 : (s0 == 0.0 ? 1.0 : 0.01 * std::fabs(s0));
  s1 = s0 + first_step;
  if (s1 > upper || s1 < lower) s1 = std::fmin(std::fmax(s0 - first_step, lower), upper);
  SecantPoint b{s1, g(s1)};
  // Bracketing: secant extrapolation with steps that may grow fourfold, in
  // the direction of the root (known from the sign of g: it also holds where
  // the tail underflowed and g is flat).
  int steps = 0;
  while ((a.g > 0.0) == (b.g > 0.0) && b.g != 0.0) {
    if (std::isnan(b.g) || ++steps > secant_step_limit) return {NAN, 0};
    const double width = b.s - a.s;
    const double toward = ((b.g > 0.0) == increasing) ? -1.0 : 1.0;
    double next = b.s - b.g * width / (b.g - a.g);
    // A secant step below the tolerance: its end is closer still (the
    // method's order is above 1), and final.
    if (std::fabs(next - b.s) <= tolerance * std::fabs(b.s)) return {next, 0};
    const double limit = 4.0 * std::fabs(width);
    if (!std::isfinite(next) || (next - b.s) * toward <= 0.0 || std::fabs(next - b.s) > limit) {
      next = b.s + toward * limit;
    }
    if (next <= lower) {
      if (b.s == lower || a.s == lower) return {lower, 1};
      next = lower;
    } else if (next >= upper) {
      if (b.s == upper || a.s == upper) return {upper, 2};
      next = upper;
    }
    a = b;
    b = {next, g(next)};
  }
  if (b.g == 0.0) return {b.s, 0};
  // Anderson-Bjorck on the bracket between a and b; b is the latest point.
  for (; steps < secant_step_limit; ++steps) {
    const double c_s = b.s - b.g * (b.s - a.s) / (b.g - a.g);
    if (!(std::fmin(a.s, b.s) < c_s && c_s < std::fmax(a.s, b.s))) {
      return {std::fabs(a.g) < std::fabs(b.g) ? a.s : b.s, 0};
    }
    if (std::fabs(c_s - b.s) <= tolerance * std::fabs(c_s)) return {c_s, 0};
    const SecantPoint c{c_s, g(c_s)};
    if (std::isnan(c.g)) return {NAN, 0};
    if (c.g == 0.0) return {c.s, 0};
    if ((c.g > 0.0) != (b.g > 0.0)) {
      a = b;
    } else {
      const double m = 1.0 - c.g / b.g;
      a.g *= m > 0.0 ? m : 0.5;
    }
    b = c;
    if (std::fabs(b.s - a.s) <= 2.0 * tolerance * std::fabs(b.s)) return {b.s, 0};
  }
  return {b.s, 0};
}

}  // namespace distfn::quantile
