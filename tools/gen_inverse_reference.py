#!/usr/bin/env python3
"""Reference quantiles for the inv* functions, at 40 digits, in both tails.

Writes tests/data/inverse_quantiles.csv with the columns
    function,p,q,param1,param2,param3,quantile,kappa,kappa_f
One row per parameter set and tail probability: the lower tail p = t,
q = 1 - t and the upper tail q = t, p = 1 - t for t from 1e-300 to 0.5
(noncentral laws: p only, as their cumulative functions give no accurate
upper tail).  p and q are the doubles written; the quantile is the exact
root of  tail(x) = t  for the smaller tail t as given (the equation the
quantile functions solve), rounded to 25 digits.

kappa = t / (|x| |dtail/dx|) is the quantile's condition number, and
kappa_f = sum over the cumulative function's arguments theta (x and the
parameters) of |theta dtail/dtheta| / tail, that function's own condition
number at the solution.  Quantiles that leave the normal double range are
dropped: they are tested as range limits instead.

Counts s are continuous, as in the front ends: binomial
P[X <= s] = 1 - I_pr(s + 1, n - s), negative binomial I_pr(n, s + 1),
Poisson Q(s + 1, lambda).  The noncentral laws are Poisson mixtures of
central ones (DLMF 8.18, 26.5).

Usage: python3 tools/gen_inverse_reference.py [output.csv]
"""
import sys

import mpmath as mp

mp.mp.dps = 40
mpf = mp.mpf

TAILS = ["1e-300", "1e-100", "1e-30", "1e-10", "1e-4", "0.05", "0.3", "0.5"]
UPPER_TAILS = ["1e-300", "1e-100", "1e-30", "1e-16", "1e-4", "0.05", "0.3"]
NONCENTRAL_P = ["1e-10", "1e-4", "0.05", "0.5", "0.95", "0.9999"]


def reg_beta(a, b, lo, hi):
    return mp.betainc(a, b, lo, hi, regularized=True)


def reg_gamma(a, lo, hi):
    return mp.gammainc(a, lo, hi, regularized=True)


def poisson_mixture(half_lambda, term):
    """sum_j e^-h h^j / j! term(j), from j = 0 until the weights vanish."""
    h = mpf(half_lambda)
    total, j = mpf(0), 0
    weight = mp.exp(-h)
    eps = mpf(10) ** (-mp.mp.dps)
    while True:
        total += weight * term(j)
        j += 1
        weight *= h / j
        if j > h and weight < eps * total:
            return total


# Each law: (lower tail, upper tail) as functions of (x, *params), and
# whether x is positive (solved in ln x) or any real.
def beta_tails(x, a, b):
    return reg_beta(a, b, 0, x), reg_beta(b, a, 0, 1 - x)


def f_tails(f, dfn, dfd):
    x = dfn * f / (dfn * f + dfd)
    y = dfd / (dfn * f + dfd)
    return reg_beta(dfn / 2, dfd / 2, 0, x), reg_beta(dfd / 2, dfn / 2, 0, y)


def t_tails(t, df):
    tail = reg_beta(df / 2, mpf(1) / 2, 0, df / (df + t * t)) / 2
    return (tail, 1 - tail) if t < 0 else (1 - tail, tail)


def gamma_tails(x, shape, scale):
    return reg_gamma(shape, 0, x * scale), reg_gamma(shape, x * scale, mp.inf)


def chi_tails(x, df):
    return reg_gamma(df / 2, 0, x / 2), reg_gamma(df / 2, x / 2, mp.inf)


def normal_tails(x, mean, sd):
    z = (x - mean) / sd
    return mp.erfc(-z / mp.sqrt(2)) / 2, mp.erfc(z / mp.sqrt(2)) / 2


def poisson_tails(s, lam):
    return reg_gamma(s + 1, lam, mp.inf), reg_gamma(s + 1, 0, lam)


def binomial_tails(s, n, pr):
    return reg_beta(s + 1, n - s, pr, 1), reg_beta(s + 1, n - s, 0, pr)


def negative_binomial_tails(s, n, pr):
    return reg_beta(n, s + 1, 0, pr), reg_beta(s + 1, n, 0, 1 - pr)


def chn_tails(x, df, pnonc):
    lower = poisson_mixture(pnonc / 2, lambda j: reg_gamma(df / 2 + j, 0, x / 2))
    return lower, 1 - lower


def fnc_tails(f, dfn, dfd, pnonc):
    x = dfn * f / (dfn * f + dfd)
    lower = poisson_mixture(pnonc / 2, lambda j: reg_beta(dfn / 2 + j, dfd / 2, 0, x))
    return lower, 1 - lower


# name, tails, positive, upper bound of x (None: unbounded), parameter sets
LAWS = [
    ("nor", normal_tails, False, None, [("0", "1"), ("-3", "0.5"), ("100", "15")]),
    ("t", t_tails, False, None, [("0.3",), ("1",), ("2",), ("2.5",), ("10",), ("300",), ("3000",)]),
    ("chi", chi_tails, True, None, [("0.1",), ("1",), ("3",), ("30",), ("1000",), ("1e5",)]),
    ("gam", gamma_tails, True, None, [("0.01", "1"), ("0.5", "2"), ("1", "1"), ("3.5", "0.25"), ("40", "1"),
                                      ("20000", "1")]),
    ("bet", beta_tails, True, 1, [("0.5", "0.5"), ("0.05", "3"), ("2", "5"), ("1", "1"), ("30", "0.2"),
                                  ("100", "400"), ("0.001", "0.001")]),
    ("f", f_tails, True, None, [("1", "1"), ("2", "10"), ("5", "30"), ("30", "5"), ("100", "100"), ("0.5", "3")]),
    ("poi", poisson_tails, True, None, [("0.5",), ("4",), ("30",), ("1000",), ("30000",)]),
    ("bin", binomial_tails, True, "param1", [("10", "0.3"), ("100", "0.5"), ("1000", "0.01"), ("200", "0.9")]),
    ("nbn", negative_binomial_tails, True, 5000, [("2", "0.3"), ("10", "0.5"), ("50", "0.8"), ("30", "0.2")]),
    ("chn", chn_tails, True, None, [("1", "0.5"), ("4", "10"), ("30", "50"), ("10", "1000")]),
    ("fnc", fnc_tails, True, None, [("2", "10", "1"), ("5", "20", "10"), ("10", "50", "40")]),
]
NONCENTRAL = {"chn", "fnc"}


def root(func, target, upper):
    """x > 0 with func(x) = target, func monotone: geometric bisection of a
    wide bracket in the sign of ln(func/target) to 6 digits, then the
    Anderson-Bjorck iteration."""
    def h(x):
        v = func(x)
        return mp.log(v) - mp.log(target) if v > 0 else -mpf(10) ** 6
    lo, hi = mpf(10) ** -330, mpf(upper) if upper is not None else mpf(10) ** 330
    h_lo = h(lo)
    if (h(hi) > 0) == (h_lo > 0):
        return None  # outside the double range
    while hi - lo > mpf(10) ** -6 * hi:
        mid = mp.sqrt(lo * hi) if hi / lo > 4 else (lo + hi) / 2
        h_mid = h(mid)
        if (h_mid > 0) == (h_lo > 0):
            lo, h_lo = mid, h_mid
        else:
            hi = mid
    # Illinois steps in ln x, where the power-law tails are straight lines,
    # until the bracket is below 1e-35 relative.
    a, b = mp.log(lo), mp.log(hi)
    ha, hb = h(lo), h(hi)
    side = 0
    for _ in range(400):
        c = b - hb * (b - a) / (hb - ha)
        hc = h(mp.exp(c))
        if hc == 0 or abs(b - a) < mpf(10) ** -36 * max(1, abs(c)):
            break
        if (hc > 0) == (hb > 0):
            b, hb = c, hc
            if side == -1:
                ha /= 2
            side = -1
        else:
            a, ha = c, hc
            if side == 1:
                hb /= 2
            side = 1
    assert abs(hc) < mpf(10) ** -25, (c, hc)
    return mp.exp(c)


def derivative(func, x, room=None):
    """Central difference; room bounds the step (the distance to an end)."""
    h = max(min(abs(x), room if room is not None else abs(x)), mpf(10) ** -300) * mpf(10) ** -15
    return (func(x + h) - func(x - h)) / (2 * h)


def solve(name, tails, symmetric, top, theta, target, use_lower):
    """The quantile: for the symmetric laws (normal, t) the distance from the
    centre in the direction of the smaller tail, found on the upper tail."""
    index = 0 if use_lower else 1
    if name == "bet" and not use_lower:
        # near 1 the upper tail is the lower tail of 1 - x, with the shapes swapped
        y = root(lambda y: beta_tails(y, theta[1], theta[0])[0], target, 1)
        return None if y is None else 1 - y
    if not symmetric:
        return root(lambda x: tails(x, *theta)[index], target, top)
    if target == mpf(1) / 2:
        return theta[0] if name == "nor" else mpf(0)
    centre, unit = (theta[0], theta[1]) if name == "nor" else (mpf(0), mpf(1))
    m = root(lambda m: tails(centre + unit * m, *theta)[1], target, 100 if name == "nor" else None)
    if m is None:
        return None
    return centre + unit * m if not use_lower else centre - unit * m


def condition(tails, index, x, theta, target, room):
    """kappa of the quantile and kappa_f of the cumulative function at x."""
    d = abs(derivative(lambda u: tails(u, *theta)[index], x, room))
    kappa = target / (abs(x) * d) if x != 0 else mp.inf
    kappa_f = mpf(0)
    args = [x] + theta
    for i, v in enumerate(args):
        if v == 0:
            continue

        def moved(u, i=i):
            a = list(args)
            a[i] = u
            return tails(a[0], *a[1:])[index]
        kappa_f += abs(v * derivative(moved, v, room if i == 0 else None))
    return kappa, kappa_f / target


def rows():
    for name, tails, positive, upper, parameter_sets in LAWS:
        for params in parameter_sets:
            theta = [mpf(v) for v in params]
            top = theta[0] if upper == "param1" else upper
            probabilities = ([(t, "lower") for t in NONCENTRAL_P] if name in NONCENTRAL else
                             [(t, "lower") for t in TAILS] + [(t, "upper") for t in UPPER_TAILS])
            for t, side in probabilities:
                p = float(t) if side == "lower" else 1.0 - float(t)
                q = 1.0 - float(t) if side == "lower" else float(t)
                use_lower = p <= q
                target = mpf(p) if use_lower else mpf(q)
                index = 0 if use_lower else 1
                if name in ("poi", "bin", "nbn"):
                    at_zero = tails(mpf(0), *theta)[index]
                    if (at_zero >= target) if use_lower else (at_zero <= target):
                        continue  # no count s >= 0 reaches it: a range limit
                if name == "bin" and not use_lower and tails(top * (1 - mpf(10) ** -12), *theta)[1] > target:
                    continue  # within 1e-12 of the top: the answer rounds to it
                try:
                    x = solve(name, tails, not positive, top, theta, target, use_lower)
                except mp.libmp.libhyper.NoConvergence:
                    print(f"skipped {name} {params} {t} {side}: mpmath does not converge", file=sys.stderr)
                    continue
                if x is None or x != 0 and (abs(x) < mpf(10) ** -290 or abs(x) > mpf(10) ** 290):
                    continue
                room = top - x if top is not None else None
                if room is not None and room < mpf(10) ** -24 * top:
                    continue  # too close to its upper end to difference at 40 digits
                kappa, kappa_f = condition(tails, index, x, theta, target, room)
                padded = list(params) + ["0"] * (3 - len(params))
                yield (name, repr(p), repr(q), *padded, mp.nstr(x, 25), mp.nstr(kappa, 3), mp.nstr(kappa_f, 3))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "tests/data/inverse_quantiles.csv"
    with open(out, "w") as f:
        f.write("function,p,q,param1,param2,param3,quantile,kappa,kappa_f\n")
        for row in rows():
            f.write(",".join(row) + "\n")
            f.flush()


if __name__ == "__main__":
    main()
