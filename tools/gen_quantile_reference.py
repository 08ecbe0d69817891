#!/usr/bin/env python3
"""Reference quantiles of the distributions that tools/front_end_quantiles.py
leaves out, to 30 significant digits, for the side-by-side benchmark of the
front ends (bench/bench_distributions.cpp).

Writes tests/data/distribution_quantiles.csv with the columns
    distribution,p,param1,param2,param3,quantile
where distribution is the suffix of the front end's name (cdf + suffix), for
F (dfn, dfd), noncentral F (dfn, dfd, pnonc), gamma (shape, scale, where
the front end evaluates the gamma distribution at x times scale), noncentral
chi-square (df, pnonc), negative binomial with a continuous number of
failures s (xn, pr: P[X <= s] = I_pr(xn, s + 1)), normal (mean, sd) and
Poisson with a continuous count s (lambda: P[X <= s] = Q(s + 1, lambda)).

Each quantile is the root of cdf(x) = p, found by the Illinois method inside
a bracket at 50 digits.  The noncentral distributions are Poisson mixtures of
positive terms (DLMF 8.18 and 26.5), summed until the terms no longer count.

Usage: python3 tools/gen_quantile_reference.py [output.csv]
"""
import sys

import mpmath as mp

mp.mp.dps = 50
PROBABILITIES = ["0.001", "0.01", "0.1", "0.5", "0.9", "0.99", "0.999"]
NONCENTRAL_PROBABILITIES = ["0.01", "0.1", "0.5", "0.9", "0.99"]


def poisson_mixture(half_lambda, term):
    """sum_j e^-h h^j / j! term(j), from j = 0 until the weights vanish."""
    h = mp.mpf(half_lambda)
    total, j = mp.mpf(0), 0
    weight = mp.exp(-h)
    eps = mp.mpf(10) ** (-mp.mp.dps)
    while True:
        total += weight * term(j)
        j += 1
        weight *= h / j
        if j > h and weight < eps:
            return total


def f_cdf(f, dfn, dfd):
    return mp.betainc(dfn / 2, dfd / 2, 0, dfn * f / (dfn * f + dfd), regularized=True)


def noncentral_f_cdf(f, dfn, dfd, pnonc):
    x = dfn * f / (dfn * f + dfd)
    return poisson_mixture(pnonc / 2, lambda j: mp.betainc(dfn / 2 + j, dfd / 2, 0, x, regularized=True))


def gamma_cdf(x, shape, scale):
    return mp.gammainc(shape, 0, x * scale, regularized=True)


def noncentral_chi2_cdf(x, df, pnonc):
    return poisson_mixture(pnonc / 2, lambda j: mp.gammainc(df / 2 + j, 0, x / 2, regularized=True))


def negative_binomial_cdf(s, xn, pr):
    return mp.betainc(xn, s + 1, 0, pr, regularized=True)


def normal_cdf(x, mean, sd):
    return mp.ncdf(x, mean, sd)


def poisson_cdf(s, lam):
    return mp.gammainc(s + 1, lam, mp.inf, regularized=True)


def root(cdf, lo, hi, target):
    """The x in [lo, hi] with cdf(x) = target, cdf increasing."""
    lo, hi = mp.mpf(lo), mp.mpf(hi)
    # Narrow the bracket geometrically first: the quantiles span decades.
    for _ in range(60):
        mid = mp.sqrt(lo * hi)
        if cdf(mid) < target:
            lo = mid
        else:
            hi = mid
        if hi - lo < mp.mpf(10) ** -6 * hi:
            break
    return mp.findroot(lambda x: cdf(x) - target, (lo, hi), solver="illinois", tol=mp.mpf(10) ** -80)


def rows():
    for dfn, dfd in [("1", "1"), ("2", "10"), ("5", "30"), ("30", "5"), ("100", "100")]:
        for p in PROBABILITIES:
            n, d = mp.mpf(dfn), mp.mpf(dfd)
            yield "f", p, dfn, dfd, "0", root(lambda f: f_cdf(f, n, d), 1e-300, 1e12, mp.mpf(p))
    for dfn, dfd, pnonc in [("2", "10", "1"), ("5", "20", "10"), ("10", "50", "40")]:
        for p in NONCENTRAL_PROBABILITIES:
            n, d, lam = mp.mpf(dfn), mp.mpf(dfd), mp.mpf(pnonc)
            yield "fnc", p, dfn, dfd, pnonc, root(lambda f: noncentral_f_cdf(f, n, d, lam), 1e-300, 1e6, mp.mpf(p))
    for shape, scale in [("0.2", "1"), ("1", "1"), ("3.5", "2"), ("40", "0.5"), ("1000", "1")]:
        for p in PROBABILITIES:
            a, s = mp.mpf(shape), mp.mpf(scale)
            yield "gam", p, shape, scale, "0", root(lambda x: gamma_cdf(x, a, s), 1e-300, 1e6, mp.mpf(p))
    for df, pnonc in [("1", "0.5"), ("4", "10"), ("30", "50")]:
        for p in NONCENTRAL_PROBABILITIES:
            d, lam = mp.mpf(df), mp.mpf(pnonc)
            yield "chn", p, df, pnonc, "0", root(lambda x: noncentral_chi2_cdf(x, d, lam), 1e-300, 1e6, mp.mpf(p))
    for xn, pr in [("2", "0.3"), ("10", "0.5"), ("50", "0.8")]:
        for p in PROBABILITIES:
            n, q, target = mp.mpf(xn), mp.mpf(pr), mp.mpf(p)
            # Below the probability of no failure there is no s >= 0.
            if negative_binomial_cdf(mp.mpf(0), n, q) >= target:
                continue
            yield "nbn", p, xn, pr, "0", root(lambda s: negative_binomial_cdf(s, n, q), 1e-300, 1e6, target)
    for mean, sd in [("0", "1"), ("-3", "0.5"), ("100", "15")]:
        for p in PROBABILITIES + ["1e-10", "1e-100"]:
            # 2p - 1 must keep the digits of p: work at 300 digits.
            with mp.workdps(300):
                x = mp.mpf(mean) + mp.mpf(sd) * mp.sqrt(2) * mp.erfinv(2 * mp.mpf(p) - 1)
            yield "nor", p, mean, sd, "0", x
    for lam in ["0.5", "4", "30", "1000"]:
        for p in PROBABILITIES:
            l, target = mp.mpf(lam), mp.mpf(p)
            if poisson_cdf(mp.mpf(0), l) >= target:
                continue
            yield "poi", p, lam, "0", "0", root(lambda s: poisson_cdf(s, l), 1e-300, 1e6, target)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "tests/data/distribution_quantiles.csv"
    with open(out, "w") as f:
        f.write("distribution,p,param1,param2,param3,quantile\n")
        for name, p, a, b, c, q in rows():
            f.write(f"{name},{p},{a},{b},{c},{mp.nstr(q, 30)}\n")


if __name__ == "__main__":
    main()
