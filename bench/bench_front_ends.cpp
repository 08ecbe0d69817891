// Quantiles by the front ends (cdft, cdfchi, cdfbin, cdfbet, each solving for
// the value at a given p) against Boost.Math's quantiles and GSL's inverse
// distribution functions on the same points, in one run.
//
// Counters: ns_per_call; evals_per_solve (distfn only: calls of the
// cumulative function per solve, counted by link-time wrapping); max_err and
// median_err, the relative error against 30-digit references
// (tests/data/front_end_quantiles.csv, from tools/front_end_quantiles.py) in
// units of 2^-52.

#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/math/distributions/beta.hpp>
#include <boost/math/distributions/binomial.hpp>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_errno.h>

#include "bench/quantile_accuracy.hpp"
#include "distributions/distfn.h"
#include "tests/reference_csv.hpp"

// Every call of a cumulative function made by the front ends passes through
// these wrappers (linked with -Wl,--wrap=...), which count it.
namespace {
long cumulative_calls = 0;
}

extern "C" {
void __real_cumt(double *, double *, double *, double *);
void __real_cumchi(double *, double *, double *, double *);
void __real_cumbin(double *, double *, double *, double *, double *, double *);
void __real_cumbet(double *, double *, double *, double *, double *, double *);

void __wrap_cumt(double *t, double *df, double *cum, double *ccum) {
  ++cumulative_calls;
  __real_cumt(t, df, cum, ccum);
}
void __wrap_cumchi(double *x, double *df, double *cum, double *ccum) {
  ++cumulative_calls;
  __real_cumchi(x, df, cum, ccum);
}
void __wrap_cumbin(double *s, double *xn, double *pr, double *ompr, double *cum, double *ccum) {
  ++cumulative_calls;
  __real_cumbin(s, xn, pr, ompr, cum, ccum);
}
void __wrap_cumbet(double *x, double *y, double *a, double *b, double *cum, double *ccum) {
  ++cumulative_calls;
  __real_cumbet(x, y, a, b, cum, ccum);
}
}

namespace {

struct Point {
  double p, param1, param2, quantile;
};

std::vector<Point> load(const std::string &distribution) {
  std::vector<Point> points;
  for (const auto &r : reference_csv::read("front_end_quantiles.csv")) {
    if (r[0] != distribution) continue;
    points.push_back({std::stod(r[1]), std::stod(r[2]), std::stod(r[3]), std::stod(r[4])});
  }
  if (points.empty()) std::fprintf(stderr, "no reference points for %s\n", distribution.c_str());
  return points;
}

using Policy = boost::math::policies::policy<boost::math::policies::promote_double<false>>;
using BinomialPolicy =
    boost::math::policies::policy<boost::math::policies::promote_double<false>,
                                  boost::math::policies::discrete_quantile<boost::math::policies::real>>;

// Runs solve over every point per iteration and reports speed and accuracy.
template <typename Solve>
void run(benchmark::State &state, const std::vector<Point> &points, Solve solve, bool count_evaluations) {
  cumulative_calls = 0;
  const long solves = time_quantiles(state, points, solve);
  if (count_evaluations) state.counters["evals_per_solve"] = static_cast<double>(cumulative_calls) / solves;
}

// ---- Student's t ----------------------------------------------------------------

void BM_t_distfn(benchmark::State &state) {
  run(state, load("t"), [](const Point &pt) {
    int which = 2, status;
    double p = pt.p, q = 1 - pt.p, t, df = pt.param1, bound;
    cdft(&which, &p, &q, &t, &df, &status, &bound);
    return t;
  }, true);
}
void BM_t_boost(benchmark::State &state) {
  run(state, load("t"), [](const Point &pt) {
    return quantile(boost::math::students_t_distribution<double, Policy>(pt.param1), pt.p);
  }, false);
}
void BM_t_gsl(benchmark::State &state) {
  run(state, load("t"), [](const Point &pt) { return gsl_cdf_tdist_Pinv(pt.p, pt.param1); }, false);
}

// ---- Chi-square -----------------------------------------------------------------

void BM_chi2_distfn(benchmark::State &state) {
  run(state, load("chi2"), [](const Point &pt) {
    int which = 2, status;
    double p = pt.p, q = 1 - pt.p, x, df = pt.param1, bound;
    cdfchi(&which, &p, &q, &x, &df, &status, &bound);
    return x;
  }, true);
}
void BM_chi2_boost(benchmark::State &state) {
  run(state, load("chi2"), [](const Point &pt) {
    return quantile(boost::math::chi_squared_distribution<double, Policy>(pt.param1), pt.p);
  }, false);
}
void BM_chi2_gsl(benchmark::State &state) {
  run(state, load("chi2"), [](const Point &pt) { return gsl_cdf_chisq_Pinv(pt.p, pt.param1); }, false);
}

// ---- Binomial, continuous number of successes (GSL has no inverse) ---------------

void BM_binomial_distfn(benchmark::State &state) {
  run(state, load("binomial"), [](const Point &pt) {
    int which = 2, status;
    double p = pt.p, q = 1 - pt.p, s, xn = pt.param1, pr = pt.param2, ompr = 1 - pt.param2, bound;
    cdfbin(&which, &p, &q, &s, &xn, &pr, &ompr, &status, &bound);
    return s;
  }, true);
}
void BM_binomial_boost(benchmark::State &state) {
  run(state, load("binomial"), [](const Point &pt) {
    return quantile(boost::math::binomial_distribution<double, BinomialPolicy>(pt.param1, pt.param2), pt.p);
  }, false);
}

// ---- Beta -------------------------------------------------------------------------

void BM_beta_distfn(benchmark::State &state) {
  run(state, load("beta"), [](const Point &pt) {
    int which = 2, status;
    double p = pt.p, q = 1 - pt.p, x, y, a = pt.param1, b = pt.param2, bound;
    cdfbet(&which, &p, &q, &x, &y, &a, &b, &status, &bound);
    return x;
  }, true);
}
void BM_beta_boost(benchmark::State &state) {
  run(state, load("beta"), [](const Point &pt) {
    return quantile(boost::math::beta_distribution<double, Policy>(pt.param1, pt.param2), pt.p);
  }, false);
}
void BM_beta_gsl(benchmark::State &state) {
  run(state, load("beta"), [](const Point &pt) { return gsl_cdf_beta_Pinv(pt.p, pt.param1, pt.param2); }, false);
}

BENCHMARK(BM_t_distfn);
BENCHMARK(BM_t_boost);
BENCHMARK(BM_t_gsl);
BENCHMARK(BM_chi2_distfn);
BENCHMARK(BM_chi2_boost);
BENCHMARK(BM_chi2_gsl);
BENCHMARK(BM_binomial_distfn);
BENCHMARK(BM_binomial_boost);
BENCHMARK(BM_beta_distfn);
BENCHMARK(BM_beta_boost);
BENCHMARK(BM_beta_gsl);

}  // namespace

int main(int argc, char **argv) {
  gsl_set_error_handler_off();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
