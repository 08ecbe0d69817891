/* distfn: cumulative distribution functions of eleven distributions, the
 * special functions beneath them, and front ends that solve a distribution
 * for any one of its quantities.  Arguments are passed by pointer; results
 * come back as the return value or through output pointers.  Every function
 * keeps its working values in automatic storage; the reverse-communication
 * solvers keep their search state per thread. */
#ifndef DISTFN_H
#define DISTFN_H

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Integer machine constants ------------------------------------------ */

/* ---- Conventions, error stop and machine constants ---------------------- */

/* ---- Elementary special functions --------------------------------------- */

/* ---- Gamma, beta and digamma functions ---------------------------------- */

/* ---- Incomplete beta ratio ---------------------------------------------- */

/* ---- Beta-based cumulative distributions -------------------------------- */

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
/* Poisson distribution with mean xlam: *cum = probability of s or fewer events. */
void cumpoi(double *s, double *xlam, double *cum, double *ccum);

/* ---- Inverse incomplete gamma ratio ------------------------------------- */

/* Solves P(a, x) = p, Q(a, x) = q for *x; *x0 > 0 is used as starting value.
 * *ierr: 0 solved directly, 1..20 correction steps taken, -2 a <= 0,
 * -3 no solution (underflow), -4 |p + q - 1| > eps, -6 no convergence in 20
 * steps, -7 a step left the positive axis, -8 accuracy uncertain. */
void gaminv(double *a, double *x, double *x0, double *p, double *q, int *ierr);

/* ---- Normal distribution ------------------------------------------------ */

/* Standard normal: *result = Phi(arg), *ccum = 1 - Phi(arg), each with full
 * relative accuracy; values below the smallest normalized double become 0. */
void cumnor(double *arg, double *result, double *ccum);
/* The x with Phi(x) = p, given p and q = 1 - p in (0, 1). */
double dinvnr(double *p, double *q);
/* Starting value for the normal inverse of p. */
double stvaln(double *p);
/* Approximate quantile of Student's t with df degrees of freedom at p (q = 1 - p). */
double dt1(double *p, double *q, double *df);
/* ln(1 - Phi(|x|)) for |x| >= 5; smaller magnitudes stop the process. */
double dlanor(double *x);

/* ---- Reverse-communication solvers -------------------------------------- */

/* ---- Parameter-solving front ends --------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* DISTFN_H */
