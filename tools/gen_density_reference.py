#!/usr/bin/env python3
"""Reference densities (probability masses of the discrete laws) of the
eleven distributions, computed with mpmath at 40 digits.

Writes tests/data/densities.csv:
  function, region, p1, p2, p3, p4, pdf, kappa
with the arguments in the order of the C density functions (pdfbet: x, y,
a, b; pdfbin and pdfnbn: s, xn, pr, ompr; pdfchi: x, df; pdfchn: x, df,
pnonc; pdff: f, dfn, dfd; pdffnc: f, dfn, dfd, pnonc; pdfgam: x, shape,
scale; pdfnor: x, mean, sd; pdfpoi: s, xlam; pdft: t, df), unused ones 0.

kappa is the condition number sum_i |a_i d(ln pdf)/d(a_i)| over every real
argument (a count s is exact and left out; x and y, pr and ompr are separate
arguments, each perturbed alone): an error of kappa 2^-53 is what rounding
the arguments alone causes.  region is "centre" (within 5 standard
deviations of the mean and above a thousandth of a positive mean), "tail"
(beyond) or "large" (a parameter of at least
1e4).  Rows whose density is below 1e-300 are left out.

Noncentral laws (DLMF 10.25.2, 13.2.2):
  chi2'(x; k, lam) = 1/2 exp(-(x + lam)/2) (x/lam)^(k/4 - 1/2) I_(k/2-1)(sqrt(lam x)),
  F'(f; m, n, lam) = exp(-lam/2) F(f; m, n) 1F1((m + n)/2; m/2; lam m f / (2 (n + m f))).

Usage: python3 tools/gen_density_reference.py [output-directory]
"""
import sys
from pathlib import Path

import mpmath as mp

mp.mp.dps = 40
SMALLEST = mp.mpf("1e-300")


def beta_pdf(x, y, a, b):
    return x ** (a - 1) * y ** (b - 1) / mp.beta(a, b)


def binomial_pmf(s, n, pr, ompr):
    return mp.binomial(n, s) * pr ** s * ompr ** (n - s)


def negative_binomial_pmf(s, n, pr, ompr):
    return mp.exp(mp.loggamma(s + n) - mp.loggamma(n) - mp.loggamma(s + 1)) * pr ** n * ompr ** s


def chi_square_pdf(x, k):
    return mp.exp((k / 2 - 1) * mp.log(x) - x / 2 - (k / 2) * mp.log(2) - mp.loggamma(k / 2))


def noncentral_chi_square_pdf(x, k, lam):
    return (mp.exp(-(x + lam) / 2) * (x / lam) ** (k / 4 - mp.mpf(1) / 2)
            * mp.besseli(k / 2 - 1, mp.sqrt(lam * x)) / 2)


def f_pdf(f, m, n):
    return mp.exp((m / 2) * mp.log(m / n) + (m / 2 - 1) * mp.log(f)
                  - ((m + n) / 2) * mp.log1p(m * f / n) - mp.log(mp.beta(m / 2, n / 2)))


def noncentral_f_pdf(f, m, n, lam):
    z = lam * m * f / (2 * (n + m * f))
    return mp.exp(-lam / 2) * f_pdf(f, m, n) * mp.hyp1f1((m + n) / 2, m / 2, z)


def gamma_pdf(x, shape, rate):
    return mp.exp(shape * mp.log(rate) + (shape - 1) * mp.log(x) - rate * x - mp.loggamma(shape))


def normal_pdf(x, mean, sd):
    return mp.exp(-((x - mean) / sd) ** 2 / 2) / (sd * mp.sqrt(2 * mp.pi))


def poisson_pmf(s, lam):
    return mp.exp(s * mp.log(lam) - lam - mp.loggamma(s + 1))


def t_pdf(t, nu):
    return mp.exp(mp.loggamma((nu + 1) / 2) - mp.loggamma(nu / 2) - mp.log(nu * mp.pi) / 2
                  - ((nu + 1) / 2) * mp.log1p(t * t / nu))


# function name, density, indices of the arguments that are perturbed
LAWS = {
    "pdfbet": (beta_pdf, (0, 1, 2, 3)),
    "pdfbin": (binomial_pmf, (1, 2, 3)),
    "pdfnbn": (negative_binomial_pmf, (1, 2, 3)),
    "pdfchi": (chi_square_pdf, (0, 1)),
    "pdfchn": (noncentral_chi_square_pdf, (0, 1, 2)),
    "pdff": (f_pdf, (0, 1, 2)),
    "pdffnc": (noncentral_f_pdf, (0, 1, 2, 3)),
    "pdfgam": (gamma_pdf, (0, 1, 2)),
    "pdfnor": (normal_pdf, (0, 1, 2)),
    "pdfpoi": (poisson_pmf, (1,)),
    "pdft": (t_pdf, (0, 1)),
}


def condition(fn, args, perturbed):
    total = mp.mpf(0)
    for i in perturbed:
        if args[i] == 0:
            continue

        def log_at(v, i=i):
            moved = list(args)
            moved[i] = v
            return mp.log(fn(*moved))

        total += abs(args[i] * mp.diff(log_at, args[i]))
    return total


def region_of(value, mean, sd, large):
    if large:
        return "large"
    far_below = mean > 0 and 0 <= value < 1e-3 * mean
    return "centre" if abs(value - mean) <= 5 * sd and not far_below else "tail"


def spread(mean, sd, lower=None, multiples=(-30, -10, -5, -2, -0.5, 0, 0.5, 2, 5, 10, 30, 100)):
    """Points at mean + c sd, those below lower replaced by fractions of the mean."""
    points = []
    for c in multiples:
        v = mean + c * sd
        if lower is not None and v <= lower:
            v = mean * 10.0 ** c if c < 0 else None
        if v is not None:
            points.append(float(v))
    return points


def cases():
    """(function, args as doubles, mean, sd, large)."""
    out = []
    for a, b in [(0.5, 0.5), (0.3, 4.0), (2.0, 3.0), (1.0, 7.0), (20.0, 0.7), (50.0, 60.0), (1e4, 3e4), (2e5, 5.0)]:
        mean = a / (a + b)
        sd = (a * b / ((a + b) ** 2 * (a + b + 1))) ** 0.5
        for x in sorted(set([1e-200, 1e-30, 1e-8, 1e-3, 0.05, 0.3, 0.5, 0.77, 0.95, 0.999, 1 - 1e-9]
                            + [min(max(v, 1e-300), 1 - 1e-16) for v in spread(mean, sd)])):
            if 0 < x < 1:
                out.append(("pdfbet", (x, 1.0 - x, a, b), mean, sd, max(a, b) >= 1e4))
    for n, pr in [(10.0, 0.3), (1.0, 0.5), (100.0, 0.01), (1000.0, 0.999), (37.5, 0.4), (1e6, 0.3), (1e9, 1e-7)]:
        mean, sd = n * pr, (n * pr * (1 - pr)) ** 0.5
        for s in sorted(set(int(v) for v in spread(mean, sd, 0.0) if 0 <= v <= n) | {0, int(n)}):
            out.append(("pdfbin", (float(s), n, pr, 1.0 - pr), mean, sd, n >= 1e4))
    for n, pr in [(1.0, 0.5), (5.0, 0.2), (0.5, 0.9), (30.0, 0.01), (2.5, 0.7), (1e5, 0.5), (3.0, 1e-5)]:
        mean = n * (1 - pr) / pr
        sd = (n * (1 - pr)) ** 0.5 / pr
        for s in sorted(set(int(v) for v in spread(mean, sd, 0.0) if v >= 0) | {0}):
            out.append(("pdfnbn", (float(s), n, pr, 1.0 - pr), mean, sd, n >= 1e4 or mean >= 1e4))
    for k in [0.5, 1.0, 2.0, 3.0, 10.0, 55.5, 300.0, 1e4, 1e7]:
        mean, sd = k, (2 * k) ** 0.5
        for x in spread(mean, sd, 0.0) + [1e-100, 1e-10]:
            out.append(("pdfchi", (x, k), mean, sd, k >= 1e4))
    for k, lam in [(1.0, 0.5), (2.0, 3.0), (4.0, 20.0), (0.5, 100.0), (10.0, 1.0), (3.0, 1000.0),
                   (6.0, 1e4), (2.0, 1e5), (200.0, 50.0)]:
        mean, sd = k + lam, (2 * (k + 2 * lam)) ** 0.5
        for x in spread(mean, sd, 0.0, (-12, -8, -5, -2, -0.5, 0, 0.5, 2, 5, 10, 30, 60)) + [1e-30, 1e-3]:
            out.append(("pdfchn", (x, k, lam), mean, sd, lam >= 1e4))
    for m, n in [(1.0, 1.0), (2.0, 5.0), (5.0, 2.0), (10.0, 30.0), (0.7, 100.0), (1e4, 1e4), (3.0, 1e6)]:
        mean = n / (n - 2) if n > 2 else 1.0
        sd = (2 * n * n * (m + n - 2) / (m * (n - 2) ** 2 * (n - 4))) ** 0.5 if n > 4 else 2.0
        for f in spread(mean, sd, 0.0) + [1e-50, 1e-5, 1e5, 1e40]:
            out.append(("pdff", (f, m, n), mean, sd, max(m, n) >= 1e4))
    for m, n, lam in [(1.0, 5.0, 1.0), (4.0, 10.0, 10.0), (10.0, 20.0, 100.0), (3.0, 50.0, 1000.0),
                      (5.0, 8.0, 0.5), (2.0, 12.0, 1e4), (20.0, 1e4, 300.0)]:
        mean = n * (m + lam) / (m * (n - 2))
        var = 2 * (n / m) ** 2 * ((m + lam) ** 2 + (m + 2 * lam) * (n - 2)) / ((n - 2) ** 2 * (n - 4))
        sd = var ** 0.5
        for f in spread(mean, sd, 0.0, (-8, -5, -2, -0.5, 0, 0.5, 2, 5, 10, 30, 100)) + [1e-20, 1e-3]:
            out.append(("pdffnc", (f, m, n, lam), mean, sd, lam >= 1e4 or n >= 1e4))
    for shape, rate in [(0.2, 1.0), (1.0, 2.0), (2.5, 0.5), (19.0, 1.0), (150.0, 3.0), (1e5, 1.0), (0.01, 1e-3)]:
        mean, sd = shape / rate, shape ** 0.5 / rate
        for x in spread(mean, sd, 0.0) + [1e-200, 1e-8]:
            out.append(("pdfgam", (x, shape, rate), mean, sd, shape >= 1e4))
    for mean, sd in [(0.0, 1.0), (3.0, 0.25), (-1e5, 300.0), (1e10, 1.0)]:
        for c in [-38, -30, -12, -5, -2, -1, -0.1, 0, 0.3, 1, 3, 8, 20, 37]:
            out.append(("pdfnor", (mean + c * sd, mean, sd), mean, sd, False))
    for lam in [0.1, 1.0, 4.5, 30.0, 700.0, 1e4, 1e8]:
        sd = lam ** 0.5
        for s in sorted(set(int(v) for v in spread(lam, sd, 0.0) if v >= 0) | {0, 1}):
            out.append(("pdfpoi", (float(s), lam), lam, sd, lam >= 1e4))
    for nu in [0.5, 1.0, 2.0, 3.0, 7.5, 30.0, 1e3, 1e6, 1e10]:
        sd = (nu / (nu - 2)) ** 0.5 if nu > 2 else 1.0
        for t in [-1e30, -1e6, -300.0, -30.0, -5.0, -2.0, -0.5, 0.0, 1e-8, 0.1, 1.0, 2.5, 6.0, 40.0, 1e4, 1e20]:
            out.append(("pdft", (t, nu), 0.0, sd, nu >= 1e4))
    return out


def main():
    out_dir = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "tests" / "data"
    rows = ["function,region,p1,p2,p3,p4,pdf,kappa"]
    for function, args, mean, sd, large in cases():
        fn, perturbed = LAWS[function]
        margs = [mp.mpf(v) for v in args]
        value = fn(*margs)
        if not value > SMALLEST:
            continue
        kappa = condition(fn, margs, perturbed)
        padded = list(args) + [0.0] * (4 - len(args))
        region = region_of(args[0], mean, sd, large)
        rows.append(",".join([function, region] + [repr(float(v)) for v in padded]
                             + [mp.nstr(value, 25, strip_zeros=False), mp.nstr(kappa, 6)]))
    (out_dir / "densities.csv").write_text("\n".join(rows) + "\n")
    print(f"{len(rows) - 1} rows")


if __name__ == "__main__":
    main()
