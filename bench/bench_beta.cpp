// The incomplete beta ratio and the binomial distribution against Boost.Math
// (double precision throughout, no promotion to long double) and GSL on the
// points of the reference table, in the same run.
//
// Before the benchmarks run, the program prints for each library the
// accuracy on every reference point (both tails, in units of 2^-52) and the
// distribution of the time per call over the points (each point timed alone),
// so that speed and accuracy can be compared side by side.  bratio returns
// both tails from one call; the peers need two calls for them, so they are
// also timed for one tail alone.  The benchmarks then give the mean time per
// call over all points and per method region of bratio.

#include <benchmark/benchmark.h>
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_gamma.h>

#include <algorithm>
#include <boost/math/special_functions/beta.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "distributions/distfn.h"
#include "tests/reference_csv.hpp"

namespace {

using boost_double_policy =
    boost::math::policies::policy<boost::math::policies::promote_double<false>>;

constexpr double unit = 0x1p-52;

struct Point {
  std::string method;
  double a, b, x, y;
  long double w, w1;  // I_x(a, b) and its complement, 20 digits
};

struct Pair {
  double lower, upper;
};

// The bratio table: region,method,a,b,x,y,w,w1,kappa_w,kappa_w1.
const std::vector<Point> &ratio_points() {
  static const std::vector<Point> points = [] {
    std::vector<Point> out;
    for (const auto &f : reference_csv::read("beta_ratio.csv")) {
      out.push_back({f[1], std::stod(f[2]), std::stod(f[3]), std::stod(f[4]), std::stod(f[5]),
                     std::strtold(f[6].c_str(), nullptr), std::strtold(f[7].c_str(), nullptr)});
    }
    if (out.empty()) {
      std::fprintf(stderr, "bench_beta: no reference points\n");
      std::exit(1);
    }
    return out;
  }();
  return points;
}

struct Binomial {
  double s, n, p, q;
  long double cum;
};

// The binomial rows of the distribution table: cumbin,s,xn,pr,ompr,cum,ccum,...;
// GSL takes whole counts only, so fractional counts are left out.
const std::vector<Binomial> &binomial_points() {
  static const std::vector<Binomial> points = [] {
    std::vector<Binomial> out;
    for (const auto &f : reference_csv::read("beta_distributions.csv")) {
      if (f[0] != "cumbin") continue;
      const double s = std::stod(f[1]);
      if (s != std::floor(s)) continue;
      out.push_back({s, std::stod(f[2]), std::stod(f[3]), std::stod(f[4]),
                     std::strtold(f[5].c_str(), nullptr)});
    }
    return out;
  }();
  return points;
}

// ---- the three implementations ----------------------------------------------

Pair ours(const Point &p) {
  double a = p.a, b = p.b, x = p.x, y = p.y;
  Pair r;
  int ierr;
  bratio(&a, &b, &x, &y, &r.lower, &r.upper, &ierr);
  return r;
}

Pair boost_math(const Point &p) {
  try {
    return {boost::math::ibeta(p.a, p.b, p.x, boost_double_policy()),
            boost::math::ibetac(p.a, p.b, p.x, boost_double_policy())};
  } catch (...) {
    return {NAN, NAN};
  }
}

// GSL has no complement of its own: the upper tail is I_y(b, a).
Pair gsl(const Point &p) {
  gsl_sf_result lower, upper;
  const int s1 = gsl_sf_beta_inc_e(p.a, p.b, p.x, &lower);
  const int s2 = gsl_sf_beta_inc_e(p.b, p.a, p.y, &upper);
  return {s1 == GSL_SUCCESS ? lower.val : NAN, s2 == GSL_SUCCESS ? upper.val : NAN};
}

// One tail alone: what a caller pays who needs only I_x(a, b).
Pair boost_lower_only(const Point &p) {
  try {
    return {boost::math::ibeta(p.a, p.b, p.x, boost_double_policy()), NAN};
  } catch (...) {
    return {NAN, NAN};
  }
}

Pair gsl_lower_only(const Point &p) {
  gsl_sf_result lower;
  return {gsl_sf_beta_inc_e(p.a, p.b, p.x, &lower) == GSL_SUCCESS ? lower.val : NAN, NAN};
}

double ours_binomial(const Binomial &p) {
  double s = p.s, n = p.n, pr = p.p, ompr = p.q, cum, ccum;
  cumbin(&s, &n, &pr, &ompr, &cum, &ccum);
  return cum;
}

double boost_binomial(const Binomial &p) {
  try {
    return boost::math::ibetac(p.s + 1.0, p.n - p.s, p.p, boost_double_policy());
  } catch (...) {
    return NAN;
  }
}

double gsl_binomial(const Binomial &p) {
  return gsl_cdf_binomial_P(static_cast<unsigned>(p.s), p.p, static_cast<unsigned>(p.n));
}

// ---- accuracy and per-point timing, printed before the benchmarks ------------

double error_units(double computed, long double ref) {
  if (ref < 1e-300L) return 0.0;  // underflow region: not compared
  if (std::isnan(computed)) return INFINITY;
  return static_cast<double>(std::fabs((computed - ref) / ref)) / unit;
}

struct Stats {
  double median, p90, max;
};

Stats stats_of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[v.size() * 9 / 10], v.back()};
}

// Each point timed alone: the mean of `repeats` calls.
template <typename Call>
std::vector<double> per_point_ns(size_t count, Call call, int repeats = 64) {
  std::vector<double> ns(count);
  for (size_t i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < repeats; ++r) call(i);
    const auto stop = std::chrono::steady_clock::now();
    ns[i] = std::chrono::duration<double, std::nano>(stop - start).count() / repeats;
  }
  return ns;
}

void print_side_by_side() {
  const auto &points = ratio_points();
  const std::pair<const char *, std::function<Pair(const Point &)>> libraries[] = {
      {"distfn bratio", ours}, {"Boost ibeta/ibetac", boost_math}, {"GSL beta_inc", gsl}};
  std::printf("incomplete beta ratio on %zu reference points: error in units of 2^-52 "
              "(values >= 1e-300), time per call in ns\n", points.size());
  std::printf("  %-20s %10s %10s %10s %10s | %8s %8s %8s\n", "library", "err med", "err p90",
              "err max", "failures", "ns med", "ns p90", "ns max");
  for (const auto &[name, call] : libraries) {
    std::vector<double> errors;
    int failures = 0;
    for (const auto &p : points) {
      const Pair r = call(p);
      for (double e : {error_units(r.lower, p.w), error_units(r.upper, p.w1)}) {
        if (std::isinf(e)) {
          ++failures;
        } else {
          errors.push_back(e);
        }
      }
    }
    const Stats err = stats_of(errors);
    const Stats ns = stats_of(per_point_ns(points.size(), [&](size_t i) {
      benchmark::DoNotOptimize(call(points[i]));
    }));
    std::printf("  %-20s %10.3g %10.3g %10.3g %10d | %8.0f %8.0f %8.0f\n", name, err.median,
                err.p90, err.max, failures, ns.median, ns.p90, ns.max);
  }
  const std::pair<const char *, Pair (*)(const Point &)> single_tail[] = {
      {"Boost ibeta only", boost_lower_only}, {"GSL one tail only", gsl_lower_only}};
  for (const auto &[name, call] : single_tail) {
    const Stats ns = stats_of(per_point_ns(points.size(), [&](size_t i) {
      benchmark::DoNotOptimize(call(points[i]));
    }));
    std::printf("  %-20s %10s %10s %10s %10s | %8.0f %8.0f %8.0f\n", name, "", "", "", "",
                ns.median, ns.p90, ns.max);
  }

  const auto &binomials = binomial_points();
  const std::pair<const char *, std::function<double(const Binomial &)>> binomial_libraries[] = {
      {"distfn cumbin", ours_binomial},
      {"Boost ibetac", boost_binomial},
      {"GSL cdf_binomial_P", gsl_binomial}};
  std::printf("binomial distribution on %zu whole-count reference points\n", binomials.size());
  std::printf("  %-20s %10s %10s %10s %10s | %8s %8s %8s\n", "library", "err med", "err p90",
              "err max", "failures", "ns med", "ns p90", "ns max");
  for (const auto &[name, call] : binomial_libraries) {
    std::vector<double> errors;
    int failures = 0;
    for (const auto &p : binomials) {
      const double e = error_units(call(p), p.cum);
      if (std::isinf(e)) {
        ++failures;
      } else {
        errors.push_back(e);
      }
    }
    const Stats err = stats_of(errors);
    const Stats ns = stats_of(per_point_ns(binomials.size(), [&](size_t i) {
      benchmark::DoNotOptimize(call(binomials[i]));
    }));
    std::printf("  %-20s %10.3g %10.3g %10.3g %10d | %8.0f %8.0f %8.0f\n", name, err.median,
                err.p90, err.max, failures, ns.median, ns.p90, ns.max);
  }
  std::fflush(stdout);
}

// ---- the benchmarks: mean time per call over a group of points ----------------

std::vector<const Point *> group(const std::string &method) {
  std::vector<const Point *> out;
  for (const auto &p : ratio_points()) {
    if (method == "all" || p.method == method) out.push_back(&p);
  }
  return out;
}

template <Pair (*Call)(const Point &)>
void BM_Ratio(benchmark::State &state, const std::string &method) {
  const auto points = group(method);
  for (auto _ : state) {
    for (const Point *p : points) benchmark::DoNotOptimize(Call(*p));
  }
  state.counters["ns_per_call"] = benchmark::Counter(
      static_cast<double>(points.size()) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <double (*Call)(const Binomial &)>
void BM_Binomial(benchmark::State &state) {
  const auto &points = binomial_points();
  for (auto _ : state) {
    for (const auto &p : points) benchmark::DoNotOptimize(Call(p));
  }
  state.counters["ns_per_call"] = benchmark::Counter(
      static_cast<double>(points.size()) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void register_benchmarks() {
  const char *methods[] = {"all",   "bpser", "bup_bpser", "bup_bgrat", "bgrat",
                           "bfrac", "basym", "apser",     "fpser"};
  for (const char *m : methods) {
    const std::string method = m;
    benchmark::RegisterBenchmark(("bratio/" + method).c_str(), BM_Ratio<ours>, method);
    benchmark::RegisterBenchmark(("boost_ibeta_ibetac/" + method).c_str(), BM_Ratio<boost_math>,
                                 method);
    benchmark::RegisterBenchmark(("boost_ibeta_only/" + method).c_str(),
                                 BM_Ratio<boost_lower_only>, method);
    benchmark::RegisterBenchmark(("gsl_beta_inc/" + method).c_str(), BM_Ratio<gsl>, method);
    benchmark::RegisterBenchmark(("gsl_beta_inc_one_tail/" + method).c_str(),
                                 BM_Ratio<gsl_lower_only>, method);
  }
  benchmark::RegisterBenchmark("cumbin", BM_Binomial<ours_binomial>);
  benchmark::RegisterBenchmark("boost_ibetac_binomial", BM_Binomial<boost_binomial>);
  benchmark::RegisterBenchmark("gsl_cdf_binomial_P", BM_Binomial<gsl_binomial>);
}

}  // namespace

int main(int argc, char **argv) {
  gsl_set_error_handler_off();
  benchmark::Initialize(&argc, argv);
  print_side_by_side();
  register_benchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
