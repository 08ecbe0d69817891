// distfn.hpp: a header-only C++20 interface over the distfn C API.
//
// One class per distribution holds its parameters: pdf(x) (the probability
// mass at an integer count for the discrete laws), cdf(x), ccdf(x) and
// tails(x) (both tails from the one call that computes them), quantile(p) and
// cquantile(q) (the inv* functions, full precision), and the front ends'
// parameter solves as named static functions (solve_*), which take the
// tail p (q = 1 - p) or both tails.
//
// Errors: every status other than 0 becomes distfn::Error, carrying the
// status, the bound the front end reports with it and a message naming the
// argument that was out of range or the limit that was reached.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

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

// The bound of a failed check of p (status -2), q (-3) or p + q (3) as the
// front ends report it: 1 for a value above 1, else 0.
inline double tail_check_bound(int status, double p, double q) {
  const double value = status == -2 ? p : status == -3 ? q : p + q;
  return value > 1.0 ? 1.0 : 0.0;
}

// Runs a quantile function on the tails p and q; on failure the front end's
// own case 2 with the same arguments supplies the bound (the argument checks
// are the same, but for the noncentral front ends, which read no q: where
// they report another status, the failed check was of p or q), and a range
// limit is the output the quantile function set.
template <std::size_t N, typename Inverse, typename FrontEnd>
inline double quantile(const char *function, const char *const (&names)[N], double p, double q, Inverse &&inverse,
                       FrontEnd &&front_end_case_two) {
  double x = NAN;
  const int status = inverse(&x);
  if (status == 0) return x;
  double bound = x;
  if (status != 1 && status != 2) {
    int fe_status = 0;
    front_end_case_two(&fe_status, &bound);
    if (fe_status != status) bound = tail_check_bound(status, p, q);
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

// A law of N parameters whose front end takes (which, p, q, x, the
// parameters, status, bound), whose quantile function takes (p, q, the
// parameters, x) and whose density function takes (x, the parameters, pdf,
// status, bound).  Case 1 gives the tails, case 2 the quantile (after the
// quantile function), and case 3 on solves for the first, second, ...
// parameter.  The law names its front end, its quantile function and their
// arguments (front_end_name, inverse_name, names); the density function is
// named pdf and the front end's name after "cdf".
template <class Law, std::size_t N, auto FrontEnd, auto Inverse, auto Density>
class parametric : public cumulative<Law> {
 public:
  using Parameters = std::array<double, N>;

  Tails tails(double x) const {
    Tails r{};
    Parameters parameters = parameters_;
    run(1, r.cdf, r.ccdf, x, parameters);
    return r;
  }
  // The density at x (the probability mass at an integer count).
  double pdf(double x) const {
    double result = NAN;
    Parameters parameters = parameters_;
    const std::string name = std::string("pdf") + (Law::front_end_name + 3);
    front_end(name.c_str(), Law::names, [&](int *st, double *b) {
      [&]<std::size_t... I>(std::index_sequence<I...>) {
        Density(&x, &parameters[I]..., &result, st, b);
      }(std::make_index_sequence<N>{});
    });
    return result;
  }
  double quantile(double p) const { return solve_tails(p, complement(p)); }
  double cquantile(double q) const { return solve_tails(complement(q), q); }
  double solve(double p, double q) const { return solve_tails(p, q); }

 protected:
  explicit parametric(const Parameters &parameters) : parameters_(parameters) {}
  const Parameters &parameters() const { return parameters_; }

  // Case which (3 on) solves for parameters[which - 3]; the others are given.
  static double solve_parameter(int which, double x, Parameters parameters, double p, double q) {
    run(which, p, q, x, parameters);
    return parameters[which - 3];
  }

 private:
  static void call(int which, double &p, double &q, double &x, Parameters &parameters, int *status, double *bound) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      FrontEnd(&which, &p, &q, &x, &parameters[I]..., status, bound);
    }(std::make_index_sequence<N>{});
  }
  static void run(int which, double &p, double &q, double &x, Parameters &parameters) {
    front_end(Law::front_end_name, Law::names, [&](int *st, double *b) { call(which, p, q, x, parameters, st, b); });
  }
  double solve_tails(double p, double q) const {
    return detail::quantile(
        Law::inverse_name, Law::names, p, q,
        [&](double *x) {
          return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return Inverse(p, q, parameters_[I]..., x);
          }(std::make_index_sequence<N>{});
        },
        [&](int *st, double *b) {
          double pp = p, qq = q, x;
          Parameters parameters = parameters_;
          call(2, pp, qq, x, parameters, st, b);
        });
  }

  Parameters parameters_;
};

}  // namespace detail

class normal : public detail::parametric<normal, 2, cdfnor, invnor, pdfnor> {
 public:
  normal(double mean, double sd) : parametric({mean, sd}) {}
  static double solve_mean(double x, double sd, double p) { return solve_mean(x, sd, p, 1.0 - p); }
  static double solve_mean(double x, double sd, double p, double q) { return solve_parameter(3, x, {NAN, sd}, p, q); }
  static double solve_sd(double x, double mean, double p) { return solve_sd(x, mean, p, 1.0 - p); }
  static double solve_sd(double x, double mean, double p, double q) { return solve_parameter(4, x, {mean, NAN}, p, q); }

 private:
  friend parametric;
  static constexpr const char *front_end_name = "cdfnor";
  static constexpr const char *inverse_name = "invnor";
  static constexpr const char *names[] = {"which", "p", "q", "x", "mean", "sd"};
};

class students_t : public detail::parametric<students_t, 1, cdft, invt, pdft> {
 public:
  explicit students_t(double df) : parametric({df}) {}
  static double solve_df(double t, double p) { return solve_df(t, p, 1.0 - p); }
  static double solve_df(double t, double p, double q) { return solve_parameter(3, t, {NAN}, p, q); }

 private:
  friend parametric;
  static constexpr const char *front_end_name = "cdft";
  static constexpr const char *inverse_name = "invt";
  static constexpr const char *names[] = {"which", "p", "q", "t", "df"};
};

class chi_squared : public detail::parametric<chi_squared, 1, cdfchi, invchi, pdfchi> {
 public:
  explicit chi_squared(double df) : parametric({df}) {}
  static double solve_df(double x, double p) { return solve_df(x, p, 1.0 - p); }
  static double solve_df(double x, double p, double q) { return solve_parameter(3, x, {NAN}, p, q); }

 private:
  friend parametric;
  static constexpr const char *front_end_name = "cdfchi";
  static constexpr const char *inverse_name = "invchi";
  static constexpr const char *names[] = {"which", "p", "q", "x", "df"};
};

// Noncentral chi-square: the tails (and so cdf, ccdf and the quantiles) come
// from cumchnb, each accurate; the parameter solves run the front end, whose
// truncated sum gives only the lower tail p accurately, so they take p alone.
class noncentral_chi_squared : public detail::parametric<noncentral_chi_squared, 2, cdfchn, invchn, pdfchn> {
 public:
  noncentral_chi_squared(double df, double pnonc) : parametric({df, pnonc}) {}
  Tails tails(double x) const {
    Tails r{};
    double df = parameters()[0], pnonc = parameters()[1];
    detail::front_end("cumchnb", names, [&](int *st, double *b) { cumchnb(&x, &df, &pnonc, &r.cdf, &r.ccdf, st, b); });
    return r;
  }
  static double solve_df(double x, double pnonc, double p) { return solve_parameter(3, x, {NAN, pnonc}, p, 1.0 - p); }
  static double solve_noncentrality(double x, double df, double p) {
    return solve_parameter(4, x, {df, NAN}, p, 1.0 - p);
  }

 private:
  friend parametric;
  static constexpr const char *front_end_name = "cdfchn";
  static constexpr const char *inverse_name = "invchn";
  static constexpr const char *names[] = {"which", "p", "q", "x", "df", "pnonc"};
};

// Gamma with shape and rate (the front end's `scale` multiplies x).
class gamma : public detail::parametric<gamma, 2, cdfgam, invgam, pdfgam> {
 public:
  gamma(double shape, double scale) : parametric({shape, scale}) {}
  static double solve_shape(double x, double scale, double p) { return solve_shape(x, scale, p, 1.0 - p); }
  static double solve_shape(double x, double scale, double p, double q) {
    return solve_parameter(3, x, {NAN, scale}, p, q);
  }
  static double solve_scale(double x, double shape, double p) { return solve_scale(x, shape, p, 1.0 - p); }
  static double solve_scale(double x, double shape, double p, double q) {
    return solve_parameter(4, x, {shape, NAN}, p, q);
  }

 private:
  friend parametric;
  static constexpr const char *front_end_name = "cdfgam";
  static constexpr const char *inverse_name = "invgam";
  static constexpr const char *names[] = {"which", "p", "q", "x", "shape", "scale"};
};

// The front end of the beta law takes y = 1 - x beside x, and its quantile
// function gives both.
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
  // The density at x, with y = 1 - x given separately where x is close to 1.
  double pdf(double x) const { return pdf(x, 1.0 - x); }
  double pdf(double x, double y) const {
    double result = NAN, a = a_, b = b_;
    detail::front_end("pdfbet", names, [&](int *st, double *bd) { pdfbet(&x, &y, &a, &b, &result, st, bd); });
    return result;
  }
  double solve(double p, double q) const {
    double y;
    return detail::quantile(
        "invbet", names, p, q, [&](double *x) { return invbet(p, q, a_, b_, x, &y); },
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

class fisher_f : public detail::parametric<fisher_f, 2, cdff, invf, pdff> {
 public:
  fisher_f(double dfn, double dfd) : parametric({dfn, dfd}) {}
  static double solve_dfn(double f, double dfd, double p) { return solve_parameter(3, f, {NAN, dfd}, p, 1.0 - p); }
  static double solve_dfd(double f, double dfn, double p) { return solve_parameter(4, f, {dfn, NAN}, p, 1.0 - p); }

 private:
  friend parametric;
  static constexpr const char *front_end_name = "cdff";
  static constexpr const char *inverse_name = "invf";
  static constexpr const char *names[] = {"which", "p", "q", "f", "dfn", "dfd"};
};

// Noncentral F: the tails from cumfncb, each accurate; the parameter solves
// take p alone, as the noncentral chi-square's do.
class noncentral_f : public detail::parametric<noncentral_f, 3, cdffnc, invfnc, pdffnc> {
 public:
  noncentral_f(double dfn, double dfd, double pnonc) : parametric({dfn, dfd, pnonc}) {}
  Tails tails(double f) const {
    Tails r{};
    double dfn = parameters()[0], dfd = parameters()[1], pnonc = parameters()[2];
    detail::front_end("cumfncb", names,
                      [&](int *st, double *b) { cumfncb(&f, &dfn, &dfd, &pnonc, &r.cdf, &r.ccdf, st, b); });
    return r;
  }
  static double solve_dfn(double f, double dfd, double pnonc, double p) {
    return solve_parameter(3, f, {NAN, dfd, pnonc}, p, 1.0 - p);
  }
  static double solve_dfd(double f, double dfn, double pnonc, double p) {
    return solve_parameter(4, f, {dfn, NAN, pnonc}, p, 1.0 - p);
  }
  static double solve_noncentrality(double f, double dfn, double dfd, double p) {
    return solve_parameter(5, f, {dfn, dfd, NAN}, p, 1.0 - p);
  }

 private:
  friend parametric;
  static constexpr const char *front_end_name = "cdffnc";
  static constexpr const char *inverse_name = "invfnc";
  static constexpr const char *names[] = {"which", "p", "q", "f", "dfn", "dfd", "pnonc"};
};

namespace detail {

// The binomial and the negative binomial share their front ends' and quantile
// functions' signatures: s (continuous), n, and the success probability with
// its complement.
template <class Law, auto FrontEnd, auto Inverse, auto Density>
class count_law : public parametric<Law, 3, FrontEnd, Inverse, Density> {
 public:
  count_law(double n, double p_success) : count_law::parametric({n, p_success, 1.0 - p_success}) {}

 protected:
  // Case 3 solves for n, case 4 for the success probability.
  static double solve_case(int which, double s, double n, double pr, double p) {
    return count_law::solve_parameter(which, s, {n, pr, 1.0 - pr}, p, 1.0 - p);
  }

 private:
  friend parametric<Law, 3, FrontEnd, Inverse, Density>;
  static constexpr const char *names[] = {"which", "p", "q", "s", "xn", "pr", "ompr"};
};

}  // namespace detail

// Binomial with n trials and success probability p_success: P[X <= s] with
// a continuous count s.
class binomial : public detail::count_law<binomial, cdfbin, invbin, pdfbin> {
 public:
  using count_law::count_law;
  static double solve_trials(double s, double p_success, double p) { return solve_case(3, s, NAN, p_success, p); }
  static double solve_success_probability(double s, double n, double p) { return solve_case(4, s, n, NAN, p); }
  static constexpr const char *front_end_name = "cdfbin";
  static constexpr const char *inverse_name = "invbin";
};

// Negative binomial: s failures (continuous) before the n-th success.
class negative_binomial : public detail::count_law<negative_binomial, cdfnbn, invnbn, pdfnbn> {
 public:
  using count_law::count_law;
  static double solve_successes(double s, double p_success, double p) { return solve_case(3, s, NAN, p_success, p); }
  static double solve_success_probability(double s, double n, double p) { return solve_case(4, s, n, NAN, p); }
  static constexpr const char *front_end_name = "cdfnbn";
  static constexpr const char *inverse_name = "invnbn";
};

class poisson : public detail::parametric<poisson, 1, cdfpoi, invpoi, pdfpoi> {
 public:
  explicit poisson(double mean) : parametric({mean}) {}
  static double solve_mean(double s, double p) { return solve_parameter(3, s, {NAN}, p, 1.0 - p); }

 private:
  friend parametric;
  static constexpr const char *front_end_name = "cdfpoi";
  static constexpr const char *inverse_name = "invpoi";
  static constexpr const char *names[] = {"which", "p", "q", "s", "xlam"};
};

}  // namespace distfn
