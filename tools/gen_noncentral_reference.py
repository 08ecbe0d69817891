#!/usr/bin/env python3
"""Reference values of the noncentral chi-square and noncentral F
distributions at large noncentralities, computed with mpmath at 30 digits.

Writes tests/data/noncentral_large.csv:
  function, p1, p2, p3, p4, cum, ccum
with cumchn rows (p1 = x, p2 = df, p3 = pnonc, p4 = 0) and cumfnc rows
(p1 = f, p2 = dfn, p3 = dfd, p4 = pnonc), at the centre and in both tails.

Summing the Poisson mixture term by term would take millions of terms here,
so both tails are integrated over the noncentral chi-square density instead
(DLMF 10.25.2 for I_nu):
  f(t; k, lam) = 1/2 exp(-(t + lam)/2) (t/lam)^(k/4 - 1/2) I_(k/2-1)(sqrt(lam t)),
cum = int_0^x f and ccum = int_x^inf f, each over its own side so that a
small tail keeps its relative accuracy.  The noncentral F conditions on the
numerator X1 ~ chi2'(dfn, lam) with X2 ~ chi2(dfd):
  P[F' <= f] = P[X2 >= X1 dfd/(f dfn)] = E[Q(dfd/2, X1 dfd/(2 f dfn))],
and 1 - P[F' <= f] = E[P(dfd/2, ...)].  Outside 15 standard deviations below
and 25 above the mean the density of X1 carries nothing at this precision.

Usage: python3 tools/gen_noncentral_reference.py [output-directory]
"""
import sys
from pathlib import Path

import mpmath as mp

mp.mp.dps = 30

BELOW = 15  # standard deviations below the mean that the integrals cover
ABOVE = 25  # and above


def density(t, k, lam):
    if t <= 0:
        return mp.mpf(0)
    return (mp.exp(-(t + lam) / 2) * (t / lam) ** (k / 4 - mp.mpf(1) / 2)
            * mp.besseli(k / 2 - 1, mp.sqrt(lam * t)) / 2)


def moments(k, lam):
    return k + lam, mp.sqrt(2 * (k + 2 * lam))


def grid(lo, hi, step):
    """lo, hi and the points between them one standard deviation apart."""
    points = [lo]
    while points[-1] + step < hi:
        points.append(points[-1] + step)
    return points + [hi]


def integrate(fn, lo, hi, step):
    if hi <= lo:
        return mp.mpf(0)
    return mp.quad(fn, grid(lo, hi, step))


def noncentral_chi_square(x, k, lam):
    k, lam, x = mp.mpf(k), mp.mpf(lam), mp.mpf(x)
    mean, sd = moments(k, lam)
    lo = max(mp.mpf(0), min(x, mean) - BELOW * sd)
    hi = max(x, mean) + ABOVE * sd
    pdf = lambda t: density(t, k, lam)
    return integrate(pdf, lo, x, sd), integrate(pdf, x, hi, sd)


def noncentral_f(f, dfn, dfd, lam):
    f, dfn, dfd, lam = (mp.mpf(v) for v in (f, dfn, dfd, lam))
    mean, sd = moments(dfn, lam)
    lo = max(mp.mpf(0), mean - BELOW * sd)
    hi = mean + ABOVE * sd
    scale = dfd / (2 * f * dfn)
    a = dfd / 2
    upper = lambda t: density(t, dfn, lam) * mp.gammainc(a, t * scale, mp.inf, regularized=True)
    lower = lambda t: density(t, dfn, lam) * mp.gammainc(a, 0, t * scale, regularized=True)
    return integrate(upper, lo, hi, sd), integrate(lower, lo, hi, sd)


def chi_square_rows():
    for df in (4.0, 100.0):
        for pnonc in (1e5, 1e6, 1e8, 2.0 ** 33):
            mean, sd = (float(v) for v in moments(df, pnonc))
            for k in (-6, -2, 0, 2, 6):
                x = mean + k * sd
                yield ("cumchn", x, df, pnonc, 0.0), noncentral_chi_square(x, df, pnonc)


def f_rows():
    dfn = 5.0
    for dfd in (20.0, 1e4):
        for pnonc in (1e5, 1e6, 1e8):
            centre = (dfn + pnonc) / dfn
            # The log-spread of F' from its numerator and its denominator.
            spread = float(mp.sqrt(2 * (dfn + 2 * pnonc) / (dfn + pnonc) ** 2 + 2 / mp.mpf(dfd)))
            for k in (-6, -2, 0, 2, 6):
                f = float(centre * mp.exp(k * spread))
                yield ("cumfnc", f, dfn, dfd, pnonc), noncentral_f(f, dfn, dfd, pnonc)


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "tests" / "data")
    with open(out / "noncentral_large.csv", "w") as table:
        table.write("function,p1,p2,p3,p4,cum,ccum\n")
        for rows in (chi_square_rows(), f_rows()):
            for (function, *args), (cum, ccum) in rows:
                fields = [function] + [repr(float(a)) for a in args] + [mp.nstr(cum, 20), mp.nstr(ccum, 20)]
                table.write(",".join(fields) + "\n")
                table.flush()
                print(",".join(fields), flush=True)


if __name__ == "__main__":
    main()
