// The density functions of distfn against Boost.Math's pdf (double precision
// without promotion to long double) and GSL's gsl_ran_*_pdf on the points of
// tests/data/densities.csv, and the noncentral tails of cumchnb and cumfncb
// against Boost.Math's cdf and complement (and distfn's own truncated sums,
// cumchn and cumfnc) on tests/data/noncentral_tails.csv.
//
// Before the benchmarks run, the program measures for each function, region
// and library the relative error of every result in units of 2^-52 (values
// of at least 1e-300 only; each noncentral tail on its own), its share of the
// bound (max(8, 16 kappa 2^-53 / 2^-52) units for the densities,
// max(1e-13, 64 kappa 2^-53) for the tails), and the time of each point alone
// (the least of a few short blocks of calls), and writes their medians and
// maxima as CSV to the file named by --accuracy_out=FILE (standard output
// without it).  The Google Benchmark cases then give the mean time per call
// over all points of a function.
//
// A peer that lacks a function (GSL has no noncentral laws) is left out; one
// that takes only whole counts (GSL's discrete laws take unsigned counts and
// integer trials) is left out of a point with a fractional one; a result that
// is NaN or an exception counts as a failure.

#include <benchmark/benchmark.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_randist.h>

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
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "distributions/distfn.h"
#include "tests/density_reference.hpp"
#include "bench/accuracy_report.hpp"
#include "tests/reference_csv.hpp"

namespace {

namespace bm = boost::math;
using Fast = bm::policies::policy<bm::policies::promote_double<false>>;

constexpr double unit = 0x1p-52;
constexpr long double smallest_compared = 1e-300L;
constexpr double tail_target = 1e-13;
constexpr double tail_condition_factor = 64.0;

using Args = std::array<double, 4>;
// A library's value at a point, or nothing where it has no such function.
using Call = std::function<std::optional<double>(const Args &)>;
// Both tails: cum and ccum.
using TailsCall = std::function<std::optional<std::array<double, 2>>(const Args &)>;

struct Library {
  const char *name;
  std::map<std::string, Call> density;
  std::map<std::string, TailsCall> tails;
};

bool whole(double v) { return std::floor(v) == v && v >= 0.0 && v < 4294967296.0; }

template <typename F>
std::optional<double> guarded(F f) {
  try {
    return f();
  } catch (...) {
    return NAN;
  }
}

template <typename F>
std::optional<std::array<double, 2>> guarded_pair(F f) {
  try {
    return f();
  } catch (...) {
    return std::array<double, 2>{NAN, NAN};
  }
}

// A distfn density function of N arguments, called on a point's first N.
template <auto function, std::size_t N>
std::optional<double> distfn_density(const Args &a) {
  Args c = a;
  double pdf, bound;
  int status;
  [&]<std::size_t... i>(std::index_sequence<i...>) {
    function(&c[i]..., &pdf, &status, &bound);
  }(std::make_index_sequence<N>{});
  return pdf;
}

const std::vector<Library> &libraries() {
  static const std::vector<Library> all = [] {
    std::vector<Library> libs;
    Library d{"distfn", {}, {}};
    d.density = {{"pdfbet", distfn_density<pdfbet, 4>}, {"pdfbin", distfn_density<pdfbin, 4>},
                 {"pdfnbn", distfn_density<pdfnbn, 4>}, {"pdfchi", distfn_density<pdfchi, 2>},
                 {"pdfchn", distfn_density<pdfchn, 3>}, {"pdff", distfn_density<pdff, 3>},
                 {"pdffnc", distfn_density<pdffnc, 4>}, {"pdfgam", distfn_density<pdfgam, 3>},
                 {"pdfnor", distfn_density<pdfnor, 3>}, {"pdfpoi", distfn_density<pdfpoi, 2>},
                 {"pdft", distfn_density<pdft, 2>}};
    d.tails["cumchnb"] = [](const Args &a) -> std::optional<std::array<double, 2>> {
      double x = a[0], df = a[1], nc = a[2], bound;
      std::array<double, 2> r{};
      int status;
      cumchnb(&x, &df, &nc, &r[0], &r[1], &status, &bound);
      return r;
    };
    d.tails["cumfncb"] = [](const Args &a) -> std::optional<std::array<double, 2>> {
      double f = a[0], dfn = a[1], dfd = a[2], nc = a[3], bound;
      std::array<double, 2> r{};
      int status;
      cumfncb(&f, &dfn, &dfd, &nc, &r[0], &r[1], &status, &bound);
      return r;
    };
    libs.push_back(d);

    // distfn's own truncated sums, for the tails only.
    Library truncated{"distfn cumchn/cumfnc", {}, {}};
    truncated.tails["cumchnb"] = [](const Args &a) -> std::optional<std::array<double, 2>> {
      double x = a[0], df = a[1], nc = a[2];
      std::array<double, 2> r{};
      cumchn(&x, &df, &nc, &r[0], &r[1]);
      return r;
    };
    truncated.tails["cumfncb"] = [](const Args &a) -> std::optional<std::array<double, 2>> {
      double f = a[0], dfn = a[1], dfd = a[2], nc = a[3];
      std::array<double, 2> r{};
      cumfnc(&f, &dfn, &dfd, &nc, &r[0], &r[1]);
      return r;
    };
    libs.push_back(truncated);

    Library b{"Boost.Math", {}, {}};
    b.density["pdfbet"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::beta_distribution<double, Fast>(a[2], a[3]), a[0]); });
    };
    b.density["pdfbin"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::binomial_distribution<double, Fast>(a[1], a[2]), a[0]); });
    };
    b.density["pdfnbn"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::negative_binomial_distribution<double, Fast>(a[1], a[2]), a[0]); });
    };
    b.density["pdfchi"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::chi_squared_distribution<double, Fast>(a[1]), a[0]); });
    };
    b.density["pdfchn"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::non_central_chi_squared_distribution<double, Fast>(a[1], a[2]), a[0]); });
    };
    b.density["pdff"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::fisher_f_distribution<double, Fast>(a[1], a[2]), a[0]); });
    };
    b.density["pdffnc"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::non_central_f_distribution<double, Fast>(a[1], a[2], a[3]), a[0]); });
    };
    b.density["pdfgam"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::gamma_distribution<double, Fast>(a[1], 1.0 / a[2]), a[0]); });
    };
    b.density["pdfnor"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::normal_distribution<double, Fast>(a[1], a[2]), a[0]); });
    };
    b.density["pdfpoi"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::poisson_distribution<double, Fast>(a[1]), a[0]); });
    };
    b.density["pdft"] = [](const Args &a) {
      return guarded([&] { return bm::pdf(bm::students_t_distribution<double, Fast>(a[1]), a[0]); });
    };
    b.tails["cumchnb"] = [](const Args &a) {
      return guarded_pair([&] {
        const bm::non_central_chi_squared_distribution<double, Fast> d(a[1], a[2]);
        return std::array<double, 2>{bm::cdf(d, a[0]), bm::cdf(bm::complement(d, a[0]))};
      });
    };
    b.tails["cumfncb"] = [](const Args &a) {
      return guarded_pair([&] {
        const bm::non_central_f_distribution<double, Fast> d(a[1], a[2], a[3]);
        return std::array<double, 2>{bm::cdf(d, a[0]), bm::cdf(bm::complement(d, a[0]))};
      });
    };
    libs.push_back(b);

    Library g{"GSL", {}, {}};
    g.density["pdfbet"] = [](const Args &a) -> std::optional<double> { return gsl_ran_beta_pdf(a[0], a[2], a[3]); };
    g.density["pdfbin"] = [](const Args &a) -> std::optional<double> {
      if (!whole(a[0]) || !whole(a[1])) return std::nullopt;
      return gsl_ran_binomial_pdf(static_cast<unsigned>(a[0]), a[2], static_cast<unsigned>(a[1]));
    };
    g.density["pdfnbn"] = [](const Args &a) -> std::optional<double> {
      if (!whole(a[0])) return std::nullopt;
      return gsl_ran_negative_binomial_pdf(static_cast<unsigned>(a[0]), a[2], a[1]);
    };
    g.density["pdfchi"] = [](const Args &a) -> std::optional<double> { return gsl_ran_chisq_pdf(a[0], a[1]); };
    g.density["pdff"] = [](const Args &a) -> std::optional<double> { return gsl_ran_fdist_pdf(a[0], a[1], a[2]); };
    g.density["pdfgam"] = [](const Args &a) -> std::optional<double> {
      return gsl_ran_gamma_pdf(a[0], a[1], 1.0 / a[2]);
    };
    g.density["pdfnor"] = [](const Args &a) -> std::optional<double> {
      return gsl_ran_gaussian_pdf(a[0] - a[1], a[2]);
    };
    g.density["pdfpoi"] = [](const Args &a) -> std::optional<double> {
      if (!whole(a[0])) return std::nullopt;
      return gsl_ran_poisson_pdf(static_cast<unsigned>(a[0]), a[1]);
    };
    g.density["pdft"] = [](const Args &a) -> std::optional<double> { return gsl_ran_tdist_pdf(a[0], a[1]); };
    libs.push_back(g);
    return libs;
  }();
  return all;
}

// ---- reference points --------------------------------------------------------------

struct Point {
  std::string region;
  Args args;
  long double value[2];  // the density, or both tails
  double kappa[2];
};

const std::map<std::string, std::vector<Point>> &density_points() {
  static const std::map<std::string, std::vector<Point>> table = [] {
    std::map<std::string, std::vector<Point>> t;
    for (const density_reference::Row &r : density_reference::read_rows())
      t[r.function].push_back({r.region, r.args, {r.pdf, 0.0L}, {r.kappa, 0.0}});
    return t;
  }();
  return table;
}

const std::map<std::string, std::vector<Point>> &tail_points() {
  static const std::map<std::string, std::vector<Point>> table = [] {
    using reference_csv::number, reference_csv::reference;
    std::map<std::string, std::vector<Point>> t;
    for (const auto &f : reference_csv::read("noncentral_tails.csv")) {
      t[f[0]].push_back({f[1],
                         {number(f[2]), number(f[3]), number(f[4]), number(f[5])},
                         {reference(f[6]), reference(f[7])},
                         {number(f[8]), number(f[9])}});
    }
    return t;
  }();
  return table;
}

// ---- measurement ---------------------------------------------------------------------

double error_units(double computed, long double reference) {
  if (!std::isfinite(computed)) return INFINITY;
  return static_cast<double>(std::fabs((computed - reference) / reference)) / unit;
}

double density_allowed(double kappa) { return density_reference::allowed_units(kappa); }
double tail_allowed(double kappa) { return std::fmax(tail_target, tail_condition_factor * kappa * 0x1p-53) / unit; }

template <typename F>
double point_ns(F call) {
  constexpr int blocks = 3;
  constexpr int calls_per_block = 16;
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
  std::vector<double> errors, shares, ns;
};

double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double maximum(const std::vector<double> &v) { return v.empty() ? NAN : *std::max_element(v.begin(), v.end()); }

// CSV: kind,function,region,library,points,failures,err_median,err_max,share_max,ns_median,ns_max
void write_rows(FILE *out, const char *kind, const std::string &function, const char *library,
                const std::map<std::string, Summary> &by_region) {
  for (const auto &[region, s] : by_region) {
    std::fprintf(out, "%s,%s,%s,%s,%d,%d,%.4g,%.4g,%.4g,%.1f,%.1f\n", kind, function.c_str(), region.c_str(), library,
                 s.points, s.failures, median(s.errors), maximum(s.errors), maximum(s.shares), median(s.ns),
                 maximum(s.ns));
  }
}

void record(std::map<std::string, Summary> &by_region, const std::string &region, double error, double share,
            double ns) {
  for (const std::string &key : {region, std::string("all")}) {
    Summary &s = by_region[key];
    ++s.points;
    if (std::isinf(error)) ++s.failures;
    s.errors.push_back(error);
    s.shares.push_back(share);
    s.ns.push_back(ns);
  }
}

void measure_densities(FILE *out) {
  for (const Library &lib : libraries()) {
    for (const auto &[function, call] : lib.density) {
      std::map<std::string, Summary> by_region;
      for (const Point &pt : density_points().at(function)) {
        if (pt.value[0] < smallest_compared) continue;
        const std::optional<double> v = call(pt.args);
        if (!v) continue;
        const double e = error_units(*v, pt.value[0]);
        record(by_region, pt.region, e, e / density_allowed(pt.kappa[0]),
               point_ns([&] { benchmark::DoNotOptimize(call(pt.args)); }));
      }
      write_rows(out, "density", function, lib.name, by_region);
    }
  }
}

void measure_tails(FILE *out) {
  for (const Library &lib : libraries()) {
    for (const auto &[function, call] : lib.tails) {
      std::map<std::string, Summary> by_region;
      if (!tail_points().count(function)) continue;
      for (const Point &pt : tail_points().at(function)) {
        const std::optional<std::array<double, 2>> v = call(pt.args);
        if (!v) continue;
        const double ns = point_ns([&] { benchmark::DoNotOptimize(call(pt.args)); });
        for (int side = 0; side < 2; ++side) {
          if (pt.value[side] < smallest_compared) continue;
          const double e = error_units((*v)[side], pt.value[side]);
          record(by_region, pt.region + (side == 0 ? " cum" : " ccum"), e, e / tail_allowed(pt.kappa[side]), ns);
        }
      }
      write_rows(out, "noncentral", function, lib.name, by_region);
    }
  }
}

// ---- Google Benchmark: mean time per call over all points of a function ----------------

void register_benchmarks() {
  for (const Library &lib : libraries()) {
    for (const auto &[function, call] : lib.density) {
      const std::vector<Point> *points = &density_points().at(function);
      register_over_points("density/" + function + "/" + lib.name, points,
                           [call](const Point &pt) { return call(pt.args); });
    }
    for (const auto &[function, call] : lib.tails) {
      if (!tail_points().count(function)) continue;
      const std::vector<Point> *points = &tail_points().at(function);
      register_over_points("noncentral/" + function + "/" + lib.name, points,
                           [call](const Point &pt) { return call(pt.args); });
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  gsl_set_error_handler_off();
  return run_with_accuracy_report(
      argc, argv, "kind,function,region,library,points,failures,err_median,err_max,share_max,ns_median,ns_max",
      [](FILE *out) {
        measure_densities(out);
        measure_tails(out);
      },
      register_benchmarks);
}
