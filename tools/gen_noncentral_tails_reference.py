#!/usr/bin/env python3
"""Reference values of both tails of the noncentral chi-square and noncentral
F distributions, far tails and large noncentralities included, computed with
mpmath at 40 digits.

Writes tests/data/noncentral_tails.csv:
  function, region, p1, p2, p3, p4, cum, ccum, kappa_cum, kappa_ccum
with cumchnb rows (p1 = x, p2 = df, p3 = pnonc, p4 = 0) and cumfncb rows
(p1 = f, p2 = dfn, p3 = dfd, p4 = pnonc).  region is "large" for a
noncentrality of 1e4 or more, otherwise "centre" (smaller tail at least
0.01), "tail" (at least 1e-20) or "far" (smaller still).  Rows whose smaller
tail is below 1e-300 are left out.  kappa is the condition number
sum_i |a_i d(ln tail)/d(a_i)| of each tail over every argument.

Both laws are Poisson(m = pnonc/2) mixtures of central ratios in the shape
a = a0 + i: P(k/2 + i, x/2) (DLMF 8.2.4) and I_u(dfn/2 + i, dfd/2) with
u = dfn f/(dfd + dfn f) (DLMF 8.17.2).  Each tail is summed on its own: the
lower from one regularized ratio at the top of the range of weights, down by
L(a - 1) = L(a) + s(a - 1), the upper from the bottom, up by
U(a + 1) = U(a) + s(a), with s(a) = t^a e^-t / Gamma(a + 1) (DLMF 8.8.5) or
u^a v^b / (a B(a, b)) (DLMF 8.17.20) carried by their ratios: additions of
positive terms only, at 40 digits, over i within 40 sqrt(m) + 60 of m, which
leaves out less than 1e-300 of either tail.  For pnonc up to 400 the sums
agree to 30 digits with term-by-term sums of mpmath's gammainc and betainc.

Usage: python3 tools/gen_noncentral_tails_reference.py [output-directory]
"""
import sys
from pathlib import Path

import mpmath as mp

mp.mp.dps = 40
SMALLEST = mp.mpf("1e-300")
REACH = 40  # standard deviations of the Poisson weights summed on either side


def index_range(m):
    spread = REACH * mp.sqrt(m) + 60
    return max(0, int(m - spread)), int(m + spread)


def weight(i, m):
    return mp.exp(i * mp.log(m) - m - mp.loggamma(i + 1))


def mixture(m, a0, lower_ratio, upper_ratio, step, step_ratio):
    """(sum w_i L(a0 + i), sum w_i U(a0 + i)) by the additive recurrences;
    the weights and steps by their ratios from one direct value each."""
    first, last = index_range(m)
    lower_sum = mp.mpf(0)
    lower = lower_ratio(a0 + last)
    w, s = weight(last, m), step(a0 + last)
    for i in range(last, -1, -1):
        lower_sum += w * lower
        if i > 0:
            s /= step_ratio(a0 + i - 1)
            lower += s
            w *= i / m
    upper_sum = mp.mpf(0)
    upper = upper_ratio(a0 + first)
    w, s = weight(first, m), step(a0 + first)
    for i in range(first, last + 1):
        upper_sum += w * upper
        upper += s
        s *= step_ratio(a0 + i)
        w *= m / (i + 1)
    return lower_sum, upper_sum


def gamma_ratios(a, t):
    """(P(a, t), Q(a, t)) by the power series of P (DLMF 8.7.1) for t < a + 1,
    else by the continued fraction of Q (DLMF 8.9.2, modified Lentz), the
    other as 1 minus it: where one is close to 1, at 40 digits."""
    prefactor = mp.exp(a * mp.log(t) - t - mp.loggamma(a))
    eps = mp.mpf(10) ** (-mp.mp.dps - 3)
    if t < a + 1:
        term = total = 1 / a
        n = 0
        while abs(term) > eps * total:
            n += 1
            term *= t / (a + n)
            total += term
        lower = prefactor * total
        return lower, 1 - lower
    tiny = mp.mpf(10) ** (-4 * mp.mp.dps)
    b = t + 1 - a
    c, d = 1 / tiny, 1 / b
    f = d
    n = 0
    while True:
        n += 1
        an = -n * (n - a)
        b += 2
        d = an * d + b
        d = 1 / (d if d != 0 else tiny)
        c = b + an / c
        c = c if c != 0 else tiny
        delta = c * d
        f *= delta
        if abs(delta - 1) < eps:
            break
    upper = prefactor * f
    return 1 - upper, upper


def gamma_ratio(a, lo, hi):
    """The regularized incomplete gamma integral over [0, hi] or [lo, inf):
    mpmath's, or where its series do not converge (shapes in the thousands
    near the bulk) the series and continued fraction above."""
    try:
        return mp.gammainc(a, lo, hi, regularized=True)
    except mp.libmp.NoConvergence:
        lower, upper = gamma_ratios(a, hi if lo == 0 else lo)
        return lower if lo == 0 else upper


def chi_square_tails(x, k, lam):
    t = x / 2
    return mixture(lam / 2, k / 2,
                   lambda a: gamma_ratio(a, 0, t),
                   lambda a: gamma_ratio(a, t, mp.inf),
                   lambda a: mp.exp(a * mp.log(t) - t - mp.loggamma(a + 1)),
                   lambda a: t / (a + 1))


def f_tails(f, dfn, dfd, lam):
    u = dfn * f / (dfd + dfn * f)
    v = dfd / (dfd + dfn * f)
    b = dfd / 2
    return mixture(lam / 2, dfn / 2,
                   lambda a: mp.betainc(a, b, 0, u, regularized=True),
                   lambda a: mp.betainc(b, a, 0, v, regularized=True),
                   lambda a: mp.exp(a * mp.log(u) + b * mp.log(v) - mp.log(a) - mp.log(mp.beta(a, b))),
                   lambda a: u * (a + b) / (a + 1))


def term_by_term(x, k, lam):
    """The chi-square tails as plain sums of gammainc, for the cross-check."""
    m, t = lam / 2, x / 2
    first, last = index_range(m)
    lower = sum(weight(i, m) * mp.gammainc(k / 2 + i, 0, t, regularized=True) for i in range(0, last + 1))
    upper = sum(weight(i, m) * mp.gammainc(k / 2 + i, t, mp.inf, regularized=True) for i in range(0, last + 1))
    return lower, upper


def conditions(tails, args):
    """kappa of each tail: sum over the arguments of |a d(ln tail)/da|, by
    central differences with a relative step of 1e-12 (error about 1e-24)."""
    kappas = [mp.mpf(0), mp.mpf(0)]
    for j in range(len(args)):
        if args[j] == 0:
            continue
        h = args[j] * mp.mpf("1e-12")
        up, down = list(args), list(args)
        up[j] += h
        down[j] -= h
        above, below = tails(*up), tails(*down)
        for side in (0, 1):
            kappas[side] += abs(args[j] * (mp.log(above[side]) - mp.log(below[side])) / (2 * h))
    return kappas


def region_of(cum, ccum, lam):
    if lam >= 1e4:
        return "large"
    smaller = min(cum, ccum)
    return "centre" if smaller >= 0.01 else "tail" if smaller >= 1e-20 else "far"


def chi_square_points():
    for k in (0.5, 4.0, 30.0, 200.0):
        for lam in (0.5, 5.0, 30.0, 300.0, 3000.0, 1e4) + ((3e4,) if k == 0.5 else ()):
            mean, sd = k + lam, (2 * (k + 2 * lam)) ** 0.5
            xs = [mean * 10.0 ** -e for e in (1, 3, 8)]
            xs += [mean + c * sd for c in (-5, -3, -1, 0, 1, 3, 6, 12, 25, 50) if mean + c * sd > 0]
            for x in xs:
                yield "cumchnb", (x, k, lam)


def f_points():
    for dfn, dfd in ((1.0, 3.0), (5.0, 12.0), (20.0, 100.0), (3.0, 1e4)):
        for lam in (1.0, 30.0, 300.0, 1e4):
            centre = (dfn + lam) / dfn
            spread = (2 * (dfn + 2 * lam) / (dfn + lam) ** 2 + 2 / dfd) ** 0.5
            for c in (-8, -4, -2, 0, 2, 4, 8, 16):
                yield "cumfncb", (float(centre * mp.exp(c * spread)), dfn, dfd, lam)


def main():
    out_dir = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "tests" / "data"
    for check in ((300.0, 4.0, 30.0), (1e-3, 4.0, 300.0), (150.0, 0.5, 100.0)):
        fast, slow = chi_square_tails(*map(mp.mpf, check)), term_by_term(*map(mp.mpf, check))
        for f, s in zip(fast, slow):
            assert abs(f - s) <= abs(s) * mp.mpf("1e-30"), (check, f, s)
    rows = ["function,region,p1,p2,p3,p4,cum,ccum,kappa_cum,kappa_ccum"]
    for function, args in list(chi_square_points()) + list(f_points()):
        tails = chi_square_tails if function == "cumchnb" else f_tails
        margs = [mp.mpf(v) for v in args]
        try:
            cum, ccum = tails(*margs)
        except mp.libmp.NoConvergence:
            # mpmath's betainc gives up at the far end of a wide F mixture
            # (f 16 spreads above the centre with dfd and pnonc of 1e4).
            print(f"skipped {function}{args}: mpmath does not converge", flush=True)
            continue
        if not min(cum, ccum) > SMALLEST:
            continue
        kappa_cum, kappa_ccum = conditions(tails, margs)
        padded = list(args) + [0.0] * (4 - len(args))
        rows.append(",".join([function, region_of(cum, ccum, args[-1])] + [repr(float(v)) for v in padded]
                             + [mp.nstr(cum, 25, strip_zeros=False), mp.nstr(ccum, 25, strip_zeros=False),
                                mp.nstr(kappa_cum, 6), mp.nstr(kappa_ccum, 6)]))
        print(rows[-1], flush=True)
    (out_dir / "noncentral_tails.csv").write_text("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
