#!/usr/bin/env python3
"""Reference quantiles for the front-end benchmark, to 30 significant digits.

Writes tests/data/front_end_quantiles.csv with the columns
    distribution,p,param1,param2,quantile
for Student's t (param1 = df), chi-square (param1 = df), the binomial with a
continuous number of successes s (param1 = n, param2 = success probability;
P[X <= s] = 1 - I_pr(s + 1, n - s)) and the beta distribution (param1 = a,
param2 = b).  Each quantile is found by bisection on the regularized
incomplete beta or gamma function of mpmath at 50 digits.

Usage: python3 tools/front_end_quantiles.py [output.csv]
"""
import sys

import mpmath as mp

mp.mp.dps = 50
PROBABILITIES = ["0.001", "0.01", "0.1", "0.3", "0.6", "0.9", "0.99", "0.999"]


def bisect(f, lo, hi, target):
    """The x in [lo, hi] with f(x) = target for an increasing f."""
    lo, hi = mp.mpf(lo), mp.mpf(hi)
    for _ in range(400):
        mid = (lo + hi) / 2
        if f(mid) < target:
            lo = mid
        else:
            hi = mid
        if hi - lo <= mp.mpf(10) ** -35 * max(abs(mid), mp.mpf(10) ** -300):
            break
    return (lo + hi) / 2


def t_cdf(t, df):
    x = df / (df + t * t)
    tail = mp.betainc(df / 2, mp.mpf(1) / 2, 0, x, regularized=True) / 2
    return tail if t <= 0 else 1 - tail


def chi2_cdf(x, df):
    return mp.gammainc(df / 2, 0, x / 2, regularized=True)


def binomial_cdf(s, n, pr):
    return 1 - mp.betainc(s + 1, n - s, 0, pr, regularized=True)


def beta_cdf(x, a, b):
    return mp.betainc(a, b, 0, x, regularized=True)


def rows():
    for df in ["1", "2.5", "5", "10", "30", "100"]:
        for p in PROBABILITIES:
            d, target = mp.mpf(df), mp.mpf(p)
            # The t quantile lies within +-1e6 for these probabilities and df >= 1.
            yield "t", p, df, "0", bisect(lambda t: t_cdf(t, d), -1e6, 1e6, target)
    for df in ["0.5", "1", "3", "10", "50", "200"]:
        for p in PROBABILITIES:
            d, target = mp.mpf(df), mp.mpf(p)
            yield "chi2", p, df, "0", bisect(lambda x: chi2_cdf(x, d), 0, 2000, target)
    for n in ["10", "50", "200"]:
        for pr in ["0.05", "0.3", "0.7"]:
            for p in ["0.05", "0.3", "0.6", "0.9"]:
                nn, prr, target = mp.mpf(n), mp.mpf(pr), mp.mpf(p)
                # Below the probability of no success there is no s >= 0.
                if binomial_cdf(mp.mpf(0), nn, prr) >= target:
                    continue
                yield "binomial", p, n, pr, bisect(lambda s: binomial_cdf(s, nn, prr), 0, nn, target)
    for a in ["0.5", "2", "10"]:
        for b in ["0.5", "3", "20"]:
            for p in ["0.01", "0.2", "0.5", "0.8", "0.99"]:
                aa, bb, target = mp.mpf(a), mp.mpf(b), mp.mpf(p)
                yield "beta", p, a, b, bisect(lambda x: beta_cdf(x, aa, bb), 0, 1, target)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "tests/data/front_end_quantiles.csv"
    with open(out, "w") as f:
        f.write("distribution,p,param1,param2,quantile\n")
        for name, p, a, b, q in rows():
            f.write(f"{name},{p},{a},{b},{mp.nstr(q, 30)}\n")


if __name__ == "__main__":
    main()
