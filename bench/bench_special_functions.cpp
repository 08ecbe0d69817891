// The elementary and gamma-family functions of distfn against the C library,
// Boost.Math and GSL on the arguments of the reference tables: mean time per
// call over all points of a function.

#include <benchmark/benchmark.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_gamma.h>
#include <gsl/gsl_sf_psi.h>

#include <boost/math/special_functions/digamma.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "distributions/distfn.h"
#include "tests/reference_csv.hpp"

namespace {

using boost_double_policy = boost::math::policies::policy<boost::math::policies::promote_double<false>>;

// The arguments of one function in a reference table.
std::vector<std::pair<double, double>> arguments(const std::string &file, const std::string &function) {
  std::vector<std::pair<double, double>> points;
  // name, region, x, y (empty for functions of one argument), reference
  for (const auto &f : reference_csv::read(file)) {
    if (f[0] == function) points.emplace_back(reference_csv::number(f[2]), reference_csv::number(f[3]));
  }
  return points;
}

void run(benchmark::State &state, const std::string &file, const std::string &function,
         const std::function<double(double, double)> &f) {
  const auto points = arguments(file, function);
  for (auto _ : state) {
    for (const auto &[x, y] : points) benchmark::DoNotOptimize(f(x, y));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * points.size()));
  state.counters["ns_per_call"] = benchmark::Counter(static_cast<double>(state.iterations() * points.size()),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

const char *const kElementary = "special_elementary.csv";
const char *const kGamma = "special_gamma.csv";

void register_all() {
  struct Entry {
    const char *name;
    const char *file;
    const char *function;
    std::function<double(double, double)> f;
  };
  const std::vector<Entry> entries = {
      {"alnrel", kElementary, "alnrel", [](double x, double) { return alnrel(&x); }},
      {"std::log1p", kElementary, "alnrel", [](double x, double) { return std::log1p(x); }},
      {"rexp", kElementary, "rexp", [](double x, double) { return rexp(&x); }},
      {"std::expm1", kElementary, "rexp", [](double x, double) { return std::expm1(x); }},
      {"rlog1", kElementary, "rlog1", [](double x, double) { return rlog1(&x); }},
      {"erf1", kElementary, "erf1", [](double x, double) { return erf1(&x); }},
      {"std::erf", kElementary, "erf1", [](double x, double) { return std::erf(x); }},
      {"erfc1", kElementary, "erfc1", [](double x, double) { int ind = 0; return erfc1(&ind, &x); }},
      {"std::erfc", kElementary, "erfc1", [](double x, double) { return std::erfc(x); }},
      {"gamln", kGamma, "gamln", [](double x, double) { return gamln(&x); }},
      {"alngam", kGamma, "gamln", [](double x, double) { return alngam(&x); }},
      {"std::lgamma", kGamma, "gamln", [](double x, double) { return std::lgamma(x); }},
      {"boost::lgamma", kGamma, "gamln",
       [](double x, double) { return boost::math::lgamma(x, boost_double_policy()); }},
      {"Xgamm", kGamma, "Xgamm", [](double x, double) { return Xgamm(&x); }},
      {"std::tgamma", kGamma, "Xgamm", [](double x, double) { return std::tgamma(x); }},
      {"psi", kGamma, "psi", [](double x, double) { return psi(&x); }},
      {"boost::digamma", kGamma, "psi",
       [](double x, double) { return boost::math::digamma(x, boost_double_policy()); }},
      {"gsl_sf_psi", kGamma, "psi", [](double x, double) { return gsl_sf_psi(x); }},
      {"betaln", kGamma, "betaln", [](double x, double y) { return betaln(&x, &y); }},
      {"gsl_sf_lnbeta", kGamma, "betaln", [](double x, double y) { return gsl_sf_lnbeta(x, y); }},
      {"gam1", kGamma, "gam1", [](double x, double) { return gam1(&x); }},
      {"algdiv", kGamma, "algdiv", [](double x, double y) { return algdiv(&x, &y); }},
      {"dstrem", kGamma, "dstrem", [](double x, double) { return dstrem(&x); }},
  };
  for (const auto &e : entries) {
    benchmark::RegisterBenchmark(e.name, [e](benchmark::State &state) { run(state, e.file, e.function, e.f); });
  }
}

}  // namespace

int main(int argc, char **argv) {
  gsl_set_error_handler_off();  // the peers' range errors are not failures here
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
