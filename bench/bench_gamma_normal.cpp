// gratio, cumnor and gaminv against Boost.Math (double precision without
// promotion to long double) and GSL, on the same points in one run.  Each
// benchmark also reports the accuracy of its implementation on those points,
// in units of 2^-52 against the mpmath tables in tests/data (for gaminv: how
// far P at the returned x is from p, relative to p).
#include <benchmark/benchmark.h>

#include <boost/math/distributions/normal.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_gamma.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/reference_csv.hpp"
#include "distributions/distfn.h"

namespace {

using reference_csv::number;
using reference_csv::reference;

using FastDouble = boost::math::policies::policy<
    boost::math::policies::promote_double<false>, boost::math::policies::domain_error<boost::math::policies::errno_on_error>,
    boost::math::policies::overflow_error<boost::math::policies::errno_on_error>,
    boost::math::policies::evaluation_error<boost::math::policies::errno_on_error>>;

struct RatioPoint {
  double a, x;
  long double p, q;
};

struct NormalPoint {
  double x;
  long double cum, ccum;
};

const std::vector<RatioPoint> &ratio_points() {
  static const std::vector<RatioPoint> points = [] {
    std::vector<RatioPoint> v;
    for (const auto &r : reference_csv::read("gamma_ratio.csv")) {
      v.push_back({number(r[0]), number(r[1]), reference(r[2]), reference(r[3])});
    }
    return v;
  }();
  return points;
}

// Shapes 0.1 to 50 with x within a factor 2 of a: the everyday region.
const std::vector<RatioPoint> &moderate_points() {
  static const std::vector<RatioPoint> points = [] {
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> log_a(std::log(0.1), std::log(50.0));
    std::uniform_real_distribution<double> ratio(0.5, 2.0);
    std::vector<RatioPoint> v;
    for (int i = 0; i < 1000; ++i) {
      const double a = std::exp(log_a(rng));
      v.push_back({a, a * ratio(rng), 0.0L, 0.0L});
    }
    return v;
  }();
  return points;
}

const std::vector<NormalPoint> &normal_points() {
  static const std::vector<NormalPoint> points = [] {
    std::vector<NormalPoint> v;
    for (const auto &r : reference_csv::read("normal_cdf.csv"))
      v.push_back({number(r[0]), reference(r[1]), reference(r[2])});
    return v;
  }();
  return points;
}

struct Probability {
  double a, p, q;
};

const std::vector<Probability> &inverse_points() {
  static const std::vector<Probability> points = [] {
    std::vector<Probability> v;
    for (double a : {0.05, 0.3, 0.9, 1.5, 4.0, 12.0, 60.0, 400.0, 5e3}) {
      for (double p : {1e-10, 1e-4, 0.01, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99, 1.0 - 1e-4}) v.push_back({a, p, 1.0 - p});
    }
    return v;
  }();
  return points;
}

// Max and median error in units of 2^-52 over the values of at least 1e-300.
void report_accuracy(benchmark::State &state, std::vector<double> errors) {
  if (errors.empty()) return;
  std::sort(errors.begin(), errors.end());
  state.counters["max_ulp"] = errors.back();
  state.counters["median_ulp"] = errors[errors.size() / 2];
}

double units(double computed, long double reference) {
  if (computed == reference) return 0.0;
  if (std::isnan(computed)) return HUGE_VAL;
  return static_cast<double>(std::fabs(computed - reference) / reference) / 0x1p-52;
}

using RatioFunction = std::function<double(double, double)>;

// gratio gives both ratios in one call; each benchmark reads one of them.
struct GammaRatios {
  double p = 0.0;
  double q = 0.0;
};

GammaRatios distfn_ratios(double a, double x) {
  GammaRatios r;
  int ind = 0;
  gratio(&a, &x, &r.p, &r.q, &ind);
  return r;
}

double distfn_p(double a, double x) { return distfn_ratios(a, x).p; }
double distfn_q(double a, double x) { return distfn_ratios(a, x).q; }

double gsl_p(double a, double x) {
  gsl_sf_result r;
  return gsl_sf_gamma_inc_P_e(a, x, &r) == GSL_SUCCESS ? r.val : NAN;
}

double gsl_q(double a, double x) {
  gsl_sf_result r;
  return gsl_sf_gamma_inc_Q_e(a, x, &r) == GSL_SUCCESS ? r.val : NAN;
}

// upper selects Q; moderate selects the everyday points (no reference there).
void BM_Ratio(benchmark::State &state, const RatioFunction &f, bool upper, bool moderate) {
  gsl_set_error_handler_off();
  const auto &points = moderate ? moderate_points() : ratio_points();
  for (auto _ : state) {
    for (const RatioPoint &pt : points) benchmark::DoNotOptimize(f(pt.a, pt.x));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points.size()));
  if (moderate) return;
  std::vector<double> errors;
  for (const RatioPoint &pt : points) {
    const long double reference = upper ? pt.q : pt.p;
    if (reference >= 1e-300) errors.push_back(units(f(pt.a, pt.x), reference));
  }
  report_accuracy(state, errors);
}

double boost_p(double a, double x) { return boost::math::gamma_p(a, x, FastDouble()); }
double boost_q(double a, double x) { return boost::math::gamma_q(a, x, FastDouble()); }

BENCHMARK_CAPTURE(BM_Ratio, P_distfn_gratio, distfn_p, false, false);
BENCHMARK_CAPTURE(BM_Ratio, P_boost_gamma_p, boost_p, false, false);
BENCHMARK_CAPTURE(BM_Ratio, P_gsl_gamma_inc_P, gsl_p, false, false);
BENCHMARK_CAPTURE(BM_Ratio, Q_distfn_gratio, distfn_q, true, false);
BENCHMARK_CAPTURE(BM_Ratio, Q_boost_gamma_q, boost_q, true, false);
BENCHMARK_CAPTURE(BM_Ratio, Q_gsl_gamma_inc_Q, gsl_q, true, false);
BENCHMARK_CAPTURE(BM_Ratio, moderate_P_distfn_gratio, distfn_p, false, true);
BENCHMARK_CAPTURE(BM_Ratio, moderate_P_boost_gamma_p, boost_p, false, true);
BENCHMARK_CAPTURE(BM_Ratio, moderate_P_gsl_gamma_inc_P, gsl_p, false, true);

// ---- normal distribution ------------------------------------------------------

using NormalFunction = std::function<void(double, double &, double &)>;

void BM_Normal(benchmark::State &state, NormalFunction f) {
  const auto &points = normal_points();
  for (auto _ : state) {
    for (const NormalPoint &pt : points) {
      double cum = 0.0;
      double ccum = 0.0;
      f(pt.x, cum, ccum);
      benchmark::DoNotOptimize(cum);
      benchmark::DoNotOptimize(ccum);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points.size()));
  std::vector<double> errors;
  for (const NormalPoint &pt : points) {
    double cum = 0.0;
    double ccum = 0.0;
    f(pt.x, cum, ccum);
    if (pt.cum >= 2.3e-308) errors.push_back(units(cum, pt.cum));
    if (pt.ccum >= 2.3e-308) errors.push_back(units(ccum, pt.ccum));
  }
  report_accuracy(state, errors);
}

void distfn_normal(double x, double &cum, double &ccum) { cumnor(&x, &cum, &ccum); }

void boost_normal(double x, double &cum, double &ccum) {
  const boost::math::normal_distribution<double, FastDouble> n;
  cum = boost::math::cdf(n, x);
  ccum = boost::math::cdf(boost::math::complement(n, x));
}

void gsl_normal(double x, double &cum, double &ccum) {
  cum = gsl_cdf_ugaussian_P(x);
  ccum = gsl_cdf_ugaussian_Q(x);
}

BENCHMARK_CAPTURE(BM_Normal, distfn_cumnor, distfn_normal);
BENCHMARK_CAPTURE(BM_Normal, boost_cdf_and_complement, boost_normal);
BENCHMARK_CAPTURE(BM_Normal, gsl_ugaussian_P_and_Q, gsl_normal);

// ---- inverse --------------------------------------------------------------------

using InverseFunction = std::function<double(double, double, double)>;

void BM_Inverse(benchmark::State &state, InverseFunction f) {
  gsl_set_error_handler_off();
  const auto &points = inverse_points();
  for (auto _ : state) {
    for (const Probability &pt : points) benchmark::DoNotOptimize(f(pt.a, pt.p, pt.q));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points.size()));
  // Round trip in the smaller tail, with gratio as the judge.
  std::vector<double> errors;
  for (const Probability &pt : points) {
    const double x = f(pt.a, pt.p, pt.q);
    const bool upper = pt.p > 0.5;
    errors.push_back(units(upper ? distfn_q(pt.a, x) : distfn_p(pt.a, x), upper ? pt.q : pt.p));
  }
  report_accuracy(state, errors);
}

double distfn_inverse(double a, double p, double q) {
  double x = 0.0;
  double x0 = -1.0;
  int ierr = 0;
  gaminv(&a, &x, &x0, &p, &q, &ierr);
  return x;
}

double boost_inverse(double a, double p, double q) {
  return p <= 0.5 ? boost::math::gamma_p_inv(a, p, FastDouble()) : boost::math::gamma_q_inv(a, q, FastDouble());
}

double gsl_inverse(double a, double p, double q) {
  return p <= 0.5 ? gsl_cdf_gamma_Pinv(p, a, 1.0) : gsl_cdf_gamma_Qinv(q, a, 1.0);
}

BENCHMARK_CAPTURE(BM_Inverse, distfn_gaminv, distfn_inverse);
BENCHMARK_CAPTURE(BM_Inverse, boost_gamma_p_inv, boost_inverse);
BENCHMARK_CAPTURE(BM_Inverse, gsl_cdf_gamma_Pinv, gsl_inverse);

}  // namespace

BENCHMARK_MAIN();
