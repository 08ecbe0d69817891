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

/* ---- Inverse incomplete gamma ratio ------------------------------------- */

/* ---- Normal distribution ------------------------------------------------ */

/* ---- Reverse-communication solvers -------------------------------------- */

/* ---- Parameter-solving front ends --------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* DISTFN_H */
