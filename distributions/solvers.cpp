// Reverse-communication root finders.  Instead of calling the function whose
// zero they seek, dinvr and dzror return to the caller with a request to
// evaluate f at *x (*status = 1) and resume where they left off when called
// again with f(*x) in *fx.  Their progress lives in per-thread state, so each
// thread can run its own searches.

#include <cmath>

#include "distfn.h"

namespace {

// ---- dzror: bracketed zero search -------------------------------------------

// Where dzror resumes on its next call with *status = 1.
enum class ZeroResume { idle, lower_end, upper_end, trial_point };

struct ZeroSearch {
  double bracket_lo, bracket_hi, abstol, reltol;
  // b: best estimate, c: contrapoint, a: previous best, d: the one before.
  double a, b, c, d, fa, fb, fc, fd;
  double mb;        // half the signed distance from b to c
  double w;         // the step taken
  double estimate;  // the value last written to the caller's xlo
  int ext;          // consecutive non-bisection steps with the same contrapoint
  bool first;       // the next interpolation is the first (a secant step)
  ZeroResume resume;
};

// Zero-initialised, so a thread starts idle without any dynamic initialisation.
thread_local ZeroSearch zero_search;

// Ends the current call with a request for f(point).
void request(int *status, double *x, double point) {
  *x = point;
  *status = 1;
}

void set_estimate(ZeroSearch &z, double *xlo, double value) {
  z.estimate = value;
  *xlo = value;
}

// One iteration: take the previous best as contrapoint when asked, keep the
// better point in b, stop once b and c are within tolerance, and otherwise
// request f at the next trial point.
void advance_zero_search(ZeroSearch &z, bool new_contrapoint, int *status, double *x, double *xlo,
                         double *xhi) {
  if (new_contrapoint) {
    z.c = z.a;
    z.fc = z.fa;
    z.ext = 0;
  }
  // Keep the point with the smaller residual in b.
  if (std::fabs(z.fc) < std::fabs(z.fb)) {
    if (z.c != z.a) {
      z.d = z.a;
      z.fd = z.fa;
    }
    z.a = z.b;
    z.fa = z.fb;
    z.b = z.c;
    set_estimate(z, xlo, z.c);
    z.fb = z.fc;
    z.c = z.a;
    z.fc = z.fa;
  }

  double tol = 0.5 * std::fmax(z.abstol, z.reltol * std::fabs(z.estimate));
  // (c + b)/2 - b, with the halving done first so that brackets near the
  // largest double cannot overflow; the rounding is the same.
  z.mb = (0.5 * z.c + 0.5 * z.b) - z.b;
  // Written so that a NaN anywhere ends the search instead of looping.
  if (!(std::fabs(z.mb) > tol)) {
    *xhi = z.c;
    const bool sign_change = (z.fc >= 0.0 && z.fb <= 0.0) || (z.fc < 0.0 && z.fb >= 0.0);
    *status = sign_change ? 0 : -1;
    return;
  }

  constexpr int bisect_after = 3;
  if (z.ext > bisect_after) {
    z.w = z.mb;
  } else {
    if (z.mb < 0.0) tol = -tol;
    // The step is p/q: a secant step first, then three-point interpolation
    // through a, b and d.
    double p = (z.b - z.a) * z.fb;
    double q;
    if (z.first) {
      q = z.fa - z.fb;
      z.first = false;
    } else {
      const double fdb = (z.fd - z.fb) / (z.d - z.b);
      const double fda = (z.fd - z.fa) / (z.d - z.a);
      p = fda * p;
      q = fdb * z.fa - fda * z.fb;
    }
    if (p < 0.0) {
      p = -p;
      q = -q;
    }
    // After three interpolation steps against the same contrapoint the next
    // one is doubled, to carry b past the zero; then bisection takes over.
    if (z.ext == bisect_after) p *= 2.0;
    if (p == 0.0 || p <= q * tol) {
      z.w = tol;  // the smallest step that still makes progress toward c
    } else if (p < z.mb * q) {
      z.w = p / q;
    } else {
      z.w = z.mb;
    }
  }

  z.d = z.a;
  z.fd = z.fa;
  z.a = z.b;
  z.fa = z.fb;
  z.b += z.w;
  set_estimate(z, xlo, z.b);
  z.resume = ZeroResume::trial_point;
  request(status, x, z.b);
}

// ---- dinvr: bounded monotone search -----------------------------------------

enum class InverseResume { idle, small_end, big_end, start, stepping_up, stepping_down, zero_finding };

struct InverseSearch {
  double small, big, absstp, relstp, stpmul, abstol, reltol;
  double xsave, fsmall, step, xlb, xub, xlo, xhi;
  unsigned long zero_qleft, zero_qhi;  // dzror's flags, not used here
  int outward_steps;
  bool qincr;  // f(big) > f(small): the function is taken as increasing
  InverseResume resume;
};

thread_local InverseSearch inverse_search;

// Steps of factor 5 from 0.5 cross [-1e300, 1e300] in under 450; a caller's
// step parameters that do not grow (multiplier <= 1, a zero or NaN step) would
// never get there, so after this many steps the next candidate is the bound.
constexpr int max_outward_steps = 2000;

// The next candidate above xlb, or big itself once stepping stalls.
double next_upper(const InverseSearch &s) {
  const double candidate = s.xlb + s.step;
  const bool advances = candidate > s.xlb && s.outward_steps < max_outward_steps;
  return advances ? fifdmin1(candidate, s.big) : s.big;
}

double next_lower(const InverseSearch &s) {
  const double candidate = s.xub - s.step;
  const bool advances = candidate < s.xub && s.outward_steps < max_outward_steps;
  return advances ? fifdmax1(candidate, s.small) : s.small;
}

void fail_search(int *status, unsigned long *qleft, unsigned long *qhi, bool at_small, bool above_zero) {
  *status = -1;
  *qleft = at_small ? 1 : 0;
  *qhi = above_zero ? 1 : 0;
}

// Hands the bracket [xlb, xub] to dzror; its requests are passed straight
// through to the caller.
void start_zero_finding(InverseSearch &s, int *status, double *x, double *fx) {
  dstzr(&s.xlb, &s.xub, &s.abstol, &s.reltol);
  *status = 0;
  s.resume = InverseResume::zero_finding;
  dzror(status, x, fx, &s.xlo, &s.xhi, &s.zero_qleft, &s.zero_qhi);
}

void continue_zero_finding(InverseSearch &s, int *status, double *x, double *fx) {
  dzror(status, x, fx, &s.xlo, &s.xhi, &s.zero_qleft, &s.zero_qhi);
  if (*status == 1) {
    s.resume = InverseResume::zero_finding;
    return;
  }
  // Whatever dzror reports, its best estimate is the answer: the bracket it
  // was given is known to hold a sign change.
  *x = s.xlo;
  *status = 0;
}

void check_interval_ends(InverseSearch &s, int *status, double *x, double fbig, unsigned long *qleft,
                         unsigned long *qhi) {
  s.qincr = fbig > s.fsmall;
  if (s.qincr && s.fsmall > 0.0) return fail_search(status, qleft, qhi, true, true);
  if (s.qincr && fbig < 0.0) return fail_search(status, qleft, qhi, false, false);
  if (!s.qincr && s.fsmall < 0.0) return fail_search(status, qleft, qhi, true, false);
  if (!s.qincr && fbig > 0.0) return fail_search(status, qleft, qhi, false, true);
  s.step = fifdmax1(s.absstp, s.relstp * std::fabs(s.xsave));
  s.resume = InverseResume::start;
  request(status, x, s.xsave);
}

void begin_stepping(InverseSearch &s, int *status, double *x, double yy) {
  if (yy == 0.0) {
    *x = s.xsave;
    *status = 0;
    return;
  }
  s.outward_steps = 0;
  const bool up = (s.qincr && yy < 0.0) || (!s.qincr && yy > 0.0);
  if (up) {
    s.xlb = s.xsave;
    s.xub = next_upper(s);
    s.resume = InverseResume::stepping_up;
    request(status, x, s.xub);
  } else {
    s.xub = s.xsave;
    s.xlb = next_lower(s);
    s.resume = InverseResume::stepping_down;
    request(status, x, s.xlb);
  }
}

void step_up(InverseSearch &s, int *status, double *x, double *fx, unsigned long *qleft, unsigned long *qhi) {
  const double yy = *fx;
  if ((s.qincr && yy >= 0.0) || (!s.qincr && yy <= 0.0)) return start_zero_finding(s, status, x, fx);
  if (s.xub >= s.big) {
    fail_search(status, qleft, qhi, false, !s.qincr);
    *x = s.big;
    return;
  }
  s.step *= s.stpmul;
  ++s.outward_steps;
  s.xlb = s.xub;
  s.xub = next_upper(s);
  s.resume = InverseResume::stepping_up;
  request(status, x, s.xub);
}

void step_down(InverseSearch &s, int *status, double *x, double *fx, unsigned long *qleft, unsigned long *qhi) {
  const double yy = *fx;
  if ((s.qincr && yy <= 0.0) || (!s.qincr && yy >= 0.0)) return start_zero_finding(s, status, x, fx);
  if (s.xlb <= s.small) {
    fail_search(status, qleft, qhi, true, s.qincr);
    *x = s.small;
    return;
  }
  s.step *= s.stpmul;
  ++s.outward_steps;
  s.xub = s.xlb;
  s.xlb = next_lower(s);
  s.resume = InverseResume::stepping_down;
  request(status, x, s.xlb);
}

}  // namespace

extern "C" {

void dstinv(double *small, double *big, double *absstp, double *relstp, double *stpmul, double *abstol,
            double *reltol) {
  InverseSearch &s = inverse_search;
  s.small = *small;
  s.big = *big;
  s.absstp = *absstp;
  s.relstp = *relstp;
  s.stpmul = *stpmul;
  s.abstol = *abstol;
  s.reltol = *reltol;
}

void dinvr(int *status, double *x, double *fx, unsigned long *qleft, unsigned long *qhi) {
  InverseSearch &s = inverse_search;
  if (*status <= 0) {
    // Also stops on a NaN start or interval, which no search could handle.
    if (!(s.small <= *x && *x <= s.big)) ftnstop(" SMALL, X, BIG not monotone in INVR");
    s.xsave = *x;
    s.resume = InverseResume::small_end;
    return request(status, x, s.small);
  }
  const InverseResume resume = s.resume;
  // Until a new search starts, further calls change nothing.
  s.resume = InverseResume::idle;
  switch (resume) {
    case InverseResume::idle:
      return;
    case InverseResume::small_end:
      s.fsmall = *fx;
      s.resume = InverseResume::big_end;
      return request(status, x, s.big);
    case InverseResume::big_end:
      return check_interval_ends(s, status, x, *fx, qleft, qhi);
    case InverseResume::start:
      return begin_stepping(s, status, x, *fx);
    case InverseResume::stepping_up:
      return step_up(s, status, x, fx, qleft, qhi);
    case InverseResume::stepping_down:
      return step_down(s, status, x, fx, qleft, qhi);
    case InverseResume::zero_finding:
      return continue_zero_finding(s, status, x, fx);
  }
}

void dstzr(double *xlo, double *xhi, double *abstol, double *reltol) {
  ZeroSearch &z = zero_search;
  z.bracket_lo = *xlo;
  z.bracket_hi = *xhi;
  z.abstol = *abstol;
  z.reltol = *reltol;
}

void dzror(int *status, double *x, double *fx, double *xlo, double *xhi, unsigned long *qleft,
           unsigned long *qhi) {
  ZeroSearch &z = zero_search;
  if (*status <= 0) {
    set_estimate(z, xlo, z.bracket_lo);
    *xhi = z.bracket_hi;
    z.b = z.bracket_lo;
    z.resume = ZeroResume::lower_end;
    return request(status, x, z.bracket_lo);
  }
  const ZeroResume resume = z.resume;
  // Until a new search starts, further calls change nothing.
  z.resume = ZeroResume::idle;
  switch (resume) {
    case ZeroResume::idle:
      return;
    case ZeroResume::lower_end:
      z.fb = *fx;
      z.a = z.bracket_hi;
      set_estimate(z, xlo, z.bracket_hi);
      z.resume = ZeroResume::upper_end;
      return request(status, x, z.bracket_hi);
    case ZeroResume::upper_end: {
      const double fa = *fx;
      if (z.fb < 0.0 && fa < 0.0) {
        *status = -1;
        *qleft = fa < z.fb ? 1 : 0;
        *qhi = 0;
        return;
      }
      if (z.fb > 0.0 && fa > 0.0) {
        *status = -1;
        *qleft = fa > z.fb ? 1 : 0;
        *qhi = 1;
        return;
      }
      z.fa = fa;
      z.first = true;
      return advance_zero_search(z, true, status, x, xlo, xhi);
    }
    case ZeroResume::trial_point: {
      z.fb = *fx;
      // The new point is on the contrapoint's side: the previous best becomes
      // the contrapoint.
      if (z.fc * z.fb >= 0.0) return advance_zero_search(z, true, status, x, xlo, xhi);
      z.ext = (z.w == z.mb) ? 0 : z.ext + 1;
      return advance_zero_search(z, false, status, x, xlo, xhi);
    }
  }
}

}  // extern "C"
