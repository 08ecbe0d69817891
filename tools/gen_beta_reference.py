#!/usr/bin/env python3
"""Reference tables for the incomplete beta ratio and the beta-based
distributions, computed with mpmath at 50 significant digits.

Writes tests/data/beta_ratio.csv and tests/data/beta_distributions.csv.
Every input is a double (written in shortest round-trip form); every
reference value is the exact function of those doubles, rounded to 20
digits.  Each value carries its condition number

    kappa = (|a dI/da| + |b dI/db| + |s dI/ds|) / I

(s the smaller of x and y = 1 - x, the member the caller holds exactly, and
the sum running over the inputs of the function at hand), which bounds what
any double-precision algorithm can achieve: about kappa 2^-53.

The x, y pairs are made consistent: when the smaller member s is at least
2^-30 it is rounded to a multiple of 2^-53, so that 1 - s is a double too;
below that the larger member is fl(1 - s) and the function is taken at the
exact s.

Usage: tools/gen_beta_reference.py [output-directory]   (default tests/data)
"""

import csv
import math
import os
import random
import sys

from mpmath import mp, mpf

DIGITS = 50
EPS = max(2.0 ** -52, 1e-15)  # the working tolerance of the method choice
SNAP_LIMIT = 2.0 ** -30
ULP_HALF = 2.0 ** -53


# ---- the incomplete beta ratio in multiple precision ----------------------

def beta_power(a, b, x, y):
    """x^a y^b / B(a, b)."""
    return mp.exp(a * mp.log(x) + b * mp.log(y) - mp.log(mp.beta(a, b)))


def lower_by_continued_fraction(a, b, x, y):
    """I_x(a, b) from the continued fraction of DLMF 8.17.22 (modified Lentz);
    it converges fast for x below (a + 1)/(a + b + 2)."""
    tiny = mpf(10) ** (-3 * mp.dps)
    tol = mpf(10) ** (-mp.dps + 3)
    f, c, d = mpf(1), mpf(1), mpf(0)
    n = 0
    while True:
        n += 1
        if n % 2 == 0:
            m = n // 2
            coef = m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m))
        else:
            m = (n - 1) // 2
            coef = -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1))
        d = 1 + coef * d
        d = tiny if d == 0 else 1 / d
        c = 1 + coef / c
        if c == 0:
            c = tiny
        delta = c * d
        f *= delta
        if abs(delta - 1) < tol:
            break
        if n > 200000:
            raise RuntimeError("continued fraction did not converge")
    return beta_power(a, b, x, y) / (a * f)


def ibeta_pair(a, b, x, y):
    """(I_x(a, b), 1 - I_x(a, b)); the tail nearer to x is computed directly."""
    if x == 0:
        return mpf(0), mpf(1)
    if y == 0:
        return mpf(1), mpf(0)
    if x < (a + 1) / (a + b + 2):
        w = lower_by_continued_fraction(a, b, x, y)
        return w, 1 - w
    w1 = lower_by_continued_fraction(b, a, y, x)
    return 1 - w1, w1


def exact_pair(s, s_is_x):
    """The exact (x, y) for the double s (the smaller member)."""
    s = mpf(s)
    return (s, 1 - s) if s_is_x else (1 - s, s)


def condition(function, args, tail_values):
    """kappa of each tail of function(*args) -> (lower, upper): the sum of
    |p dF/dp| over the arguments, divided by each tail."""
    with mp.workdps(30):
        total = mpf(0)
        for i, p in enumerate(args):
            if p == 0:
                continue
            h = abs(p) * mpf(10) ** -12
            up = list(args)
            dn = list(args)
            up[i] = p + h
            dn[i] = p - h
            # Differentiate whichever tail is smaller: it keeps its digits.
            lo_u, hi_u = function(*up)
            lo_d, hi_d = function(*dn)
            if tail_values[0] <= tail_values[1]:
                deriv = (lo_u - lo_d) / (2 * h)
            else:
                deriv = (hi_d - hi_u) / (2 * h)
            total += abs(p * deriv)
    return [float(total / v) if v != 0 else math.inf for v in tail_values]


# ---- the method choice of bratio, to label the points ---------------------

def method_of(a, b, x, y):
    if max(a, b) < 1e-3 * EPS:
        return "negligible"
    if min(a, b) <= 1:
        a0, b0, x0, y0 = (b, a, y, x) if x > 0.5 else (a, b, x, y)
        if b0 < min(EPS, EPS * a0):
            return "fpser"
        if a0 < min(EPS, EPS * b0) and b0 * x0 <= 1:
            return "apser"
        if max(a0, b0) > 1:
            if b0 <= 1 or x0 >= 0.3:
                return "bpser"
            if x0 < 0.1 and (x0 * b0) ** a0 <= 0.7:
                return "bpser"
            return "bgrat" if b0 > 15 else "bup_bgrat"
        if a0 >= min(0.2, b0) or x0 ** a0 <= 0.9 or x0 >= 0.3:
            return "bpser"
        return "bup_bgrat"
    lam = (a + b) * y - b if a > b else a - (a + b) * x
    a0, b0, x0 = (b, a, y) if lam < 0 else (a, b, x)
    lam = abs(lam)
    if b0 < 40:
        if b0 * x0 <= 0.7:
            return "bpser"
        return "bup_bpser" if x0 <= 0.7 else "bup_bgrat"
    m = min(a0, b0)
    if m <= 100 or lam > 0.03 * m:
        return "bfrac"
    return "basym"


# ---- sampling ---------------------------------------------------------------

rng = random.Random(20261209)


def log_uniform(lo, hi):
    return 10.0 ** rng.uniform(math.log10(lo), math.log10(hi))


def snap(s):
    """Round the smaller member to a multiple of 2^-53 so that 1 - s is exact."""
    if s >= SNAP_LIMIT:
        s = round(s / ULP_HALF) * ULP_HALF
    return s


def make_xy(t):
    """The double pair for a point t in (0, 1), or for ("y", s), the point
    1 - s given by its small complement; returns (x, y, s, s_is_x)."""
    if isinstance(t, tuple):
        s = snap(t[1])
        return 1.0 - s, s, s, False
    if t <= 0.5:
        s = snap(t)
        return s, 1.0 - s, s, True
    s = snap(1.0 - t)
    return 1.0 - s, s, s, False


def near_mean(a, b, spread=3.0):
    mean = a / (a + b)
    sd = math.sqrt(a * b / ((a + b) ** 2 * (a + b + 1)))
    t = mean + spread * sd * rng.gauss(0.0, 1.0)
    return min(max(t, 1e-300), 1 - 1e-16)


def sample_grid():
    a, b = log_uniform(1e-3, 1e5), log_uniform(1e-3, 1e5)
    t = rng.uniform(0.0, 1.0) if rng.random() < 0.5 else near_mean(a, b)
    return a, b, t


def sample_fpser():
    return log_uniform(1e-2, 1e3), log_uniform(1e-25, 1e-17), log_uniform(1e-10, 0.5)


def sample_apser():
    b = log_uniform(1e-2, 1e3)
    return log_uniform(1e-25, 1e-17), b, log_uniform(1e-10, min(0.5, 1.0 / b))


def sample_small_series():
    a, b = log_uniform(1e-3, 1.0), log_uniform(1e-3, 1e3)
    if rng.random() < 0.5:
        a, b = b, a
    return a, b, rng.uniform(0.0, 1.0)


def sample_small_expansion():
    # One parameter at most 1, x below 0.3 where the series would be slow.
    a0 = log_uniform(1e-3, 1.0)
    b0 = log_uniform(1e-3, 1e5)
    x0 = log_uniform(1e-8, 0.3)
    return (a0, b0, x0) if rng.random() < 0.5 else (b0, a0, 1.0 - x0)


def sample_bup():
    a, b = log_uniform(1.0, 1e5), rng.uniform(1.0, 40.0)
    t = rng.uniform(0.7 / b, 1.0)
    return (a, b, t) if rng.random() < 0.5 else (b, a, 1.0 - t)


def sample_bfrac():
    a, b = log_uniform(40.0, 1e5), log_uniform(40.0, 1e5)
    return a, b, near_mean(a, b, 6.0)


def sample_basym():
    a, b = log_uniform(100.0, 1e5), log_uniform(100.0, 1e5)
    return a, b, near_mean(a, b, 1.0)


def sample_large_near_mean():
    a, b = log_uniform(1e3, 1e5), log_uniform(1e3, 1e5)
    return a, b, near_mean(a, b, 2.0)


def sample_tiny_parameter():
    a, b = log_uniform(1e-12, 1e-4), log_uniform(1e-3, 1e5)
    if rng.random() < 0.5:
        a, b = b, a
    return a, b, rng.uniform(0.0, 1.0)


def sample_x_near_0():
    return log_uniform(1e-3, 1e3), log_uniform(1e-3, 1e5), log_uniform(1e-300, 1e-5)


def sample_x_near_1():
    return log_uniform(1e-3, 1e5), log_uniform(1e-3, 1e3), ("y", log_uniform(1e-300, 1e-5))


REGIONS = [
    ("grid", sample_grid, 700),
    ("fpser", sample_fpser, 120),
    ("apser", sample_apser, 120),
    ("small_series", sample_small_series, 250),
    ("small_expansion", sample_small_expansion, 300),
    ("bup", sample_bup, 300),
    ("bfrac", sample_bfrac, 250),
    ("basym", sample_basym, 250),
    ("large_near_mean", sample_large_near_mean, 200),
    ("tiny_parameter", sample_tiny_parameter, 200),
    ("x_near_0", sample_x_near_0, 150),
    ("x_near_1", sample_x_near_1, 150),
]


def fmt(v):
    return mp.nstr(v, 20, strip_zeros=False) if v != 0 else "0"


def beta_rows():
    rows = []
    for region, sampler, count in REGIONS:
        made = 0
        while made < count:
            a, b, t = sampler()
            if not isinstance(t, tuple) and not 0.0 < t < 1.0:
                continue
            x, y, s, s_is_x = make_xy(t)
            if x <= 0.0 or y <= 0.0:
                continue
            xe, ye = exact_pair(s, s_is_x)
            w, w1 = ibeta_pair(mpf(a), mpf(b), xe, ye)

            def tails(pa, pb, ps):
                return ibeta_pair(pa, pb, *exact_pair(ps, s_is_x))

            kw, kw1 = condition(tails, [mpf(a), mpf(b), mpf(s)], (w, w1))
            rows.append([region, method_of(a, b, x, y), repr(a), repr(b), repr(x), repr(y),
                         fmt(w), fmt(w1), "%.3g" % kw, "%.3g" % kw1])
            made += 1
    return rows


# ---- the distributions ------------------------------------------------------

def binomial_pair(s, n, p, q):
    """P[X <= s] for X ~ Bin(n, p), continuous in s: 1 - I_p(s + 1, n - s)."""
    ccum, cum = ibeta_pair(s + 1, n - s, p, q)
    return cum, ccum


def negative_binomial_pair(s, n, p, q):
    return ibeta_pair(n, s + 1, p, q)


def t_pair(t, df):
    tt = t * t
    lower_both, central = ibeta_pair(df / 2, mpf(0.5), df / (df + tt), tt / (df + tt))
    half = lower_both / 2
    return (half, central + half) if t <= 0 else (central + half, half)


def f_pair(f, dfn, dfd):
    x = dfn * f / (dfd + dfn * f)
    return ibeta_pair(dfn / 2, dfd / 2, x, dfd / (dfd + dfn * f))


def noncentral_f_pair(f, dfn, dfd, pnonc):
    """Poisson mixture sum_i P(i; pnonc/2) I_x(dfn/2 + i, dfd/2), summed
    upwards with I(a + 1) = I(a) - x^a y^b / (a B(a, b)) until the
    remaining weight is negligible."""
    with mp.workdps(mp.dps + 40):
        lam = pnonc / 2
        x = dfn * f / (dfd + dfn * f)
        y = dfd / (dfd + dfn * f)
        a, b = dfn / 2, dfd / 2
        ib, _ = ibeta_pair(a, b, x, y)
        term = beta_power(a, b, x, y) / a
        weight = mp.exp(-lam)
        total = mpf(0)
        covered = mpf(0)
        i = 0
        while True:
            total += weight * ib
            covered += weight
            if 1 - covered < mpf(10) ** (-DIGITS - 5) and i > lam:
                break
            ib -= term
            term *= x * (a + b) / (a + 1)
            a += 1
            i += 1
            weight *= lam / i
        return +total, 1 - total


def distribution_rows():
    rows = []

    def add(name, function, args, count_args):
        exact = [mpf(v) for v in args]
        cum, ccum = function(*exact)
        kc, kcc = condition(function, exact[:count_args], (cum, ccum)) if count_args else (0, 0)
        padded = [repr(v) for v in args] + [""] * (4 - len(args))
        rows.append([name] + padded + [fmt(cum), fmt(ccum), "%.3g" % kc, "%.3g" % kcc])

    # Beta: the pair (x, y) enters through the smaller member only.
    for _ in range(150):
        a, b, t = sample_grid()
        if not 0.0 < t < 1.0:
            continue
        x, y, s, s_is_x = make_xy(t)
        xe, ye = exact_pair(s, s_is_x)
        cum, ccum = ibeta_pair(mpf(a), mpf(b), xe, ye)
        kc, kcc = condition(lambda pa, pb, ps: ibeta_pair(pa, pb, *exact_pair(ps, s_is_x)),
                            [mpf(a), mpf(b), mpf(s)], (cum, ccum))
        rows.append(["cumbet", repr(x), repr(y), repr(a), repr(b), fmt(cum), fmt(ccum),
                     "%.3g" % kc, "%.3g" % kcc])

    # Binomial and negative binomial: integer and fractional counts.
    for _ in range(300):
        n = float(round(log_uniform(1, 1e6)))
        s = float(rng.randrange(0, int(n)))
        if rng.random() < 0.3:
            s = rng.uniform(0.0, n)
        p = rng.uniform(0.0, 1.0) if rng.random() < 0.5 else log_uniform(1e-8, 0.5)
        x, y, small, p_is_x = make_xy(p)
        if not 0.0 < x < 1.0:
            continue
        pe, qe = exact_pair(small, p_is_x)
        for name, law_pair in (("cumbin", binomial_pair), ("cumnbn", negative_binomial_pair)):
            cum, ccum = law_pair(mpf(s), mpf(n), pe, qe)

            def exact_law_pair(ps, pn, psm, p_is_x=p_is_x, law_pair=law_pair):
                return law_pair(ps, pn, *exact_pair(psm, p_is_x))

            kc, kcc = condition(exact_law_pair, [mpf(s), mpf(n), mpf(small)], (cum, ccum))
            rows.append([name, repr(s), repr(n), repr(x), repr(y), fmt(cum), fmt(ccum),
                         "%.3g" % kc, "%.3g" % kcc])

    # Student's t: integer and fractional degrees of freedom, both tails.
    for _ in range(250):
        df = float(rng.randint(1, 200)) if rng.random() < 0.5 else log_uniform(1e-2, 1e5)
        t = rng.choice([-1.0, 1.0]) * log_uniform(1e-6, 1e6)
        add("cumt", t_pair, [t, df], 2)

    # F: integer and fractional degrees of freedom.
    for _ in range(250):
        dfn = float(rng.randint(1, 100)) if rng.random() < 0.5 else log_uniform(1e-2, 1e5)
        dfd = float(rng.randint(1, 100)) if rng.random() < 0.5 else log_uniform(1e-2, 1e5)
        f = log_uniform(1e-6, 1e6)
        add("cumf", f_pair, [f, dfn, dfd], 3)

    # Noncentral F: modest noncentralities, the front end's range.
    for _ in range(60):
        dfn = float(rng.randint(1, 50)) if rng.random() < 0.5 else log_uniform(0.5, 200.0)
        dfd = float(rng.randint(1, 50)) if rng.random() < 0.5 else log_uniform(0.5, 200.0)
        pnonc = log_uniform(1e-9, 300.0)
        f = log_uniform(1e-2, 1e2)
        add("cumfnc", noncentral_f_pair, [f, dfn, dfd, pnonc], 0)
    # Noncentral F lower tails, where the mass of the sum lies below its centre.
    for _ in range(20):
        dfn = float(rng.randint(1, 10))
        dfd = log_uniform(5.0, 1e6)
        pnonc = log_uniform(20.0, 300.0)
        f = log_uniform(0.05, 1.0)
        add("cumfnc", noncentral_f_pair, [f, dfn, dfd, pnonc], 0)
    return rows


def self_check():
    """The continued fraction against mpmath's hypergeometric betainc."""
    for a, b, x in [(2.0, 3.0, 0.4), (0.5, 0.5, 0.3), (30.0, 5.0, 0.9), (1e-3, 20.0, 0.7),
                    (150.0, 140.0, 0.52)]:
        w, w1 = ibeta_pair(mpf(a), mpf(b), mpf(x), 1 - mpf(x))
        ref = mp.betainc(a, b, 0, x, regularized=True)
        assert abs(w - ref) <= mpf(10) ** -40 * ref, (a, b, x, w, ref)
    # I_0.4(2, 3) = 1 - 0.6^4 - 4 (0.4) 0.6^3 (DLMF 8.17.5).
    x = mpf(0.4)
    exact = 1 - (1 - x) ** 4 - 4 * x * (1 - x) ** 3
    assert abs(ibeta_pair(mpf(2), mpf(3), x, 1 - x)[0] - exact) < mpf(10) ** -45


def write(path, header, rows):
    with open(path, "w", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(header)
        writer.writerows(rows)


def main():
    mp.dps = DIGITS
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data")
    self_check()
    write(os.path.join(out_dir, "beta_ratio.csv"),
          ["region", "method", "a", "b", "x", "y", "w", "w1", "kappa_w", "kappa_w1"], beta_rows())
    write(os.path.join(out_dir, "beta_distributions.csv"),
          ["function", "p1", "p2", "p3", "p4", "cum", "ccum", "kappa_cum", "kappa_ccum"],
          distribution_rows())


if __name__ == "__main__":
    main()
