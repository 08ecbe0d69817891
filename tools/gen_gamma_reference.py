#!/usr/bin/env python3
"""Reference tables for the incomplete gamma ratio, the gamma-based
distributions and the normal distribution, computed with mpmath at 40 digits.

Writes into tests/data/:
  gamma_ratio.csv          a, x, P, Q, kappa_p, kappa_q, density, kappa_density
  gamma_distributions.csv  function, arg1, arg2, arg3, cum, ccum, kappa_cum, kappa_ccum
  normal_cdf.csv           x, Phi, 1 - Phi, kappa_phi, kappa_ccum

kappa is the condition number (|a dP/da| + |x dP/dx|) / P of P (and the same
numerator over Q for Q); an error of kappa 2^-53 is what rounding the
arguments alone would cause.  For the density D, kappa = |a (ln x - psi(a))| + |a - x|;
for the normal distribution kappa = |x phi(x)| / Phi.  The noncentral
chi-square carries no condition number (0): its sum stops at 1e-5 of itself.
Every argument is a double, written exactly (repr); values are written to 25
significant digits, tiny ones included (a reader may flush them to 0).

Usage: python3 tools/gen_gamma_reference.py [output-directory]
"""
import math
import sys
from pathlib import Path

import mpmath as mp

mp.mp.dps = 40


def density(a, x):
    """exp(-x) x^a / Gamma(a)."""
    return mp.exp(a * mp.log(x) - x - mp.loggamma(a))


def lower_series(a, x):
    """P(a, x) = exp(-x) x^a / Gamma(a + 1) sum_n x^n / ((a+1)...(a+n)) (DLMF 8.7.1)."""
    term = mp.mpf(1)
    total = mp.mpf(1)
    n = 0
    while True:
        n += 1
        term *= x / (a + n)
        total += term
        if term < total * mp.mpf(10) ** (-mp.mp.dps - 5):
            return density(a, x) / a * total


def upper_fraction(a, x):
    """Q(a, x) by the continued fraction of DLMF 8.9.2, modified Lentz."""
    tiny = mp.mpf(10) ** (-mp.mp.dps * 4)
    b = x + 1 - a
    f = 1 / b if b != 0 else 1 / tiny
    c = 1 / tiny
    d = 1 / b if b != 0 else 1 / tiny
    n = 0
    while True:
        n += 1
        an = -n * (n - a)
        b += 2
        d = b + an * d
        d = 1 / (d if d != 0 else tiny)
        c = b + an / c
        if c == 0:
            c = tiny
        delta = c * d
        f *= delta
        if abs(delta - 1) < mp.mpf(10) ** (-mp.mp.dps - 5):
            return density(a, x) * f


def smaller_ratio(a, x, upper):
    """Whichever of P and Q is smaller, computed directly by a fixed method."""
    return upper_fraction(a, x) if upper else lower_series(a, x)


def ratios(a, x):
    """(P, Q, kappa_p, kappa_q, density, kappa_density) at the doubles a, x."""
    a = mp.mpf(a)
    x = mp.mpf(x)
    upper = x > a + 1
    s = smaller_ratio(a, x, upper)
    p, q = (1 - s, s) if upper else (s, 1 - s)
    dsda = mp.diff(lambda t: smaller_ratio(t, x, upper), a)
    dpdx = density(a, x) / x
    numerator = abs(a * dsda) + abs(x * dpdx)
    kappa_density = abs(a * (mp.log(x) - mp.digamma(a))) + abs(a - x)
    return p, q, numerator / p, numerator / q, density(a, x), kappa_density


def tail_points(a, log_ratio):
    """x below and above a where a (x/a - 1 - ln(x/a)) = log_ratio."""
    target = log_ratio / a
    points = []
    for lo, hi in ((1e-300, 1.0), (1.0, 1e300)):
        f = lambda l: (l - 1 - math.log(l)) - target
        if f(lo) * f(hi) > 0:
            continue
        for _ in range(200):
            mid = math.exp(0.5 * (math.log(lo) + math.log(hi))) if hi / lo > 4 else 0.5 * (lo + hi)
            if (f(lo) < 0) == (f(mid) < 0):
                lo = mid
            else:
                hi = mid
        points.append(a * 0.5 * (lo + hi))
    return points


SHAPES = [1e-3, 0.01, 0.1, 0.3, 0.5, 0.7, 0.99, 1.0, 1.5, 2.0, 2.5, 3.0, 5.5, 7.3, 10.0,
          14.5, 19.9, 20.0, 25.0, 31.5, 50.0, 100.0, 300.0, 1e3, 3e3, 1e4, 1e5, 1e6]
RATIOS = [1e-3, 0.01, 0.1, 0.3, 0.5, 0.6, 0.7, 0.9, 0.99, 0.999, 1.0, 1.001, 1.01, 1.1,
          1.4, 1.5, 2.0, 3.0, 5.0, 10.0, 100.0]
SQRT_OFFSETS = [-3.0, -1.0, -0.1, -1e-3, -1e-4, 1e-4, 1e-3, 0.1, 1.0, 3.0]
ABSOLUTE_X = [1e-300, 1e-10, 0.1, 0.2, 0.2499, 0.25, 1.0999, 1.1, 2.3, 10.0, 30.99, 31.0,
              50.0, 100.0, 700.0]


def gamma_ratio_points():
    points = set()
    for a in SHAPES:
        xs = [a * r for r in RATIOS] + ABSOLUTE_X
        if a >= 20:
            xs += [a + k * math.sqrt(a) for k in SQRT_OFFSETS]
        xs += tail_points(a, 300.0) + tail_points(a, 650.0)
        points.update((a, x) for x in xs if x > 0)
    return sorted(points)


def write_gamma_ratio(path):
    with path.open("w") as out:
        out.write("a,x,p,q,kappa_p,kappa_q,density,kappa_density\n")
        for a, x in gamma_ratio_points():
            p, q, kp, kq, d, kd = ratios(a, x)
            out.write(f"{a!r},{x!r},{mp.nstr(p, 25)},{mp.nstr(q, 25)},"
                      f"{mp.nstr(kp, 6)},{mp.nstr(kq, 6)},{mp.nstr(d, 25)},{mp.nstr(kd, 6)}\n")


def noncentral_chi_square(x, df, pnonc):
    """P[chi2'(df, pnonc) <= x] as its Poisson mixture, summed outward from the centre."""
    x, df, lam = mp.mpf(x), mp.mpf(df), mp.mpf(pnonc) / 2
    y = x / 2
    centre = max(int(lam), 0)
    base = mp.gammainc(df / 2 + centre, 0, y, regularized=True)
    weight = mp.exp(centre * mp.log(lam) - lam - mp.loggamma(centre + 1)) if lam > 0 else mp.mpf(1)
    total = weight * base
    eps = mp.mpf(10) ** (-mp.mp.dps)
    # P(b + 1, y) = P(b, y) - y^b e^-y / Gamma(b + 1) (DLMF 8.8.11), both ways.
    p, w, i = base, weight, centre
    while True:
        b = df / 2 + i
        p = p - mp.exp(b * mp.log(y) - y - mp.loggamma(b + 1))
        w = w * lam / (i + 1)
        i += 1
        total += w * p
        if w * p < eps * total or (w < eps * total and i > lam):
            break
    p, w, i = base, weight, centre
    while i > 0:
        b = df / 2 + i - 1
        p = p + mp.exp(b * mp.log(y) - y - mp.loggamma(b + 1))
        w = w * i / lam
        i -= 1
        total += w * p
        if w < eps * total:
            break
    return total


def write_distributions(path):
    rows = []
    for x, a in [(0.5, 0.5), (2.0, 3.0), (7.5, 7.5), (40.0, 25.0), (1e3, 1050.0)]:
        p, q, kp, kq, *_ = ratios(a, x)
        rows.append(("cumgam", x, a, 0.0, p, q, kp, kq))
    for df in [0.5, 1.0, 2.0, 3.0, 10.0, 57.0, 1000.0]:
        for x in [0.01 * df, 0.5 * df, df, 2.0 * df, 5.0 * df]:
            p, q, kp, kq, *_ = ratios(df / 2, x / 2)
            rows.append(("cumchi", x, df, 0.0, p, q, kp, kq))
    for s in [0.0, 1.0, 5.0, 20.0, 100.0, 1e4]:
        for lam in [0.1, 0.5 * (s + 1), s + 1, 2.0 * (s + 1), 10.0 * (s + 1)]:
            p, q, kp, kq, *_ = ratios(s + 1, lam)
            rows.append(("cumpoi", s, lam, 0.0, q, p, kq, kp))
    for df in [1.0, 4.0, 30.0]:
        for pnonc in [2e-10, 0.5, 3.0, 20.0, 300.0, 1e4]:
            mean = df + pnonc
            for x in [0.2 * mean, 0.8 * mean, mean, 1.3 * mean, 3.0 * mean]:
                cum = noncentral_chi_square(x, df, pnonc)
                rows.append(("cumchn", x, df, pnonc, cum, 1 - cum, 0, 0))
    with path.open("w") as out:
        out.write("function,arg1,arg2,arg3,cum,ccum,kappa_cum,kappa_ccum\n")
        for name, u, v, w, cum, ccum, kc, kcc in rows:
            out.write(f"{name},{u!r},{v!r},{w!r},{mp.nstr(cum, 25)},{mp.nstr(ccum, 25)},"
                      f"{mp.nstr(kc, 6)},{mp.nstr(kcc, 6)}\n")


NORMAL_EDGES = [0.0, 0.66291, 0.662911, -0.66291, -0.662911, 5.656854248, 5.6568543,
                -5.656854248, -5.6568543, 1.96, -1.96, 1e-20, -1e-20, 37.5, -37.5, 38.0, -38.0]


def write_normal(path):
    xs = sorted(set(NORMAL_EDGES + [k / 8.0 for k in range(-304, 305)] + [k * 0.0731 for k in range(-519, 520)]))
    with path.open("w") as out:
        out.write("x,phi,ccum,kappa_phi,kappa_ccum\n")
        for xf in xs:
            x = mp.mpf(xf)
            phi = mp.erfc(-x / mp.sqrt(2)) / 2
            ccum = mp.erfc(x / mp.sqrt(2)) / 2
            slope = abs(x) * mp.npdf(x)
            out.write(f"{xf!r},{mp.nstr(phi, 25)},{mp.nstr(ccum, 25)},"
                      f"{mp.nstr(slope / phi, 6)},{mp.nstr(slope / ccum, 6)}\n")


def main():
    root = Path(__file__).resolve().parent.parent
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else root / "tests" / "data"
    out.mkdir(parents=True, exist_ok=True)
    write_normal(out / "normal_cdf.csv")
    write_distributions(out / "gamma_distributions.csv")
    write_gamma_ratio(out / "gamma_ratio.csv")


if __name__ == "__main__":
    main()
