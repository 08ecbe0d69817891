// Every cumulative distribution function of distfn and every front end's
// quantile (the value at a given p, case 2) against Boost.Math (double
// precision without promotion to long double) and GSL, on the points of the
// mpmath reference tables, in one run.
//
// Before the benchmarks run, the program measures for each function, region
// and library the relative error of every result (both tails for the
// cumulative functions, values of at least 1e-300 only) in units of 2^-52,
// and the time of each point alone (the least of a few short blocks of
// calls), and writes their medians and maxima as CSV to the file named by
// --accuracy_out=FILE (standard output without it).  The Google Benchmark
// cases then give the mean time per call over all points of a function.
//
// The front ends' calls of the cumulative functions pass through wrappers
// (linked with -Wl,--wrap=...) that count them, so the CSV also gives the
// evaluations per solve.
//
// A peer that lacks a function (GSL has no noncentral distributions and no
// discrete quantiles) or takes only whole counts where the point has a
// fractional one is left out of that point; a result that is NaN or an
// exception counts as a failure.

#include <benchmark/benchmark.h>
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_errno.h>

#include <algorithm>
#include <array>
#include <boost/math/distributions/beta.hpp>
#include <boost/math/distributions/binomial.hpp>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/gamma.hpp>
#include <boost/math/distributions/negative_binomial.hpp>
#include <boost/math/distributions/non_central_chi_squared.hpp>
#include <boost/math/distributions/non_central_f.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/poisson.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bench/accuracy_report.hpp"
#include "tests/reference_csv.hpp"
#include "distributions/distfn.h"

// Every outermost call of a wrapped cumulative function is counted; calls
// that one cumulative function makes of another are not.
namespace {
long cumulative_calls = 0;
int cumulative_depth = 0;

template <typename Real, typename... Args>
void counted(Real real, Args... args) {
  if (cumulative_depth++ == 0) ++cumulative_calls;
  real(args...);
  --cumulative_depth;
}
}  // namespace

extern "C" {
void __real_cumbet(double *, double *, double *, double *, double *, double *);
void __real_cumbin(double *, double *, double *, double *, double *, double *);
void __real_cumnbn(double *, double *, double *, double *, double *, double *);
void __real_cumt(double *, double *, double *, double *);
void __real_cumf(double *, double *, double *, double *, double *);
void __real_cumfnc(double *, double *, double *, double *, double *, double *);
void __real_cumgam(double *, double *, double *, double *);
void __real_cumchi(double *, double *, double *, double *);
void __real_cumchn(double *, double *, double *, double *, double *);
void __real_cumpoi(double *, double *, double *, double *);

void __wrap_cumbet(double *x, double *y, double *a, double *b, double *c, double *cc) {
  counted(__real_cumbet, x, y, a, b, c, cc);
}
void __wrap_cumbin(double *s, double *n, double *p, double *q, double *c, double *cc) {
  counted(__real_cumbin, s, n, p, q, c, cc);
}
void __wrap_cumnbn(double *s, double *n, double *p, double *q, double *c, double *cc) {
  counted(__real_cumnbn, s, n, p, q, c, cc);
}
void __wrap_cumt(double *t, double *df, double *c, double *cc) { counted(__real_cumt, t, df, c, cc); }
void __wrap_cumf(double *f, double *m, double *n, double *c, double *cc) { counted(__real_cumf, f, m, n, c, cc); }
void __wrap_cumfnc(double *f, double *m, double *n, double *l, double *c, double *cc) {
  counted(__real_cumfnc, f, m, n, l, c, cc);
}
void __wrap_cumgam(double *x, double *a, double *c, double *cc) { counted(__real_cumgam, x, a, c, cc); }
void __wrap_cumchi(double *x, double *df, double *c, double *cc) { counted(__real_cumchi, x, df, c, cc); }
void __wrap_cumchn(double *x, double *df, double *l, double *c, double *cc) {
  counted(__real_cumchn, x, df, l, c, cc);
}
void __wrap_cumpoi(double *s, double *l, double *c, double *cc) { counted(__real_cumpoi, s, l, c, cc); }
}

namespace {

namespace bm = boost::math;
namespace policies = boost::math::policies;

// Boost's fastest double configuration; discrete quantiles on a continuous
// count, as the front ends solve them.
using Fast = policies::policy<policies::promote_double<false>>;
using FastReal = policies::policy<policies::promote_double<false>, policies::discrete_quantile<policies::real>>;

constexpr double unit = 0x1p-52;
constexpr long double smallest_compared = 1e-300L;

// ---- reference points ------------------------------------------------------------

// A point's arguments: no allocation when a call copies them.
using Args = std::array<double, 4>;

struct Point {
  std::string region;
  Args args;                 // in the order of the distfn call
  long double cum, ccum;     // for quantiles: cum is the reference quantile
  double p;                  // quantiles only: the probability asked for
};

using reference_csv::number;
using reference_csv::reference;

// The region of a cumulative point: how small its smaller tail is.
std::string tail_region(long double cum, long double ccum) {
  const long double smaller = std::min(cum, ccum);
  if (smaller >= 0.05L) return "centre";
  if (smaller >= 1e-10L) return "tail";
  return "far_tail";
}

std::string quantile_region(double p) { return std::min(p, 1 - p) >= 0.05 ? "centre" : "tail"; }

using PointTable = std::map<std::string, std::vector<Point>>;

// function -> points, from the three tables of cumulative references.
PointTable cumulative_points() {
  PointTable table;
  const std::map<std::string, int> arity = {{"cumbet", 4}, {"cumbin", 4}, {"cumnbn", 4}, {"cumt", 2},
                                            {"cumf", 3},   {"cumfnc", 4}, {"cumgam", 2}, {"cumchi", 2},
                                            {"cumchn", 3}, {"cumpoi", 2}};
  const auto add_rows = [&](const char *file, size_t first_reference) {
    for (const auto &r : reference_csv::read(file)) {
      Point pt;
      pt.args = {};
      for (int i = 0; i < arity.at(r[0]); ++i) pt.args[i] = number(r[1 + i]);
      pt.cum = reference(r[first_reference]);
      pt.ccum = reference(r[first_reference + 1]);
      pt.region = tail_region(pt.cum, pt.ccum);
      pt.p = 0;
      table[r[0]].push_back(pt);
    }
  };
  add_rows("beta_distributions.csv", 5);
  add_rows("gamma_distributions.csv", 4);
  for (const auto &r : reference_csv::read("normal_cdf.csv")) {
    Point pt{"", {number(r[0]), 0, 0, 0}, reference(r[1]), reference(r[2]), 0};
    pt.region = tail_region(pt.cum, pt.ccum);
    table["cumnor"].push_back(pt);
  }
  return table;
}

// front end -> points: args are the parameters, cum the reference quantile.
PointTable quantile_points() {
  PointTable table;
  const std::map<std::string, std::string> front_end = {{"t", "cdft"}, {"chi2", "cdfchi"}, {"binomial", "cdfbin"},
                                                        {"beta", "cdfbet"}};
  for (const auto &r : reference_csv::read("front_end_quantiles.csv")) {
    const double p = number(r[1]);
    table[front_end.at(r[0])].push_back(
        {quantile_region(p), {number(r[2]), number(r[3]), 0, 0}, reference(r[4]), 0, p});
  }
  for (const auto &r : reference_csv::read("distribution_quantiles.csv")) {
    const double p = number(r[1]);
    table["cdf" + r[0]].push_back(
        {quantile_region(p), {number(r[2]), number(r[3]), number(r[4]), 0}, reference(r[5]), 0, p});
  }
  return table;
}

// ---- the implementations -------------------------------------------------------------

struct Pair {
  double lower, upper;
};

constexpr double failed = NAN;
constexpr Pair failed_pair{NAN, NAN};

// A result: nullopt when the library does not offer the function at this point.
using CumulativeCall = std::function<std::optional<Pair>(Args)>;
using QuantileCall = std::function<std::optional<double>(const Point &)>;

template <typename Distribution>
Pair boost_both(const Distribution &d, double x) {
  try {
    return {bm::cdf(d, x), bm::cdf(bm::complement(d, x))};
  } catch (...) {
    return failed_pair;
  }
}

bool whole(double s) { return s == std::floor(s) && s >= 0 && s < 4e9; }

struct Library {
  const char *name;
  std::map<std::string, CumulativeCall> cumulative;
  std::map<std::string, QuantileCall> quantile;
};

Library distfn_library() {
  Library lib{"distfn", {}, {}};
  lib.cumulative = {
      {"cumbet", [](auto a) { double c, cc; cumbet(&a[0], &a[1], &a[2], &a[3], &c, &cc); return Pair{c, cc}; }},
      {"cumbin", [](auto a) { double c, cc; cumbin(&a[0], &a[1], &a[2], &a[3], &c, &cc); return Pair{c, cc}; }},
      {"cumnbn", [](auto a) { double c, cc; cumnbn(&a[0], &a[1], &a[2], &a[3], &c, &cc); return Pair{c, cc}; }},
      {"cumt", [](auto a) { double c, cc; cumt(&a[0], &a[1], &c, &cc); return Pair{c, cc}; }},
      {"cumf", [](auto a) { double c, cc; cumf(&a[0], &a[1], &a[2], &c, &cc); return Pair{c, cc}; }},
      {"cumfnc", [](auto a) { double c, cc; cumfnc(&a[0], &a[1], &a[2], &a[3], &c, &cc); return Pair{c, cc}; }},
      {"cumgam", [](auto a) { double c, cc; cumgam(&a[0], &a[1], &c, &cc); return Pair{c, cc}; }},
      {"cumchi", [](auto a) { double c, cc; cumchi(&a[0], &a[1], &c, &cc); return Pair{c, cc}; }},
      {"cumchn", [](auto a) { double c, cc; cumchn(&a[0], &a[1], &a[2], &c, &cc); return Pair{c, cc}; }},
      {"cumpoi", [](auto a) { double c, cc; cumpoi(&a[0], &a[1], &c, &cc); return Pair{c, cc}; }},
      {"cumnor", [](auto a) { double c, cc; cumnor(&a[0], &c, &cc); return Pair{c, cc}; }},
  };
  // Each front end in case 2: the value at which the distribution reaches p.
  lib.quantile = {
      {"cdft", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, t, df = pt.args[0], bound;
         cdft(&which, &p, &q, &t, &df, &status, &bound);
         return status == 0 ? t : failed;
       }},
      {"cdfchi", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, x, df = pt.args[0], bound;
         cdfchi(&which, &p, &q, &x, &df, &status, &bound);
         return status == 0 ? x : failed;
       }},
      {"cdfbin", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, s, xn = pt.args[0], pr = pt.args[1], ompr = 1 - pt.args[1], bound;
         cdfbin(&which, &p, &q, &s, &xn, &pr, &ompr, &status, &bound);
         return status == 0 ? s : failed;
       }},
      {"cdfbet", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, x, y, a = pt.args[0], b = pt.args[1], bound;
         cdfbet(&which, &p, &q, &x, &y, &a, &b, &status, &bound);
         return status == 0 ? x : failed;
       }},
      {"cdff", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, f, dfn = pt.args[0], dfd = pt.args[1], bound;
         cdff(&which, &p, &q, &f, &dfn, &dfd, &status, &bound);
         return status == 0 ? f : failed;
       }},
      {"cdffnc", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, f, dfn = pt.args[0], dfd = pt.args[1], pnonc = pt.args[2], bound;
         cdffnc(&which, &p, &q, &f, &dfn, &dfd, &pnonc, &status, &bound);
         return status == 0 ? f : failed;
       }},
      {"cdfgam", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, x, shape = pt.args[0], scale = pt.args[1], bound;
         cdfgam(&which, &p, &q, &x, &shape, &scale, &status, &bound);
         return status == 0 ? x : failed;
       }},
      {"cdfchn", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, x, df = pt.args[0], pnonc = pt.args[1], bound;
         cdfchn(&which, &p, &q, &x, &df, &pnonc, &status, &bound);
         return status == 0 ? x : failed;
       }},
      {"cdfnbn", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, s, xn = pt.args[0], pr = pt.args[1], ompr = 1 - pt.args[1], bound;
         cdfnbn(&which, &p, &q, &s, &xn, &pr, &ompr, &status, &bound);
         return status == 0 ? s : failed;
       }},
      {"cdfnor", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, x, mean = pt.args[0], sd = pt.args[1], bound;
         cdfnor(&which, &p, &q, &x, &mean, &sd, &status, &bound);
         return status == 0 ? x : failed;
       }},
      {"cdfpoi", [](const Point &pt) {
         int which = 2, status;
         double p = pt.p, q = 1 - pt.p, s, xlam = pt.args[0], bound;
         cdfpoi(&which, &p, &q, &s, &xlam, &status, &bound);
         return status == 0 ? s : failed;
       }},
  };
  return lib;
}

// Boost's quantile, with an exception counted as a failure.
template <typename Distribution>
double boost_quantile(const Distribution &d, double p) {
  try {
    return bm::quantile(d, p);
  } catch (...) {
    return failed;
  }
}

Library boost_library() {
  Library lib{"Boost.Math", {}, {}};
  lib.cumulative = {
      {"cumbet", [](auto a) { return boost_both(bm::beta_distribution<double, Fast>(a[2], a[3]), a[0]); }},
      {"cumbin", [](auto a) { return boost_both(bm::binomial_distribution<double, Fast>(a[1], a[2]), a[0]); }},
      {"cumnbn",
       [](auto a) { return boost_both(bm::negative_binomial_distribution<double, Fast>(a[1], a[2]), a[0]); }},
      {"cumt", [](auto a) { return boost_both(bm::students_t_distribution<double, Fast>(a[1]), a[0]); }},
      {"cumf", [](auto a) { return boost_both(bm::fisher_f_distribution<double, Fast>(a[1], a[2]), a[0]); }},
      {"cumfnc",
       [](auto a) { return boost_both(bm::non_central_f_distribution<double, Fast>(a[1], a[2], a[3]), a[0]); }},
      {"cumgam", [](auto a) { return boost_both(bm::gamma_distribution<double, Fast>(a[1], 1.0), a[0]); }},
      {"cumchi", [](auto a) { return boost_both(bm::chi_squared_distribution<double, Fast>(a[1]), a[0]); }},
      {"cumchn",
       [](auto a) { return boost_both(bm::non_central_chi_squared_distribution<double, Fast>(a[1], a[2]), a[0]); }},
      {"cumpoi", [](auto a) { return boost_both(bm::poisson_distribution<double, Fast>(a[1]), a[0]); }},
      {"cumnor", [](auto a) { return boost_both(bm::normal_distribution<double, Fast>(), a[0]); }},
  };
  lib.quantile = {
      {"cdft", [](const Point &pt) { return boost_quantile(bm::students_t_distribution<double, Fast>(pt.args[0]), pt.p); }},
      {"cdfchi",
       [](const Point &pt) { return boost_quantile(bm::chi_squared_distribution<double, Fast>(pt.args[0]), pt.p); }},
      {"cdfbin",
       [](const Point &pt) {
         return boost_quantile(bm::binomial_distribution<double, FastReal>(pt.args[0], pt.args[1]), pt.p);
       }},
      {"cdfbet",
       [](const Point &pt) {
         return boost_quantile(bm::beta_distribution<double, Fast>(pt.args[0], pt.args[1]), pt.p);
       }},
      {"cdff",
       [](const Point &pt) {
         return boost_quantile(bm::fisher_f_distribution<double, Fast>(pt.args[0], pt.args[1]), pt.p);
       }},
      {"cdffnc",
       [](const Point &pt) {
         return boost_quantile(bm::non_central_f_distribution<double, Fast>(pt.args[0], pt.args[1], pt.args[2]),
                               pt.p);
       }},
      // The front end's scale multiplies x: Boost's scale is its reciprocal.
      {"cdfgam",
       [](const Point &pt) {
         return boost_quantile(bm::gamma_distribution<double, Fast>(pt.args[0], 1 / pt.args[1]), pt.p);
       }},
      {"cdfchn",
       [](const Point &pt) {
         return boost_quantile(bm::non_central_chi_squared_distribution<double, Fast>(pt.args[0], pt.args[1]), pt.p);
       }},
      {"cdfnbn",
       [](const Point &pt) {
         return boost_quantile(bm::negative_binomial_distribution<double, FastReal>(pt.args[0], pt.args[1]), pt.p);
       }},
      {"cdfnor",
       [](const Point &pt) {
         return boost_quantile(bm::normal_distribution<double, Fast>(pt.args[0], pt.args[1]), pt.p);
       }},
      {"cdfpoi",
       [](const Point &pt) { return boost_quantile(bm::poisson_distribution<double, FastReal>(pt.args[0]), pt.p); }},
  };
  return lib;
}

Library gsl_library() {
  Library lib{"GSL", {}, {}};
  lib.cumulative = {
      {"cumbet", [](auto a) { return Pair{gsl_cdf_beta_P(a[0], a[2], a[3]), gsl_cdf_beta_Q(a[0], a[2], a[3])}; }},
      {"cumbin",
       [](auto a) -> std::optional<Pair> {
         if (!whole(a[0]) || !whole(a[1])) return std::nullopt;
         const auto k = static_cast<unsigned>(a[0]), n = static_cast<unsigned>(a[1]);
         return Pair{gsl_cdf_binomial_P(k, a[2], n), gsl_cdf_binomial_Q(k, a[2], n)};
       }},
      {"cumnbn",
       [](auto a) -> std::optional<Pair> {
         if (!whole(a[0])) return std::nullopt;
         const auto k = static_cast<unsigned>(a[0]);
         return Pair{gsl_cdf_negative_binomial_P(k, a[2], a[1]), gsl_cdf_negative_binomial_Q(k, a[2], a[1])};
       }},
      {"cumt", [](auto a) { return Pair{gsl_cdf_tdist_P(a[0], a[1]), gsl_cdf_tdist_Q(a[0], a[1])}; }},
      {"cumf", [](auto a) { return Pair{gsl_cdf_fdist_P(a[0], a[1], a[2]), gsl_cdf_fdist_Q(a[0], a[1], a[2])}; }},
      {"cumgam", [](auto a) { return Pair{gsl_cdf_gamma_P(a[0], a[1], 1.0), gsl_cdf_gamma_Q(a[0], a[1], 1.0)}; }},
      {"cumchi", [](auto a) { return Pair{gsl_cdf_chisq_P(a[0], a[1]), gsl_cdf_chisq_Q(a[0], a[1])}; }},
      {"cumpoi",
       [](auto a) -> std::optional<Pair> {
         if (!whole(a[0])) return std::nullopt;
         const auto k = static_cast<unsigned>(a[0]);
         return Pair{gsl_cdf_poisson_P(k, a[1]), gsl_cdf_poisson_Q(k, a[1])};
       }},
      {"cumnor", [](auto a) { return Pair{gsl_cdf_ugaussian_P(a[0]), gsl_cdf_ugaussian_Q(a[0])}; }},
  };
  lib.quantile = {
      {"cdft", [](const Point &pt) { return gsl_cdf_tdist_Pinv(pt.p, pt.args[0]); }},
      {"cdfchi", [](const Point &pt) { return gsl_cdf_chisq_Pinv(pt.p, pt.args[0]); }},
      {"cdfbet", [](const Point &pt) { return gsl_cdf_beta_Pinv(pt.p, pt.args[0], pt.args[1]); }},
      {"cdff", [](const Point &pt) { return gsl_cdf_fdist_Pinv(pt.p, pt.args[0], pt.args[1]); }},
      {"cdfgam", [](const Point &pt) { return gsl_cdf_gamma_Pinv(pt.p, pt.args[0], 1 / pt.args[1]); }},
      {"cdfnor", [](const Point &pt) { return pt.args[0] + gsl_cdf_gaussian_Pinv(pt.p, pt.args[1]); }},
  };
  return lib;
}

const std::vector<Library> &libraries() {
  static const std::vector<Library> all = {distfn_library(), boost_library(), gsl_library()};
  return all;
}

const PointTable &cumulative_table() {
  static const PointTable table = cumulative_points();
  return table;
}

const PointTable &quantile_table() {
  static const PointTable table = quantile_points();
  return table;
}

// ---- accuracy and time per point ---------------------------------------------------------

// Relative error; absolute where the reference is 0 (the median of a
// distribution centred on 0).
double error_units(double computed, long double reference) {
  if (std::isnan(computed)) return INFINITY;
  if (computed == reference) return 0.0;
  if (reference == 0) return std::fabs(computed) / unit;
  return static_cast<double>(std::fabs((computed - reference) / reference)) / unit;
}

// The time of one call at one point: the least, over a few blocks, of the
// mean of a block of calls.  The least is what the code costs; the rest is
// the machine's noise.
template <typename Call>
double point_ns(Call call) {
  constexpr int blocks = 3;
  constexpr int calls_per_block = 32;  // the clock read costs about 20 ns: keep it below 1 ns a call
  double best = INFINITY;
  for (int b = 0; b < blocks; ++b) {
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < calls_per_block; ++r) call();
    const auto stop = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(stop - start).count() / calls_per_block);
  }
  return best;
}

struct Summary {
  int points = 0, failures = 0;
  long evaluations = 0;
  std::vector<double> errors, ns;
};

double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double maximum(const std::vector<double> &v) { return v.empty() ? NAN : *std::max_element(v.begin(), v.end()); }

// CSV: kind,function,region,library,points,failures,err_median,err_max,ns_median,ns_max,evals_per_call
void write_row(FILE *out, const char *kind, const std::string &function, const std::string &region,
               const char *library, const Summary &s) {
  std::fprintf(out, "%s,%s,%s,%s,%d,%d,%.4g,%.4g,%.1f,%.1f,%.3g\n", kind, function.c_str(), region.c_str(), library,
               s.points, s.failures, median(s.errors), maximum(s.errors), median(s.ns), maximum(s.ns),
               static_cast<double>(s.evaluations) / s.points);
}

// Adds one point's outcome to its region and to "all".
void record(std::map<std::string, Summary> &by_region, const std::string &region, const std::vector<double> &errors,
            double ns, long evaluations) {
  for (const std::string &key : {region, std::string("all")}) {
    Summary &s = by_region[key];
    ++s.points;
    s.evaluations += evaluations;
    s.ns.push_back(ns);
    for (double e : errors) {
      if (std::isinf(e)) {
        ++s.failures;
      } else {
        s.errors.push_back(e);
      }
    }
  }
}

void measure_cumulative(FILE *out) {
  for (const auto &[function, points] : cumulative_table()) {
    for (const Library &lib : libraries()) {
      const auto found = lib.cumulative.find(function);
      if (found == lib.cumulative.end()) continue;
      const CumulativeCall &call = found->second;
      std::map<std::string, Summary> by_region;
      for (const Point &pt : points) {
        cumulative_calls = 0;
        const std::optional<Pair> r = call(pt.args);
        const long evaluations = cumulative_calls;
        if (!r) continue;
        std::vector<double> errors;
        if (pt.cum >= smallest_compared) errors.push_back(error_units(r->lower, pt.cum));
        if (pt.ccum >= smallest_compared) errors.push_back(error_units(r->upper, pt.ccum));
        record(by_region, pt.region, errors, point_ns([&] { benchmark::DoNotOptimize(call(pt.args)); }), evaluations);
      }
      for (const auto &[region, s] : by_region) write_row(out, "cumulative", function, region, lib.name, s);
    }
  }
}

void measure_quantiles(FILE *out) {
  for (const auto &[function, points] : quantile_table()) {
    for (const Library &lib : libraries()) {
      const auto found = lib.quantile.find(function);
      if (found == lib.quantile.end()) continue;
      const QuantileCall &call = found->second;
      std::map<std::string, Summary> by_region;
      for (const Point &pt : points) {
        cumulative_calls = 0;
        const std::optional<double> x = call(pt);
        const long evaluations = cumulative_calls;
        if (!x) continue;
        record(by_region, pt.region, {error_units(*x, pt.cum)}, point_ns([&] { benchmark::DoNotOptimize(call(pt)); }),
               evaluations);
      }
      for (const auto &[region, s] : by_region) write_row(out, "quantile", function, region, lib.name, s);
    }
  }
}

// ---- Google Benchmark: mean time per call over all points of a function ----------------

void register_benchmarks() {
  for (const Library &lib : libraries()) {
    for (const auto &[function, call] : lib.cumulative) {
      const std::vector<Point> *points = &cumulative_table().at(function);
      register_over_points("cumulative/" + function + "/" + lib.name, points,
                           [call](const Point &pt) { return call(pt.args); });
    }
    for (const auto &[function, call] : lib.quantile) {
      const std::vector<Point> *points = &quantile_table().at(function);
      register_over_points("quantile/" + function + "/" + lib.name, points,
                           [call](const Point &pt) { return call(pt); });
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  gsl_set_error_handler_off();
  return run_with_accuracy_report(
      argc, argv, "kind,function,region,library,points,failures,err_median,err_max,ns_median,ns_max,evals_per_call",
      [](FILE *out) {
        measure_cumulative(out);
        measure_quantiles(out);
      },
      register_benchmarks);
}
