// The inverse of the incomplete gamma ratio: the x with P(a, x) = p.  A
// closed-form first approximation, chosen by region of (a, p), is corrected
// by at most 20 third-order (Schroeder) steps built on gratio and rcomp.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cmath>
#include <limits>

#include "distfn.h"
#include "distfn_internal.hpp"

namespace {

using distfn::by_value;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double complement(double v) { return 0.5 + (0.5 - v); }

// Status values left in ierr.
constexpr int solved_directly = 0;
constexpr int bad_shape = -2;
constexpr int no_solution = -3;
constexpr int inconsistent_probabilities = -4;
constexpr int no_convergence = -6;
constexpr int left_positive_axis = -7;
constexpr int uncertain_accuracy = -8;

// Per accuracy class iop = 1 (precision at least 1e-10), 2: the shape from
// which the large-a approximation may be final, the relative distance from
// a within which it is accepted, the bound (times a + 1) under which the
// small-p fixed point is accepted, and the b under which the small-b series is.
constexpr std::array<double, 2> amin = {500.0, 100.0};
constexpr std::array<double, 2> dmin = {1e-6, 1e-4};
constexpr std::array<double, 2> emin = {0.002, 0.006};
constexpr std::array<double, 2> bmin = {1e-28, 1e-13};
// A relative step below eps ends the correction at once (class 1 applies
// when the precision is at most fine_precision).
constexpr std::array<double, 2> accepted_step = {1e-10, 1e-8};
constexpr double fine_precision = 1e-10;
// Otherwise the steps end when the relative step falls below tol and the
// probability matched to tol; at most max_steps of them.
constexpr double tol = 1e-5;
constexpr int max_steps = 20;
// Probabilities within this factor of the smallest double are too close to
// underflow for the steps to be trusted.
constexpr double underflow_margin = 1e10;
// The step takes its third-order term while t and w t stay below this.
constexpr double third_order_limit = 0.1;

// The map of first approximations.  a > 1, p <= 1/2, by xn / (a + 1): above
// 0.7 the steps start at once, above 0.15 after a refinement; below, four
// fixed-point steps, refined again when they end above 0.01.  The
// refinement sums its series down to terms of 1e-4.
constexpr double lower_direct_ratio = 0.7;
constexpr double lower_refine_ratio = 0.15;
constexpr double fixed_point_refine_ratio = 0.01;
constexpr double refinement_term_bound = 1e-4;
// a > 1, p > 1/2: below 3a the steps start at once; beyond is the far tail.
constexpr double far_upper_ratio = 3.0;
// a < 1, with qg = q Gamma(a + 1) and b = qg / a: qg above 0.6 a means small
// x; otherwise a < 0.3 with b >= 0.35 has a start of its own, and b < 0.45
// means large x, taken by an asymptotic form for b >= 0.15, a rational one
// above 0.01 and the series in 1/y below.
constexpr double small_x_ratio = 0.6;
constexpr double tiny_shape = 0.3;
constexpr double tiny_shape_b = 0.35;
constexpr double large_x_b = 0.45;
constexpr double asymptotic_b = 0.15;
constexpr double rational_b = 0.01;
// Small x: for b q up to 1e-8 x = exp(-(q/a + Euler's constant)), for p above
// 0.9 through ln(1 - q), else from p itself.
constexpr double tiny_bq = 1e-8;
constexpr double high_p = 0.9;

// Euler's constant, and ln 10 as stored.
constexpr double euler_gamma = 0.577215664901533;
constexpr double ln10 = 2.302585;

// The normal quantile of exp(w), t = sqrt(-2 w) (a rational approximation in t).
constexpr double a0 = 3.31125922108741;
constexpr double a1 = 11.6616720288968;
constexpr double a2 = 4.28342155967104;
constexpr double a3 = 0.213623493715853;
constexpr double b1 = 6.61053765625462;
constexpr double b2 = 6.40691597760039;
constexpr double b3 = 1.27364489782223;
constexpr double b4 = 0.036117081018842;

struct Outcome {
  double x;
  int ierr;
};

// Which ratio the correction steps match: the smaller tail.
enum class Tail { lower, upper };

struct Problem {
  double a;
  double p;
  double q;
  double e;     // precision
  double xmin;  // smallest positive double
  double xmax;  // largest double
  double amax;  // beyond this a, x cannot be told from a within 2e
  std::size_t class_index;
  double eps;
};

Tail smaller_tail(const Problem &pr) { return pr.p > 0.5 ? Tail::upper : Tail::lower; }

// Newton's step on ln x, x_new = x (1 - t) with t = (P(x) - p) x / (x P'(x)),
// raised to third order by the curvature term w = (a - 1 - x)/2 of ln P'.
Outcome correct(const Problem &pr, double xn, Tail tail) {
  const double target = tail == Tail::upper ? pr.q : pr.p;
  if (target <= underflow_margin * pr.xmin) return {xn, uncertain_accuracy};
  const double a = pr.a;
  const double am1 = (a - 0.5) - 0.5;
  const double e2 = 2.0 * pr.e;
  double x = xn;
  int ierr = 0;
  for (;;) {
    if (a > pr.amax && std::fabs(complement(xn / a)) <= e2) return {xn, uncertain_accuracy};
    if (ierr >= max_steps) return {x, no_convergence};
    ++ierr;
    double pn = 0.0;
    double qn = 0.0;
    double shape = a;
    int accuracy = 0;
    gratio(&shape, &xn, &pn, &qn, &accuracy);
    if (pn == 0.0 || qn == 0.0) return {xn, uncertain_accuracy};
    const double r = by_value<rcomp>(a, xn);
    if (r == 0.0) return {xn, uncertain_accuracy};
    const double reached = tail == Tail::upper ? qn : pn;
    const double t = tail == Tail::upper ? (pr.q - qn) / r : (pn - pr.p) / r;
    const double w = 0.5 * (am1 - xn);
    double d = 0.0;
    if (std::fabs(t) <= third_order_limit && std::fabs(w * t) <= third_order_limit) {
      const double h = t * (1.0 + w * t);
      x = xn * (1.0 - h);
      if (x <= 0.0) return {x, left_positive_axis};
      if (std::fabs(w) >= 1.0 && std::fabs(w) * t * t <= pr.eps) return {x, ierr};
      d = std::fabs(h);
    } else {
      x = xn * (1.0 - t);
      if (x <= 0.0) return {x, left_positive_axis};
      d = std::fabs(t);
    }
    xn = x;
    if (d > tol) continue;
    if (d <= pr.eps) return {x, ierr};
    if (std::fabs(target - reached) <= tol * target) return {x, ierr};
  }
}

// x from ln x ~ y + s ln y + ..., the series in 1/y of the
// asymptotic inversion of Q (or P) when y = -ln(b) is large.
double inverse_series(double a, double y, double s, double z) {
  const double c1 = -(s * z);
  const double c2 = -(s * (1.0 + c1));
  const double c3 = s * ((0.5 * c1 + (2.0 - a)) * c1 + (2.5 - 1.5 * a));
  const double c4 =
      -(s * (((c1 / 3.0 + (2.5 - 1.5 * a)) * c1 + ((a - 6.0) * a + 7.0)) * c1 + ((11.0 * a - 46.0) * a + 47.0) / 6.0));
  const double c5 =
      -(s * ((((-(c1 / 4.0) + (11.0 * a - 17.0) / 6.0) * c1 + ((-(3.0 * a) + 13.0) * a - 13.0)) * c1 +
              0.5 * (((2.0 * a - 25.0) * a + 72.0) * a - 61.0)) *
                 c1 +
             (((25.0 * a - 195.0) * a + 477.0) * a - 379.0) / 12.0));
  return ((((c5 / y + c4) / y + c3) / y + c2) / y + c1) + y;
}

// One Newton step on a ln x - x - ln(sum_k x^k / (a+1)...(a+k)) = w.
double refine_lower(double a, double xn, double w, double ap1) {
  double apn = ap1;
  double t = xn / apn;
  double sum = 1.0 + t;
  int terms = 0;
  do {
    apn += 1.0;
    t = t * xn / apn;
    sum += t;
  } while (t > refinement_term_bound && ++terms < distfn::convergence_step_limit);
  t = w - std::log(sum);
  xn = std::exp((xn + t) / a);
  return xn * (1.0 - (a * std::log(xn) - xn - t) / (a - xn));
}

// Small p (a > 1): x from a ln x - x ... = ln(p Gamma(a + 1)) by four
// fixed-point steps, then the refinement or the correction steps.
Outcome small_p_start(const Problem &pr, double xn, double w, double fixed_point_start) {
  const double a = pr.a;
  const double ap1 = a + 1.0;
  if (xn > lower_direct_ratio * ap1) return correct(pr, xn, Tail::lower);
  w += by_value<gamln>(ap1);
  if (xn > lower_refine_ratio * ap1) return correct(pr, refine_lower(a, xn, w, ap1), Tail::lower);
  const double ap2 = a + 2.0;
  const double ap3 = a + 3.0;
  double x = std::exp((w + fixed_point_start) / a);
  x = std::exp((w + x - std::log(1.0 + (x / ap1) * (1.0 + x / ap2))) / a);
  x = std::exp((w + x - std::log(1.0 + (x / ap1) * (1.0 + x / ap2))) / a);
  x = std::exp((w + x - std::log(1.0 + (x / ap1) * (1.0 + (x / ap2) * (1.0 + x / ap3)))) / a);
  xn = x;
  if (xn > fixed_point_refine_ratio * ap1) return correct(pr, refine_lower(a, xn, w, ap1), Tail::lower);
  if (xn <= emin[pr.class_index] * ap1) return {xn, solved_directly};
  return correct(pr, xn, Tail::lower);
}

// a > 1: the Cornish-Fisher-type expansion of x about a in the normal
// quantile s (DLMF 8.12), then by region.
Outcome large_shape_start(const Problem &pr) {
  const double a = pr.a;
  double w = pr.q <= 0.5 ? std::log(pr.q) : std::log(pr.p);
  const double t = std::sqrt(-2.0 * w);
  double s = t - (((a3 * t + a2) * t + a1) * t + a0) / ((((b4 * t + b3) * t + b2) * t + b1) * t + 1.0);
  if (pr.q > 0.5) s = -s;
  const double rta = std::sqrt(a);
  const double s2 = s * s;
  double xn = a + s * rta + (s2 - 1.0) / 3.0 + s * (s2 - 7.0) / (36.0 * rta) -
              ((3.0 * s2 + 7.0) * s2 - 16.0) / (810.0 * a) +
              s * ((9.0 * s2 + 256.0) * s2 - 433.0) / (38880.0 * a * rta);
  xn = std::max(xn, 0.0);
  double fixed_point_start = 0.0;
  if (a >= amin[pr.class_index]) {
    fixed_point_start = xn;
    if (std::fabs(complement(xn / a)) <= dmin[pr.class_index]) return {xn, solved_directly};
  }
  if (pr.p <= 0.5) return small_p_start(pr, xn, w, fixed_point_start);
  if (xn < far_upper_ratio * a) return correct(pr, xn, Tail::upper);
  // Far upper tail: x - (a - 1) ln x + ... = -ln(q Gamma(a)) = y.
  const double y = -(w + by_value<gamln>(a));
  const double d = std::max(2.0, a * (a - 1.0));
  if (y < ln10 * d) {
    const double am1 = a - 1.0;
    xn = y + am1 * std::log(xn) - by_value<alnrel>(-am1 / (xn + 1.0));
    xn = y + am1 * std::log(xn) - by_value<alnrel>(-am1 / (xn + 1.0));
    return correct(pr, xn, Tail::upper);
  }
  return correct(pr, inverse_series(a, y, 1.0 - a, std::log(y)), Tail::upper);
}

// a < 1, b = q Gamma(a + 1) / a < 0.45 (and b > 0, as b >= q Gamma(a + 1)):
// x is large, from Q ~ x^(a-1) exp(-x) / Gamma(a), that is x = y - s ln x + ...
// with y = -ln b and s = 1 - a.
Outcome large_x_start(const Problem &pr, double b) {
  const double a = pr.a;
  const double y = -std::log(b);
  const double s = complement(a);
  const double z = std::log(y);
  const double t = y - s * z;
  if (b >= asymptotic_b) return correct(pr, y - s * std::log(t) - std::log(1.0 + s / (t + 1.0)), Tail::upper);
  if (b > rational_b) {
    const double u = ((t + 2.0 * (3.0 - a)) * t + (2.0 - a) * (3.0 - a)) / ((t + (5.0 - a)) * t + 2.0);
    return correct(pr, y - s * std::log(t) - std::log(u), Tail::upper);
  }
  const double xn = inverse_series(a, y, s, z);
  if (b > bmin[pr.class_index]) return correct(pr, xn, Tail::upper);
  return {xn, solved_directly};
}

// a < 1: small x from P ~ x^a / Gamma(a + 1), large x as above.
Outcome small_shape_start(const Problem &pr) {
  const double a = pr.a;
  const double g = by_value<Xgamm>(a + 1.0);
  const double qg = pr.q * g;
  if (qg == 0.0) return {pr.xmax, uncertain_accuracy};
  const double b = qg / a;
  if (qg <= small_x_ratio * a) {
    if (a < tiny_shape && b >= tiny_shape_b) {
      const double t = std::exp(-(b + euler_gamma));
      const double u = t * std::exp(t);
      return correct(pr, t * std::exp(u), smaller_tail(pr));
    }
    if (b < large_x_b) return large_x_start(pr, b);
  }
  double xn = 0.0;
  if (b * pr.q <= tiny_bq) {
    xn = std::exp(-(pr.q / a + euler_gamma));
  } else if (pr.p > high_p) {
    xn = std::exp((by_value<alnrel>(-pr.q) + by_value<gamln1>(a)) / a);
  } else {
    xn = std::exp(std::log(pr.p * g) / a);
  }
  if (xn == 0.0) return {0.0, no_solution};
  xn = xn / complement(xn / (a + 1.0));
  return correct(pr, xn, smaller_tail(pr));
}

Outcome inverse_gamma_ratio(double a, double x0, double p, double q) {
  if (std::isnan(a)) return {kNaN, bad_shape};
  if (std::isnan(p) || std::isnan(q)) return {kNaN, inconsistent_probabilities};
  if (a <= 0.0 || std::isinf(a)) return {0.0, bad_shape};
  const double e = by_value<spmpar>(1);
  // A negative p or q (the other then above 1) is no probability either:
  // without this it would come back as NaN with a success status.
  if (std::fabs(p + q - 1.0) > e || p < 0.0 || q < 0.0) return {0.0, inconsistent_probabilities};
  const double xmax = by_value<spmpar>(3);
  if (p == 0.0) return {0.0, solved_directly};
  if (q == 0.0) return {xmax, solved_directly};
  if (a == 1.0) return {q < 0.9 ? -std::log(q) : -by_value<alnrel>(-p), solved_directly};
  const std::size_t class_index = e <= fine_precision ? 0 : 1;
  const Problem pr{a,   p, q, e, by_value<spmpar>(2), xmax, 4e-11 / (e * e), class_index,
                   accepted_step[class_index]};
  if (x0 > 0.0) return correct(pr, x0, smaller_tail(pr));
  return a > 1.0 ? large_shape_start(pr) : small_shape_start(pr);
}

}  // namespace

extern "C" {

void gaminv(double *a, double *x, double *x0, double *p, double *q, int *ierr) {
  const Outcome outcome = inverse_gamma_ratio(*a, *x0, *p, *q);
  *x = outcome.x;
  *ierr = outcome.ierr;
}

}  // extern "C"
