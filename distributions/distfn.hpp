// distfn.hpp: a header-only C++20 interface over the distfn C API.
//
// One class per distribution holds its parameters: cdf(x), ccdf(x) and
// tails(x) (both tails from the one call that computes them), quantile(p) and
// cquantile(q) (the inv* functions, full precision), and the front ends'
// parameter solves as named static functions (solve_*), which take the
// tail p (q = 1 - p) or both tails.
//
// Errors: every status other than 0 becomes distfn::Error, carrying the
// status, the bound the front end reports with it and a message naming the
// argument that was out of range or the limit that was reached.
#pragma once

#include <cmath>
#include <stdexcept>
#include <string>

#include "distfn.h"

namespace distfn {

// A failure reported by the C API: its status (as the front ends number it)
// and bound (the limit broken or reached; NaN where there is none).
class Error : public std::runtime_error {
 public:
  Error(const std::string &what, int status, double bound) : std::runtime_error(what), status_(status), bound_(bound) {}
  int status() const noexcept { return status_; }
  double bound() const noexcept { return bound_; }

 private:
  int status_;
  double bound_;
};

// Both tails at one point: cdf = P[X <= x], ccdf = 1 - cdf.
struct Tails {
  double cdf;
  double ccdf;
};

namespace detail {

// The message of a status; names[k - 1] is the argument at position k of
// the front end (position 1 being which).
template <std::size_t N>
[[noreturn]] inline void fail(const char *function, int status, double bound, const char *const (&names)[N]) {
  std::string what = std::string("distfn: ") + function + ": ";
  const std::string limit = std::to_string(bound);
  if (status < 0 && static_cast<std::size_t>(-status) <= N) {
    what += status == -1 ? "case selector out of range (nearest valid " + limit + ")"
                         : std::string("argument ") + names[-status - 1] + " out of range, NaN or infinite (limit " +
                               limit + ")";
  } else if (status == 1) {
    what += "the answer lies below the searchable range (limit " + limit + ")";
  } else if (status == 2) {
    what += "the answer lies above the searchable range (limit " + limit + ")";
  } else if (status == 3) {
    what += "p + q is not 1";
  } else if (status == 4) {
    what += "the complement pair does not sum to 1";
  } else {
    what += "the computation failed (status " + std::to_string(status) + ")";
  }
  throw Error(what, status, bound);
}

// Runs one case of a front end and throws on a status other than 0.
template <std::size_t N, typename Call>
inline void front_end(const char *function, const char *const (&names)[N], Call &&call) {
  int status = 0;
  double bound = NAN;
  call(&status, &bound);
  if (status != 0) fail(function, status, bound, names);
}

// Runs a quantile function; on failure the front end's own case 2 with the
// same arguments supplies the bound (the argument checks are the same), and
// a range limit is the output the quantile function set.
template <std::size_t N, typename Inverse, typename FrontEnd>
inline double quantile(const char *function, const char *const (&names)[N], Inverse &&inverse,
                       FrontEnd &&front_end_case_two) {
  double x = NAN;
  const int status = inverse(&x);
  if (status == 0) return x;
  double bound = x;
  if (status != 1 && status != 2) {
    int fe_status = 0;
    front_end_case_two(&fe_status, &bound);
  }
  fail(function, status, bound, names);
}

inline double complement(double p) { return 1.0 - p; }

// cdf and ccdf of a law from its tails(x).
template <class Law>
class cumulative {
 public:
  double cdf(double x) const { return law().tails(x).cdf; }
  double ccdf(double x) const { return law().tails(x).ccdf; }

 protected:
  const Law &law() const { return static_cast<const Law &>(*this); }
};

// quantile and cquantile of a law from its solve(p, q), which takes both tails.
template <class Law>
class invertible : public cumulative<Law> {
 public:
  double quantile(double p) const { return this->law().solve(p, complement(p)); }
  double cquantile(double q) const { return this->law().solve(complement(q), q); }
};

}  // namespace detail

class normal : public detail::invertible<normal> {
 public:
  normal(double mean, double sd) : mean_(mean), sd_(sd) {}
  Tails tails(double x) const {
    Tails t{};
    double xx = x, m = mean_, s = sd_;
    detail::front_end("cdfnor", names, [&](int *st, double *b) {
      int which = 1;
      cdfnor(&which, &t.cdf, &t.ccdf, &xx, &m, &s, st, b);
    });
    return t;
  }
  double solve(double p, double q) const {
    return detail::quantile(
        "invnor", names, [&](double *x) { return invnor(p, q, mean_, sd_, x); },
        [&](int *st, double *b) {
          int which = 2;
          double pp = p, qq = q, x, m = mean_, s = sd_;
          cdfnor(&which, &pp, &qq, &x, &m, &s, st, b);
        });
  }
  static double solve_mean(double x, double sd, double p) { return solve_mean(x, sd, p, 1.0 - p); }
  static double solve_mean(double x, double sd, double p, double q) {
    double mean = NAN;
    detail::front_end("cdfnor", names, [&](int *st, double *b) {
      int which = 3;
      cdfnor(&which, &p, &q, &x, &mean, &sd, st, b);
    });
    return mean;
  }
  static double solve_sd(double x, double mean, double p) { return solve_sd(x, mean, p, 1.0 - p); }
  static double solve_sd(double x, double mean, double p, double q) {
    double sd = NAN;
    detail::front_end("cdfnor", names, [&](int *st, double *b) {
      int which = 4;
      cdfnor(&which, &p, &q, &x, &mean, &sd, st, b);
    });
    return sd;
  }

 private:
  static constexpr const char *names[] = {"which", "p", "q", "x", "mean", "sd"};
  double mean_, sd_;
};

class students_t : public detail::invertible<students_t> {
 public:
  explicit students_t(double df) : df_(df) {}
  Tails tails(double t) const {
    Tails r{};
    double tt = t, df = df_;
    detail::front_end("cdft", names, [&](int *st, double *b) {
      int which = 1;
      cdft(&which, &r.cdf, &r.ccdf, &tt, &df, st, b);
    });
    return r;
  }
  double solve(double p, double q) const {
    return detail::quantile(
        "invt", names, [&](double *t) { return invt(p, q, df_, t); },
        [&](int *st, double *b) {
          int which = 2;
          double pp = p, qq = q, t, df = df_;
          cdft(&which, &pp, &qq, &t, &df, st, b);
        });
  }
  static double solve_df(double t, double p) { return solve_df(t, p, 1.0 - p); }
  static double solve_df(double t, double p, double q) {
    double df = NAN;
    detail::front_end("cdft", names, [&](int *st, double *b) {
      int which = 3;
      cdft(&which, &p, &q, &t, &df, st, b);
    });
    return df;
  }

 private:
  static constexpr const char *names[] = {"which", "p", "q", "t", "df"};
  double df_;
};

class chi_squared : public detail::invertible<chi_squared> {
 public:
  explicit chi_squared(double df) : df_(df) {}
  Tails tails(double x) const {
    Tails r{};
    double xx = x, df = df_;
    detail::front_end("cdfchi", names, [&](int *st, double *b) {
      int which = 1;
      cdfchi(&which, &r.cdf, &r.ccdf, &xx, &df, st, b);
    });
    return r;
  }
  double solve(double p, double q) const {
    return detail::quantile(
        "invchi", names, [&](double *x) { return invchi(p, q, df_, x); },
        [&](int *st, double *b) {
          int which = 2;
          double pp = p, qq = q, x, df = df_;
          cdfchi(&which, &pp, &qq, &x, &df, st, b);
        });
  }
  static double solve_df(double x, double p) { return solve_df(x, p, 1.0 - p); }
  static double solve_df(double x, double p, double q) {
    double df = NAN;
    detail::front_end("cdfchi", names, [&](int *st, double *b) {
      int which = 3;
      cdfchi(&which, &p, &q, &x, &df, st, b);
    });
    return df;
  }

 private:
  static constexpr const char *names[] = {"which", "p", "q", "x", "df"};
  double df_;
};

// Noncentral chi-square: only the lower tail p is accurate, so the solves
// take p alone.
class noncentral_chi_squared : public detail::cumulative<noncentral_chi_squared> {
 public:
  noncentral_chi_squared(double df, double pnonc) : df_(df), pnonc_(pnonc) {}
  Tails tails(double x) const {
    Tails r{};
    double xx = x, df = df_, nc = pnonc_;
    detail::front_end("cdfchn", names, [&](int *st, double *b) {
      int which = 1;
      cdfchn(&which, &r.cdf, &r.ccdf, &xx, &df, &nc, st, b);
    });
    return r;
  }
  double quantile(double p) const {
    return detail::quantile(
        "invchn", names, [&](double *x) { return invchn(p, 1.0 - p, df_, pnonc_, x); },
        [&](int *st, double *b) {
          int which = 2;
          double pp = p, qq = 1.0 - p, x, df = df_, nc = pnonc_;
          cdfchn(&which, &pp, &qq, &x, &df, &nc, st, b);
        });
  }
  static double solve_df(double x, double pnonc, double p) { return solve(3, x, NAN, pnonc, p); }
  static double solve_noncentrality(double x, double df, double p) { return solve(4, x, df, NAN, p); }

 private:
  static double solve(int which, double x, double df, double pnonc, double p) {
    double q = 1.0 - p;
    detail::front_end("cdfchn", names, [&](int *st, double *b) { cdfchn(&which, &p, &q, &x, &df, &pnonc, st, b); });
    return which == 3 ? df : pnonc;
  }
  static constexpr const char *names[] = {"which", "p", "q", "x", "df", "pnonc"};
  double df_, pnonc_;
};

// Gamma with shape and rate (the front end's `scale` multiplies x).
class gamma : public detail::invertible<gamma> {
 public:
  gamma(double shape, double scale) : shape_(shape), scale_(scale) {}
  Tails tails(double x) const {
    Tails r{};
    double xx = x, a = shape_, s = scale_;
    detail::front_end("cdfgam", names, [&](int *st, double *b) {
      int which = 1;
      cdfgam(&which, &r.cdf, &r.ccdf, &xx, &a, &s, st, b);
    });
    return r;
  }
  double solve(double p, double q) const {
    return detail::quantile(
        "invgam", names, [&](double *x) { return invgam(p, q, shape_, scale_, x); },
        [&](int *st, double *b) {
          int which = 2;
          double pp = p, qq = q, x, a = shape_, s = scale_;
          cdfgam(&which, &pp, &qq, &x, &a, &s, st, b);
        });
  }
  static double solve_shape(double x, double scale, double p) { return solve_shape(x, scale, p, 1.0 - p); }
  static double solve_shape(double x, double scale, double p, double q) {
    double shape = NAN;
    detail::front_end("cdfgam", names, [&](int *st, double *b) {
      int which = 3;
      cdfgam(&which, &p, &q, &x, &shape, &scale, st, b);
    });
    return shape;
  }
  static double solve_scale(double x, double shape, double p) { return solve_scale(x, shape, p, 1.0 - p); }
  static double solve_scale(double x, double shape, double p, double q) {
    double scale = NAN;
    detail::front_end("cdfgam", names, [&](int *st, double *b) {
      int which = 4;
      cdfgam(&which, &p, &q, &x, &shape, &scale, st, b);
    });
    return scale;
  }

 private:
  static constexpr const char *names[] = {"which", "p", "q", "x", "shape", "scale"};
  double shape_, scale_;
};

class beta : public detail::invertible<beta> {
 public:
  beta(double a, double b) : a_(a), b_(b) {}
  // y = 1 - x may be given separately where x is close to 1.
  Tails tails(double x) const { return tails(x, 1.0 - x); }
  Tails tails(double x, double y) const {
    Tails r{};
    double a = a_, b = b_;
    detail::front_end("cdfbet", names, [&](int *st, double *bd) {
      int which = 1;
      cdfbet(&which, &r.cdf, &r.ccdf, &x, &y, &a, &b, st, bd);
    });
    return r;
  }
  double solve(double p, double q) const {
    double y;
    return detail::quantile(
        "invbet", names, [&](double *x) { return invbet(p, q, a_, b_, x, &y); },
        [&](int *st, double *bd) {
          int which = 2;
          double pp = p, qq = q, x, yy, a = a_, b = b_;
          cdfbet(&which, &pp, &qq, &x, &yy, &a, &b, st, bd);
        });
  }
  static double solve_a(double x, double b, double p) { return solve_shape(3, x, NAN, b, p); }
  static double solve_b(double x, double a, double p) { return solve_shape(4, x, a, NAN, p); }

 private:
  static double solve_shape(int which, double x, double a, double b, double p) {
    double q = 1.0 - p, y = 1.0 - x;
    detail::front_end("cdfbet", names, [&](int *st, double *bd) { cdfbet(&which, &p, &q, &x, &y, &a, &b, st, bd); });
    return which == 3 ? a : b;
  }
  static constexpr const char *names[] = {"which", "p", "q", "x", "y", "a", "b"};
  double a_, b_;
};

class fisher_f : public detail::invertible<fisher_f> {
 public:
  fisher_f(double dfn, double dfd) : dfn_(dfn), dfd_(dfd) {}
  Tails tails(double f) const {
    Tails r{};
    double ff = f, n = dfn_, d = dfd_;
    detail::front_end("cdff", names, [&](int *st, double *b) {
      int which = 1;
      cdff(&which, &r.cdf, &r.ccdf, &ff, &n, &d, st, b);
    });
    return r;
  }
  double solve(double p, double q) const {
    return detail::quantile(
        "invf", names, [&](double *f) { return invf(p, q, dfn_, dfd_, f); },
        [&](int *st, double *b) {
          int which = 2;
          double pp = p, qq = q, f, n = dfn_, d = dfd_;
          cdff(&which, &pp, &qq, &f, &n, &d, st, b);
        });
  }
  static double solve_dfn(double f, double dfd, double p) { return solve_df(3, f, NAN, dfd, p); }
  static double solve_dfd(double f, double dfn, double p) { return solve_df(4, f, dfn, NAN, p); }

 private:
  static double solve_df(int which, double f, double dfn, double dfd, double p) {
    double q = 1.0 - p;
    detail::front_end("cdff", names, [&](int *st, double *b) { cdff(&which, &p, &q, &f, &dfn, &dfd, st, b); });
    return which == 3 ? dfn : dfd;
  }
  static constexpr const char *names[] = {"which", "p", "q", "f", "dfn", "dfd"};
  double dfn_, dfd_;
};

// Noncentral F: only the lower tail p is accurate.
class noncentral_f : public detail::cumulative<noncentral_f> {
 public:
  noncentral_f(double dfn, double dfd, double pnonc) : dfn_(dfn), dfd_(dfd), pnonc_(pnonc) {}
  Tails tails(double f) const {
    Tails r{};
    double ff = f, n = dfn_, d = dfd_, nc = pnonc_;
    detail::front_end("cdffnc", names, [&](int *st, double *b) {
      int which = 1;
      cdffnc(&which, &r.cdf, &r.ccdf, &ff, &n, &d, &nc, st, b);
    });
    return r;
  }
  double quantile(double p) const {
    return detail::quantile(
        "invfnc", names, [&](double *f) { return invfnc(p, 1.0 - p, dfn_, dfd_, pnonc_, f); },
        [&](int *st, double *b) {
          int which = 2;
          double pp = p, qq = 1.0 - p, f, n = dfn_, d = dfd_, nc = pnonc_;
          cdffnc(&which, &pp, &qq, &f, &n, &d, &nc, st, b);
        });
  }
  static double solve_dfn(double f, double dfd, double pnonc, double p) { return solve(3, f, NAN, dfd, pnonc, p); }
  static double solve_dfd(double f, double dfn, double pnonc, double p) { return solve(4, f, dfn, NAN, pnonc, p); }
  static double solve_noncentrality(double f, double dfn, double dfd, double p) {
    return solve(5, f, dfn, dfd, NAN, p);
  }

 private:
  static double solve(int which, double f, double dfn, double dfd, double pnonc, double p) {
    double q = 1.0 - p;
    detail::front_end("cdffnc", names,
                      [&](int *st, double *b) { cdffnc(&which, &p, &q, &f, &dfn, &dfd, &pnonc, st, b); });
    return which == 3 ? dfn : (which == 4 ? dfd : pnonc);
  }
  static constexpr const char *names[] = {"which", "p", "q", "f", "dfn", "dfd", "pnonc"};
  double dfn_, dfd_, pnonc_;
};

namespace detail {

// The binomial and the negative binomial share their front ends' and quantile
// functions' signatures: s (continuous), n, and the success probability with
// its complement.
using count_front_end = void (*)(int *, double *, double *, double *, double *, double *, double *, int *, double *);
using count_inverse = int (*)(double, double, double, double, double, double *);

template <class Law, count_front_end FrontEnd, count_inverse Inverse>
class count_law : public invertible<Law> {
 public:
  count_law(double n, double p_success) : n_(n), pr_(p_success) {}
  Tails tails(double s) const {
    Tails r{};
    double ss = s, n = n_, pr = pr_, ompr = 1.0 - pr_;
    front_end(Law::front_end_name, names, [&](int *st, double *b) {
      int which = 1;
      FrontEnd(&which, &r.cdf, &r.ccdf, &ss, &n, &pr, &ompr, st, b);
    });
    return r;
  }
  double solve(double p, double q) const {
    return quantile(
        Law::inverse_name, names, [&](double *s) { return Inverse(p, q, n_, pr_, 1.0 - pr_, s); },
        [&](int *st, double *b) {
          int which = 2;
          double pp = p, qq = q, s, n = n_, pr = pr_, ompr = 1.0 - pr_;
          FrontEnd(&which, &pp, &qq, &s, &n, &pr, &ompr, st, b);
        });
  }

 protected:
  // Case 3 solves for n, case 4 for the success probability.
  static double solve_case(int which, double s, double n, double pr, double p) {
    double q = 1.0 - p, ompr = 1.0 - pr;
    front_end(Law::front_end_name, names, [&](int *st, double *b) { FrontEnd(&which, &p, &q, &s, &n, &pr, &ompr, st, b); });
    return which == 3 ? n : pr;
  }

 private:
  static constexpr const char *names[] = {"which", "p", "q", "s", "xn", "pr", "ompr"};
  double n_, pr_;
};

}  // namespace detail

// Binomial with n trials and success probability p_success: P[X <= s] with
// a continuous count s.
class binomial : public detail::count_law<binomial, cdfbin, invbin> {
 public:
  using count_law::count_law;
  static double solve_trials(double s, double p_success, double p) { return solve_case(3, s, NAN, p_success, p); }
  static double solve_success_probability(double s, double n, double p) { return solve_case(4, s, n, NAN, p); }
  static constexpr const char *front_end_name = "cdfbin";
  static constexpr const char *inverse_name = "invbin";
};

// Negative binomial: s failures (continuous) before the n-th success.
class negative_binomial : public detail::count_law<negative_binomial, cdfnbn, invnbn> {
 public:
  using count_law::count_law;
  static double solve_successes(double s, double p_success, double p) { return solve_case(3, s, NAN, p_success, p); }
  static double solve_success_probability(double s, double n, double p) { return solve_case(4, s, n, NAN, p); }
  static constexpr const char *front_end_name = "cdfnbn";
  static constexpr const char *inverse_name = "invnbn";
};

class poisson : public detail::invertible<poisson> {
 public:
  explicit poisson(double mean) : mean_(mean) {}
  Tails tails(double s) const {
    Tails r{};
    double ss = s, lam = mean_;
    detail::front_end("cdfpoi", names, [&](int *st, double *b) {
      int which = 1;
      cdfpoi(&which, &r.cdf, &r.ccdf, &ss, &lam, st, b);
    });
    return r;
  }
  double solve(double p, double q) const {
    return detail::quantile(
        "invpoi", names, [&](double *s) { return invpoi(p, q, mean_, s); },
        [&](int *st, double *b) {
          int which = 2;
          double pp = p, qq = q, s, lam = mean_;
          cdfpoi(&which, &pp, &qq, &s, &lam, st, b);
        });
  }
  static double solve_mean(double s, double p) {
    double q = 1.0 - p, lam = NAN;
    detail::front_end("cdfpoi", names, [&](int *st, double *b) {
      int which = 3;
      cdfpoi(&which, &p, &q, &s, &lam, st, b);
    });
    return lam;
  }

 private:
  static constexpr const char *names[] = {"which", "p", "q", "s", "xlam"};
  double mean_;
};

}  // namespace distfn
