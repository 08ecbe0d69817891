// The quantile functions (inv*) against the front ends' case-2 search,
// Boost.Math's quantiles (promote_double<false>; discrete laws with a real
// count, the continuous equation the front ends solve) and GSL's inverse
// distribution functions, on the same points in one run.
//
// Points: the rows of tests/data/inverse_quantiles.csv (40-digit references
// from tools/gen_inverse_reference.py) whose smaller tail is at least 1e-30,
// a range every peer covers.  Counters: ns_per_call (the median over the
// repetitions is the figure to quote), max_err and median_err, the relative
// error in units of 2^-52; a peer's failure (exception, NaN) counts as an
// infinite error.

#include <benchmark/benchmark.h>
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_errno.h>

#include <algorithm>
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
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "bench/quantile_accuracy.hpp"
#include "tests/reference_csv.hpp"
#include "distributions/distfn.h"

namespace {

struct Point {
  double p, q, a, b, c, quantile;
};

constexpr double smallest_timed_tail = 1e-30;

std::vector<Point> load(const std::string &law) {
  std::vector<Point> points;
  for (const auto &r : reference_csv::read("inverse_quantiles.csv")) {
    if (r[0] != law) continue;
    const Point pt{std::stod(r[1]), std::stod(r[2]), std::stod(r[3]),
                   std::stod(r[4]), std::stod(r[5]), std::stod(r[6])};
    if (std::min(pt.p, pt.q) >= smallest_timed_tail) points.push_back(pt);
  }
  return points;
}

namespace bm = boost::math;
using Policy = bm::policies::policy<bm::policies::promote_double<false>>;
using DiscretePolicy =
    bm::policies::policy<bm::policies::promote_double<false>, bm::policies::discrete_quantile<bm::policies::real>>;

// Boost's quantile of the smaller tail, as the others are given both.
template <typename Distribution>
double boost_quantile(const Distribution &d, const Point &pt) {
  try {
    return pt.p <= pt.q ? quantile(d, pt.p) : quantile(complement(d, pt.q));
  } catch (...) {
    return std::numeric_limits<double>::quiet_NaN();
  }
}

using Solve = std::function<double(const Point &)>;

void run(benchmark::State &state, const std::string &law, const Solve &solve) {
  const std::vector<Point> points = load(law);
  time_quantiles(state, points, solve);
  state.counters["points"] = static_cast<double>(points.size());
}

// Each law: our quantile function, the front end, Boost, and GSL (or none).
struct Law {
  const char *name;
  Solve ours, front_end, boost, gsl;
};

const Law laws[] = {
    {"nor",
     [](const Point &pt) {
       double x;
       invnor(pt.p, pt.q, pt.a, pt.b, &x);
       return x;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, x, mean = pt.a, sd = pt.b, bound;
       cdfnor(&which, &p, &q, &x, &mean, &sd, &status, &bound);
       return x;
     },
     [](const Point &pt) { return boost_quantile(bm::normal_distribution<double, Policy>(pt.a, pt.b), pt); },
     [](const Point &pt) {
       return pt.a + pt.b * (pt.p <= pt.q ? gsl_cdf_ugaussian_Pinv(pt.p) : gsl_cdf_ugaussian_Qinv(pt.q));
     }},
    {"t",
     [](const Point &pt) {
       double x;
       invt(pt.p, pt.q, pt.a, &x);
       return x;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, t, df = pt.a, bound;
       cdft(&which, &p, &q, &t, &df, &status, &bound);
       return t;
     },
     [](const Point &pt) { return boost_quantile(bm::students_t_distribution<double, Policy>(pt.a), pt); },
     [](const Point &pt) { return pt.p <= pt.q ? gsl_cdf_tdist_Pinv(pt.p, pt.a) : gsl_cdf_tdist_Qinv(pt.q, pt.a); }},
    {"chi",
     [](const Point &pt) {
       double x;
       invchi(pt.p, pt.q, pt.a, &x);
       return x;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, x, df = pt.a, bound;
       cdfchi(&which, &p, &q, &x, &df, &status, &bound);
       return x;
     },
     [](const Point &pt) { return boost_quantile(bm::chi_squared_distribution<double, Policy>(pt.a), pt); },
     [](const Point &pt) { return pt.p <= pt.q ? gsl_cdf_chisq_Pinv(pt.p, pt.a) : gsl_cdf_chisq_Qinv(pt.q, pt.a); }},
    {"gam",
     [](const Point &pt) {
       double x;
       invgam(pt.p, pt.q, pt.a, pt.b, &x);
       return x;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, x, shape = pt.a, scale = pt.b, bound;
       cdfgam(&which, &p, &q, &x, &shape, &scale, &status, &bound);
       return x;
     },
     // The front end's scale is a rate: Boost's and GSL's scale is 1/rate.
     [](const Point &pt) { return boost_quantile(bm::gamma_distribution<double, Policy>(pt.a, 1.0 / pt.b), pt); },
     [](const Point &pt) {
       return pt.p <= pt.q ? gsl_cdf_gamma_Pinv(pt.p, pt.a, 1.0 / pt.b) : gsl_cdf_gamma_Qinv(pt.q, pt.a, 1.0 / pt.b);
     }},
    {"bet",
     [](const Point &pt) {
       double x, y;
       invbet(pt.p, pt.q, pt.a, pt.b, &x, &y);
       return x;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, x, y, a = pt.a, b = pt.b, bound;
       cdfbet(&which, &p, &q, &x, &y, &a, &b, &status, &bound);
       return x;
     },
     [](const Point &pt) { return boost_quantile(bm::beta_distribution<double, Policy>(pt.a, pt.b), pt); },
     [](const Point &pt) {
       return pt.p <= pt.q ? gsl_cdf_beta_Pinv(pt.p, pt.a, pt.b) : gsl_cdf_beta_Qinv(pt.q, pt.a, pt.b);
     }},
    {"f",
     [](const Point &pt) {
       double x;
       invf(pt.p, pt.q, pt.a, pt.b, &x);
       return x;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, f, dfn = pt.a, dfd = pt.b, bound;
       cdff(&which, &p, &q, &f, &dfn, &dfd, &status, &bound);
       return f;
     },
     [](const Point &pt) { return boost_quantile(bm::fisher_f_distribution<double, Policy>(pt.a, pt.b), pt); },
     [](const Point &pt) {
       return pt.p <= pt.q ? gsl_cdf_fdist_Pinv(pt.p, pt.a, pt.b) : gsl_cdf_fdist_Qinv(pt.q, pt.a, pt.b);
     }},
    {"bin",
     [](const Point &pt) {
       double s;
       invbin(pt.p, pt.q, pt.a, pt.b, 1.0 - pt.b, &s);
       return s;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, s, xn = pt.a, pr = pt.b, ompr = 1.0 - pt.b, bound;
       cdfbin(&which, &p, &q, &s, &xn, &pr, &ompr, &status, &bound);
       return s;
     },
     [](const Point &pt) { return boost_quantile(bm::binomial_distribution<double, DiscretePolicy>(pt.a, pt.b), pt); },
     nullptr},
    {"nbn",
     [](const Point &pt) {
       double s;
       invnbn(pt.p, pt.q, pt.a, pt.b, 1.0 - pt.b, &s);
       return s;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, s, xn = pt.a, pr = pt.b, ompr = 1.0 - pt.b, bound;
       cdfnbn(&which, &p, &q, &s, &xn, &pr, &ompr, &status, &bound);
       return s;
     },
     [](const Point &pt) {
       return boost_quantile(bm::negative_binomial_distribution<double, DiscretePolicy>(pt.a, pt.b), pt);
     },
     nullptr},
    {"poi",
     [](const Point &pt) {
       double s;
       invpoi(pt.p, pt.q, pt.a, &s);
       return s;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, s, xlam = pt.a, bound;
       cdfpoi(&which, &p, &q, &s, &xlam, &status, &bound);
       return s;
     },
     [](const Point &pt) { return boost_quantile(bm::poisson_distribution<double, DiscretePolicy>(pt.a), pt); },
     nullptr},
    {"chn",
     [](const Point &pt) {
       double x;
       invchn(pt.p, pt.q, pt.a, pt.b, &x);
       return x;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, x, df = pt.a, pnonc = pt.b, bound;
       cdfchn(&which, &p, &q, &x, &df, &pnonc, &status, &bound);
       return x;
     },
     [](const Point &pt) {
       return boost_quantile(bm::non_central_chi_squared_distribution<double, Policy>(pt.a, pt.b), pt);
     },
     nullptr},
    {"fnc",
     [](const Point &pt) {
       double x;
       invfnc(pt.p, pt.q, pt.a, pt.b, pt.c, &x);
       return x;
     },
     [](const Point &pt) {
       int which = 2, status;
       double p = pt.p, q = pt.q, f, dfn = pt.a, dfd = pt.b, pnonc = pt.c, bound;
       cdffnc(&which, &p, &q, &f, &dfn, &dfd, &pnonc, &status, &bound);
       return f;
     },
     [](const Point &pt) {
       return boost_quantile(bm::non_central_f_distribution<double, Policy>(pt.a, pt.b, pt.c), pt);
     },
     nullptr},
};

// Registers, per law, its peers in the order ours, front end, Boost, GSL, so
// that each comparison runs side by side.
int register_all() {
  gsl_set_error_handler_off();
  for (const Law &law : laws) {
    const std::pair<const char *, const Solve *> entries[] = {
        {"distfn", &law.ours}, {"front_end", &law.front_end}, {"boost", &law.boost}, {"gsl", &law.gsl}};
    for (const auto &[peer, solve] : entries) {
      if (!*solve) continue;
      const std::string name = std::string("BM_inv_") + law.name + "_" + peer;
      benchmark::RegisterBenchmark(
          name.c_str(), [law_name = std::string(law.name), solve](benchmark::State &s) { run(s, law_name, *solve); });
    }
  }
  return 0;
}

const int registered = register_all();

}  // namespace

BENCHMARK_MAIN();
