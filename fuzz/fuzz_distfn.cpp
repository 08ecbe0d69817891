// Every cumulative function, front end and quantile function of distfn with
// arbitrary doubles (and an arbitrary case number): each call returns (the
// run's -timeout bounds every input), the sanitizers find nothing, and where
// the status is 0:
//  - a pair of tails lies in [0, 1] and sums to 1 within 1e-12;
//  - a solved quantity reproduces its probability as far as the search that
//    found it can tell.  The front ends' zero search stops once its bracket
//    is max(1e-50, 1e-8 |x|) wide and answers with a point inside it, so
//    the tail solved for must lie between the tail at x - d and at x + d,
//    d = 2 max(1e-50, 1e-8 |x|) (twice the width, for the rounding of the
//    estimate the width is taken from; x - d no lower than where the search
//    starts), give or take 1e-12 of its value for
//    the rounding of the tail itself and the smallest normal double, below
//    which the tails underflow and carry no relative accuracy.  Subnormal
//    parameters, and parameters beyond 1e300 (where the front ends' search
//    ranges end), are left out of this check (not of the others): the laws'
//    own arguments (dfn f / dfd and the like) under- or overflow with them.  The quantile functions claim full
//    precision, so the same bracket holds for them a fortiori.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "distributions/distfn.h"

namespace {

// The call under test, printed with a failed check.
char current_call[512];

}  // namespace

#define DISTFN_CHECK(condition)                                                 \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", __FILE__, __LINE__, #condition, current_call); \
      std::abort();                                                             \
    }                                                                           \
  } while (0)

namespace {

constexpr double unit_sum_tolerance = 1e-12;
constexpr double tail_rounding = 1e-12;
constexpr double search_abstol = 1e-50;
constexpr double search_reltol = 1e-8;
constexpr double bracket_margin = 2.0;
// Halvings of a bracket end that falls outside the arguments' domain, on
// the way back to the solved value.
constexpr int domain_halvings = 60;
// Bisections of the last halving's interval, down to the domain's end.
constexpr int domain_refinements = 64;
// The smallest value the front ends search for a positive parameter.
constexpr double smallest_search_point = 1e-300;

// v: p, q, then the front end's arguments in order.
constexpr int max_values = 7;
using values = std::array<double, max_values>;

struct front_end {
  const char *name;
  int arguments;  // after p and q
  void (*call)(int which, values &v, int *status, double *bound);
  // Per case 2, 3, ...: the position solved and, for a pair, its complement's (else 0).
  std::vector<std::array<int, 2>> solves;
  bool lower_tail_only;  // noncentral front ends solve P = p and never read q
};

// The front ends, each called on the positions of v.
const std::vector<front_end> &front_ends() {
  static const std::vector<front_end> all{
      {"cdfbet", 4, [](int w, values &v, int *s, double *b) { cdfbet(&w, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], s, b); },
       {{2, 3}, {4, 0}, {5, 0}}, false},
      {"cdfbin", 4, [](int w, values &v, int *s, double *b) { cdfbin(&w, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], s, b); },
       {{2, 0}, {3, 0}, {4, 5}}, false},
      {"cdfchi", 2, [](int w, values &v, int *s, double *b) { cdfchi(&w, &v[0], &v[1], &v[2], &v[3], s, b); },
       {{2, 0}, {3, 0}}, false},
      {"cdfchn", 3, [](int w, values &v, int *s, double *b) { cdfchn(&w, &v[0], &v[1], &v[2], &v[3], &v[4], s, b); },
       {{2, 0}, {3, 0}, {4, 0}}, true},
      {"cdff", 3, [](int w, values &v, int *s, double *b) { cdff(&w, &v[0], &v[1], &v[2], &v[3], &v[4], s, b); },
       {{2, 0}, {3, 0}, {4, 0}}, false},
      {"cdffnc", 4, [](int w, values &v, int *s, double *b) { cdffnc(&w, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], s, b); },
       {{2, 0}, {3, 0}, {4, 0}, {5, 0}}, true},
      {"cdfgam", 3, [](int w, values &v, int *s, double *b) { cdfgam(&w, &v[0], &v[1], &v[2], &v[3], &v[4], s, b); },
       {{2, 0}, {3, 0}, {4, 0}}, false},
      {"cdfnbn", 4, [](int w, values &v, int *s, double *b) { cdfnbn(&w, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], s, b); },
       {{2, 0}, {3, 0}, {4, 5}}, false},
      {"cdfnor", 3, [](int w, values &v, int *s, double *b) { cdfnor(&w, &v[0], &v[1], &v[2], &v[3], &v[4], s, b); },
       {{2, 0}, {3, 0}, {4, 0}}, false},
      {"cdfpoi", 2, [](int w, values &v, int *s, double *b) { cdfpoi(&w, &v[0], &v[1], &v[2], &v[3], s, b); },
       {{2, 0}, {3, 0}}, false},
      {"cdft", 2, [](int w, values &v, int *s, double *b) { cdft(&w, &v[0], &v[1], &v[2], &v[3], s, b); },
       {{2, 0}, {3, 0}}, false},
  };
  return all;
}

enum front_end_index { beta, binomial, chi_square, noncentral_chi_square, f, noncentral_f, gamma, negative_binomial,
                       normal, poisson, student_t };

// A cumulative function, called on the arguments of its front end's case 1
// (the front end then validates the same arguments).
struct cumulative {
  front_end_index law;
  // false where the function reports that it gave no answer.
  bool (*call)(values &v, double *cum, double *ccum);
};

const std::vector<cumulative> &cumulatives() {
  static const std::vector<cumulative> all{
      {beta, [](values &v, double *c, double *cc) { cumbet(&v[2], &v[3], &v[4], &v[5], c, cc); return true; }},
      {binomial, [](values &v, double *c, double *cc) { cumbin(&v[2], &v[3], &v[4], &v[5], c, cc); return true; }},
      {chi_square, [](values &v, double *c, double *cc) { cumchi(&v[2], &v[3], c, cc); return true; }},
      {noncentral_chi_square, [](values &v, double *c, double *cc) { cumchn(&v[2], &v[3], &v[4], c, cc); return true; }},
      {f, [](values &v, double *c, double *cc) { cumf(&v[2], &v[3], &v[4], c, cc); return true; }},
      {noncentral_f, [](values &v, double *c, double *cc) { cumfnc(&v[2], &v[3], &v[4], &v[5], c, cc); return true; }},
      // cumgam has shape and scale 1: the front end's scale stays as drawn,
      // and only a scale of 1 lets its verdict stand for cumgam's.
      {gamma, [](values &v, double *c, double *cc) { cumgam(&v[2], &v[3], c, cc); return true; }},
      {negative_binomial, [](values &v, double *c, double *cc) { cumnbn(&v[2], &v[3], &v[4], &v[5], c, cc); return true; }},
      {normal, [](values &v, double *c, double *cc) { cumnor(&v[2], c, cc); return true; }},
      {poisson, [](values &v, double *c, double *cc) { cumpoi(&v[2], &v[3], c, cc); return true; }},
      {student_t, [](values &v, double *c, double *cc) { cumt(&v[2], &v[3], c, cc); return true; }},
      // The noncentral laws with each tail summed on its own, which check
      // their arguments as the front ends' case 1 does.
      {noncentral_chi_square, [](values &v, double *c, double *cc) {
         int status;
         double bound;
         cumchnb(&v[2], &v[3], &v[4], c, cc, &status, &bound);
         return status == 0;
       }},
      {noncentral_f, [](values &v, double *c, double *cc) {
         int status;
         double bound;
         cumfncb(&v[2], &v[3], &v[4], &v[5], c, cc, &status, &bound);
         return status == 0;
       }},
  };
  return all;
}

// A quantile function: its law, and the call that writes the solved
// quantity (and its complement) at the front end's case-2 positions.
struct quantile {
  front_end_index law;
  int (*call)(values &v);
};

const std::vector<quantile> &quantiles() {
  static const std::vector<quantile> all{
      {beta, [](values &v) { return invbet(v[0], v[1], v[4], v[5], &v[2], &v[3]); }},
      {binomial, [](values &v) { return invbin(v[0], v[1], v[3], v[4], v[5], &v[2]); }},
      {chi_square, [](values &v) { return invchi(v[0], v[1], v[3], &v[2]); }},
      {noncentral_chi_square, [](values &v) { return invchn(v[0], v[1], v[3], v[4], &v[2]); }},
      {f, [](values &v) { return invf(v[0], v[1], v[3], v[4], &v[2]); }},
      {noncentral_f, [](values &v) { return invfnc(v[0], v[1], v[3], v[4], v[5], &v[2]); }},
      {gamma, [](values &v) { return invgam(v[0], v[1], v[3], v[4], &v[2]); }},
      {negative_binomial, [](values &v) { return invnbn(v[0], v[1], v[3], v[4], v[5], &v[2]); }},
      {normal, [](values &v) { return invnor(v[0], v[1], v[3], v[4], &v[2]); }},
      {poisson, [](values &v) { return invpoi(v[0], v[1], v[3], &v[2]); }},
      {student_t, [](values &v) { return invt(v[0], v[1], v[3], &v[2]); }},
  };
  return all;
}

// Doubles of every kind: the special values, probabilities, small counts,
// and any bit pattern.
double draw(FuzzedDataProvider &in) {
  constexpr double specials[] = {0.0,
                                 -0.0,
                                 1.0,
                                 0.5,
                                 -1.0,
                                 1e-300,
                                 1e300,
                                 1e10,
                                 1e4,
                                 std::numeric_limits<double>::denorm_min(),
                                 std::numeric_limits<double>::min(),
                                 std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::epsilon(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN()};
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return specials[in.ConsumeIntegralInRange<size_t>(0, std::size(specials) - 1)];
    case 1:
      return in.ConsumeProbability<double>();
    case 2:
      return static_cast<double>(in.ConsumeIntegralInRange(0, 200)) * (in.ConsumeBool() ? 1.0 : 0.5);
    case 3:
      return in.ConsumeFloatingPoint<double>();
    default:
      return std::ldexp(in.ConsumeProbability<double>(), in.ConsumeIntegralInRange(-1100, 1100));
  }
}

// p and q, or a variate and its complement, usually summing to 1.
void draw_pair(FuzzedDataProvider &in, double &first, double &second) {
  first = draw(in);
  second = in.ConsumeIntegralInRange(0, 3) == 0 ? draw(in) : 1.0 - first;
}

values draw_values(FuzzedDataProvider &in, const front_end &fe, bool gamma_scale_one) {
  values v{};
  draw_pair(in, v[0], v[1]);
  for (int i = 2; i < 2 + fe.arguments; ++i) v[i] = draw(in);
  // The pairs of a variate and its complement.
  for (const auto &[solved, complement] : fe.solves)
    if (complement != 0 && in.ConsumeBool()) v[complement] = 1.0 - v[solved];
  if (gamma_scale_one) v[4] = 1.0;
  return v;
}

// With DISTFN_FUZZ_TRACE set, every call is printed before it runs (to
// name the one a timeout stopped).
void describe(const char *name, int which, const values &v) {
  static const bool trace = std::getenv("DISTFN_FUZZ_TRACE") != nullptr;
  std::snprintf(current_call, sizeof current_call, "%s which %d: %.17g %.17g %.17g %.17g %.17g %.17g %.17g", name,
                which, v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
  if (trace) std::fprintf(stderr, "%s\n", current_call);
}

struct tails {
  bool valid;
  double cum;
  double ccum;
};

// The tails at v through a law's case 1, or through the noncentral laws'
// functions that sum each tail on its own, which the quantile functions solve.
using evaluator = tails (*)(const front_end &fe, values v);

tails evaluate(const front_end &fe, values v) {
  int status = 0;
  double bound = 0;
  fe.call(1, v, &status, &bound);
  return {status == 0, v[0], v[1]};
}

tails evaluate_both_tails(const front_end &fe, values v) {
  int status = 0;
  double bound = 0, cum = 0, ccum = 0;
  if (fe.arguments == 3)
    cumchnb(&v[2], &v[3], &v[4], &cum, &ccum, &status, &bound);
  else
    cumfncb(&v[2], &v[3], &v[4], &v[5], &cum, &ccum, &status, &bound);
  return {status == 0 && cum >= 0 && cum <= 1 && ccum >= 0 && ccum <= 1, cum, ccum};
}

void check_tails(double cum, double ccum, double sum_tolerance = unit_sum_tolerance) {
  DISTFN_CHECK(cum >= 0 && cum <= 1);
  DISTFN_CHECK(ccum >= 0 && ccum <= 1);
  DISTFN_CHECK(std::fabs(cum + ccum - 1) <= sum_tolerance);
}

// The tails of the noncentral laws summed each on its own start from ratios
// of shape about pnonc/2, whose condition number grows like its square root
// (the mixture's standard deviation in units of the shape's rounding): their
// sum keeps 1 within about 2 sqrt(pnonc) ulps (measured up to pnonc = 1e11),
// and is held to eight times that, or 1e-12.
constexpr double noncentral_sum_ulps_per_root = 16.0;
double sum_tolerance(front_end_index law, const values &v) {
  const double pnonc = law == noncentral_chi_square ? v[4] : law == noncentral_f ? v[5] : 0.0;
  return std::fmax(unit_sum_tolerance, noncentral_sum_ulps_per_root * std::numeric_limits<double>::epsilon() *
                                           std::sqrt(std::fabs(pnonc)));
}

// v with the solved quantity moved by step (its complement the other way),
// kept within the arguments' domain: a probability pair stops at 0 or 1, a
// quantity at 0 (the lower end of most domains), and otherwise the step is
// halved until the arguments are valid.
tails evaluate_moved(const front_end &fe, evaluator evaluate, const values &solved, std::array<int, 2> at,
                     double step) {
  const auto moved_to = [&](double x) {
    values v = solved;
    v[at[0]] = x;
    if (at[1] != 0) v[at[1]] = solved[at[1]] - (x - solved[at[0]]);
    return v;
  };
  const double x = solved[at[0]] + step;
  tails t = evaluate(fe, moved_to(x));
  if (t.valid) return t;
  if (at[1] != 0 && (x < 0 || x > 1)) {
    values v = solved;
    v[at[0]] = x < 0 ? 0.0 : 1.0;
    v[at[1]] = 1.0 - v[at[0]];
    if ((t = evaluate(fe, v)).valid) return t;
  }
  // Below 0 the bracket ends where the search itself starts: at 0, or for a
  // quantity that must be positive at the search's smallest point.  There
  // the search's absolute tolerance (1e-50) dwarfs the quantity, and any
  // crossing between that point and the answer is within it.
  if (x < 0 && (t = evaluate(fe, moved_to(0.0))).valid) return t;
  if (x < 0 && solved[at[0]] > smallest_search_point && (t = evaluate(fe, moved_to(smallest_search_point))).valid)
    return t;
  for (int i = 0; i < domain_halvings; ++i) {
    step /= 2;
    if (!evaluate(fe, moved_to(solved[at[0]] + step)).valid) continue;
    // The domain ends between step and 2 step: the bracket ends at its last
    // valid point, where a tail that jumps at the end of the domain (a
    // binomial at s = n with pr near 1) reaches its value.
    double inside = step, outside = 2 * step;
    for (int j = 0; j < domain_refinements && inside != outside; ++j) {
      const double middle = inside + (outside - inside) / 2;
      if (middle == inside || middle == outside) break;
      (evaluate(fe, moved_to(solved[at[0]] + middle)).valid ? inside : outside) = middle;
    }
    return evaluate(fe, moved_to(solved[at[0]] + inside));
  }
  return evaluate(fe, solved);
}

constexpr double largest_parameter = 1e300;
bool out_of_scale(double v) {
  return (v != 0.0 && std::fabs(v) < std::numeric_limits<double>::min()) || std::fabs(v) > largest_parameter;
}

// The tail solved for lies between the tails at the ends of the bracket the
// search may have stopped in.
void check_solved(const front_end &fe, const values &given, const values &solved, std::array<int, 2> at,
                  evaluator evaluate = ::evaluate, bool lower_tail_only = false) {
  for (int i = 2; i < 2 + fe.arguments; ++i)
    if (i != at[0] && i != at[1] && out_of_scale(given[i])) return;
  const double x = solved[at[0]];
  // An answer beyond the doubles, or below the normal ones, where the tails
  // at it are themselves out of reach, cannot be checked in double precision.
  if (!std::isfinite(x) || (x != 0.0 && std::fabs(x) < std::numeric_limits<double>::min())) return;
  if (x == 0.0 && at[1] == 0) return;
  const double magnitude = at[1] != 0 ? std::max(std::fabs(x), std::fabs(solved[at[1]])) : std::fabs(x);
  const double step = bracket_margin * std::max(search_abstol, search_reltol * magnitude);
  const tails below = evaluate_moved(fe, evaluate, solved, at, -step);
  const tails above = evaluate_moved(fe, evaluate, solved, at, step);
  if (!below.valid || !above.valid) return;
  const bool lower = lower_tail_only || given[0] <= given[1];
  const double target = lower ? given[0] : given[1];
  const double a = lower ? below.cum : below.ccum, b = lower ? above.cum : above.ccum;
  const double low = std::min(a, b), high = std::max(a, b);
  constexpr double underflow = std::numeric_limits<double>::min();
  if (!(target >= low * (1 - tail_rounding) - underflow && target <= high * (1 + tail_rounding) + underflow)) {
    std::fprintf(stderr, "%s\ntail %.17g outside [%.17g, %.17g] around %.17g\n", current_call, target, low, high, x);
    std::abort();
  }
}

void fuzz_front_end(FuzzedDataProvider &in) {
  const front_end &fe = front_ends()[in.ConsumeIntegralInRange<size_t>(0, front_ends().size() - 1)];
  const int cases = 1 + static_cast<int>(fe.solves.size());
  const int which = in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<int>() : in.ConsumeIntegralInRange(1, cases);
  const values given = draw_values(in, fe, false);
  values v = given;
  int status = -99;
  double bound = 0;
  describe(fe.name, which, given);
  fe.call(which, v, &status, &bound);
  if (status != 0) return;
  DISTFN_CHECK(which >= 1 && which <= cases);
  if (which == 1) {
    if (!fe.lower_tail_only) check_tails(v[0], v[1]);
    else DISTFN_CHECK(v[0] >= 0 && v[0] <= 1);
    return;
  }
  check_solved(fe, given, v, fe.solves[static_cast<size_t>(which - 2)], evaluate, fe.lower_tail_only);
}

void fuzz_cumulative(FuzzedDataProvider &in) {
  const cumulative &c = cumulatives()[in.ConsumeIntegralInRange<size_t>(0, cumulatives().size() - 1)];
  const front_end &fe = front_ends()[c.law];
  values v = draw_values(in, fe, c.law == gamma);
  if (c.law == normal) {
    v[3] = 0.0;
    v[4] = 1.0;
  }
  double cum = -1, ccum = -1;
  values args = v;
  describe("cumulative of", c.law, v);
  if (c.call(args, &cum, &ccum) && evaluate(fe, v).valid) check_tails(cum, ccum, sum_tolerance(c.law, v));
}

void fuzz_quantile(FuzzedDataProvider &in) {
  const quantile &q = quantiles()[in.ConsumeIntegralInRange<size_t>(0, quantiles().size() - 1)];
  const front_end &fe = front_ends()[q.law];
  const values given = draw_values(in, fe, false);
  values v = given;
  describe("quantile of", q.law, given);
  if (q.call(v) != 0) return;
  check_solved(fe, given, v, fe.solves[0], fe.lower_tail_only ? evaluate_both_tails : evaluate);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
      fuzz_cumulative(in);
      break;
    case 1:
      fuzz_front_end(in);
      break;
    default:
      fuzz_quantile(in);
      break;
  }
  return 0;
}
