/* distfn: cumulative distribution functions of eleven distributions, the
 * special functions beneath them, and front ends that solve a distribution
 * for any one of its quantities.  Arguments are passed by pointer; results
 * come back as the return value or through output pointers.  Every function
 * keeps its working values in automatic storage; the reverse-communication
 * solvers keep their search state per thread. */
#ifndef DISTFN_H
#define DISTFN_H

/* DISTFN_VERSION_MAJOR, _MINOR, _PATCH and _STRING: the version of these
 * headers. */
#include "distfn_version.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The libraries are built with hidden visibility: what is declared here is
 * the whole exported interface. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* ---- Version ------------------------------------------------------------ */

/* The version of the library linked in, as DISTFN_VERSION_STRING ("0.2.0");
 * it differs from the headers' macros only when a shared library was swapped. */
const char *distfn_version(void);

/* ---- Integer machine constants ------------------------------------------ */

/* Integer machine constant number *i (1 to 10): 1 integer base, 2 its digits,
 * 3 largest int, 4 floating base b, 5-7 single-precision digits, emin, emax,
 * 8-10 double-precision digits m, emin, emax.  0 for any other index. */
int ipmpar(int *i);

/* ---- Conventions, error stop and machine constants ---------------------- */

#if defined(__cplusplus)
#define DISTFN_NORETURN [[noreturn]]
#else
#define DISTFN_NORETURN _Noreturn
#endif

/* Double machine constant: *i <= 1 epsilon, 2 smallest normalized number,
 * >= 3 largest finite number; derived from ipmpar. */
double spmpar(int *i);
/* Safe argument bound of exp: *l == 0 the largest w with exp(w) finite,
 * otherwise the most negative w with exp(w) normalized (each 0.99999 inside). */
double exparg(int *l);
/* Polynomial a[0] + a[1] x + ... + a[*n - 1] x^(*n - 1) by Horner's rule; *n >= 1. */
double devlpl(double a[], int *n, double *x);
/* a truncated toward zero (through a 32-bit integer while |a| < 2^31). */
double fifdint(double a);
/* The larger of a and b (a unless a < b). */
double fifdmax1(double a, double b);
/* The smaller of a and b (b unless a < b). */
double fifdmin1(double a, double b);
/* |mag|, negated when sign < 0. */
double fifdsign(double mag, double sign);
/* 0 when a < 1 (or NaN), else a truncated toward zero (saturating at LONG_MAX). */
long fifidint(double a);
/* Remainder of a / b with the sign of a (truncating division); 0 when b == 0. */
long fifmod(long a, long b);
/* Internal consistency failure: prints msg and a newline on stderr (when msg
 * is not null) and ends the process with exit status 1. */
DISTFN_NORETURN void ftnstop(const char *msg);

/* ---- Elementary special functions --------------------------------------- */

/* ln(1 + *a), accurate near a = 0; *a > -1. */
double alnrel(double *a);
/* ln(1 + *a), identical to alnrel. */
double dln1px(double *a);
/* ln(1 - *x); *x < 1. */
double dln1mx(double *x);
/* exp(*x) - 1, accurate near x = 0. */
double rexp(double *x);
/* exp(*x) - 1, identical to rexp. */
double dexpm1(double *x);
/* *x - 1 - ln(*x); *x > 0. */
double rlog(double *x);
/* *x - ln(1 + *x); *x > -1. */
double rlog1(double *x);
/* exp(*mu + *x) without needless overflow or underflow. */
double esum(int *mu, double *x);
/* The error function erf(*x). */
double erf1(double *x);
/* erfc(*x) when *ind == 0, otherwise exp(x^2) erfc(*x). */
double erfc1(int *ind, double *x);

/* ---- Gamma, beta and digamma functions ---------------------------------- */

/* 1/Gamma(*a + 1) - 1, for -0.5 <= a <= 1.5. */
double gam1(double *a);
/* ln Gamma(1 + *a), for -0.2 < a <= 1.25. */
double gamln1(double *a);
/* ln Gamma(*a), *a > 0. */
double gamln(double *a);
/* ln Gamma(*a), identical to gamln. */
double dlngam(double *a);
/* ln Gamma(*x), *x > 0, by a rational form on [2, 3] and Stirling's series;
 * +inf at 0, NaN for negative x. */
double alngam(double *x);
/* Gamma(*a); 0 at the poles, for |a| >= 1000 and when the result overflows. */
double Xgamm(double *a);
/* ln Gamma(*a + *b), for 1 <= a, b <= 2. */
double gsumln(double *a, double *b);
/* ln(Gamma(*b) / Gamma(*a + *b)), for b >= 8. */
double algdiv(double *a, double *b);
/* del(a0) + del(b0) - del(a0 + b0), del the remainder of Stirling's formula
 * for ln Gamma; a0, b0 >= 8. */
double bcorr(double *a0, double *b0);
/* ln B(*a0, *b0), the logarithm of the beta function; a0, b0 > 0. */
double betaln(double *a0, double *b0);
/* ln B(*a0, *b0), identical to betaln. */
double dlnbet(double *a0, double *b0);
/* The digamma function psi(*x); 0 at x = 0, at the poles and for x <= 1 - 2^31. */
double psi(double *x);
/* ln Gamma(*z) - (0.5 ln(2 pi) + (z - 0.5) ln z - z); stops the process
 * through ftnstop when *z <= 0. */
double dstrem(double *z);
/* ln B(*a, *b) minus its Stirling approximation; a, b > 0. */
double dbetrm(double *a, double *b);

/* ---- Incomplete beta ratio ---------------------------------------------- */

/* *w = I_x(a, b) and *w1 = 1 - I_x(a, b) for a, b >= 0; *y is 1 - x supplied
 * by the caller.  *ierr: 0 computed (NaN results for a NaN argument),
 * 1 a or b < 0, 2 a = b = 0, 3 x outside [0, 1], 4 y outside [0, 1],
 * 5 |x + y - 1| > 3 eps, 6 x = a = 0, 7 y = b = 0; w = w1 = 0 on error. */
void bratio(double *a, double *b, double *x, double *y, double *w, double *w1, int *ierr);
/* I_x(a, b) by its power series; for b <= 1 or b x <= 0.7. */
double bpser(double *a, double *b, double *x, double *eps);
/* I_x(a, b) - I_x(a + n, b), *n >= 1. */
double bup(double *a, double *b, double *x, double *y, int *n, double *eps);
/* I_x(a, b) by continued fraction for a, b > 1; *lambda = (a + b) y - b. */
double bfrac(double *a, double *b, double *x, double *y, double *lambda, double *eps);
/* Adds the asymptotic expansion of I_x(a, b) for a >= 15, b <= 1 to *w;
 * *ierr 0 when added, 1 when it cannot be computed (*w unchanged). */
void bgrat(double *a, double *b, double *x, double *y, double *w, double *eps, int *ierr);
/* Incomplete gamma ratios *p = P(a, x), *q = Q(a, x) for a <= 1, given
 * *r = exp(-x) x^a / Gamma(a). */
void grat1(double *a, double *x, double *r, double *p, double *q, double *eps);
/* I_x(a, b) for large a and b by the asymptotic expansion in
 * *lambda = (a + b) y - b >= 0. */
double basym(double *a, double *b, double *lambda, double *eps);
/* I_(1-x)(b, a) for a < min(eps, eps b), b x <= 1, x <= 0.5. */
double apser(double *a, double *b, double *x, double *eps);
/* I_x(a, b) for b < min(eps, eps a), x <= 0.5. */
double fpser(double *a, double *b, double *x, double *eps);
/* x^a y^b / B(a, b). */
double brcomp(double *a, double *b, double *x, double *y);
/* exp(mu) x^a y^b / B(a, b). */
double brcmp1(int *mu, double *a, double *b, double *x, double *y);

/* ---- Beta-based cumulative distributions -------------------------------- */

/* Each writes *cum = P[X <= value] and *ccum = 1 - *cum; the pairs (x, y) and
 * (pr, ompr) carry a value and its complement separately. */

/* Beta distribution with shapes a, b at x (y = 1 - x). */
void cumbet(double *x, double *y, double *a, double *b, double *cum, double *ccum);
/* Binomial: s or fewer successes in xn trials with success probability pr;
 * s >= xn gives exactly 1 and 0; fractional s and xn interpolate. */
void cumbin(double *s, double *xn, double *pr, double *ompr, double *cum, double *ccum);
/* Negative binomial: s or fewer failures before the xn-th success. */
void cumnbn(double *s, double *xn, double *pr, double *ompr, double *cum, double *ccum);
/* Student's t with df degrees of freedom at t. */
void cumt(double *t, double *df, double *cum, double *ccum);
/* F with dfn and dfd degrees of freedom at f. */
void cumf(double *f, double *dfn, double *dfd, double *cum, double *ccum);
/* Noncentral F with noncentrality pnonc, summed as a Poisson mixture to a
 * relative term size of 1e-4; NaN when the sum cannot be completed. */
void cumfnc(double *f, double *dfn, double *dfd, double *pnonc, double *cum, double *ccum);

/* Noncentral F with each tail to relative accuracy, as cumchnb; positions
 * those of cdffnc (f 4, dfn 5, dfd 6, pnonc 7). */
void cumfncb(double *f, double *dfn, double *dfd, double *pnonc, double *cum, double *ccum, int *status,
             double *bound);

/* ---- Incomplete gamma ratio and gamma-based distributions --------------- */

/* The regularized incomplete gamma ratios *ans = P(a, x), *qans = Q(a, x).
 * *ind selects the accuracy: 0 about 14 digits, 1 about 6, other about 3.
 * *ans = 2 marks an error (negative argument, a = x = 0, or a large-a case
 * that the expansions cannot resolve); *qans is then left unchanged. */
void gratio(double *a, double *x, double *ans, double *qans, int *ind);
/* The scaled density exp(-x) x^a / Gamma(a); 0 when it underflows. */
double rcomp(double *a, double *x);
/* Gamma distribution with shape a and scale 1: *cum = P(a, x), *ccum = Q(a, x). */
void cumgam(double *x, double *a, double *cum, double *ccum);
/* Chi-square distribution with df degrees of freedom at x. */
void cumchi(double *x, double *df, double *cum, double *ccum);
/* Noncentral chi-square distribution with noncentrality pnonc at x. */
void cumchn(double *x, double *df, double *pnonc, double *cum, double *ccum);
/* Noncentral chi-square with each tail to relative accuracy: *cum and *ccum
 * are summed as mixtures of their own, the complement not formed as 1 - cum.
 * The arguments are checked as case 1 of cdfchn checks them: *status 0, or
 * -k for the argument at position k of cdfchn (x 4, df 5, pnonc 6) out of
 * range, NaN or infinite, *bound the limit it broke; *cum and *ccum are then
 * unset.  Both are NaN, with *status 10, when pnonc/2 exceeds 2^36 or where
 * a sum cannot be completed (the incomplete gamma ratio's error mark). */
void cumchnb(double *x, double *df, double *pnonc, double *cum, double *ccum, int *status, double *bound);
/* Poisson distribution with mean xlam: *cum = probability of s or fewer events;
 * both tails 2 where the incomplete gamma ratio marks an error. */
void cumpoi(double *s, double *xlam, double *cum, double *ccum);

/* ---- Densities and probability masses ---------------------------------- */

/* Each writes the density of its law at the value (the probability mass at
 * an integer count for the binomial, negative binomial and Poisson laws, 0 at
 * a count that is not an integer) to *pdf.  Arguments are those of the
 * front end's case 1 without p and q, checked as it checks them: *status 0,
 * or -k for the argument at position k of the front end (counting which as
 * 1) out of range, NaN or infinite, or 4 for a complement pair that does not
 * sum to 1, with *bound as the front end reports it; *pdf is then unset.
 * A density that is infinite at the end of its range (a shape below 1 at 0)
 * gives +inf there. */
void pdfbet(double *x, double *y, double *a, double *b, double *pdf, int *status, double *bound);
void pdfbin(double *s, double *xn, double *pr, double *ompr, double *pdf, int *status, double *bound);
void pdfchi(double *x, double *df, double *pdf, int *status, double *bound);
void pdfchn(double *x, double *df, double *pnonc, double *pdf, int *status, double *bound);
void pdff(double *f, double *dfn, double *dfd, double *pdf, int *status, double *bound);
void pdffnc(double *f, double *dfn, double *dfd, double *pnonc, double *pdf, int *status, double *bound);
/* scale is the rate of x, as in cdfgam: the density of x is scale g(x scale). */
void pdfgam(double *x, double *shape, double *scale, double *pdf, int *status, double *bound);
void pdfnbn(double *s, double *xn, double *pr, double *ompr, double *pdf, int *status, double *bound);
void pdfnor(double *x, double *mean, double *sd, double *pdf, int *status, double *bound);
void pdfpoi(double *s, double *xlam, double *pdf, int *status, double *bound);
void pdft(double *t, double *df, double *pdf, int *status, double *bound);

/* ---- Inverse incomplete gamma ratio ------------------------------------- */

/* Solves P(a, x) = p, Q(a, x) = q for *x; *x0 > 0 is used as starting value.
 * *ierr: 0 solved directly, 1..20 correction steps taken, -2 a not positive
 * and finite, -3 no solution (underflow), -4 |p + q - 1| > eps or p or q
 * negative, -6 no convergence in 20 steps, -7 a step left the positive axis,
 * -8 accuracy uncertain.  NaN arguments give *x = NaN (with -2 or -4). */
void gaminv(double *a, double *x, double *x0, double *p, double *q, int *ierr);

/* ---- Normal distribution ------------------------------------------------ */

/* Standard normal: *result = Phi(arg), *ccum = 1 - Phi(arg), each with full
 * relative accuracy; values below the smallest normalized double become 0. */
void cumnor(double *arg, double *result, double *ccum);
/* The x with Phi(x) = p, given p and q = 1 - p; p = 0 gives -inf, q = 0 +inf. */
double dinvnr(double *p, double *q);
/* Starting value for the normal inverse of p. */
double stvaln(double *p);
/* Approximate quantile of Student's t with df degrees of freedom at p (q = 1 - p). */
double dt1(double *p, double *q, double *df);
/* ln(1 - Phi(|x|)) for |x| >= 5; smaller magnitudes stop the process. */
double dlanor(double *x);

/* ---- Reverse-communication solvers -------------------------------------- */

/* Search parameters of dinvr: interval [small, big], first step
 * max(absstp, relstp |start|), step growth factor stpmul, and the tolerances
 * handed on to dzror.  The state is per thread. */
void dstinv(double *small, double *big, double *absstp, double *relstp, double *stpmul,
            double *abstol, double *reltol);
/* One step of a bounded monotone zero search by reverse communication: start
 * with *status = 0 and *x in [small, big]; while it returns *status = 1,
 * store f(*x) in *fx and call again.  0: the zero is in *x; -1: not bracketed
 * in [small, big], *qleft = 1 at small (0 at big), *qhi = 1 f above zero there. */
void dinvr(int *status, double *x, double *fx, unsigned long *qleft, unsigned long *qhi);
/* Bracket [xlo, xhi] and tolerances of dzror.  The state is per thread. */
void dstzr(double *xlo, double *xhi, double *abstol, double *reltol);
/* One step of a bracketed zero search (secant, three-point interpolation and
 * bisection) by reverse communication, as dinvr.  0: the zero lies between
 * *xlo (best estimate) and *xhi; -1: no sign change, *qhi = 1 when both ends
 * are positive, *qleft = 1 when the zero lies to the left. */
void dzror(int *status, double *x, double *fx, double *xlo, double *xhi, unsigned long *qleft,
           unsigned long *qhi);

/* ---- Parameter-solving front ends --------------------------------------- */

/* Each solves its distribution for the one quantity that *which selects
 * (1: p and q from the rest; higher: a value or parameter, in argument order)
 * given the others.  *status: 0 success; -1 which out of range (*bound the
 * nearest valid case); -i the i-th argument, counting which as 1, out of
 * range, NaN or infinite (*bound the limit it broke); 1 or 2 the search ended
 * at its lower or upper limit (*bound that limit); 3 p + q is not 1; 4 the
 * complement pair is not 1 (*bound 0 for a negative sum, else 1); 10 the
 * gamma computations failed, or a noncentral sum could not be completed.
 * *bound is not written on success. */

/* Beta: 1 p,q; 2 x,y; 3 a; 4 b. */
void cdfbet(int *which, double *p, double *q, double *x, double *y, double *a, double *b, int *status,
            double *bound);
/* Binomial: 1 p,q; 2 s; 3 xn; 4 pr,ompr. */
void cdfbin(int *which, double *p, double *q, double *s, double *xn, double *pr, double *ompr, int *status,
            double *bound);
/* Chi-square: 1 p,q; 2 x; 3 df. */
void cdfchi(int *which, double *p, double *q, double *x, double *df, int *status, double *bound);
/* Noncentral chi-square: 1 p,q; 2 x; 3 df; 4 pnonc.  q is never read. */
void cdfchn(int *which, double *p, double *q, double *x, double *df, double *pnonc, int *status,
            double *bound);
/* F: 1 p,q; 2 f; 3 dfn; 4 dfd. */
void cdff(int *which, double *p, double *q, double *f, double *dfn, double *dfd, int *status, double *bound);
/* Noncentral F: 1 p,q; 2 f; 3 dfn; 4 dfd; 5 pnonc.  q is never read. */
void cdffnc(int *which, double *p, double *q, double *f, double *dfn, double *dfd, double *pnonc, int *status,
            double *bound);
/* Gamma with shape and scale (rate of x): 1 p,q; 2 x; 3 shape; 4 scale. */
void cdfgam(int *which, double *p, double *q, double *x, double *shape, double *scale, int *status,
            double *bound);
/* Negative binomial: 1 p,q; 2 s; 3 xn; 4 pr,ompr. */
void cdfnbn(int *which, double *p, double *q, double *s, double *xn, double *pr, double *ompr, int *status,
            double *bound);
/* Normal, in closed form: 1 p,q; 2 x; 3 mean; 4 sd. */
void cdfnor(int *which, double *p, double *q, double *x, double *mean, double *sd, int *status, double *bound);
/* Poisson: 1 p,q; 2 s; 3 xlam. */
void cdfpoi(int *which, double *p, double *q, double *s, double *xlam, int *status, double *bound);
/* Student's t: 1 p,q; 2 t; 3 df. */
void cdft(int *which, double *p, double *q, double *t, double *df, int *status, double *bound);

/* ---- Quantile functions ------------------------------------------------- */

/* Each solves the equation of its front end's case 2 (which = 2) to full
 * double precision: the cumulative function of the smaller of the tails p and
 * q equal to it (the noncentral laws through cumchnb and cumfncb, whose
 * tails are both accurate; unlike their front ends they read q).
 * Returns the front end's status: 0 solved; -k the argument the front end
 * reports at position k (counting which as 1) out of range, NaN or infinite;
 * 3 p + q is not 1; 4 pr + ompr is not 1; 1 or 2 the answer lies below or
 * beyond the front end's search range, the output set to that limit; 10 the
 * cumulative function failed.  On an argument error the output is NaN.
 * Counts s (binomial, negative binomial, Poisson) are continuous, as in the
 * front ends. */
int invbet(double p, double q, double a, double b, double *x, double *y);
int invbin(double p, double q, double xn, double pr, double ompr, double *s);
int invnbn(double p, double q, double xn, double pr, double ompr, double *s);
int invchi(double p, double q, double df, double *x);
int invchn(double p, double q, double df, double pnonc, double *x);
int invf(double p, double q, double dfn, double dfd, double *f);
int invfnc(double p, double q, double dfn, double dfd, double pnonc, double *f);
/* scale is the rate of x, as in cdfgam: P(shape, x scale) = p. */
int invgam(double p, double q, double shape, double scale, double *x);
int invnor(double p, double q, double mean, double sd, double *x);
int invpoi(double p, double q, double xlam, double *s);
int invt(double p, double q, double df, double *t);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* DISTFN_H */
