// Declarations shared by the units of distfn but not part of its C interface.
#pragma once

#include <climits>
#include <cstddef>
#include <span>

#include "distfn.h"

// ---- foundations ------------------------------------------------------------

namespace distfn {

// c[0] + c[1] x + ... + c[n-1] x^(n-1), by Horner's rule from the highest
// power down: the order in which every coefficient set of the library that is
// stored in increasing powers is evaluated (devlpl is this for C callers).
constexpr double polynomial_ascending(std::span<const double> c, double x) {
  double sum = c.back();
  for (std::size_t i = c.size() - 1; i-- > 0;) sum = sum * x + c[i];
  return sum;
}

// c[0] x^(n-1) + c[1] x^(n-2) + ... + c[n-1], by Horner's rule: the sets that
// are stored highest power first.
constexpr double polynomial_descending(std::span<const double> c, double x) {
  double sum = c.front();
  for (std::size_t i = 1; i < c.size(); ++i) sum = sum * x + c[i];
  return sum;
}

// 1 + q[0] x + ... + q[n-1] x^n: a denominator whose constant term 1 is not
// stored, evaluated as ((q[n-1] x + q[n-2]) x + ... + q[0]) x + 1.
constexpr double unit_polynomial_ascending(std::span<const double> q, double x) {
  return polynomial_ascending(q, x) * x + 1.0;
}

// q[0] x^n + ... + q[n-1] x + 1, the highest-power-first counterpart.
constexpr double unit_polynomial_descending(std::span<const double> q, double x) {
  return polynomial_descending(q, x) * x + 1.0;
}

// The whole part of a positive value, truncated toward zero into a 32-bit
// integer as the loop counts of the gamma-family reductions need; 0 for
// values that are not positive (or NaN), INT_MAX beyond the int range.
constexpr int whole_part(double x) {
  if (!(x > 0.0)) return 0;
  if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(x);
}

}  // namespace distfn

// ---- normal distribution -------------------------------------------------------

namespace distfn {

// The Cornish-Fisher t quantile magnitude of dt1 for a normal quantile
// magnitude x, which the caller may approximate.
double cornish_fisher_t(double x, double df);

}  // namespace distfn

// ---- incomplete beta ratio ---------------------------------------------------

namespace distfn {

// Calls a function of the pointer-passing interface with values: the
// arguments are copied into this frame and their addresses handed on.
template <auto Function, typename... Args>
inline double by_value(Args... args) {
  return Function(&args...);
}

// Backstop for the loops that end only on a convergence test: far above the
// steps that any valid argument needs, it ends a loop fed with a NaN or an
// otherwise unusable value, whose result is then NaN.
inline constexpr int convergence_step_limit = 1000000;

}  // namespace distfn

// ---- Poisson mixtures (noncentral chi-square and F) ---------------------------

#include <algorithm>
#include <cmath>
#include <limits>

namespace distfn {

// Steps in one direction of a Poisson(m) mixture: at least 1000, and this
// many standard deviations sqrt(m).  Wide mixtures meet their stop bounds
// within about 12 of them (the Poisson tail beyond is below 1e-25 of the
// whole), narrow ones within far fewer than 1000 steps, so a sum that runs
// into the cap has met an unusable value and gives NaN.
inline constexpr double least_poisson_step_cap = 1000.0;
inline constexpr double poisson_steps_per_deviation = 64.0;
inline double poisson_step_cap(double m) {
  return std::max(least_poisson_step_cap, poisson_steps_per_deviation * std::sqrt(m));
}

// exp(k ln m - m - ln Gamma(k + 1)) for real k > -1 and m > 0: the Poisson
// weight of k at mean m, and with k = a - 1 the gamma density
// m^(a-1) e^-m / Gamma(a) (DLMF 8.8.5 steps between the ratios by it).
double poisson_weight(double k, double m);

// 2^36: beyond this Poisson mean a mixture needs millions of steps per call
// (tens of milliseconds) and its result is NaN instead.
inline constexpr double largest_poisson_mean = 68719476736.0;

// Bounds on the Poisson(m) weight beyond a term of weight w at index i, from
// the ratio of successive weights: w(j+1)/w(j) = m/(j+1).  Above i the ratios
// fall, so once they are below 1 the rest is at most a geometric series:
//   sum_{j>i} w(j) <= w m/(i+1) / (1 - m/(i+2)).
// Infinite while the ratios have not yet fallen below 1.
inline double poisson_weight_above(double w, double i, double m) {
  const double ratio = m / (i + 2.0);
  if (!(ratio < 1.0)) return std::numeric_limits<double>::infinity();
  return w * (m / (i + 1.0)) / (1.0 - ratio);
}

// The same below i, where w(j-1)/w(j) = j/m falls towards 0:
//   sum_{j<i} w(j) <= w i/m / (1 - (i-1)/m);  0 at i = 0.
inline double poisson_weight_below(double w, double i, double m) {
  if (i <= 0.0) return 0.0;
  const double ratio = (i - 1.0) / m;
  if (!(ratio < 1.0)) return std::numeric_limits<double>::infinity();
  return w * (i / m) / (1.0 - ratio);
}

// A sum carried with the rounding error of each addition (Neumaier's
// variant of compensated summation): a mixture over a large mean adds
// hundreds of thousands of terms, whose roundings would add up to more than
// 1e-13 of the sum.
class CompensatedSum {
 public:
  explicit CompensatedSum(double first = 0.0) : sum_(first) {}
  void add(double x) {
    const double t = sum_ + x;
    compensation_ += std::fabs(sum_) >= std::fabs(x) ? (sum_ - t) + x : (x - t) + sum_;
    sum_ = t;
  }
  // The same for an x no larger in magnitude than the sum (Fast2Sum), with
  // no comparison.
  void add_smaller(double x) {
    const double t = sum_ + x;
    compensation_ += (sum_ - t) + x;
    sum_ = t;
  }
  double value() const { return sum_ + compensation_; }

 private:
  double sum_;
  double compensation_ = 0.0;
};

// The noncentral F mixture where u = dfn f / (dfd + dfn f) underflowed to 0
// for an f > 0 (dfn f below the subnormals): every term after the first is
// below its predecessor by a factor of about m dfn f (1 + dfn/dfd) / 2, so
// where that is negligible the tails are those of the first term, of
// Poisson weight e^-m and beta ratio I_u(dfn/2, dfd/2) ~ u^a / (a B(a, b))
// (the leading term of its power series, DLMF 8.17.8), formed in
// logarithms; a tiny dfn keeps that ratio near 1 however small u is.  The
// lower and upper tails, or false where the later terms are not negligible.
inline constexpr double negligible_term_ratio = 1e-17;
bool noncentral_f_first_term(double f, double dfn, double dfd, double m, double *cum, double *ccum);

}  // namespace distfn
