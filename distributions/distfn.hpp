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
// argument, as the caller passed it, that was out of range, or the limit that
// was reached.  Numbers in messages are printed in their shortest exact form.
//
// Limits: cdf, ccdf and tails at a point below the support (or at -inf) give
// 0 and 1, above it (or at +inf) 1 and 0, as the functions tend there; the
// parameters are still checked.  quantile(0) and cquantile(1) give the lower
// end of the support (-inf or 0), quantile(1) and cquantile(0) the upper end
// (+inf, or the binomial's n and the beta's 1).
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <span>
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

inline double complement(double p) { return 1.0 - p; }

// The shortest text that reads back as the same double: 0.1 prints as 0.1,
// the largest double in its 17 digits, never a fixed six decimals.
inline std::string shortest(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// One argument of a C call as the caller knows it: the name the caller gave
// it and the caller's value.  A tail that the wrapper derived as 1 - p
// carries the name and value of p, and is complemented: a limit it breaks is
// the complement of the caller's.
struct argument {
  const char *name;
  double value;
  bool complemented = false;
};

// The message of a status; arguments[k - 1] is the argument at position k of
// the front end (position 1 being which).  operation names the law and the
// member called, such as "gamma::quantile".
[[noreturn]] inline void fail(const char *operation, int status, double bound, std::span<const argument> arguments) {
  std::string what = std::string("distfn::") + operation + ": ";
  if (status < -1 && static_cast<std::size_t>(-status) <= arguments.size()) {
    const argument &culprit = arguments[static_cast<std::size_t>(-status) - 1];
    if (culprit.complemented) bound = complement(bound);
    what += std::string("argument ") + culprit.name + " = " + shortest(culprit.value) +
            " is out of range, NaN or infinite (limit " + shortest(bound) + ")";
    throw Error(what, status, bound);
  }
  const std::string limit = shortest(bound);
  if (status == -1) {
    what += "case selector out of range (nearest valid " + limit + ")";
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
template <typename Call>
inline void front_end(const char *operation, std::span<const argument> arguments, Call &&call) {
  int status = 0;
  double bound = NAN;
  call(&status, &bound);
  if (status != 0) fail(operation, status, bound, arguments);
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
template <typename Inverse, typename FrontEnd>
inline double quantile(const char *operation, std::span<const argument> arguments, double p, double q,
                       Inverse &&inverse, FrontEnd &&front_end_case_two) {
  double x = NAN;
  const int status = inverse(&x);
  if (status == 0) return x;
  double bound = x;
  if (status != 1 && status != 2) {
    int fe_status = 0;
    front_end_case_two(&fe_status, &bound);
    if (fe_status != status) bound = tail_check_bound(status, p, q);
  }
  fail(operation, status, bound, arguments);
}

// The tails of a call as the caller gave them: p alone (q = 1 - p), q alone
// (p = 1 - q), or both.
struct tail_pair {
  double p, q;
  argument p_argument, q_argument;
};
inline tail_pair from_lower_tail(double p) { return {p, complement(p), {"p", p}, {"p", p, true}}; }
inline tail_pair from_upper_tail(double q) { return {complement(q), q, {"q", q, true}, {"q", q}}; }
inline tail_pair from_both_tails(double p, double q) { return {p, q, {"p", p}, {"q", q}}; }

// The closed range [lower, upper] outside which the cumulative function is
// constant: x below it has nothing below, x above it everything.
struct support {
  double lower;
  double upper;
};
inline constexpr support non_negative_support{0.0, INFINITY};
inline constexpr support real_line{-INFINITY, INFINITY};

// The tails at x when x lies outside the support (-inf and +inf are outside
// every support); nothing when it lies inside.
inline bool tails_outside(double x, support s, Tails &limit) {
  if (x < s.lower || x == -INFINITY) {
    limit = {0.0, 1.0};
    return true;
  }
  if (x > s.upper || x == INFINITY) {
    limit = {1.0, 0.0};
    return true;
  }
  return false;
}

// A point of the support at which the front end can check the parameters.
inline double point_inside(support s) { return std::isfinite(s.lower) ? s.lower : 0.0; }

// The quantile that the tails name when they are an end: p = 0 the lower end
// of the support, q = 0 the upper end.
inline bool quantile_at_end(double p, double q, support s, double &end) {
  if (p == 0.0 && q == 1.0) {
    end = s.lower;
    return true;
  }
  if (p == 1.0 && q == 0.0) {
    end = s.upper;
    return true;
  }
  return false;
}

// cdf and ccdf of a law from its tails_of(x, member), member naming the
// function called.
template <class Law>
class cumulative {
 public:
  double cdf(double x) const { return law().tails_of(x, "cdf").cdf; }
  double ccdf(double x) const { return law().tails_of(x, "ccdf").ccdf; }

 protected:
  const Law &law() const { return static_cast<const Law &>(*this); }
};

// quantile and cquantile of a law from its solve(p, q), which takes both tails.
template <class Law>
class invertible : public cumulative<Law> {
 public:
  double quantile(double p) const { return this->law().solve_tails(from_lower_tail(p), "quantile"); }
  double cquantile(double q) const { return this->law().solve_tails(from_upper_tail(q), "cquantile"); }
  double solve(double p, double q) const { return this->law().solve_tails(from_both_tails(p, q), "solve"); }
};

// "law::member", the operation an error message names.
inline std::string operation_name(const char *law, const char *member) {
  return std::string(law) + "::" + member;
}

// A law of N parameters whose front end takes (which, p, q, x, the
// parameters, status, bound), whose quantile function takes (p, q, the
// parameters, x) and whose density function takes (x, the parameters, pdf,
// status, bound).  Case 1 gives the tails, case 2 the quantile (after the
// quantile function), and case 3 on solves for the first, second, ...
// parameter.  The law names itself (law_name) and x and its parameters as
// its callers pass them (names); a law whose support is not [0, inf) gives
// it as support_of(parameters), and one whose tails come from another
// function than the front end's case 1 gives it as both_tails(x,
// parameters, tails, status, bound), checking as the front end checks.
template <class Law, std::size_t N, auto FrontEnd, auto Inverse, auto Density>
class parametric : public cumulative<Law> {
 public:
  using Parameters = std::array<double, N>;

  Tails tails(double x) const { return tails_of(x, "tails"); }
  // The density at x (the probability mass at an integer count).
  double pdf(double x) const {
    double result = NAN;
    Parameters parameters = parameters_;
    const auto arguments = arguments_of(1, from_lower_tail(NAN), x, parameters);
    front_end(operation_name(Law::law_name, "pdf").c_str(), arguments, [&](int *st, double *b) {
      [&]<std::size_t... I>(std::index_sequence<I...>) {
        Density(&x, &parameters[I]..., &result, st, b);
      }(std::make_index_sequence<N>{});
    });
    return result;
  }
  double quantile(double p) const { return solve_tails(from_lower_tail(p), "quantile"); }
  double cquantile(double q) const { return solve_tails(from_upper_tail(q), "cquantile"); }
  double solve(double p, double q) const { return solve_tails(from_both_tails(p, q), "solve"); }

 protected:
  explicit parametric(const Parameters &parameters) : parameters_(parameters) {}

  // Case which (3 on) solves for parameters[which - 3]; the others are given.
  static double solve_parameter(const char *member, int which, double x, Parameters parameters, tail_pair tails) {
    run(which, member, tails, tails.p, tails.q, x, parameters);
    return parameters[which - 3];
  }

 private:
  friend cumulative<Law>;

  Tails tails_of(double x, const char *member) const {
    Tails r{};
    if (tails_outside(x, law_support(parameters_), r)) {
      check_parameters(member);
      return r;
    }
    Parameters parameters = parameters_;
    if constexpr (requires(int *st, double *b) { Law::both_tails(x, parameters, r, st, b); }) {
      const auto arguments = arguments_of(1, from_lower_tail(NAN), x, parameters);
      front_end(operation_name(Law::law_name, member).c_str(), arguments,
                [&](int *st, double *b) { Law::both_tails(x, parameters, r, st, b); });
    } else {
      run(1, member, from_lower_tail(NAN), r.cdf, r.ccdf, x, parameters);
    }
    return r;
  }

  static support law_support(const Parameters &parameters) {
    if constexpr (requires { Law::support_of(parameters); })
      return Law::support_of(parameters);
    else
      return non_negative_support;
  }

  // The arguments of a call in the front end's order, as the caller named them.
  static std::array<argument, N + 4> arguments_of(int which, const tail_pair &tails, double x,
                                                  const Parameters &parameters) {
    std::array<argument, N + 4> arguments{
        {{"which", double(which)}, tails.p_argument, tails.q_argument, {Law::names[0], x}}};
    for (std::size_t i = 0; i < N; ++i) arguments[4 + i] = {Law::names[1 + i], parameters[i]};
    return arguments;
  }

  static void call(int which, double &p, double &q, double &x, Parameters &parameters, int *status, double *bound) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      FrontEnd(&which, &p, &q, &x, &parameters[I]..., status, bound);
    }(std::make_index_sequence<N>{});
  }
  static void run(int which, const char *member, const tail_pair &tails, double &p, double &q, double &x,
                  Parameters &parameters) {
    const auto arguments = arguments_of(which, tails, x, parameters);
    front_end(operation_name(Law::law_name, member).c_str(), arguments,
              [&](int *st, double *b) { call(which, p, q, x, parameters, st, b); });
  }
  // The front end's own checks of the parameters, at a point of the support.
  void check_parameters(const char *member) const {
    double p, q, x = point_inside(law_support(parameters_));
    Parameters parameters = parameters_;
    run(1, member, from_lower_tail(NAN), p, q, x, parameters);
  }
  double solve_tails(const tail_pair &tails, const char *member) const {
    double end;
    if (quantile_at_end(tails.p, tails.q, law_support(parameters_), end)) {
      check_parameters(member);
      return end;
    }
    const auto arguments = arguments_of(2, tails, NAN, parameters_);
    return detail::quantile(
        operation_name(Law::law_name, member).c_str(), arguments, tails.p, tails.q,
        [&](double *x) {
          return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return Inverse(tails.p, tails.q, parameters_[I]..., x);
          }(std::make_index_sequence<N>{});
        },
        [&](int *st, double *b) {
          double pp = tails.p, qq = tails.q, x;
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
  static double solve_mean(double x, double sd, double p) {
    return solve_parameter("solve_mean", 3, x, {NAN, sd}, detail::from_lower_tail(p));
  }
  static double solve_mean(double x, double sd, double p, double q) {
    return solve_parameter("solve_mean", 3, x, {NAN, sd}, detail::from_both_tails(p, q));
  }
  static double solve_sd(double x, double mean, double p) {
    return solve_parameter("solve_sd", 4, x, {mean, NAN}, detail::from_lower_tail(p));
  }
  static double solve_sd(double x, double mean, double p, double q) {
    return solve_parameter("solve_sd", 4, x, {mean, NAN}, detail::from_both_tails(p, q));
  }

 private:
  friend parametric;
  static constexpr const char *law_name = "normal";
  static constexpr const char *names[] = {"x", "mean", "sd"};
  static detail::support support_of(const Parameters &) { return detail::real_line; }
};

class students_t : public detail::parametric<students_t, 1, cdft, invt, pdft> {
 public:
  explicit students_t(double df) : parametric({df}) {}
  static double solve_df(double t, double p) {
    return solve_parameter("solve_df", 3, t, {NAN}, detail::from_lower_tail(p));
  }
  static double solve_df(double t, double p, double q) {
    return solve_parameter("solve_df", 3, t, {NAN}, detail::from_both_tails(p, q));
  }

 private:
  friend parametric;
  static constexpr const char *law_name = "students_t";
  static constexpr const char *names[] = {"t", "df"};
  static detail::support support_of(const Parameters &) { return detail::real_line; }
};

class chi_squared : public detail::parametric<chi_squared, 1, cdfchi, invchi, pdfchi> {
 public:
  explicit chi_squared(double df) : parametric({df}) {}
  static double solve_df(double x, double p) {
    return solve_parameter("solve_df", 3, x, {NAN}, detail::from_lower_tail(p));
  }
  static double solve_df(double x, double p, double q) {
    return solve_parameter("solve_df", 3, x, {NAN}, detail::from_both_tails(p, q));
  }

 private:
  friend parametric;
  static constexpr const char *law_name = "chi_squared";
  static constexpr const char *names[] = {"x", "df"};
};

// Noncentral chi-square: the tails (and so cdf, ccdf and the quantiles) come
// from cumchnb, each accurate; the parameter solves run the front end, whose
// truncated sum gives only the lower tail p accurately, so they take p alone.
class noncentral_chi_squared : public detail::parametric<noncentral_chi_squared, 2, cdfchn, invchn, pdfchn> {
 public:
  noncentral_chi_squared(double df, double pnonc) : parametric({df, pnonc}) {}
  static double solve_df(double x, double pnonc, double p) {
    return solve_parameter("solve_df", 3, x, {NAN, pnonc}, detail::from_lower_tail(p));
  }
  static double solve_noncentrality(double x, double df, double p) {
    return solve_parameter("solve_noncentrality", 4, x, {df, NAN}, detail::from_lower_tail(p));
  }

 private:
  friend parametric;
  static constexpr const char *law_name = "noncentral_chi_squared";
  static constexpr const char *names[] = {"x", "df", "pnonc"};
  static void both_tails(double &x, Parameters &parameters, Tails &r, int *status, double *bound) {
    cumchnb(&x, &parameters[0], &parameters[1], &r.cdf, &r.ccdf, status, bound);
  }
};

// Gamma with shape and rate: P[X <= x] = P(shape, x rate), the regularized
// incomplete gamma function (DLMF 8.2.4); the mean is shape / rate.  The C
// front end calls the rate `scale`.
class gamma : public detail::parametric<gamma, 2, cdfgam, invgam, pdfgam> {
 public:
  gamma(double shape, double rate) : parametric({shape, rate}) {}
  static double solve_shape(double x, double rate, double p) {
    return solve_parameter("solve_shape", 3, x, {NAN, rate}, detail::from_lower_tail(p));
  }
  static double solve_shape(double x, double rate, double p, double q) {
    return solve_parameter("solve_shape", 3, x, {NAN, rate}, detail::from_both_tails(p, q));
  }
  static double solve_rate(double x, double shape, double p) {
    return solve_parameter("solve_rate", 4, x, {shape, NAN}, detail::from_lower_tail(p));
  }
  static double solve_rate(double x, double shape, double p, double q) {
    return solve_parameter("solve_rate", 4, x, {shape, NAN}, detail::from_both_tails(p, q));
  }
  [[deprecated("the parameter is a rate: use solve_rate")]] static double solve_scale(double x, double shape,
                                                                                      double p) {
    return solve_rate(x, shape, p);
  }
  [[deprecated("the parameter is a rate: use solve_rate")]] static double solve_scale(double x, double shape,
                                                                                      double p, double q) {
    return solve_rate(x, shape, p, q);
  }

 private:
  friend parametric;
  static constexpr const char *law_name = "gamma";
  static constexpr const char *names[] = {"x", "shape", "rate"};
};

// The front end of the beta law takes y = 1 - x beside x, and its quantile
// function gives both.
class beta : public detail::invertible<beta> {
 public:
  beta(double a, double b) : a_(a), b_(b) {}
  // y = 1 - x may be given separately where x is close to 1.
  Tails tails(double x) const { return tails_of(x, "tails"); }
  Tails tails(double x, double y) const { return evaluate("tails", x, y, {"y", y}); }
  // The density at x, with y = 1 - x given separately where x is close to 1.
  double pdf(double x) const { return density(x, 1.0 - x, {"x", x, true}); }
  double pdf(double x, double y) const { return density(x, y, {"y", y}); }
  static double solve_a(double x, double b, double p) { return solve_shape("solve_a", 3, x, NAN, b, p); }
  static double solve_b(double x, double a, double p) { return solve_shape("solve_b", 4, x, a, NAN, p); }

 private:
  friend invertible;
  friend cumulative;
  static constexpr detail::support unit_interval{0.0, 1.0};

  static std::array<detail::argument, 7> arguments_of(int which, const detail::tail_pair &tails, detail::argument x,
                                                      detail::argument y, double a, double b) {
    return {{{"which", double(which)}, tails.p_argument, tails.q_argument, x, y, {"a", a}, {"b", b}}};
  }
  static void run(const char *member, int which, const detail::tail_pair &tails, double &p, double &q, double &x,
                  double &y, double &a, double &b, detail::argument y_argument) {
    const auto arguments = arguments_of(which, tails, {"x", x}, y_argument, a, b);
    detail::front_end(detail::operation_name("beta", member).c_str(), arguments,
                      [&](int *st, double *bd) { cdfbet(&which, &p, &q, &x, &y, &a, &b, st, bd); });
  }
  Tails tails_of(double x, const char *member) const { return evaluate(member, x, 1.0 - x, {"x", x, true}); }
  double density(double x, double y, detail::argument y_argument) const {
    double result = NAN, a = a_, b = b_;
    const auto arguments = arguments_of(1, detail::from_lower_tail(NAN), {"x", x}, y_argument, a, b);
    detail::front_end("beta::pdf", arguments, [&](int *st, double *bd) { pdfbet(&x, &y, &a, &b, &result, st, bd); });
    return result;
  }
  // y_argument names what y came from: the caller's y, or x as 1 - x.
  Tails evaluate(const char *member, double x, double y, detail::argument y_argument) const {
    Tails r{};
    double a = a_, b = b_;
    if (detail::tails_outside(x, unit_interval, r)) {
      double lower = 0.0, upper = 1.0, p, q;
      run(member, 1, detail::from_lower_tail(NAN), p, q, lower, upper, a, b, {"y", upper});
      return r;
    }
    run(member, 1, detail::from_lower_tail(NAN), r.cdf, r.ccdf, x, y, a, b, y_argument);
    return r;
  }
  double solve_tails(const detail::tail_pair &tails, const char *member) const {
    double end;
    if (detail::quantile_at_end(tails.p, tails.q, unit_interval, end)) {
      evaluate(member, 0.5, 0.5, {"y", 0.5});  // checks a and b
      return end;
    }
    double y;
    const auto arguments = arguments_of(2, tails, {"x", NAN}, {"y", NAN}, a_, b_);
    return detail::quantile(
        detail::operation_name("beta", member).c_str(), arguments, tails.p, tails.q,
        [&](double *x) { return invbet(tails.p, tails.q, a_, b_, x, &y); },
        [&](int *st, double *bd) {
          int which = 2;
          double pp = tails.p, qq = tails.q, x, yy, a = a_, b = b_;
          cdfbet(&which, &pp, &qq, &x, &yy, &a, &b, st, bd);
        });
  }
  static double solve_shape(const char *member, int which, double x, double a, double b, double p) {
    const detail::tail_pair tails = detail::from_lower_tail(p);
    double pp = tails.p, qq = tails.q, y = 1.0 - x;
    run(member, which, tails, pp, qq, x, y, a, b, {"x", x, true});
    return which == 3 ? a : b;
  }
  double a_, b_;
};

class fisher_f : public detail::parametric<fisher_f, 2, cdff, invf, pdff> {
 public:
  fisher_f(double dfn, double dfd) : parametric({dfn, dfd}) {}
  static double solve_dfn(double f, double dfd, double p) {
    return solve_parameter("solve_dfn", 3, f, {NAN, dfd}, detail::from_lower_tail(p));
  }
  static double solve_dfd(double f, double dfn, double p) {
    return solve_parameter("solve_dfd", 4, f, {dfn, NAN}, detail::from_lower_tail(p));
  }

 private:
  friend parametric;
  static constexpr const char *law_name = "fisher_f";
  static constexpr const char *names[] = {"f", "dfn", "dfd"};
};

// Noncentral F: the tails from cumfncb, each accurate; the parameter solves
// take p alone, as the noncentral chi-square's do.
class noncentral_f : public detail::parametric<noncentral_f, 3, cdffnc, invfnc, pdffnc> {
 public:
  noncentral_f(double dfn, double dfd, double pnonc) : parametric({dfn, dfd, pnonc}) {}
  static double solve_dfn(double f, double dfd, double pnonc, double p) {
    return solve_parameter("solve_dfn", 3, f, {NAN, dfd, pnonc}, detail::from_lower_tail(p));
  }
  static double solve_dfd(double f, double dfn, double pnonc, double p) {
    return solve_parameter("solve_dfd", 4, f, {dfn, NAN, pnonc}, detail::from_lower_tail(p));
  }
  static double solve_noncentrality(double f, double dfn, double dfd, double p) {
    return solve_parameter("solve_noncentrality", 5, f, {dfn, dfd, NAN}, detail::from_lower_tail(p));
  }

 private:
  friend parametric;
  static constexpr const char *law_name = "noncentral_f";
  static constexpr const char *names[] = {"f", "dfn", "dfd", "pnonc"};
  static void both_tails(double &f, Parameters &parameters, Tails &r, int *status, double *bound) {
    cumfncb(&f, &parameters[0], &parameters[1], &parameters[2], &r.cdf, &r.ccdf, status, bound);
  }
};

namespace detail {

// The binomial and the negative binomial share their front ends' and quantile
// functions' signatures: s (continuous), n, and the success probability with
// its complement (which the caller gives as p_success alone).
template <class Law, auto FrontEnd, auto Inverse, auto Density>
class count_law : public parametric<Law, 3, FrontEnd, Inverse, Density> {
 public:
  count_law(double n, double p_success) : count_law::parametric({n, p_success, 1.0 - p_success}) {}

 protected:
  // Case 3 solves for n, case 4 for the success probability.
  static double solve_case(const char *member, int which, double s, double n, double pr, double p) {
    return count_law::solve_parameter(member, which, s, {n, pr, 1.0 - pr}, from_lower_tail(p));
  }

 private:
  friend parametric<Law, 3, FrontEnd, Inverse, Density>;
  static constexpr const char *names[] = {"s", "n", "p_success", "p_success"};
};

}  // namespace detail

// Binomial with n trials and success probability p_success: P[X <= s] with
// a continuous count s, 0 <= s <= n.
class binomial : public detail::count_law<binomial, cdfbin, invbin, pdfbin> {
 public:
  using count_law::count_law;
  static double solve_trials(double s, double p_success, double p) {
    return solve_case("solve_trials", 3, s, NAN, p_success, p);
  }
  static double solve_success_probability(double s, double n, double p) {
    return solve_case("solve_success_probability", 4, s, n, NAN, p);
  }

 private:
  friend parametric;
  static constexpr const char *law_name = "binomial";
  static detail::support support_of(const Parameters &parameters) { return {0.0, parameters[0]}; }
};

// Negative binomial: s failures (continuous) before the n-th success.
class negative_binomial : public detail::count_law<negative_binomial, cdfnbn, invnbn, pdfnbn> {
 public:
  using count_law::count_law;
  static double solve_successes(double s, double p_success, double p) {
    return solve_case("solve_successes", 3, s, NAN, p_success, p);
  }
  static double solve_success_probability(double s, double n, double p) {
    return solve_case("solve_success_probability", 4, s, n, NAN, p);
  }

 private:
  friend parametric;
  static constexpr const char *law_name = "negative_binomial";
};

class poisson : public detail::parametric<poisson, 1, cdfpoi, invpoi, pdfpoi> {
 public:
  explicit poisson(double mean) : parametric({mean}) {}
  static double solve_mean(double s, double p) {
    return solve_parameter("solve_mean", 3, s, {NAN}, detail::from_lower_tail(p));
  }

 private:
  friend parametric;
  static constexpr const char *law_name = "poisson";
  static constexpr const char *names[] = {"s", "mean"};
};

}  // namespace distfn
